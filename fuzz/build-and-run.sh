#!/usr/bin/env bash
# Builds the directory-reading fuzz target with clang (libFuzzer, ASan, UBSan) into
# build-fuzz/ and runs it on one core.
#   fuzz/build-and-run.sh [SECONDS]       default 600
# Findings land in build-fuzz/findings/; copy each one to fuzz/regressions/ under a
# name that says what was wrong, so every test run replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DZW_FUZZ=ON -DZW_WITH_QT=OFF > /dev/null
ninja -C build-fuzz -j "${ZW_JOBS:-2}" read_directory_fuzzer
mkdir -p build-fuzz/findings build-fuzz/work-corpus
cp -n fuzz/corpus/* build-fuzz/work-corpus/ 2>/dev/null || true
cd build-fuzz  # libFuzzer writes its job log (fuzz-0.log) here
bin/read_directory_fuzzer work-corpus \
  -artifact_prefix=findings/ -max_total_time="$seconds" \
  -jobs=1 -workers=1 -rss_limit_mb=2048 -max_len=70000 -print_final_stats=1
