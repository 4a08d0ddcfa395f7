#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the run need (only those missing).
# The front panel's virtual display: Xvfb, x11vnc, noVNC with websockify; the display tests also
# read it with vncsnapshot and a headless Chromium.
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config
  qtbase5-dev qtbase5-dev-tools libqt5opengl5-dev
  libboost-dev libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev
  fonts-wqy-microhei fonts-dejavu-core edid-decode
  xvfb x11vnc novnc websockify vncsnapshot chromium socat)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
