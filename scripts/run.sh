#!/usr/bin/env bash
# Builds Tarvex and starts it. Without TARVEX_HID_PLATFORM set it runs on the simulated locator;
# TARVEX_HID_PLATFORM=native runs it on the hidraw devices of this machine, and
# TARVEX_HID_PLATFORM=sim:FILE on the simulated devices a scenario file describes.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target tarvex
TARVEX_HID_PLATFORM="${TARVEX_HID_PLATFORM:-sim}" exec build/app/tarvex
