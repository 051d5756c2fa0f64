#!/usr/bin/env bash
# Sets everything up, builds the utility and its box emulator, and runs the demo: the real window
# on the bundled demo package with an emulated box that is older than the package, upgraded from
# plug-in to "Upgrade Complete" in real time. Without a display the same road runs in the console.
# Another package folder may be given, e.g. examples/package-manual (both kinds of image).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh

cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target zelk-sim zelk-upgrade
exec build/release/sim/zelk-sim demo "$@"
