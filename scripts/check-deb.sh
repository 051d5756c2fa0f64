#!/usr/bin/env bash
# Builds the Debian package (cmake --workflow --preset deb), checks it with lintian (no errors
# allowed), installs it on this machine, starts the installed program offscreen on a copy of the
# demo package (in the package folder, and as a copy of the program inside the folder started from
# elsewhere), and purges the package again. Needs root, or sudo.
set -euo pipefail
cd "$(dirname "$0")/.."
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
fail() { echo "check-deb: FAILED: $*"; exit 1; }

rm -f build/deb/zelk-upgrade_*.deb
start=$(date +%s)
cmake --workflow --preset deb >/dev/null
deb=$(ls build/deb/zelk-upgrade_*_amd64.deb)
echo "check-deb: built $deb in $(( $(date +%s) - start )) s"

echo "check-deb: lintian"
lintian --allow-root --fail-on error -I "$deb"

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
  $sudo dpkg --purge zelk-upgrade >/dev/null 2>&1 || true
}
trap cleanup EXIT

$sudo dpkg -i "$deb" >/dev/null
for file in /usr/bin/zelk-upgrade /usr/bin/zelk-cli /usr/lib/udev/rules.d/70-zelk-upgrade.rules \
            /usr/share/man/man1/zelk-upgrade.1.gz /usr/share/man/man1/zelk-cli.1.gz \
            /usr/share/zelk-upgrade/zelk-cli-events.schema.json \
            /usr/share/doc/zelk-upgrade/copyright; do
  [ -f "$file" ] || fail "the package installed no $file"
done

# Starts a program offscreen in a folder; after two seconds it must still run (start-up read the
# package and the window's loop is going) in the package folder; then it is ended.
runs_in_package() {
  local from=$1 program=$2 log=$work/run.log pid
  (cd "$from" && exec env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime" "$program" \
    >"$log" 2>&1) &
  pid=$!
  pids+=("$pid")
  sleep 2
  kill -0 "$pid" 2>/dev/null || { cat "$log"; fail "$program started in $from ended: $(wait "$pid"; echo "status $?")"; }
  [ "$(readlink "/proc/$pid/cwd")" = "$work/package" ] ||
    fail "$program started in $from runs in $(readlink "/proc/$pid/cwd"), not in the package folder"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  grep -v "no device-change notifications" "$log" || true
}
mkdir -m 700 "$work/runtime"
cp -r examples/package "$work/package"
runs_in_package "$work/package" /usr/bin/zelk-upgrade
cp /usr/bin/zelk-upgrade "$work/package/zelk-upgrade"
runs_in_package / "$work/package/zelk-upgrade"

# The command-line program on the same copy: the package is usable, and no box is there.
status=0
(cd "$work/package" && /usr/bin/zelk-cli --json list) >"$work/cli.log" 2>&1 || status=$?
[ "$status" -eq 3 ] || { cat "$work/cli.log"; fail "zelk-cli list without a box exited $status, not 3"; }

$sudo dpkg --purge zelk-upgrade >/dev/null
[ ! -e /usr/lib/udev/rules.d/70-zelk-upgrade.rules ] || fail "the rule outlived the package"
echo "check-deb: passed in $(( $(date +%s) - start )) s"
