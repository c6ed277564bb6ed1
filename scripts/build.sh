#!/usr/bin/env bash
# Configures and builds into build/ (add -DFRAMEND_SANITIZE=ON via BUILD_DIR/CMAKE_ARGS for ASan/UBSan).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${BUILD_DIR:-build}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CMAKE_ARGS:-} >/dev/null
cmake --build "$dir" -j"$(nproc)"
