#!/usr/bin/env bash
# Configures and builds the project into build/ (binaries in build/bin/).
# Extra arguments go to CMake, e.g. scripts/build.sh -DZW_WITH_QT=OFF.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${ZW_JOBS:-$(nproc)}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" > /dev/null
ninja -C build -j "$jobs"
