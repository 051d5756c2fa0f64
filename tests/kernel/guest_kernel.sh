# Sourced by the guest runners: the Debian kernel, unpacked (not installed) into WORK/kernel once
# and kept there for later runs, and the start of an initramfs with busybox and some of the
# kernel's modules. Expects `fail` and `skip` from the runner and set -euo pipefail.

# Sets release, kroot and vmlinuz for the kernel in $1/kernel, downloading it on first use.
fetch_kernel() {
  local kernel_dir=$1/kernel package
  qemu=$(command -v qemu-system-x86_64 || true)
  [ -n "$qemu" ] || skip "qemu-system-x86_64 is not installed (scripts/deps.sh installs qemu-system-x86)"
  "$qemu" -version >/dev/null 2>&1 || skip "qemu-system-x86_64 does not run on this machine"
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
    local unpacked=${package#linux-image-}
    depmod -b "$kernel_dir/root" "$unpacked"
    echo "$unpacked" > "$kernel_dir/release"
    rm -rf "$kernel_dir/download"
    touch "$kernel_dir/ready"
  fi
  release=$(cat "$kernel_dir/release")
  kroot=$kernel_dir/root
  vmlinuz=$kroot/boot/vmlinuz-$release
  [ -f "$vmlinuz" ] || fail "no kernel at $vmlinuz"
}

# A fresh initramfs tree at $1 with busybox (every applet linked) and the modules named after it,
# with their dependencies (a name may carry the module's parameters after a blank).
start_initramfs() {
  local root=$1 module file relative applet
  shift
  rm -rf "$root"
  mkdir -p "$root"/{bin,sbin,dev,proc,sys,run,tmp,etc/udev/rules.d,lib/udev/rules.d,etc/zelk-test}
  mkdir -p "$root/lib/modules/$release"
  cp "$(command -v busybox)" "$root/bin/busybox"
  for applet in $(busybox --list); do
    # An applet named busybox would replace the binary itself with a link loop.
    [ "$applet" = busybox ] || ln -sf busybox "$root/bin/$applet"
  done
  for module in "$@"; do
    modprobe -d "$kroot" -S "$release" --show-depends "${module%% *}" | awk '$1 == "insmod" {print $2}'
  done | sort -u | while read -r file; do
    relative=${file#"$kroot"}
    mkdir -p "$root$(dirname "$relative")"
    cp "$file" "$root$relative"
  done
  cp "$kroot/lib/modules/$release"/modules.{order,builtin,builtin.modinfo} "$root/lib/modules/$release/" 2>/dev/null || true
  depmod -b "$root" "$release"
}

# A fresh initramfs at $1 for a guest that runs in the host's own tree (host_root_init.sh), with
# 9p, overlayfs and the modules named after it (parameters after a blank), which the guest loads
# in that order. The caller writes $1/etc/zelk-test/paths (the paths the guest must see, one a
# line) and $1/etc/zelk-test/run (what bash runs chrooted into the tree), then boots it with
# boot_host_root_guest.
start_host_root_initramfs() {
  local root=$1
  shift
  start_initramfs "$root" virtio_pci 9pnet_virtio 9p overlay "$@"
  printf '%s\n' virtio_pci 9pnet_virtio 9p overlay "$@" >"$root/etc/zelk-test/modules"
  cp "$(dirname "${BASH_SOURCE[0]}")/host_root_init.sh" "$root/init"
  chmod +x "$root/init"
}

# Boots the host-root initramfs tree $1 with $2 MiB of memory, the host's root read-only over 9p
# and the host's folder $3 shared for writing (the guest's /run/zelk-out); the console goes to $4.
# Sets qemu_status (124: the time-out struck).
boot_host_root_guest() {
  local root=$1 memory=$2 out=$3 console=$4
  (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1 >"$root.gz")
  echo "Booting $release under qemu (software emulation) with the host's root over 9p"
  set +e
  timeout --foreground "$boot_timeout" "$qemu" -accel tcg -m "$memory" -smp 2 -nographic \
    -nodefaults -serial stdio -no-reboot -kernel "$vmlinuz" -initrd "$root.gz" \
    -virtfs local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap \
    -virtfs local,path="$out",mount_tag=out,security_model=none \
    -append "console=ttyS0 quiet panic=-1" </dev/null >"$console" 2>&1
  qemu_status=$?
  set -e
}

# Reports the guest's run from its console log: passed when the guest said so, showing the log's
# lines that match the pattern; otherwise the whole log and why. Ends the runner either way.
report_guest() {
  local console=$1 qemu_status=$2 shown=$3
  tr -d '\r' <"$console" >"$console.txt"
  if grep -q '^ZELK_GUEST_RESULT=PASS' "$console.txt"; then
    grep -E "$shown" "$console.txt" || true
    echo "Guest tests passed"
    exit 0
  fi
  cat "$console.txt"
  if [ "$qemu_status" -eq 124 ]; then
    fail "the guest did not finish within $boot_timeout s"
  fi
  fail "the guest tests did not pass (qemu exit status $qemu_status)"
}
