#!/usr/bin/env bash
# Sets everything up and runs every test suite: the debug build (and the style check over its
# compile database), then the address/undefined-behaviour sanitizer build, then the thread
# sanitizer build (the suites without the window), then the optimized build that ships (the
# Debian package's build, with the suites), then the fuzz targets (every seed corpus replayed, and
# a fixed number of runs from a fixed seed); then packages that build, checks the package with
# lintian, installs it and runs it; then the Windows build (cross-built with MinGW-w64) with its
# suites under Wine, and clang-tidy over the Windows-only sources.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh

jobs=$(nproc)
for preset in debug asan tsan deb fuzz; do
  echo "=== $preset: configure and build"
  if [ "$preset" = deb ]; then
    # The optimized build is the package's own, with its hardening flags, so that the suites run
    # on what ships and scripts/check-deb.sh below packages it without building it again. The
    # real-kernel suite runs once, in the debug build.
    cmake --preset deb -DZELK_BUILD_TESTS=ON -DZELK_KERNEL_TESTS=OFF >/dev/null
    cmake --build build/deb -j "$jobs"
    echo "=== $preset: test"
    ctest --test-dir build/deb -j "$jobs" --output-on-failure
    continue
  fi
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== $preset: test"
  ctest --preset "$preset" -j "$jobs"
  if [ "$preset" = debug ]; then
    echo "=== benchmarks: one iteration each"
    ./scripts/bench.sh --smoke
    echo "=== style: clang-format and clang-tidy"
    style_start=$(date +%s)
    ./scripts/check-style.sh --part linux build/debug
    echo "=== style checked in $(( $(date +%s) - style_start )) s"
  fi
done
echo "=== demo: the README's first command's own build (one unit per folder, so it is checked)"
cmake --preset demo >/dev/null
cmake --build --preset demo -j "$jobs"
echo "=== Debian package: build, lintian, install, run"
./scripts/check-deb.sh

echo "=== windows: configure and build"
windows_start=$(date +%s)
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
echo "=== windows: test under Wine, clang-tidy over the Windows-only sources beside it"
# The Windows sources' clang-tidy (minutes of parsing windows.h on two cores) runs beside the
# Wine tests rather than after them.
./scripts/check-style.sh --part windows build/debug build/windows > build/windows/tidy.log 2>&1 &
tidy=$!
ctest --preset windows -j "$jobs"
if ! wait "$tidy"; then
  cat build/windows/tidy.log
  echo "=== windows: clang-tidy found something"
  exit 1
fi
tail -n 1 build/windows/tidy.log
echo "=== windows: built and tested in $(( $(date +%s) - windows_start )) s"
