#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite.
#   scripts/test.sh              normal build in build/
#   ZEL_SANITIZE=ON scripts/test.sh   AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
#   ZEL_SANITIZE=thread scripts/test.sh   ThreadSanitizer in build-tsan/ (any report fails the test;
#                                diagnostics compiled out there, ZEL_DEBUG_OUTPUT=ON: build-tsan-debug/)
#   ZEL_DEBUG_OUTPUT=OFF scripts/test.sh   diagnostics compiled out (their arguments never run), in
#                                build-nodebug/ (build-asan-nodebug/ with ZEL_SANITIZE=ON)
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
# Each set of options keeps its own build folder, so a run with other options never changes the
# settings of build/ (which scripts/run.sh uses). build-tsan is the diagnostics-off build CI runs;
# the others have diagnostics on unless asked.
debug_default=ON
[ "$sanitize" = "thread" ] && debug_default=OFF
debug="${ZEL_DEBUG_OUTPUT:-$debug_default}"
case "$debug" in
  ON | OFF) ;;
  *) echo "scripts/test.sh: ZEL_DEBUG_OUTPUT must be ON or OFF, not '$debug'" >&2; exit 2 ;;
esac
if [ "$debug" != "$debug_default" ]; then
  [ "$debug" = OFF ] && build="$build-nodebug" || build="$build-debug"
fi
jobs="${ZEL_JOBS:-$(nproc)}"
cmake -S . -B "$build" -G Ninja -DZEL_SANITIZE="$sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZEL_BUILD_TESTS=ON -DZEL_BUILD_BENCH="${ZEL_BUILD_BENCH:-ON}" -DZEL_DEBUG_OUTPUT="$debug" >/dev/null
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
