#!/usr/bin/env bash
# Installs what building, running and testing Tarvex needs on Debian 12 (run as root).
# Packages already present are not fetched again.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libudev-dev libcli11-dev nlohmann-json3-dev libssl-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev
    xvfb xauth
)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done

if ((${#missing[@]})); then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
