#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite.
#   scripts/test.sh              normal build in build/
#   ZEL_SANITIZE=ON scripts/test.sh   AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
#   ZEL_SANITIZE=thread scripts/test.sh   ThreadSanitizer in build-tsan/ (any report fails the test)
#   ZEL_DEBUG_OUTPUT=OFF scripts/test.sh   diagnostics compiled out (their arguments never run)
#   ZEL_BUILD_BENCH=OFF scripts/test.sh   leaves the benchmarks out of the build
#   ZEL_TESTS="test_links test_e2e" scripts/test.sh   builds and runs only these test programs
#                                (and what they need, zelT71N for the end-to-end test)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
sanitize="${ZEL_SANITIZE:-OFF}"
build="build"
[ "$sanitize" = "ON" ] && build="build-asan"
[ "$sanitize" = "thread" ] && build="build-tsan"
jobs="${ZEL_JOBS:-$(nproc)}"
cmake -S . -B "$build" -G Ninja -DZEL_SANITIZE="$sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZEL_BUILD_TESTS=ON -DZEL_BUILD_BENCH="${ZEL_BUILD_BENCH:-ON}" -DZEL_DEBUG_OUTPUT="${ZEL_DEBUG_OUTPUT:-ON}" >/dev/null
read -r -a programs <<<"${ZEL_TESTS:-}"
targets=()
labels=()
if [ ${#programs[@]} -gt 0 ]; then
  # Each test program's tests carry its name as their ctest label.
  targets=(--target "${programs[@]}")
  labels=(-L "^($(IFS='|'; echo "${programs[*]}"))\$")
fi
cmake --build "$build" -j "$jobs" "${targets[@]}"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" -j "$jobs" --output-on-failure --timeout 180 "${labels[@]}"
