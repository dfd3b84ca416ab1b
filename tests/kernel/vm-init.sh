#!/bin/sh
# The first process of the kernel check's VM (busybox sh): mounts the kernel's file systems, loads
# the HID modules, starts the udev daemon, then checks the native device source against uhid
# devices through tarvexctl (and tarvex_hidcheck for what tarvexctl does not show). Each check
# prints one "tarvex-check: PASS|FAIL name: detail" line on the console, and figures for the
# record "tarvex-check: INFO ..."; "tarvex-check: end" follows the last, and the VM powers off.
# With "tarvex.compare" on the kernel's command line it compares the HID layer's read path with
# a plain reader on floods instead of running the checks.
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
    echo "tarvex-time: $name done $(cut -d ' ' -f 1 /proc/uptime) s after boot" # in the log only
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

# Starts a uhid device with the serial number $1 and the options after it; its pid in
# DEVICE_PID, its output in $DEVICE_LOG. The kernel adds the device in the background after
# uhid's create: this returns once its hidraw node is there and udev has handled it.
device_count=0
start_device() {
    serial=$1
    shift
    device_count=$((device_count + 1))
    DEVICE_LOG=/tmp/device$device_count.log
    tarvex_uhid_device --serial "$serial" "$@" >"$DEVICE_LOG" 2>&1 &
    DEVICE_PID=$!
    wait_until 100 hidraw_with_serial "$serial"
    udevadm settle
}

