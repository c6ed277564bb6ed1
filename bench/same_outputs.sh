#!/usr/bin/env bash
# Compares the repaired files of two yardstick runs made with KEEP_OUTPUTS=1
# (for example before and after a restructuring that must not change what is
# recovered): packet checksums of every output, and whether the bytes match.
#   bench/same_outputs.sh WORKDIR_BEFORE WORKDIR_AFTER
set -euo pipefail
before=$1 after=$2
same=0 differ=0 missing=0
sums() { ffmpeg -nostdin -loglevel error -i "$1" -map 0:v? -map 0:a? -c copy -copyinkf -f framemd5 - 2>/dev/null | grep -v '^#' || true; }
for a in "$before"/*.out.*; do
  name=$(basename "$a")
  b="$after/$name"
  if [ ! -e "$b" ]; then
    echo "missing after: $name"; missing=$((missing + 1)); continue
  fi
  if cmp -s "$a" "$b"; then
    same=$((same + 1)); continue
  fi
  if [ "$(sums "$a")" = "$(sums "$b")" ]; then
    echo "same packets, other bytes: $name"; same=$((same + 1))
  else
    echo "packets differ: $name"; differ=$((differ + 1))
  fi
done
for b in "$after"/*.out.*; do
  [ -e "$before/$(basename "$b")" ] || { echo "new after: $(basename "$b")"; missing=$((missing + 1)); }
done
echo "same: $same  differ: $differ  missing/new: $missing"
[ "$differ" -eq 0 ] && [ "$missing" -eq 0 ]
