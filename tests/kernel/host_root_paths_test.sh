#!/usr/bin/env bash
# Boots the guest that runs in the host's own tree (host_root_init.sh, the Wine suite's guest) with
# a folder of its own under each place a checkout may live and the old guest hid (/tmp, /var/tmp,
# /root, /run), and checks that the guest reads each folder's content and writes into it, that the
# writes stay in the guest, and that a path the guest cannot see ends the run with one line that
# names it. Usage: host_root_paths_test.sh WORK_DIR. Exit codes: 0 passed, 1 failed, 77 qemu
# cannot run.
set -euo pipefail

work=$1
boot_timeout=${ZELK_KERNEL_TEST_TIMEOUT:-120}
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }
for tool in busybox cpio depmod modprobe dpkg-deb apt-get; do
  command -v "$tool" >/dev/null || fail "$tool is missing: run scripts/deps.sh"
done
mkdir -p "$work"
work=$(cd "$work" && pwd)
. "$(dirname "$0")/guest_kernel.sh"
fetch_kernel "$work"

folders=()
cleanup() { rm -rf "${folders[@]}"; }
trap cleanup EXIT
for place in /tmp /var/tmp /root /run; do
  if [ -d "$place" ] && [ -w "$place" ]; then
    folder=$(mktemp -d "$place/zelk-guest-paths.XXXXXX")
    folders+=("$folder")
    echo "$folder" >"$folder/marker"
  fi
done
[ ${#folders[@]} -gt 0 ] || skip "none of /tmp, /var/tmp, /root, /run is writable here"

root=$work/paths-initramfs
console=$work/paths-console.log
out=$work/paths-guest-out
rm -rf "$out"
mkdir -p "$out"

# Every folder is read and written in the guest; a write the host then sees would have escaped.
start_host_root_initramfs "$root"
printf '%s\n' "${folders[@]}" >"$root/etc/zelk-test/paths"
{
  for folder in "${folders[@]}"; do
    echo "[ \"\$(cat '$folder/marker')\" = '$folder' ] || { echo 'ZELK_GUEST_RESULT=FAIL cannot read $folder'; exit; }"
    echo "echo guest >'$folder/written' || { echo 'ZELK_GUEST_RESULT=FAIL cannot write in $folder'; exit; }"
  done
  echo 'echo "ZELK_GUEST_RESULT=PASS"'
} >"$root/etc/zelk-test/run"
boot_host_root_guest "$root" 512 "$out" "$console"
tr -d '\r' <"$console" >"$console.txt"
if ! grep -q '^ZELK_GUEST_RESULT=PASS' "$console.txt"; then
  cat "$console.txt"
  fail "the guest did not see and write every folder (qemu exit status $qemu_status)"
fi
for folder in "${folders[@]}"; do
  [ ! -e "$folder/written" ] || fail "the guest's write reached the host's $folder"
done
echo "The guest read and wrote ${folders[*]}"

# A path the guest cannot see: one line that names it, before anything runs.
missing=${folders[0]}/not-there
echo "$missing" >"$root/etc/zelk-test/paths"
echo 'echo "ZELK_GUEST_RESULT=PASS"' >"$root/etc/zelk-test/run"
boot_host_root_guest "$root" 512 "$out" "$console"
tr -d '\r' <"$console" >"$console.txt"
expected="ZELK_GUEST_RESULT=FAIL the guest cannot see $missing, which the test was given"
if ! grep -qxF "$expected" "$console.txt"; then
  cat "$console.txt"
  fail "the guest did not name the path it cannot see"
fi
echo "The guest named the path it cannot see"
