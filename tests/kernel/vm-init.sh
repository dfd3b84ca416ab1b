#!/bin/sh
# The first process of the kernel check's VM (busybox sh): mounts the kernel's file systems, loads
# the HID modules, starts the udev daemon, then checks the native device source against uhid
# devices. Each check prints one "tarvex-check: PASS|FAIL name: detail" line on the console;
# "tarvex-check: end" follows the last, and the VM powers off.
export PATH=/usr/bin:/bin
export TARVEX_HID_PLATFORM=native
LOCATOR_NAME="Tarvex Virtual Locator"
KEYBOARD_NAME="Tarvex Virtual Keyboard"
USER_ID=1000

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /tmp
modprobe uhid
modprobe hid-generic

# The seat's user, and its being active as logind records it: udev's uaccess builtin grants that user access
# to nodes tagged "uaccess". No logind runs here; this file is all the builtin reads of it.
echo "tarvex:x:$USER_ID:$USER_ID::/tmp:/bin/sh" >/etc/passwd
echo "tarvex:x:$USER_ID:" >/etc/group
mkdir -p /run/systemd/seats
printf 'ACTIVE=c1\nACTIVE_UID=%s\n' "$USER_ID" >/run/systemd/seats/seat0
systemd-udevd --daemon
udevadm settle

result() { # PASS|FAIL name detail...
    verdict=$1 name=$2
    shift 2
    echo "tarvex-check: $verdict $name: $*"
}

# Waits up to $1 tenths of a second for the command after it to succeed.
wait_until() {
    tenths=$1
    shift
    while ! "$@"; do
        [ "$tenths" -gt 0 ] || return 1
        tenths=$((tenths - 1))
        sleep 0.1
    done
}

# Starts a uhid device with the given options; its pid in DEVICE_PID, its output in $DEVICE_LOG.
# Returns once udev has handled its hidraw node.
device_count=0
start_device() {
    device_count=$((device_count + 1))
    DEVICE_LOG=/tmp/device$device_count.log
    tarvex_uhid_device "$@" >"$DEVICE_LOG" 2>&1 &
    DEVICE_PID=$!
    wait_until 50 grep -q created "$DEVICE_LOG" && udevadm settle
}

# Ends the device of that pid (the kernel destroys it) and waits for its node to go.
stop_device() {
    kill "$1" 2>/dev/null
    wait "$1" 2>/dev/null
    udevadm settle
}

node_of() { # the hidraw node of the device named $1
    tarvex_hidcheck list | awk -F '\t' -v name="$1" '$2 == name { print $4; exit }'
}

# Runs a command line as the seat's user, keeping the environment.
as_user() {
    su -p -s /bin/sh tarvex -c "$*"
}

FACTORY="52 90 90 00 01 02 3C 00 3C 04 00 3F 00 00 18 00 00"

check_list() {
    listed=$(tarvex_hidcheck list)
    if echo "$listed" | grep -q "^3F7C:5A21	$LOCATOR_NAME	UHIDLOC0001	/dev/hidraw" &&
        echo "$listed" | grep -q "^046D:C31C	$KEYBOARD_NAME	UHIDKBD0001	/dev/hidraw"; then
        result PASS list "locator and keyboard found by name and serial"
    else
        result FAIL list "$(echo "$listed" | tr '\t\n' ' |')"
    fi
}

check_read_set_reset() {
    read_back=$(tarvex_hidcheck read)
    set_out=$(tarvex_hidcheck set 1234 0A)
    after_set=$(tarvex_hidcheck read)
    reset_out=$(tarvex_hidcheck reset)
    after_reset=$(tarvex_hidcheck read)
    if [ "$read_back" = "$FACTORY" ]; then
        result PASS read "factory configuration read back"
    else
        result FAIL read "$read_back"
    fi
    # Location ID 1234 is 04 D2; the first extended byte is the 15th field.
    case "$set_out|$after_set" in
    "Configuration has been set.|52 90 90 04 D2 02 3C 00 3C 04 00 3F 00 00 18 0A 00")
        result PASS set "written, verified and read back in a new connection" ;;
    *) result FAIL set "$set_out / $after_set" ;;
    esac
    if [ "$reset_out" = "Factory reset complete." ] && [ "$after_reset" = "$FACTORY" ]; then
        result PASS reset "factory defaults written, verified and read back"
    else
        result FAIL reset "$reset_out / $after_reset"
    fi
}

