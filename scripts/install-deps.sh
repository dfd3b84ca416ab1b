#!/usr/bin/env bash
# Installs what Tarvex needs on Debian 12 (run as root). Packages already present are not
# fetched again. Without arguments: what building, running and testing needs; with group names,
# those groups' packages as well:
#   kernel-check   booting Debian's kernel in QEMU for scripts/kernel-check.sh
#   package        building the Debian package, lintian, and a fresh Debian root to install it in
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libudev-dev libcli11-dev nlohmann-json3-dev libssl-dev libpq-dev
    postgresql postgresql-common
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev
    xvfb xauth
)
for group in "$@"; do
    case $group in
    kernel-check) packages+=(qemu-system-x86 linux-image-amd64 busybox-static udev kmod cpio) ;;
    package) packages+=(dpkg-dev file lintian mmdebstrap) ;;
    *)
        echo "install-deps.sh: no group '$group'" >&2
        exit 2
        ;;
    esac
done

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
