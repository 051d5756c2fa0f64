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
# with their dependencies.
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
    modprobe -d "$kroot" -S "$release" --show-depends "$module" | awk '$1 == "insmod" {print $2}'
  done | sort -u | while read -r file; do
    relative=${file#"$kroot"}
    mkdir -p "$root$(dirname "$relative")"
    cp "$file" "$root$relative"
  done
  cp "$kroot/lib/modules/$release"/modules.{order,builtin,builtin.modinfo} "$root/lib/modules/$release/" 2>/dev/null || true
  depmod -b "$root" "$release"
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
