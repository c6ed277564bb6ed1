#!/usr/bin/env bash
# Installs what a fresh Debian/Ubuntu machine lacks (run as root) and builds.
set -euo pipefail
cd "$(dirname "$0")/.."
need=()
for p in g++ cmake ninja-build libgtest-dev libfaad-dev ffmpeg pkg-config; do
  dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
