#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and running the utility need (with
# --demo, only what building and running the demo needs).
# Safe to run again: it only goes to the package servers when something is missing.
set -euo pipefail

# What building and running the demo takes: the compiler, CMake, the Qt window, the XML and udev
# libraries, and the command-line program's header-only libraries (the emulator links its runner).
demo_packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev libpugixml-dev libudev-dev
  libcli11-dev nlohmann-json3-dev
)
# What the tests, benchmarks, style check, Debian package, real-kernel suite and Windows build add.
test_packages=(
  python3 googletest libgtest-dev libgmock-dev
  umockdev libumockdev-dev
  xvfb xauth lintian
  qemu-system-x86 busybox-static cpio kmod udev dfu-util
  libbenchmark-dev libhidapi-dev libxcb1-dev
  g++-mingw-w64-x86-64-posix wine64 fonts-wine dpkg-dev debian-archive-keyring
  clang-14 libclang-rt-14-dev clang-format-14 clang-tidy-14
)

# --demo: only the demo's packages. Any other argument names one package more.
packages=("${demo_packages[@]}")
if [ "${1:-}" = --demo ]; then
  shift
else
  packages+=("${test_packages[@]}")
fi
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  echo "Installing: ${missing[*]}"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
