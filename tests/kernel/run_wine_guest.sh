#!/usr/bin/env bash
# Boots the Debian kernel under qemu to run the Windows programs under Wine against the guest's
# real USB and HID stack, and reports what the guest reported.
# Usage: run_wine_guest.sh WORK_DIR RIG_PROGRAM WINDOWS_TEST CLI_PROGRAM DFU_BRIDGE
#                          DRIVER_INSTALLER [GTEST_FILTER]
#
# RIG_PROGRAM is the native (Linux) program of the native build that puts the emulated box on the
# dummy USB bus and runs the Windows programs (WINDOWS_TEST, the Windows build's zelk-cli.exe, and
# the stand-ins for the package's dfu-util.exe and driver installer) under Wine, answering their
# requests to unplug or hold the box.
#
# Wine is far too large for an initramfs, so the guest runs in the host's own tree, with writable
# layers over the places that are written (host_root_init.sh): the host's Wine, udevd, dfu-util and the programs under test run as
# they are, from the paths they have here, wherever those are. The initramfs holds only busybox
# and the modules.
# Making a Wine prefix (wineboot) takes about 70 s under software emulation but about 10 s here,
# so the prefix is made here once per build folder; the guest lays a tmpfs over it (overlayfs),
# so that Wine writes its registry and server files there and the host's copy stays as it is.
# Exit codes: 0 passed, 1 failed, 77 qemu cannot run or the native build has no rig.
set -euo pipefail

work=$1
rig=$2
windows_test=$3
cli=$4
dfu_bridge=$5
driver_installer=$6
filter=${7:-*}
boot_timeout=${ZELK_KERNEL_TEST_TIMEOUT:-400}
here=$(cd "$(dirname "$0")" && pwd)

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }

# The guest sees the host's tree at the same paths, but starts in its own root.
absolute() { echo "$(cd "$(dirname "$1")" 2>/dev/null && pwd)/$(basename "$1")"; }
rig=$(absolute "$rig")
windows_test=$(absolute "$windows_test")
cli=$(absolute "$cli")
dfu_bridge=$(absolute "$dfu_bridge")
driver_installer=$(absolute "$driver_installer")
[ -x "$rig" ] || skip "no $rig: build the native debug preset first (its kernel tests on)"
for tool in busybox cpio depmod modprobe dpkg-deb apt-get dfu-util; do
  command -v "$tool" >/dev/null || fail "$tool is missing: run scripts/deps.sh"
done
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
[ -x "$wine" ] && [ -x "$wineserver" ] || fail "Wine is missing: run scripts/deps.sh (package wine64)"
for program in "$windows_test" "$cli" "$dfu_bridge" "$driver_installer"; do
  [ -f "$program" ] || fail "no $program"
done

mkdir -p "$work"
work=$(cd "$work" && pwd)

. "$here/guest_kernel.sh"
fetch_kernel "$work"

# --- The Wine prefix, once per build folder and Wine version. winebus presents hidraw devices
# only with its hidraw backend on and SDL's off (SDL would claim them as game controllers).
prefix=$work/wineprefix
wine_version=$("$wine" --version)
if [ "$(cat "$prefix/.zelk-ready" 2>/dev/null)" != "$wine_version" ]; then
  echo "Making the guest's Wine prefix ($wine_version)"
  rm -rf "$prefix"
  (
    export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    "$wine" wineboot -i
    key='HKLM\System\CurrentControlSet\Services\winebus'
    "$wine" reg add "$key" /v DisableHidraw /t REG_DWORD /d 0 /f
    "$wine" reg add "$key" /v "Enable SDL" /t REG_DWORD /d 0 /f
    "$wineserver" -w
  ) >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log"; fail "wineboot failed"; }
  echo "$wine_version" > "$prefix/.zelk-ready"
fi

# --- The initramfs: busybox, the modules, the first process (host_root_init.sh), and the paths
# the guest must see: the scripts, the build folders and the programs under test.
root=$work/wine-initramfs
start_host_root_initramfs "$root" uhid hid-generic usbhid "dummy_hcd num=2" libcomposite \
  usb_f_hid usb_f_fs
printf '%s\n' "$here" "$work" "$prefix" "$rig" "$windows_test" "$cli" "$dfu_bridge" \
  "$driver_installer" >"$root/etc/zelk-test/paths"
# What the guest runs once chrooted into the host's tree, all by their paths here.
cat > "$root/etc/zelk-test/run" <<EOF
export ZELK_WINE_PREFIX='$prefix' ZELK_WINE_HID_TEST='$windows_test' ZELK_WINE_CLI='$cli'
export ZELK_WINE_DFU_BRIDGE='$dfu_bridge' ZELK_WINE_DRIVER_INSTALLER='$driver_installer'
export ZELK_WINE_RIG='$rig' ZELK_WINE_FILTER='$filter'
export ZELK_WINE_DEBUG='${ZELK_WINE_DEBUG:-}' ZELK_WINE_OUT=/run/zelk-out
export ZELK_WINE_TEST_FILTER='${ZELK_WINE_TEST_FILTER:-*}' ZELK_WINE_TEST_REPEAT='${ZELK_WINE_TEST_REPEAT:-1}'
exec /bin/bash '$here/wine_guest_run.sh'
EOF

# --- The run. Wine wants more memory than the native tests. The guest writes Wine's traces
# (ZELK_WINE_DEBUG=+hid,+setupapi,... names the channels) into a folder of the host's shared with
# it for writing.
console=$work/wine-console.log
out=$work/wine-guest-out
rm -rf "$out"
mkdir -p "$out"
boot_host_root_guest "$root" 2048 "$out" "$console"
report_guest "$console" "$qemu_status" \
  '^\[( +OK|==========|  PASSED|  FIGURE) |^(GUEST_READY|WINE_READY|ZELK_GUEST_RESULT)'
