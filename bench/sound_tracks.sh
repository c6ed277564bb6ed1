#!/usr/bin/env bash
# Repair time of recordings with one and with two AAC sound tracks (ffmpeg's
# frame-by-frame interleave and half-second chunks), each as a ratio to an
# ffmpeg stream-copy remux of the intact original, measured in the same run
# (hot cache, best of N). The moov of each original is cut off first.
#
# usage: bench/sound_tracks.sh [BUILD_DIR] [WORK_DIR] [SECONDS]
#   BUILD_DIR  where framend was built (default: build)
#   WORK_DIR   scratch space for the generated movies (default: /tmp/framend-bench-tracks)
#   SECONDS    length of each recording (default: 60)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
WORK=${2:-/tmp/framend-bench-tracks}
SECONDS_LONG=${3:-60}
RUNS=${RUNS:-3}
FRAMEND=$(realpath "$BUILD/framend")
mkdir -p "$WORK"
cd "$WORK"

q() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

# Best wall time of RUNS runs of a command, in seconds.
best() {
  local b=""
  for _ in $(seq "$RUNS"); do
    local s e t
    s=$(date +%s.%N); "$@" >/dev/null 2>&1 || true; e=$(date +%s.%N)
    t=$(echo "$e - $s" | bc)
    if [ -z "$b" ] || [ "$(echo "$t < $b" | bc)" = 1 ]; then b=$t; fi
  done
  echo "$b"
}

# The bytes in front of the moov (the movie must have its moov last).
cut_index() {
  python3 - "$1" "$2" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
pos = 0
while pos + 8 <= len(data):
    size, kind = struct.unpack(">I4s", data[pos:pos + 8])
    if size == 1:
        size = struct.unpack(">Q", data[pos + 8:pos + 16])[0]
    if kind == b"moov":
        break
    pos += size if size else len(data)
open(sys.argv[2], "wb").write(data[:pos])
PY
}

make_movie() {  # name seconds tracks mux ext
  local maps=(-map 0 -map 1 -ac 2)
  [ "$3" = 2 ] && maps=(-map 0 -map 1 -map 2 -ac:a:0 2 -ac:a:1 1)
  q -f lavfi -i "testsrc2=size=640x360:rate=30:duration=$2" \
    -f lavfi -i "anoisesrc=d=$2:r=48000:a=0.2:seed=1" -f lavfi -i "anoisesrc=d=$2:r=44100:a=0.1:seed=2" \
    "${maps[@]}" -c:v libx264 -preset veryfast -g 30 -c:a aac -b:a 128k $4 "$1.$5"
}

printf "%-8s %-6s %8s %8s %7s\n" tracks mux repair remux ratio
for tracks in 1 2; do
  for mux in dflt chunks; do
    args=""; ext=mp4
    [ "$mux" = chunks ] && { args="-chunk_duration 500000"; ext=mov; }
    name="t${tracks}_$mux"
    [ -s "$name.$ext" ] || make_movie "$name" "$SECONDS_LONG" "$tracks" "$args" "$ext"
    [ -s "${name}_ref.$ext" ] || make_movie "${name}_ref" 5 "$tracks" "$args" "$ext"
    cut_index "$name.$ext" "${name}_cut.$ext"
    repair=$(best "$FRAMEND" -i "${name}_cut.$ext" -ref "${name}_ref.$ext" -o "${name}_out.$ext")
    remux=$(best ffmpeg -nostdin -loglevel error -y -i "$name.$ext" -map 0 -c copy "${name}_remux.$ext")
    printf "%-8s %-6s %8.3f %8.3f %7.2f\n" "$tracks" "$mux" "$repair" "$remux" "$(echo "$repair / $remux" | bc -l)"
  done
done
