#!/usr/bin/env bash
# Boots a Debian kernel under qemu with the guest test program as its only job and reports what
# the guest reported. Usage: run_guest.sh WORK_DIR GUEST_TEST_PROGRAM GUEST_FILES_DIR [GTEST_FILTER]
#
# The kernel comes from Debian's package, unpacked (not installed) into WORK_DIR/kernel once and
# kept there for later runs. The initramfs is built afresh each run, because it carries the test
# program: busybox, the kernel modules for uhid and the dummy USB gadget, systemd-udevd, Debian's
# dfu-util, the test program and the shared libraries of all of them, and the demo package. Exit codes: 0 passed, 1 failed, 77 qemu cannot run.
set -euo pipefail

work=$1
guest_program=$2
guest_files=$3
filter=${4:-*}
boot_timeout=${ZELK_KERNEL_TEST_TIMEOUT:-480}

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }

for tool in busybox cpio depmod modprobe dpkg-deb apt-get dfu-util; do
  command -v "$tool" >/dev/null || fail "$tool is missing: run scripts/deps.sh"
done
udevd=/lib/systemd/systemd-udevd
[ -x "$udevd" ] || fail "$udevd is missing: run scripts/deps.sh (package udev)"

mkdir -p "$work"
work=$(cd "$work" && pwd)

# --- The kernel, once per build folder.
. "$(dirname "$0")/guest_kernel.sh"
fetch_kernel "$work"

# --- The initramfs.
root=$work/initramfs
start_initramfs "$root" uhid hid-generic usbhid dummy_hcd libcomposite usb_f_hid usb_f_fs

# A program and every shared library it loads, at the paths the dynamic loader looks for them.
copy_program() {
  local program=$1 target=$2
  mkdir -p "$root$(dirname "$target")"
  cp -L "$program" "$root$target"
  ldd "$program" | awk '/=> \// {print $3} /^\t\/lib/ {print $1}' | while read -r library; do
    if [ ! -e "$root$library" ]; then
      mkdir -p "$root$(dirname "$library")"
      cp -L "$library" "$root$library"
    fi
  done
}
copy_program "$udevd" /lib/systemd/systemd-udevd
copy_program "$(command -v udevadm)" /bin/udevadm
copy_program "$guest_program" /bin/zelk-kernel-guest-test
copy_program "$(command -v dfu-util)" /usr/bin/dfu-util
# zelk-cli itself, where the build names it: a test runs the program as it ships.
if [ -n "${ZELK_CLI_PROGRAM:-}" ]; then
  copy_program "$ZELK_CLI_PROGRAM" /usr/bin/zelk-cli
fi
cp /lib/udev/rules.d/50-udev-default.rules "$root/lib/udev/rules.d/" 2>/dev/null || true
cp "$guest_files"/*.rules "$root/etc/zelk-test/"
# The bundled demo package, as the operator's guide has it upgrade a presented box.
cp -r "$guest_files/../../examples/package" "$root/etc/zelk-test/demo-package"
cp "$guest_files/guest_init.sh" "$root/init"
chmod +x "$root/init"
echo "$filter" > "$root/etc/zelk-test/filter"

(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1 > "$work/initrd.gz")

# --- The run. The guest powers off when its tests are done; the time-out catches a hang.
console=$work/console.log
echo "Booting $release under qemu (software emulation)"
set +e
timeout --foreground "$boot_timeout" "$qemu" -accel tcg -m 1024 -smp 2 -nographic -nodefaults \
  -serial stdio -no-reboot -kernel "$vmlinuz" -initrd "$work/initrd.gz" \
  -append "console=ttyS0 quiet panic=-1" </dev/null >"$console" 2>&1
qemu_status=$?
set -e
report_guest "$console" "$qemu_status" '^\[( +OK|==========|  PASSED|  FIGURE) '
