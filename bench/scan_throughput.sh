#!/usr/bin/env bash
# Throughput of the scan loop and of the -sim output writer on a large movie,
# as ratios to `cat FILE > /dev/null` and to an ffmpeg stream-copy remux of the
# same file, all measured in the same run (hot cache, best of N).
#
# usage: bench/scan_throughput.sh [BUILD_DIR] [WORK_DIR] [SIZE_MB]
#   BUILD_DIR  where framend was built (default: build)
#   WORK_DIR   scratch space for the generated movies (default: /tmp/framend-bench-scan)
#   SIZE_MB    approximate size of the generated input (default: 1100)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
WORK=${2:-/tmp/framend-bench-scan}
SIZE_MB=${3:-1100}
RUNS=${RUNS:-3}
FRAMEND=$(realpath "$BUILD/framend")
mkdir -p "$WORK"
cd "$WORK"

q() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

# A 20 s 1080p H.264/AAC clip, looped by stream copy into a large file.
if [ ! -s big.mp4 ]; then
  q -f lavfi -i testsrc2=size=1920x1080:rate=30:duration=20 -f lavfi -i sine=frequency=440:sample_rate=48000:duration=20 \
    -c:v libx264 -preset ultrafast -crf 12 -g 60 -c:a aac -b:a 192k clip.mp4
  clip=$(stat -c %s clip.mp4)
  loops=$(( SIZE_MB * 1024 * 1024 / clip ))
  q -stream_loop "$loops" -i clip.mp4 -map 0 -c copy big.mp4
fi
# A reference of a codec family without an analyser in the scan, so that only
# the new-clip detector (-nfd) walks the bytes: the bare cost of the loop.
[ -s ref_mp4v.mov ] || q -f lavfi -i testsrc2=size=320x240:rate=25:duration=1 -c:v mpeg4 ref_mp4v.mov

# The same movie with its index cut off, as an interrupted recording leaves it.
if [ ! -s big_nomoov.mp4 ]; then
  size_at() { od -An -tu1 -j "$1" -N 4 "$2" | awk '{printf "%.0f\n", ($1*16777216)+($2*65536)+($3*256)+$4}'; }
  type_at() { dd if="$2" bs=1 skip="$(( $1 + 4 ))" count=4 2>/dev/null; }
  total=$(stat -c %s big.mp4); ofs=0; cut=$total
  while [ "$ofs" -lt "$total" ]; do
    sz=$(size_at "$ofs" big.mp4); ty=$(type_at "$ofs" big.mp4)
    if [ "$sz" -eq 1 ]; then  # 64-bit size
      sz=$(od -An -tu8 --endian=big -j "$(( ofs + 8 ))" -N 8 big.mp4 | tr -d ' ')
    fi
    [ "$ty" = moov ] && { cut=$ofs; break; }
    [ "$sz" -ge 8 ] || break
    ofs=$(( ofs + sz ))
  done
  head -c "$cut" big.mp4 > big_nomoov.mp4
fi

SIZE=$(stat -c %s big.mp4)
echo "input: big.mp4 $SIZE bytes ($(( SIZE / 1048576 )) MiB)"

best() {  # best wall time in seconds of RUNS runs of a command
  local b=""
  for _ in $(seq "$RUNS"); do
    local t0 t1
    t0=$(date +%s.%N); "$@" >/dev/null 2>&1 || true; t1=$(date +%s.%N)
    b=$(echo "$t0 $t1 ${b:-999999}" | awk '{d=$2-$1; print (d<$3)?d:$3}')
  done
  echo "$b"
}
peak_rss_mb() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1 | awk '{printf "%.0f", $1/1024}'; }

cat big.mp4 > /dev/null
t_cat=$(best sh -c 'cat big.mp4 > /dev/null')
t_remux=$(best q -i big.mp4 -map 0 -c copy remux.mp4)
t_scan=$(best "$FRAMEND" -i big.mp4 -ref ref_mp4v.mov -nfd -v 1)
t_sim=$(best "$FRAMEND" -i big.mp4 -sim -o sim.mp4 -v 1)
t_rep=$(best "$FRAMEND" -i big_nomoov.mp4 -ref clip.mp4 -o repaired.mp4 -v 1)
rss_rep=$(peak_rss_mb "$FRAMEND" -i big_nomoov.mp4 -ref clip.mp4 -o repaired.mp4 -v 1)
pk_orig=$(ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 big.mp4 | paste -sd/)
pk_rep=$(ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 repaired.mp4 | paste -sd/)
rss_scan=$(peak_rss_mb "$FRAMEND" -i big.mp4 -ref ref_mp4v.mov -nfd -v 1)
rss_sim=$(peak_rss_mb "$FRAMEND" -i big.mp4 -sim -o sim.mp4 -v 1)
rm -f remux.mp4 sim.mp4 repaired.mp4

awk -v s="$SIZE" -v c="$t_cat" -v r="$t_remux" -v a="$t_scan" -v m="$t_sim" -v ra="$rss_scan" -v rm="$rss_sim" -v p="$t_rep" -v rp="$rss_rep" 'BEGIN {
  mb = s / 1048576
  printf "%-34s %8s %10s %8s %9s %7s\n", "run", "time s", "MiB/s", "x cat", "x remux", "RSS MB"
  printf "%-34s %8.2f %10.0f %8.2f %9.2f %7s\n", "cat > /dev/null", c, mb/c, 1, c/r, "-"
  printf "%-34s %8.2f %10.0f %8.2f %9.2f %7s\n", "ffmpeg -c copy -map 0 (remux)", r, mb/r, r/c, 1, "-"
  printf "%-34s %8.2f %10.0f %8.2f %9.2f %7s\n", "framend scan, MDATAnalyser only", a, mb/a, a/c, a/r, ra
  printf "%-34s %8.2f %10.0f %8.2f %9.2f %7s\n", "framend -sim (write all samples)", m, mb/m, m/c, m/r, rm
  printf "%-34s %8.2f %10.0f %8.2f %9.2f %7s\n", "framend repair (index cut, H.264)", p, mb/p, p/c, p/r, rp
}'
echo "packets per stream: original $pk_orig, repaired $pk_rep"
