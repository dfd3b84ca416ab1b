#!/usr/bin/env bash
# Builds the Debian package tarvex_<version>_amd64.deb with Debian's hardening flags, in
# BUILD_DIR (default build-package), and prints its path. Run as root from anywhere:
#
#   scripts/package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh package >/dev/null

build=${1:-build-package}
if [[ ! -f $build/CMakeCache.txt ]]; then
    # CMake takes no CPPFLAGS: the preprocessor's (fortification) go with the compiler's. All of
    # Debian's hardening, binding every symbol at start-up (read-only relocations) included.
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
        LDFLAGS=$(dpkg-buildflags --get LDFLAGS) \
        cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
fi
cmake --build "$build" --target tarvex_package_contents >/dev/null
if ! (cd "$build" && cpack -G DEB >cpack.log 2>&1); then
    cat "$build/cpack.log" >&2
    exit 1
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
echo "$(cd "$build" && pwd)/tarvex_${version}_amd64.deb"
