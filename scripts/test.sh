#!/usr/bin/env bash
# Installs, builds and runs every test: first the normal build, then a second build
# with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
jobs=${ZW_JOBS:-$(nproc)}

./scripts/build.sh
(cd build && ctest --output-on-failure -j "$jobs")
# Real updates killed at random moments; a short run (see README, "Interrupted updates").
python3 scripts/crash_trials.py --trials 2 --scale small

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZW_SANITIZE=ON -DZW_WITH_QT=OFF > /dev/null
ninja -C build-asan -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j "$jobs" -LE slow)
echo "All tests passed."
