#!/usr/bin/env bash
# Checks the Debian package as a user meets it: builds it (scripts/package.sh), runs lintian,
# makes a fresh Debian 12 root with mmdebstrap from this machine's apt sources, installs the
# package there with dpkg -i and apt-get -f install, and starts the tool in it on the
# simulated locator (Qt's offscreen platform). Prints one line per check and
# "N passed, N failed"; exits non-zero on any failure. Run as root from anywhere:
#
#   scripts/package-check.sh [BUILD_DIR]
#
# Packages downloaded for the root are kept in BUILD_DIR/package-check-cache for the next run;
# the root itself is made anew every time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh package >/dev/null

build=${1:-build-package}
started=$SECONDS
deb=$(scripts/package.sh "$build")
build=$(cd "$build" && pwd)

passed=0
failed=0
result() { # PASS|FAIL name detail...
    local verdict=$1
    shift
    echo "$verdict $*"
    if [[ $verdict == PASS ]]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
}

# lintian's own exit status fails on errors only; its warnings are listed with the verdict.
lint_status=0
lint=$(lintian "$deb" 2>&1) || lint_status=$?
lint=$(echo "$lint" | { grep -v "running with root privileges" || true; } | tr "\n" " ")
if [[ $lint_status -eq 0 ]]; then
    result PASS lintian "no errors${lint:+; $lint}"
else
    result FAIL lintian "status $lint_status: $lint"
fi

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
cache="$build/package-check-cache"
mkdir -p "$cache"
sources=/etc/apt/sources.list.d/debian.sources
[[ -f $sources ]] || sources=/etc/apt/sources.list

# dpkg -i stops at the missing dependencies; apt-get -f install brings them and finishes. The
# tool is then started as a user would start it, for five seconds: still running by then (124),
# with nothing said on standard error, is the pass. No udev daemon runs in the root, so the package's postinst must pass over it.
install_log="$build/package-check-install.log"
if mmdebstrap --mode=root --variant=apt --skip=download/empty --dpkgopt=force-unsafe-io \
    --setup-hook='mkdir -p "$1"/var/cache/apt/archives' \
    --setup-hook="sync-in $cache /var/cache/apt/archives" \
    --customize-hook="copy-in $deb /tmp" \
    --customize-hook='chroot "$1" sh -c "dpkg -i /tmp/tarvex_*.deb || DEBIAN_FRONTEND=noninteractive apt-get -f install -y -q"' \
    --customize-hook='mkdir -m 700 "$1"/root/runtime' \
    --customize-hook='chroot "$1" env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=/root/runtime TARVEX_HID_PLATFORM=sim timeout 5 tarvex >"$1"/root/run.log 2>&1; echo $? >"$1"/root/run.status' \
    --customize-hook="sync-out /var/cache/apt/archives $cache" \
    bookworm "$root" "$sources" >"$install_log" 2>&1; then
    status=$(chroot "$root" dpkg-query -W -f='${Status} ${Version}' tarvex)
    result PASS install "dpkg -i and apt-get -f install in a fresh Debian 12 root: $status"
else
    result FAIL install "mmdebstrap or the install failed; see $install_log"
fi

missing=()
for file in /usr/bin/tarvex /usr/bin/tarvexctl /usr/lib/udev/rules.d/70-tarvex-locator.rules \
    /usr/share/applications/tarvex.desktop /usr/share/icons/hicolor/scalable/apps/tarvex.svg \
    /usr/share/man/man1/tarvex.1.gz /usr/share/man/man1/tarvexctl.1.gz \
    /usr/share/doc/tarvex/copyright; do
    [[ -e $root$file ]] || missing+=("$file")
done
if ((${#missing[@]} == 0)); then
    result PASS files "tool, tarvexctl, udev rule, desktop entry, icon, manual pages and copyright installed"
else
    result FAIL files "missing: ${missing[*]}"
fi

run_status=$(cat "$root/root/run.status" 2>/dev/null || echo none)
# Qt's offscreen platform says once per window that it cannot pass on size hints; a screen
# would. Anything else on standard error is a fault.
run_log=$(grep -v "This plugin does not support propagateSizeHints" "$root/root/run.log" 2>/dev/null ||
    true)
if [[ $run_status == 124 && -z $run_log ]]; then
    result PASS start "the installed tool ran on the simulated locator until stopped after 5 s"
else
    result FAIL start "status $run_status (124: still running): $(echo "$run_log" | tr '\n' ' ')"
fi

echo "package $(basename "$deb"), checked in $((SECONDS - started)) s"
echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
