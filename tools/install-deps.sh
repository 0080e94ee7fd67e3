#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need.
# Both ./run and ./test call this; it does nothing when everything is present.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake pkg-config
  # window and OpenGL
  qtbase5-dev qtbase5-dev-tools libqt5opengl5-dev libx11-dev libglew-dev libglu1-mesa-dev
  libgl1-mesa-dri mesa-common-dev
  # scene
  libassimp-dev libfreeimage-dev
  # OpenCL: headers, ICD loader, and PoCL as the CPU device
  opencl-headers ocl-icd-opencl-dev pocl-opencl-icd
  # a second OpenCL implementation for the tests: Mesa's rusticl (and Clover)
  mesa-opencl-icd
  # music
  libopenmpt-dev libsdl2-dev
  # tests and benchmarks
  libgtest-dev libbenchmark-dev libembree-dev
  # headless display for tests and the headless demo run
  xvfb x11-utils xauth
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "install-deps: run as root, or install them with apt-get" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
