#!/usr/bin/env bash
# Runs the benchmarks and prints their figures (docs/performance.md says what they mean).
#
#   scripts/bench.sh [benchmark flags]   the full run: builds the optimised `bench` preset first
#   scripts/bench.sh --smoke             one iteration each, in the debug build (as CI does)
#
# Run it as root: the poll benchmark bind-mounts its emulated device tree on /sys in a mount
# namespace of its own (without root it falls back to umockdev), and the process benchmark runs
# the program on that tree in its own Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(zelk-bench-poll zelk-bench-uevent zelk-bench-process zelk-bench-boxes)
if [ "${1:-}" = "--smoke" ]; then
  build=build/debug
  cmake --build --preset debug --target "${targets[@]}"
else
  ./scripts/deps.sh
  build=build/bench
  cmake --preset bench >/dev/null
  cmake --build --preset bench
fi

for program in "${targets[@]}"; do
  echo "=== $program"
  "$build/bench/$program" "$@"
done

# The Windows poll, on the fake Windows of the backend tests, under Wine (the windows preset is
# the optimised build; its Wine prefix is the one its tests use).
cmake --preset windows >/dev/null
cmake --build --preset windows --target zelk-bench-winpoll
echo "=== zelk-bench-winpoll (Wine)"
cmake/run-under-wine.sh "$PWD/build/windows/wineprefix" build/windows/bench/zelk-bench-winpoll.exe "$@"
