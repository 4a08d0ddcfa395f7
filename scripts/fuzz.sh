#!/bin/sh
# Builds the libFuzzer targets with clang in build-fuzz/ and runs the links' target for a bounded
# time (FUZZ_SECONDS, default 60). Exits non-zero on a finding.
set -eu
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
SECONDS_TO_RUN="${FUZZ_SECONDS:-60}"
cmake -S . -B build-fuzz -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZEL_BUILD_FUZZ=ON -DZEL_BUILD_TESTS=OFF -DZEL_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"${FUZZ_JOBS:-$(nproc)}" --target fuzz_links
mkdir -p build-fuzz/corpus-links
cp -n fuzz/corpus/links/* build-fuzz/corpus-links/ 2>/dev/null || true
exec ./build-fuzz/fuzz/fuzz_links -max_total_time="$SECONDS_TO_RUN" -max_len=70000 \
  -rss_limit_mb=4096 build-fuzz/corpus-links
