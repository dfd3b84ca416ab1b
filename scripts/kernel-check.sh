#!/usr/bin/env bash
# Checks the native device source on a real Linux kernel: boots Debian's kernel in QEMU (software
# emulation) with a small initramfs root built here from Debian's packages (busybox, the kernel's
# HID modules, the udev daemon) and the check programs, and runs tests/kernel/vm-init.sh in it
# against uhid devices, through tarvexctl. Prints one line per check and "N passed, N failed";
# exits non-zero on any failure. Run as root from anywhere:
#
#   scripts/kernel-check.sh [--compare [--rounds N]] [BUILD_DIR]
#
# BUILD_DIR (default build-kernel) is a CMake build of this repository; tarvexctl and the two
# check programs are built in it. The console log of the VM is left in BUILD_DIR/kernel-check.log.
# --compare runs no checks: in one boot, floods of 4,000 and 8,000 reports a second, each with
# and without a 50 ms consumer stall every second, are read one after the other by the HID
# layer's read path and by a plain read() loop on the hidraw node, and the figures printed
# side by side (INFO lines), with one PASS or FAIL per flood: the HID layer loses no more than
# the plain reader, and nothing where the sender kept its rate without a stall. --rounds N runs
# the four floods N times in the same boot: under emulation one run decides little. The VM has two
# processors, as a station PC has at least (with one, the emulated processor is shared by the
# uhid sender and every reader thread, and a busy host makes the flood lose reports);
# VM_CPUS=N in the environment gives it N. More processors than the host has cores make it
# worse: four on two cores held the sender up in every flood through the HID layer. The kernel
# keeps time with the processor's time-stamp counter, as on a station PC: left to itself under
# emulation it picks the emulated HPET, whose every read traps to the emulator, and then each
# clock reading of the sender and the readers (one per report) costs as much as a read() of a
# report.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh kernel-check >/dev/null

kernel_options=
vm_timeout=170 # seconds: the whole check must end within three minutes
if [[ ${1:-} == --compare ]]; then
    rounds=1
    shift
    if [[ ${1:-} == --rounds ]]; then
        rounds=${2:-}
        [[ $rounds =~ ^[1-9][0-9]*$ ]] || { echo "--rounds wants a number of rounds" >&2; exit 2; }
        shift 2
    fi
    kernel_options=" tarvex.compare tarvex.rounds=$rounds"
    vm_timeout=$((600 * rounds))
fi
build=${1:-build-kernel}

if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVEX_BUILD_UI=OFF >/dev/null
fi
cmake --build "$build" --target tarvexctl tarvex_uhid_device tarvex_hidcheck >/dev/null
build=$(cd "$build" && pwd)

# The newest Debian kernel installed, with its modules.
kernel=$(ls /boot/vmlinuz-* | sort -V | tail -n 1)
version=${kernel#/boot/vmlinuz-}

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
chmod 755 "$root" # the VM's root folder: its user must pass through it
mkdir -p "$root"/{bin,usr/bin,proc,sys,dev,run,tmp,check,etc/udev/rules.d,usr/lib/udev/rules.d}

# Copies files to the same path under the root, following links.
copy_in() {
    local file
    for file in "$@"; do
        mkdir -p "$root$(dirname "$file")"
        cp -L "$file" "$root$file"
    done
}
# Copies programs to /usr/bin, and the shared libraries they load to their own paths.
copy_programs() {
    local libraries
    cp "$@" "$root/usr/bin/"
    mapfile -t libraries < <(ldd "$@" |
        awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// && $2 ~ /^\(/ { print $1 }' | sort -u)
    copy_in "${libraries[@]}"
}

cp /bin/busybox "$root/bin/busybox"
for applet in $(/bin/busybox --list); do
    [[ $applet == busybox ]] || ln -s busybox "$root/bin/$applet"
done

mapfile -t modules < <(modprobe -S "$version" --show-depends -a uhid hid-generic |
    awk '$1 == "insmod" { print $2 }')
copy_in "${modules[@]}"
copy_in /lib/modules/"$version"/modules.{order,builtin,builtin.modinfo}
depmod -b "$root" "$version"

copy_programs /lib/systemd/systemd-udevd /bin/udevadm "$build/cli/tarvexctl" \
    "$build/tests/kernel/tarvex_uhid_device" "$build/tests/kernel/tarvex_hidcheck"
cp /lib/udev/rules.d/73-seat-late.rules "$root/usr/lib/udev/rules.d/"
cp packaging/70-tarvex-locator.rules "$root/check/"
cp tests/kernel/vm-init.sh "$root/init"
chmod +x "$root/init"

initrd="$build/kernel-check-initrd.gz"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$initrd"

log="$build/kernel-check.log"
started=$SECONDS
status=0
timeout "$vm_timeout" qemu-system-x86_64 -accel tcg -smp "${VM_CPUS:-2}" -m 512 -nographic -nic none \
    -no-reboot -kernel "$kernel" -initrd "$initrd" \
    -append "console=ttyS0 quiet panic=-1 clocksource=tsc tsc=reliable rdinit=/init$kernel_options" \
    </dev/null >"$log" 2>&1 || status=$?
elapsed=$((SECONDS - started))

passed=0
failed=0
while IFS= read -r line; do
    line=${line%$'\r'}
    case $line in
    "PASS "*) passed=$((passed + 1)) ;;
    "FAIL "*) failed=$((failed + 1)) ;;
    "INFO "*) ;;
    *) continue ;;
    esac
    echo "$line"
done < <(sed -n 's/^.*tarvex-check: //p' "$log")

if ! grep -q "tarvex-check: end" "$log"; then
    echo "FAIL vm: the checks did not finish (qemu status $status after ${elapsed} s; see $log)"
    failed=$((failed + 1))
fi
echo "kernel $version under QEMU (tcg): ${elapsed} s"
echo "$passed passed, $failed failed"
[[ $failed -eq 0 && $passed -gt 0 ]]
