#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite.
#   scripts/test.sh              normal build in build/
#   ZEL_SANITIZE=ON scripts/test.sh   AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
#   ZEL_SANITIZE=thread scripts/test.sh   ThreadSanitizer in build-tsan/ (any report fails the test)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
sanitize="${ZEL_SANITIZE:-OFF}"
build="build"
[ "$sanitize" = "ON" ] && build="build-asan"
[ "$sanitize" = "thread" ] && build="build-tsan"
jobs="${ZEL_JOBS:-$(nproc)}"
cmake -S . -B "$build" -G Ninja -DZEL_SANITIZE="$sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$jobs"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" -j "$jobs" --output-on-failure --timeout 180
