#!/usr/bin/env bash
# Builds Tarvex with its tests and runs every test: the ordinary build (all tests, the window's
# on Qt's offscreen platform), then everything again under AddressSanitizer with
# UndefinedBehaviorSanitizer and leak checking, and the device layer under ThreadSanitizer.
# Then, in one release build: the Debian package, installed and started in a fresh Debian root,
# and the native device source on Debian's kernel in QEMU.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)

run_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300
}

run_build build-test -DCMAKE_BUILD_TYPE=Debug
run_build build-test-asan -DCMAKE_BUILD_TYPE=Debug -DTARVEX_SANITIZE=address,undefined
TSAN_OPTIONS="halt_on_error=1" run_build build-test-tsan -DCMAKE_BUILD_TYPE=Debug \
    -DTARVEX_BUILD_UI=OFF -DTARVEX_SANITIZE=thread

scripts/package-check.sh build-release
scripts/kernel-check.sh build-release
