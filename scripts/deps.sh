#!/usr/bin/env bash
# Installs the Debian 12 packages one use of the tree needs (only those missing).
#   bash scripts/deps.sh run     build zelT71N and run it on the simulated board: the compiler, Qt,
#                                Boost, the fonts, the front panel's virtual display (Xvfb,
#                                x11vnc, noVNC with websockify) and socat for the serial lines
#   bash scripts/deps.sh test    all of that and what only the tests, benchmarks and the fuzzer
#                                use: GoogleTest, Google Benchmark, clang with its fuzzer
#                                runtime, edid-decode, and vncsnapshot and a headless Chromium
#                                for the virtual display's test (the default)
#   bash scripts/deps.sh --have run|test   installs nothing; succeeds when all are there
set -euo pipefail
run_packages=(build-essential cmake ninja-build pkg-config
  qtbase5-dev qtbase5-dev-tools libqt5opengl5-dev libboost-dev
  fonts-wqy-microhei fonts-dejavu-core
  xvfb x11vnc novnc websockify socat)
test_packages=(libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev
  edid-decode vncsnapshot chromium)

check_only=0
if [ "${1:-}" = "--have" ]; then
  check_only=1
  shift
fi
use="${1:-test}"
case "$use" in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: $0 [--have] run|test" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0
[ "$check_only" = 0 ] || exit 1
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
