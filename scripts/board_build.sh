#!/usr/bin/env bash
# The board build: zelT71N and the test suite for the ARMv7 board (Debian armhf), cross-compiled
# in build-armhf/ with Debian's arm-linux-gnueabihf toolchain and the armhf Qt 5, Boost and
# GoogleTest packages, then the suite run under qemu-arm, and the PC build's end-to-end test run
# against the armhf application. Installs what is missing first.
#   bash scripts/board_build.sh                 build and test
#   ZEL_BOARD_TESTS=OFF bash scripts/board_build.sh   only zelT71N, no tests
#   ZEL_JOBS=N                                  parallel jobs (default: the number of cores)
set -euo pipefail
cd "$(dirname "$0")/.."
tests="${ZEL_BOARD_TESTS:-ON}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
packages=(crossbuild-essential-armhf qtbase5-dev:armhf libboost-dev:armhf)
[ "$tests" = "ON" ] && packages+=(qemu-user libgtest-dev:armhf libgmock-dev:armhf)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

# What a first run does to the machine, said before it does it.
if [ ${#missing[@]} -gt 0 ]; then
  cat <<EOF
board build: this adds the armhf architecture to dpkg (where missing) and installs ${missing[*]}
with what they need: about 240 packages on Debian 12 (about 200 of them armhf). apt also upgrades
the amd64 packages whose armhf twins must have the same version (zlib, OpenSSL, GnuTLS, ...; 48 on
the machine this was measured on). Then the first build takes about 13 minutes at 4 jobs.
EOF
fi

# The application alone needs what the run needs; the suite and the end-to-end test need GoogleTest.
if [ "$tests" = "ON" ]; then bash scripts/deps.sh test; else bash scripts/deps.sh run; fi

# A new architecture leaves armhf packages missing, so the update below reads its lists too.
if ! dpkg --print-foreign-architectures | grep -qx armhf; then
  $SUDO dpkg --add-architecture armhf
fi
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update -qq
  echo "board build: apt: $(apt-get -s install "${missing[@]}" 2>/dev/null | grep -E '^[0-9]+ upgraded' || true)"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

jobs="${ZEL_JOBS:-$(nproc)}"
cmake -S . -B build-armhf -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE=cmake/armhf-linux-gnueabihf.cmake \
  -DZEL_BUILD_TESTS="$tests" -DZEL_BUILD_BENCH=OFF >/dev/null
cmake --build build-armhf -j "$jobs"
echo "built build-armhf/zelT71N for $(arm-linux-gnueabihf-readelf -h build-armhf/zelT71N | sed -n "s/ *Machine: *//p")"
[ "$tests" = "ON" ] || exit 0
export QT_QPA_PLATFORM=offscreen

# The emulated suite runs in a process namespace of its own where one can be had: whatever an
# emulated program signals, nothing outside the suite is touched.
isolate=()
if unshare --pid --fork --mount-proc true 2>/dev/null; then
  isolate=(unshare --pid --fork --mount-proc)
fi
"${isolate[@]}" ctest --test-dir build-armhf -j "$jobs" --output-on-failure --timeout 600

# The board's application as a whole: the PC build's end-to-end test starts the armhf zelT71N
# under qemu-arm on the simulated board, talks to it over TCP and UDP and checks its files.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs" --target test_e2e
ZEL_E2E_APP="$PWD/build-armhf/zelT71N" ZEL_E2E_EMULATOR="$(command -v qemu-arm)" \
  "${isolate[@]}" build/tests/test_e2e --gtest_filter='RunningBox.*'
