#!/usr/bin/env bash
# Fuzzes whole repair runs, one codec family after another: for each family
# ffmpeg makes a small intact reference and a second recording with the same
# settings; that recording cut before its index (and shorter pieces of it),
# random bytes, a lying atom size and an empty file are the seeds, and
# fuzz/fuzz_repair repairs every mutation against the reference under
# ASan/UBSan. The camera modes take their reference and seeds from the test
# programs' fixtures in build/ (run test_camera once first).
#
#   bash bench/fuzz_all.sh [-t SECONDS] [-w WORK] [-b BUILD_FUZZ] [-a OPTIONS] [-p] [FAMILY...]
#
# Families: h264_aac hevc_aac prores_pcm mpeg2_pcm mpeg4_aac dv_pcm mjpeg_pcm
# pcm crm rsv repi (default: all). SECONDS per family, default 600. Each
# family's corpus grows in WORK/<family>/corpus across runs; what crashes,
# hangs or leaks lands in WORK/<family>/ as crash-*, timeout-*, leak-*, oom-*.
# -a adds framend options to every family's (e.g. "-v 10 -nfd" for the
# trace log and new clip detection). -p only makes the references and seeds
# (and prints each family's command).
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=600
work=/tmp/framend_fuzz
build=build-fuzz
prepare_only=0
extra=""
while getopts "t:w:b:a:p" opt; do
    case $opt in
        t) seconds=$OPTARG ;;
        w) work=$OPTARG ;;
        b) build=$OPTARG ;;
        a) extra=$OPTARG ;;
        p) prepare_only=1 ;;
        *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
