#!/usr/bin/env bash
# Builds and runs the whole test suite. SANITIZE=1 runs it under ASan/UBSan in build-asan/.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${SANITIZE:-0}" = 1 ]; then
  export BUILD_DIR=build-asan CMAKE_ARGS="-DFRAMEND_SANITIZE=ON"
fi
bash scripts/build.sh
ctest --test-dir "${BUILD_DIR:-build}" -j"$(nproc)" --output-on-failure
