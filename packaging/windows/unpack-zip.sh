#!/bin/sh
# Makes the Windows zip as docs/windows-build.md says (cpack -G ZIP in the build folder), checks
# that its root is the package folder with the Windows names, and unpacks it into DEST for the tests
# that run it.
# Usage: unpack-zip.sh CPACK BUILD_DIR DEST
set -eu
cpack=$1
build=$2
dest=$3
cd "$build"
"$cpack" -G ZIP >/dev/null
zip=$(ls -t zelk-upgrade-*-windows-x64.zip | head -n 1)
listing=$(cmake -E tar tf "$zip")
status=0
for name in zelk-upgrade.exe zelk-sim.exe CurrentVersion.txt Tools/zelk.config Tools/dfu-util.exe \
    Drivers/libusbk/dpinst.exe Drivers/libusbk/dpinst_x64.exe; do
    if ! printf '%s\n' "$listing" | grep -qx "$name"; then
        echo "$zip has no $name at its root"
        status=1
    fi
done
rm -rf "$dest"
mkdir -p "$dest"
cd "$dest"
cmake -E tar xf "$build/$zip"
echo "$zip unpacked into $dest"
exit $status
