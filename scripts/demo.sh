#!/usr/bin/env bash
# Sets up what the demo needs, builds the box emulator with the utility's window, and runs the
# demo: the real window on the bundled demo package with an emulated box that is older than the
# package, upgraded from plug-in to "Upgrade Complete" in real time. Without a display the same
# road runs in the console. Another package folder may be given, e.g. examples/package-manual
# (both kinds of image). Only the demo's packages are installed, and it is built unoptimised in
# one unit per folder: on a fresh machine the demo comes up in about a minute.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh --demo

cmake --preset demo >/dev/null
cmake --build --preset demo -j "$(nproc)"
exec build/demo/sim/zelk-sim demo "$@"
