#!/usr/bin/env bash
# Configures and builds the project into build/ (binaries in build/bin/).
# Extra arguments go to CMake, e.g. scripts/build.sh -DZW_WITH_QT=OFF.
# ZW_TARGETS="bkup zipwriter" builds only those targets (default: everything).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${ZW_JOBS:-$(nproc)}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" > /dev/null
# shellcheck disable=SC2086
ninja -C build -j "$jobs" ${ZW_TARGETS:-}
