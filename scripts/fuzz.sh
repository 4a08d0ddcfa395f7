#!/bin/sh
# Builds the libFuzzer targets with clang in build-fuzz/ and runs them one after the other for a
# bounded time shared between them (FUZZ_SECONDS, default 60: two thirds to the links' target, the
# rest to the file readers'). Exits non-zero on a finding.
set -eu
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
SECONDS_TO_RUN="${FUZZ_SECONDS:-60}"
LINK_SECONDS=$((SECONDS_TO_RUN * 2 / 3))
FILE_SECONDS=$((SECONDS_TO_RUN - LINK_SECONDS))
cmake -S . -B build-fuzz -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZEL_BUILD_FUZZ=ON -DZEL_BUILD_TESTS=OFF -DZEL_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"${FUZZ_JOBS:-$(nproc)}" --target fuzz_links fuzz_files
mkdir -p build-fuzz/corpus-links build-fuzz/corpus-files
cp -n fuzz/corpus/links/* build-fuzz/corpus-links/ 2>/dev/null || true
cp -n fuzz/corpus/files/* build-fuzz/corpus-files/ 2>/dev/null || true
./build-fuzz/fuzz/fuzz_links -max_total_time="$LINK_SECONDS" -max_len=70000 \
  -rss_limit_mb=4096 build-fuzz/corpus-links
# Files up to a little over the 1 MiB the box reads of one.
exec ./build-fuzz/fuzz/fuzz_files -max_total_time="$FILE_SECONDS" -max_len=1100000 \
  -rss_limit_mb=4096 build-fuzz/corpus-files
