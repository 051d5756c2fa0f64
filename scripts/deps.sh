#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and running the utility need.
# Safe to run again: it only goes to the package servers when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config python3
  qt6-base-dev libgl-dev libpugixml-dev libudev-dev
  googletest libgtest-dev libgmock-dev
  umockdev libumockdev-dev
  xvfb xauth lintian
  qemu-system-x86 busybox-static cpio kmod udev dfu-util
  libbenchmark-dev libhidapi-dev libxcb1-dev
  libcli11-dev nlohmann-json3-dev
  g++-mingw-w64-x86-64-posix wine64 fonts-wine dpkg-dev debian-archive-keyring
  clang-14 libclang-rt-14-dev clang-format-14 clang-tidy-14
  "$@"
)

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
