#!/usr/bin/env bash
# Installs the Debian packages that building, testing and packaging need.
# Safe to run again: apt skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config g++ clang lld clang-tidy
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libopenimageio-dev openimageio-tools fonts-dejavu-core
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev ffmpeg libopencolorio-dev
  libclang-rt-14-dev valgrind binutils file
  slurm-wlm munge
  # The Python module, its tests and the README's example.
  pybind11-dev python3-dev python3-numpy python3-pytest python3-openimageio
  # The Windows x64 and Linux aarch64 builds, their tests under Wine and
  # qemu-user (GoogleTest is built from the googletest package's sources),
  # and the release zip.
  g++-mingw-w64-x86-64-posix wine wine64 g++-aarch64-linux-gnu qemu-user zip
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
