#!/usr/bin/env bash
# Boots a Debian kernel under qemu with the guest test program as its only job and reports what
# the guest reported. Usage: run_guest.sh WORK_DIR GUEST_TEST_PROGRAM GUEST_FILES_DIR [GTEST_FILTER]
#
# The kernel comes from Debian's package, unpacked (not installed) into WORK_DIR/kernel once and
# kept there for later runs. The initramfs is built afresh each run, because it carries the test
# program: busybox, the kernel modules for uhid and the dummy USB gadget, systemd-udevd, Debian's
# dfu-util, the test program and the shared libraries of all of them. Exit codes: 0 passed, 1 failed, 77 qemu cannot run.
set -euo pipefail

work=$1
guest_program=$2
guest_files=$3
filter=${4:-*}
boot_timeout=${ZELK_KERNEL_TEST_TIMEOUT:-480}

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }

qemu=$(command -v qemu-system-x86_64 || true)
[ -n "$qemu" ] || skip "qemu-system-x86_64 is not installed (scripts/deps.sh installs qemu-system-x86)"
"$qemu" -version >/dev/null 2>&1 || skip "qemu-system-x86_64 does not run on this machine"
for tool in busybox cpio depmod modprobe dpkg-deb apt-get dfu-util; do
  command -v "$tool" >/dev/null || fail "$tool is missing: run scripts/deps.sh"
done
udevd=/lib/systemd/systemd-udevd
[ -x "$udevd" ] || fail "$udevd is missing: run scripts/deps.sh (package udev)"

mkdir -p "$work"
work=$(cd "$work" && pwd)

# --- The kernel, once per build folder.
kernel_dir=$work/kernel
if [ ! -f "$kernel_dir/ready" ]; then
  rm -rf "$kernel_dir"
  mkdir -p "$kernel_dir/download"
  package=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ {print $2; exit}')
  if [ -z "$package" ] && [ "$(id -u)" -eq 0 ]; then
    apt-get update >/dev/null
    package=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-/ {print $2; exit}')
  fi
  [ -n "$package" ] || fail "apt-cache does not know linux-image-amd64 (apt-get update needed)"
  echo "Downloading $package"
  (cd "$kernel_dir/download" && apt-get download "$package" >"$kernel_dir/download.log" 2>&1) || { cat "$kernel_dir/download.log"; false; } ||
    fail "apt-get download $package failed"
  dpkg-deb -x "$kernel_dir"/download/*.deb "$kernel_dir/root"
  release=${package#linux-image-}
  depmod -b "$kernel_dir/root" "$release"
  echo "$release" > "$kernel_dir/release"
  rm -rf "$kernel_dir/download"
  touch "$kernel_dir/ready"
fi
release=$(cat "$kernel_dir/release")
kroot=$kernel_dir/root
vmlinuz=$kroot/boot/vmlinuz-$release
[ -f "$vmlinuz" ] || fail "no kernel at $vmlinuz"

# --- The initramfs.
root=$work/initramfs
rm -rf "$root"
mkdir -p "$root"/{bin,sbin,dev,proc,sys,run,tmp,etc/udev/rules.d,lib/udev/rules.d,etc/zelk-test}
mkdir -p "$root/lib/modules/$release"
cp "$(command -v busybox)" "$root/bin/busybox"
for applet in $(busybox --list); do
  # An applet named busybox would replace the binary itself with a link loop.
  [ "$applet" = busybox ] || ln -sf busybox "$root/bin/$applet"
done

modules="uhid hid-generic usbhid dummy_hcd libcomposite usb_f_hid usb_f_fs"
for module in $modules; do
  modprobe -d "$kroot" -S "$release" --show-depends "$module" | awk '$1 == "insmod" {print $2}'
done | sort -u | while read -r file; do
  relative=${file#"$kroot"}
  mkdir -p "$root$(dirname "$relative")"
  cp "$file" "$root$relative"
done
cp "$kroot/lib/modules/$release"/modules.{order,builtin,builtin.modinfo} "$root/lib/modules/$release/" 2>/dev/null || true
depmod -b "$root" "$release"

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
cp /lib/udev/rules.d/50-udev-default.rules "$root/lib/udev/rules.d/" 2>/dev/null || true
cp "$guest_files"/*.rules "$root/etc/zelk-test/"
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
tr -d '\r' <"$console" >"$console.txt"

if grep -q '^ZELK_GUEST_RESULT=PASS' "$console.txt"; then
  grep -E '^\[( +OK|==========|  PASSED) ' "$console.txt" || true
  echo "Guest tests passed"
  exit 0
fi
cat "$console.txt"
if [ "$qemu_status" -eq 124 ]; then
  fail "the guest did not finish within $boot_timeout s"
fi
fail "the guest tests did not pass (qemu exit status $qemu_status)"
