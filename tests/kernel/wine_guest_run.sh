#!/bin/bash
# Runs in the Wine guest, chrooted into the host's tree with writable layers where it is written:
# udev, the build's Wine prefix under a writable layer, one Wine server for the whole run, then
# the rig, which plugs the emulated box into the dummy USB bus and runs the Windows programs.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root
/lib/systemd/systemd-udevd --daemon --resolve-names=never
udevadm trigger --action=add
udevadm settle
echo "GUEST_READY uptime=$(cut -d' ' -f1 /proc/uptime)"

# The prefix made on the host, with a layer of its own on the guest's /run (a tmpfs) that takes
# Wine's writes and makes the prefix the guest's root user's, whoever made it on the host.
mkdir -p /run/prefix /run/prefix-upper /run/prefix-work
if ! mount -t overlay overlay \
    -o "lowerdir=$ZELK_WINE_PREFIX,upperdir=/run/prefix-upper,workdir=/run/prefix-work" /run/prefix; then
  echo "ZELK_GUEST_RESULT=FAIL the Wine prefix cannot be laid over"
  exit 1
fi
export WINEPREFIX=/run/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# One server for every Wine program of the run: the drivers (winebus.sys, wineusb.sys) start with
# the first program and stay, as on a running Windows.
/usr/lib/wine/wineserver -p
# With ZELK_WINE_DEBUG set, the drivers (started now, in winedevice.exe) trace those channels too.
if [ -n "$ZELK_WINE_DEBUG" ]; then
  WINEDEBUG=$ZELK_WINE_DEBUG /usr/lib/wine/wine64 cmd /c exit 0 </dev/null >/dev/null \
    2>"$ZELK_WINE_OUT/drivers.trace"
else
  /usr/lib/wine/wine64 cmd /c exit 0 </dev/null >/dev/null 2>&1
fi
echo "WINE_READY uptime=$(cut -d' ' -f1 /proc/uptime)"

cd /tmp
"$ZELK_WINE_RIG" --gtest_color=no --gtest_filter="$ZELK_WINE_FILTER"
status=$?
/usr/lib/wine/wineserver -k
if [ "$status" -eq 0 ]; then
  echo "ZELK_GUEST_RESULT=PASS uptime=$(cut -d' ' -f1 /proc/uptime)"
else
  echo "ZELK_GUEST_RESULT=FAIL status=$status"
  dmesg | tail -40
fi