hidraw_with_serial() { # whether a hidraw node's device has the serial number $1
    grep -qs "^HID_UNIQ=$1\$" /sys/class/hidraw/*/device/uevent
}

# Ends the device of that pid (the kernel destroys it) and waits for its node to go.
stop_device() {
    kill "$1" 2>/dev/null
    wait "$1" 2>/dev/null
    udevadm settle
}

node_of() { # the hidraw node of the device named $1, as tarvexctl lists it
    tarvexctl list | grep -F "  $1  " | awk '{ print $2; exit }'
}

# Runs a command line as the seat's user, keeping the environment.
as_user() {
    su -p -s /bin/sh tarvex -c "$*"
}

uptime_cs() { # the time since boot in hundredths of a second
    awk '{ sub(/\./, "", $1); print $1 + 0 }' /proc/uptime
}

# The locator's configuration as `tarvexctl read` prints it, one "FIELD VALUE" after another on
# one line, without the heading line; or, when it fails, its message. A command before
# `tarvexctl` (as_user) runs it.
read_fields() {
    if read_out=$("$@" tarvexctl read 2>&1); then
        echo "$read_out" | tail -n +2 | tr -s ' ' | tr '\n' ' '
    else
        echo "exit $?: $read_out"
    fi
}

FACTORY="OEM1 90 OEM2 90 LocationID 1 CustMsgCounts 2 CustMsgPeriod 60 LocationStatus OFF \
LocationStatusPolling 60 LocationStatusMsgCounts 4 EnableCustMsgAntenna OFF CustMsgPower 3F \
TransmitLowBatFFM OFF Frequency 915 FHSS LowBatFreeMsg 24 Ext1 00 Ext2 00 "
SET_PROFILE=/tmp/set.json
echo '{"format": "tarvex-profile", "version": 1, "fields": {"LocationID": 1234, "Ext1": "0A"}}' \
    >$SET_PROFILE
FACTORY_ID_PROFILE=/tmp/factory-id.json
echo '{"format": "tarvex-profile", "version": 1, "fields": {"LocationID": 1}}' >$FACTORY_ID_PROFILE

check_list() {
    listed=$(tarvexctl list 2>&1)
    if echo "$listed" | grep -Eq "^[0-9]+  /dev/hidraw[0-9]+  $LOCATOR_NAME  3F7C:5A21  serial UHIDLOC0001  read-write  locator$" &&
        echo "$listed" | grep -Eq "^[0-9]+  /dev/hidraw[0-9]+  $KEYBOARD_NAME  046D:C31C  serial UHIDKBD0001  read-write$"; then
        result PASS list "tarvexctl list: locator and keyboard by name and serial"
    else
        result FAIL list "$(echo "$listed" | tr '\n' '|')"
    fi
}

# Every answer of this locator comes 300 ms late: each command waits for it.
check_read_set_verify_reset() {
    read_back=$(read_fields)
    if [ "$read_back" = "$FACTORY" ]; then
        result PASS read "tarvexctl read: the factory configuration"
    else
        result FAIL read "$read_back"
    fi

    set_out=$(tarvexctl set --LocationID 1234 --Ext1 0A 2>&1)
    set_status=$?
    after_set=$(read_fields)
    expected=$(echo "$FACTORY" | sed 's/LocationID 1 /LocationID 1234 /; s/Ext1 00/Ext1 0A/')
    if [ $set_status -eq 0 ] && [ "$(echo "$set_out" | head -n 1)" = "Configuration has been set." ] &&
        [ "$after_set" = "$expected" ]; then
        result PASS set "tarvexctl set --LocationID 1234 --Ext1 0A: written, verified, read back in a new run"
    else
        result FAIL set "status $set_status: $(echo "$set_out" | head -n 1) / $after_set"
    fi

    matches=$(tarvexctl verify --profile $SET_PROFILE 2>&1)
    matches_status=$?
    differs=$(tarvexctl verify --profile $FACTORY_ID_PROFILE 2>&1)
    differs_status=$?
    if [ $matches_status -eq 0 ] && [ "$matches" = "The device matches the profile." ] &&
        [ $differs_status -eq 6 ] && echo "$differs" | grep -q "LocationID: expected 1, read 1234"; then
        result PASS verify "tarvexctl verify: the written profile matches; LocationID 1 differs (exit 6)"
    else
        result FAIL verify "status $matches_status: $matches / status $differs_status: $differs"
    fi

    reset_out=$(tarvexctl reset --yes 2>&1)
    reset_status=$?
    after_reset=$(read_fields)
    if [ $reset_status -eq 0 ] && [ "$reset_out" = "Factory reset complete." ] &&
        [ "$after_reset" = "$FACTORY" ]; then
        result PASS reset "tarvexctl reset --yes: factory defaults written, verified and read back"
    else
        result FAIL reset "status $reset_status: $reset_out / $after_reset"
    fi
}

flood_once() {
    start_device UHIDLOC0004 --flood 1000 30000
    # 30 s at the rate; the rest of the deadline is for a VM slowed by a busy host.
    flood_out=$(tarvex_hidcheck flood 30000 75)
    status=$?
    stop_device "$DEVICE_PID"
    sent=$(grep sent "$DEVICE_LOG")
}

# A flood whose sender fell behind its timetable ran while the VM itself was held up by the
# host: a processor of the VM that stops while the other goes on sending can overflow the
# kernel's buffer of 64 reports whatever reads it. Such a flood, if it lost reports, runs once
# more, and the second decides.
check_flood() {
    flood_once
    again=""
    if [ $status -ne 0 ] && ! echo "$sent" | grep -q "fell behind 0 times"; then
        echo "tarvex-check: INFO flood run again, the sender fell behind: $flood_out; the device $sent"
        again=" (second run: in the first the VM was held up and the sender fell behind)"
        flood_once
    fi
    if [ $status -eq 0 ]; then
        result PASS flood "1,000 reports/s for 30 s through the HID layer$again: $flood_out; the device $sent"
    else
        result FAIL flood "status $status$again: $flood_out; the device $sent"
    fi
}

check_gone() {
    start_device UHIDLOC0001 --unplug-after 1
    started=$(uptime_cs)
    gone_out=$(timeout 30 tarvexctl read 2>&1)
    status=$?
    took=$(($(uptime_cs) - started))
    wait "$DEVICE_PID" 2>/dev/null
    if [ $status -eq 8 ] && echo "$gone_out" | grep -q "was unplugged during the command\.$"; then
        result PASS gone "destroyed mid-command: exit 8 after $((took / 100)).$((took / 10 % 10)) s: $gone_out"
    else
        result FAIL gone "status $status (124: hung, above 128: crashed): $gone_out"
    fi
}

check_permission() {
    start_device UHIDLOC0002
    locator_pid=$DEVICE_PID
    node=$(node_of "$LOCATOR_NAME")
    keyboard=$(node_of "$KEYBOARD_NAME")
    denied=$(as_user tarvexctl read 2>&1)
    status=$?
    if [ $status -eq 4 ] && [ "$denied" = "tarvexctl: $(permission_text "$node")" ]; then
        result PASS permission-denied "exit 4: $denied"
    else
        result FAIL permission-denied "status $status: $denied"
    fi

    cp /check/70-tarvex-locator.rules /etc/udev/rules.d/
    udevadm control --reload
    udevadm trigger --subsystem-match=hidraw --action=change
    udevadm settle
    granted=$(read_fields as_user)
    if [ "$granted" = "$FACTORY" ] && ! as_user test -r "$keyboard" && ! as_user test -w "$keyboard"; then
        result PASS permission-granted "after the rule and a trigger: the user reads locator $node, keyboard $keyboard stays closed"
    else
        result FAIL permission-granted "$granted"
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

# The text the tools show for a node the user may not open.
permission_text() {
    echo "Tarvex may not read from and write to $1. Install the udev rule as the README's \"Real hardware\" section shows, then unplug the device and plug it in again."
}

# Waits up to 30 s for process $1 to end, and ends it (status 143) if it has not.
ended() {
    wait_until 300 eval "! kill -0 $1 2>/dev/null" || kill "$1"
}

holds_node() { # whether process $1 has node $2 open
    ls -l "/proc/$1/fd" 2>/dev/null | grep -q " $2\$"
}

# tarvexctl watch sees the locator go (the unplug the device layer reports ends it with exit 8),
# and tarvexctl batch, already waiting, sees it come back and writes it.
check_replug() {
    mode=$(tarvex_hidcheck hotplug)
    start_device UHIDLOC0003
    node=$(node_of "$LOCATOR_NAME")
    tarvexctl watch --device UHIDLOC0003 >/tmp/watch.log 2>&1 &
    watcher=$!
    wait_until 100 holds_node $watcher "$node"
    stop_device "$DEVICE_PID"
    left=$(uptime_cs)
    ended $watcher
    wait "$watcher"
    watch_status=$?
    tarvexctl batch --profile $SET_PROFILE --log /tmp/station.csv --count 1 >/tmp/batch.log 2>&1 &
    station=$!
    wait_until 100 grep -q "Waiting for locators" /tmp/batch.log
    start_device UHIDLOC0003
    ended $station
    wait "$station"
    batch_status=$?
    took=$(($(uptime_cs) - left))
    watched="hot-plug from $mode; watch: exit $watch_status, $(tr '\n' ' ' </tmp/watch.log); batch: exit $batch_status, $(grep UHIDLOC0003 /tmp/batch.log)"
    if [ "$mode" = udev ] && [ $watch_status -eq 8 ] && grep -q "was unplugged\.$" /tmp/watch.log &&
        [ $batch_status -eq 0 ] && grep -q "(serial UHIDLOC0003): ok, Location ID 1234" /tmp/batch.log; then
        result PASS replug "$watched; back and written $((took / 100)).$((took / 10 % 10)) s after it left"
    else
        result FAIL replug "$watched"
    fi
    stop_device "$DEVICE_PID"
}

# The same flood read one after the other by the HID layer and by a plain read() loop on the
# node, with and without a consumer stall of 50 ms a second; informs, and judges the HID layer
# against the plain reader: it loses no more, and nothing where the sender kept the rate.
compare_flood() { # RATE COUNT STALL_MS
    deadline=$(($2 / $1 * 3 + 10))
    start_device UHIDLOC0005 --flood "$1" "$2"
    tool=$(tarvex_hidcheck flood --stall "$3" "$2" "$deadline")
    stop_device "$DEVICE_PID"
    tool_sent=$(grep sent "$DEVICE_LOG")
    start_device UHIDLOC0005 --flood "$1" "$2"
    node=$(node_of "$LOCATOR_NAME")
    plain=$(tarvex_hidcheck flood --stall "$3" --plain "$node" "$2" "$deadline")
    stop_device "$DEVICE_PID"
    plain_sent=$(grep sent "$DEVICE_LOG")
    name="flood-$1-stall-$3"
    echo "tarvex-check: INFO $name HID layer: $tool; the device $tool_sent"
    echo "tarvex-check: INFO $name plain read(): $plain; the device $plain_sent"
    tool_lost=$(lost_of "$tool")
    plain_lost=$(lost_of "$plain")
    kept_rate=$(echo "$tool_sent" | grep -q "fell behind 0 times" && echo yes)
    if [ -n "$tool_lost" ] && [ -n "$plain_lost" ] && [ "$tool_lost" -le "$plain_lost" ] &&
        { [ "$3" -gt 0 ] || [ -z "$kept_rate" ] || [ "$tool_lost" -eq 0 ]; }; then
        result PASS "$name" "HID layer lost $tool_lost, plain read() $plain_lost"
    else
        result FAIL "$name" "HID layer lost ${tool_lost:-?}, plain read() ${plain_lost:-?}"
    fi
}

lost_of() { # the reports a flood line counts as not received: "received R of COUNT ..."
    echo "$1" | awk '$1 == "received" && $3 == "of" { print $4 - $2 }'
}

run_checks() {
    start_device UHIDKBD0001 --keyboard
    start_device UHIDLOC0001 --slow 300
    locator_pid=$DEVICE_PID
    check_list
    check_read_set_verify_reset
    stop_device "$locator_pid"
    check_gone
    check_permission
    check_replug
    check_flood
}

run_comparison() { # as many rounds as tarvex.rounds=N on the kernel command line says
    rounds=$(sed -n 's/.*tarvex\.rounds=\([0-9]*\).*/\1/p' /proc/cmdline)
    round=0
    while [ "$round" -lt "${rounds:-1}" ]; do
        for rate in 4000 8000; do
            for stall in 0 50; do
                compare_flood $rate $((rate * 5)) $stall
            done
        done
        round=$((round + 1))
    done
}

if [ -e /dev/uhid ]; then
    result PASS uhid "/dev/uhid present, udev daemon running"
    if grep -q "tarvex.compare" /proc/cmdline; then
        run_comparison
    else
        run_checks
    fi
else
    result FAIL uhid "no /dev/uhid in this kernel: $(modprobe uhid 2>&1)"
fi
echo "tarvex-check: end"
poweroff -f