check_flood() {
    start_device --flood 1000 30000
    # 30 s at the rate; the rest of the deadline is for a VM slowed by a busy host.
    flood_out=$(tarvex_hidcheck flood 30000 75)
    status=$?
    stop_device "$DEVICE_PID"
    sent=$(grep sent "$DEVICE_LOG")
    if [ $status -eq 0 ]; then
        result PASS flood "1,000 reports/s for 30 s: $flood_out; the device $sent"
    else
        result FAIL flood "status $status: $flood_out; the device $sent"
    fi
}

check_gone() {
    start_device --unplug-after 1
    gone_out=$(timeout 30 tarvex_hidcheck read)
    status=$?
    wait "$DEVICE_PID" 2>/dev/null
    if [ $status -eq 4 ] && echo "$gone_out" | grep -q "^device gone"; then
        result PASS gone "destroyed mid-command: $gone_out"
    else
        result FAIL gone "status $status (124: hung, above 128: crashed): $gone_out"
    fi
}

check_permission() {
    start_device --serial UHIDLOC0002
    locator_pid=$DEVICE_PID
    node=$(node_of "$LOCATOR_NAME")
    keyboard=$(node_of "$KEYBOARD_NAME")
    denied=$(as_user tarvex_hidcheck read)
    status=$?
    if [ $status -eq 3 ] && echo "$denied" | grep -q "may not read from and write to $node\."; then
        result PASS permission-denied "$denied"
    else
        result FAIL permission-denied "status $status: $denied"
    fi

    cp /check/70-tarvex-locator.rules /etc/udev/rules.d/
    udevadm control --reload
    udevadm trigger --subsystem-match=hidraw --action=change
    udevadm settle
    granted=$(as_user tarvex_hidcheck read)
    status=$?
    if [ $status -eq 0 ] && [ "$granted" = "$FACTORY" ] &&
        ! as_user test -r "$keyboard" && ! as_user test -w "$keyboard"; then
        result PASS permission-granted "after the rule and a trigger: locator $node read, keyboard $keyboard still closed"
    else
        result FAIL permission-granted "status $status: $granted"
    fi

    # Not a dry run: it applies the rules to the node again. Run last for that reason.
    tested=$(udevadm test --action=add "/sys/class/hidraw/${node#/dev/}" 2>&1)
    if echo "$tested" | grep -q "70-tarvex-locator.rules" &&
        echo "$tested" | grep -q "^TAGS=.*:uaccess:"; then
        result PASS udevadm-test "the rule matches the uhid locator and tags it uaccess"
    else
        result FAIL udevadm-test "$(echo "$tested" | grep -E 'tarvex|TAGS' | tr '\n' '|')"
    fi
    stop_device "$locator_pid"
}

check_replug() {
    start_device --serial UHIDLOC0003
    tarvex_hidcheck replug 20 >/tmp/replug.log 2>&1 &
    watcher=$!
    wait_until 100 grep -q watching /tmp/replug.log
    stop_device "$DEVICE_PID"
    wait_until 100 grep -q gone /tmp/replug.log
    start_device --serial UHIDLOC0003
    wait "$watcher"
    status=$?
    watched=$(tr '\n' ' ' </tmp/replug.log)
    if [ $status -eq 0 ] && grep -q "hot-plug from udev" /tmp/replug.log; then
        result PASS replug "$watched"
    else
        result FAIL replug "status $status: $watched"
    fi
    stop_device "$DEVICE_PID"
}

if [ -e /dev/uhid ]; then
    result PASS uhid "/dev/uhid present, udev daemon running"
    start_device --keyboard
    start_device --slow 300 # every answer late: the commands wait for it
    locator_pid=$DEVICE_PID
    check_list
    check_read_set_reset
    stop_device "$locator_pid"
    check_gone
    check_permission
    check_replug
    check_flood
else
    result FAIL uhid "no /dev/uhid in this kernel: $(modprobe uhid 2>&1)"
fi
echo "tarvex-check: end"
poweroff -f
