#!/usr/bin/env bash
# Builds framend, records a short H.264/AAC clip with ffmpeg, cuts off its index
# (the moov atom) the way an interrupted recording loses it, repairs it with the
# intact clip as reference, and compares packet checksums with the original.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
demo=demo
mkdir -p "$demo"
ffmpeg -nostdin -hide_banner -loglevel error -y \
  -f lavfi -i testsrc2=size=640x360:rate=30:duration=10 \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=10 \
  -c:v libx264 -preset veryfast -bf 2 -g 60 -c:a aac -b:a 128k -ac 2 "$demo/original.mp4"
cp "$demo/original.mp4" "$demo/reference.mp4"

# Walk the top-level atoms and truncate the copy where moov starts.
size_at() { od -An -tu1 -j "$1" -N 4 "$2" | awk '{printf "%.0f\n", ($1*16777216)+($2*65536)+($3*256)+$4}'; }
type_at() { dd if="$2" bs=1 skip="$(( $1 + 4 ))" count=4 2>/dev/null; }
cp "$demo/original.mp4" "$demo/broken.mp4"
total=$(stat -c %s "$demo/broken.mp4"); ofs=0
while [ "$ofs" -lt "$total" ]; do
  sz=$(size_at "$ofs" "$demo/broken.mp4"); ty=$(type_at "$ofs" "$demo/broken.mp4")
  if [ "$ty" = moov ]; then truncate -s "$ofs" "$demo/broken.mp4"; break; fi
  [ "$sz" -ge 8 ] || break
  ofs=$(( ofs + sz ))
done
echo "broken.mp4: $(stat -c %s "$demo/broken.mp4") bytes, index removed"

./build/framend -i "$demo/broken.mp4" -ref "$demo/reference.mp4" -o "$demo/repaired.mp4" -v 2 -verout || true

if [ -s "$demo/repaired.mp4" ]; then
  ffmpeg -nostdin -loglevel error -i "$demo/original.mp4" -c copy -f framemd5 - | grep -v '^#' | awk -F, '{print $1","$6}' | sort > "$demo/orig.md5"
  ffmpeg -nostdin -loglevel error -i "$demo/repaired.mp4" -c copy -f framemd5 - | grep -v '^#' | awk -F, '{print $1","$6}' | sort > "$demo/rep.md5"
  for s in 0 1; do
    o=$(grep -c "^$s," "$demo/orig.md5" || true)
    m=$(comm -12 <(grep "^$s," "$demo/orig.md5") <(grep "^$s," "$demo/rep.md5") | wc -l)
    echo "stream $s: $m of $o packets recovered bit-exact"
  done
  echo "decoder errors in the repaired file: $(ffmpeg -nostdin -v error -i "$demo/repaired.mp4" -f null - 2>&1 | wc -l)"
else
  echo "no repaired file was written"
fi