families=("$@")
[ ${#families[@]} -eq 0 ] && families=(h264_aac hevc_aac prores_pcm mpeg2_pcm mpeg4_aac dv_pcm mjpeg_pcm pcm crm rsv repi)

if [ "$prepare_only" = 0 ] && [ ! -d "$build" ]; then
    CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DFRAMEND_FUZZ=ON -DFRAMEND_TESTS=OFF >/dev/null || exit 1
fi
if [ "$prepare_only" = 0 ]; then
    cmake --build "$build" -j2 --target fuzz_repair >/dev/null || { echo "build of fuzz_repair failed"; exit 1; }
fi
fuzzer=$(realpath -m "$build/fuzz/fuzz_repair")

# record FILE VIDEO_SOURCE TONE_HZ SECONDS ENCODE_ARGS...: a small test recording.
record() {
    local out=$1 src=$2 tone=$3 len=$4
    shift 4
    ffmpeg -nostdin -v error -y -f lavfi -i "$src" -f lavfi -i "sine=frequency=$tone:sample_rate=48000:duration=$len" \
        -t "$len" "$@" "$out"
}

# camera_seed FIXTURE CLIP SEED: the newest build/fixtures/*FIXTURE.mov as the
# reference, and the head of a test program's camera clip as a seed.
camera_seed() {
    ref=$(realpath "$(ls -t build/fixtures/*"$1".mov | head -1)") || return 1
    [ -f "$2" ] || return 1
    head -c 60000 "$2" >"$seeds/$3"
}

# The bytes in front of the moov atom: a recording stopped before its index.
cut_index() {
    python3 - "$1" "$2" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
at, end = 0, len(data)
while at + 8 <= len(data):
    size, kind = struct.unpack(">I4s", data[at:at + 8])
    if size == 1:
        size = struct.unpack(">Q", data[at + 8:at + 16])[0]
    if kind == b"moov":
        end = at
        break
    if size < 8:
        break
    at += size
open(sys.argv[2], "wb").write(data[:end])
EOF
}

# Seeds any family gets: nothing, noise, an mdat whose size lies in both forms.
hostile_seeds() {
    local dir=$1
    : >"$dir/empty"
    head -c 20000 /dev/urandom >"$dir/noise"
    printf '\x00\x00\x00\x18ftypqt  \x00\x00\x02\x00qt  \x00\x00\x00\x00\xff\xff\xff\xf0mdat' >"$dir/lying_mdat"
    head -c 4000 /dev/urandom >>"$dir/lying_mdat"
    printf '\x00\x00\x00\x01mdat\xff\xff\xff\xff\xff\xff\xff\xf0\x00\x00\x00\x08moov' >"$dir/lying_mdat64"
    head -c 4000 /dev/urandom >>"$dir/lying_mdat64"
}

# prepare FAMILY: sets ref, args, maxlen and fills $work/FAMILY/seeds.
prepare() {
    local fam=$1 dir=$work/$1
    local seeds=$dir/seeds
    mkdir -p "$seeds" "$dir/corpus"
    rm -f "$seeds"/*
    args="-verout"
    maxlen=65536
    inputext=""
    local v="testsrc=size=160x120:rate=25" w="testsrc2=size=160x120:rate=25" ext=mov enc=()
    case $fam in
        h264_aac) ext=mp4 enc=(-c:v libx264 -g 12 -bf 2 -c:a aac -b:a 48k) ;;
        hevc_aac) ext=mp4 enc=(-c:v libx265 -tag:v hvc1 -x265-params log-level=none:keyint=12 -c:a aac -b:a 48k) ;;
        prores_pcm) enc=(-c:v prores_ks -profile:v 0 -c:a pcm_s16le) ;;
        mpeg2_pcm) enc=(-c:v mpeg2video -g 12 -bf 2 -c:a pcm_s16le) ;;
        mpeg4_aac) ext=mp4 enc=(-c:v mpeg4 -g 12 -bf 1 -c:a aac -b:a 48k) ;;
        mjpeg_pcm) enc=(-c:v mjpeg -q:v 8 -c:a pcm_s16le) ;;
        pcm) enc=(-c:v libx264 -g 12 -c:a pcm_s16be) args="-pcm -verout" ;;
        dv_pcm)
            v="testsrc=size=720x480:rate=30000/1001" w="testsrc2=size=720x480:rate=30000/1001"
            enc=(-c:v dvvideo -pix_fmt yuv411p -c:a pcm_s16le)
            maxlen=300000 ;;
        crm|rsv|repi) ;;
        *) echo "unknown family $fam"; return 1 ;;
    esac
    case $fam in
        crm)
            ref=$(realpath build/fixtures/crm_border_ref.mov 2>/dev/null) || return 1
            head -c 60000 build/fixtures/crm_border_payload.crm >"$seeds/payload_head" || return 1
            args="-canoncrm" inputext=".crm" ;;
        rsv)
            camera_seed rsv_ref_h264 build/scratch/rsv_h264_klv/clip.RSV rsv_head || return 1
            head -c 60000 build/scratch/rsv_h264_rtmd/clip.bin >"$seeds/rtmd_head" 2>/dev/null
            args="-sonyrsv" inputext=".RSV" ;;
        repi)
            camera_seed rsv_ref_hevc build/scratch/repi_whole/clip.bin repi_head || return 1
            args="-canonrepi" ;;
        *)
            ref=$dir/ref.$ext
            record "$ref" "$v" 440 1 "${enc[@]}" || return 1
            record "$dir/recording.$ext" "$w" 660 1 "${enc[@]}" || return 1
            cut_index "$dir/recording.$ext" "$seeds/no_index" || return 1
            local n
            n=$(stat -c %s "$seeds/no_index")
            head -c $((n / 2)) "$seeds/no_index" >"$seeds/half"
            [ "$n" -gt "$maxlen" ] && head -c "$maxlen" "$seeds/no_index" >"$seeds/no_index_head" && rm "$seeds/no_index"
            # The index in front and then cut: the run also reads the input's own tables.
            record "$dir/faststart.$ext" "$w" 660 1 "${enc[@]}" -movflags +faststart || return 1
            head -c "$maxlen" "$dir/faststart.$ext" >"$seeds/index_first_head"
            ;;
    esac
    hostile_seeds "$seeds"
    args="$args $extra"
}

if [ "${#families[@]}" -gt 0 ] && printf '%s\n' "${families[@]}" | grep -qE '^(rsv|repi)$' &&
    [ ! -f build/scratch/repi_whole/clip.bin -o ! -f build/scratch/rsv_h264_klv/clip.RSV ] && [ -x build/tests/test_camera ]; then
    build/tests/test_camera --gtest_filter='RepiRepair.RecoversSamplesAndTrimsSurplusAudio:Layouts/RsvRepair.*' >/dev/null 2>&1
fi

summary=()
for fam in "${families[@]}"; do
    if ! prepare "$fam"; then
        summary+=("$(printf '%-11s could not be prepared (media or fixtures missing)' "$fam")")
        continue
    fi
    dir=$work/$fam
    if [ "$prepare_only" = 1 ]; then
        echo "FRAMEND_FUZZ_REF=$ref FRAMEND_FUZZ_ARGS='$args' FRAMEND_FUZZ_INPUT_EXT=$inputext $fuzzer" \
            "-max_len=$maxlen $dir/corpus $dir/seeds   # $(ls "$dir/seeds" | tr '\n' ' ')"
        continue
    fi
    start=$(date +%s)
    FRAMEND_FUZZ_REF=$ref FRAMEND_FUZZ_ARGS=$args FRAMEND_FUZZ_INPUT_EXT=$inputext \
        "$fuzzer" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2560 -max_len="$maxlen" \
        -print_final_stats=1 -artifact_prefix="$dir/" "$dir/corpus" "$dir/seeds" >"$dir/fuzz.log" 2>&1
    rc=$?
    elapsed=$(($(date +%s) - start))
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$dir/fuzz.log" | grep -o '[0-9]*$' | tail -1)
    cov=$(grep -oE 'cov: [0-9]+' "$dir/fuzz.log" | tail -1)
    found=$(ls "$dir" | grep -cE '^(crash|timeout|leak|oom|slow-unit)-')
    verdict=clean
    [ "$rc" -ne 0 ] && verdict="FAILED (exit $rc, see $dir/fuzz.log)"
    summary+=("$(printf '%-11s %5ss %9s runs %5s/s  %-10s artifacts %s  %s' "$fam" "$elapsed" "${runs:-?}" \
        "$(( ${runs:-0} / (elapsed > 0 ? elapsed : 1) ))" "${cov:-}" "$found" "$verdict")")
    echo "${summary[-1]}"
done
[ "$prepare_only" = 1 ] && exit 0
echo
echo "family       time       executions  rate  coverage    findings"
printf '%s\n' "${summary[@]}"
