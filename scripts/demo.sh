#!/usr/bin/env bash
# Sets everything up, builds the utility and runs it on the bundled demo package. Without a display
# it runs under a virtual X server for a short while and says so.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh

cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target zelk-upgrade
program="$PWD/build/release/src/app/zelk-upgrade"

cd examples/package
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$program"
fi
echo "No display: running zelk-upgrade under Xvfb for ${ZELK_DEMO_SECONDS:-20} seconds."
xvfb-run -a -s "-screen 0 1024x768x24" timeout "${ZELK_DEMO_SECONDS:-20}" "$program" || {
  rc=$?
  # timeout's 124 is the planned end of the demo.
  [ "$rc" -eq 124 ] || exit "$rc"
}
