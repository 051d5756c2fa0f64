#!/usr/bin/env bash
# Sets everything up and runs every test suite: the debug build, then the address/undefined-
# behaviour sanitizer build, then the thread sanitizer build (the suites without the window);
# then builds the Debian package, checks it with lintian, installs it and runs it; then the Windows
# build (cross-built with MinGW-w64) with its suites under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh

jobs=$(nproc)
for preset in debug asan tsan; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== $preset: test"
  ctest --preset "$preset" -j "$jobs"
done
echo "=== Debian package: build, lintian, install, run"
./scripts/check-deb.sh

echo "=== windows: configure and build"
windows_start=$(date +%s)
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
echo "=== windows: test under Wine"
ctest --preset windows -j "$jobs"
echo "=== windows: built and tested in $(( $(date +%s) - windows_start )) s"
