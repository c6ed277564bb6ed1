#!/usr/bin/env python3
"""H.264 repairs over a seeded matrix of ffmpeg recordings, judged from outside.

Each case is an ffmpeg recording drawn from a seed: H.264 baseline / main /
high / high10 / high422, CAVLC or CABAC, 0-3 B-frames, open or closed GOP of
1-250 frames, 1-4 slices, progressive or interlaced, constant or variable
frame rate (a jittering clock, or four pictures of every ten dropped where
sound in enough chunks can time them, with a reference that drops them too
or one at the steady rate, or every other one dropped from half way), or a
reference whose first frame is
held 2 s; no audio, or one
or two tracks of AAC (8-96 kHz, mono / stereo / 5.1, 32-320 kb/s, a tone,
noise or digital silence), MP3 or 16/24-bit PCM
(little and big endian), or MP3 beside AAC; .mp4 or .mov; ffmpeg's default interleave or
camera-like chunks of 0.1-2 s; optionally a timed metadata track.  ffmpeg
5.1 muxes no free-form data stream into mp4/mov (a gpmd-tagged data stream is
refused: "incompatible with output codec id 0"), so the metadata tracks are
the two it writes: a timecode track (-timecode: one 4-byte tmcd sample at the
start of the payload) and a timed text track (mov_text from captions every
0.4 s: small tx3g chunks between the video and audio ones).  The reference
has the same settings but other content and length.

The original is damaged two ways (nomoov: cut before its moov; trunc60: cut at
60% of the mdat payload), repaired with framend, and judged per stream with
ffmpeg packet checksums (each original audio track is matched with the
repaired track holding most of its packets):
  recall    surviving packets back bit-exact: >= 99% video, >= 97% each audio track
  duration  each repaired track lasts what its recovered packets last in the
            original, within 1% (or one typical packet, for short clips);
            pictures with dropped neighbours, which only the sound between
            chunks can time, within 5%
  drift     no recovered picture starts more than 1 s off its moment in the
            original (relative to the others: a constant shift is no drift)
  apart     no sound track holds a packet that only another original track
            holds (a few frames per gap dealt to the wrong track can pass
            recall and duration)
  decerr    ffmpeg reports no more decoder errors than on the original
  speed     the repair takes at most 3 times an ffmpeg stream-copy remux of the
            intact original, measured in the same run

  bench/h264_matrix.py --framend build/framend --seed 4242 --cases 12 --work /tmp/matrix
  bench/h264_matrix.py --framend build/framend --quick --work /tmp/matrix_quick
  bench/h264_matrix.py --framend build/framend --refcontent --work /tmp/matrix_ref
  bench/h264_matrix.py --framend build/framend --codec hevc --seed 7 --cases 12 --work /tmp/matrix_hevc
  bench/h264_matrix.py --framend build/framend --nal-length 2 --seed 7 --work /tmp/matrix_nal2

--codec hevc draws libx265 recordings instead (and records --refcontent's
settings with it) (ultrafast, up to 480x352):
hvc1 or hev1, main / main10 / main422-8 / main422-10, 0-4 B-frames with or
without a B-pyramid, open or closed GOP, 1-4 slices, the same sound and
interleave choices.

--nal-length 2 rewrites each recording and its reference as the phones that
store H.264 units behind 2-byte lengths do (bench/nal_lengths.py); cases with
a unit of 64 KiB or more are skipped.

--refcontent repairs fixed recordings with references of black, static,
slowly and fast moving content, 2 s to 60 s long, and compares each with the
reference of matching content.  Generated media stays in --work.
"""
import argparse
import bisect
import collections
import fractions
import hashlib
import json
import os
import random
import struct
import subprocess
import sys
import time
import zlib

import nal_lengths

TIMEOUT = 300
MIN_VIDEO, MIN_AUDIO, MAX_DURATION_ERROR, MAX_TIME_RATIO = 99.0, 97.0, 0.01, 3.0
# Sound cut at chunk edges times pictures of a varying rate to a few percent
# over a clip of a few seconds.
MAX_PACED_DURATION_ERROR = 0.05
# A picture may stray this far from its moment in the original: a stretch
# of a few seconds timed by its sound where the rate changes.
MAX_DRIFT = 1.0


def run(cmd, timeout=TIMEOUT):
    try:
        p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           stdin=subprocess.DEVNULL, timeout=timeout)
        return p.returncode, p.stdout.decode(errors="replace"), p.stderr.decode(errors="replace")
    except subprocess.TimeoutExpired:
        return "TIMEOUT", "", ""


# ---------------------------------------------------------------- generation

def video_source(kind, w, h, fps, dur):
    s = f"s={w}x{h}:r={fps}:d={dur}"
    if kind == "testsrc2":
        return f"testsrc2={s}"
    if kind == "mandelbrot":  # slow zoom
        return f"mandelbrot=s={w}x{h}:r={fps}:maxiter=64,trim=duration={dur}"
    if kind == "black":  # lens cap on
        return f"color=c=black:{s}"
    if kind == "static":
        return f"smptebars={s}"
    if kind == "fast":
        return f"life=s={w}x{h}:r={fps}:mold=10:ratio=0.5:seed=7:death_color=#C83232:life_color=#00ff00,trim=duration={dur}"
    raise ValueError(kind)


LAYOUT = {1: "mono", 2: "stereo", 6: "5.1"}


def audio_source(track, content, dur, seed):
    layout, rate = LAYOUT[track["channels"]], track["rate"]
    if content == "silent":
        return f"anullsrc=r={rate}:cl={layout}"
    if content == "hiss":  # a quiet room
        return f"anoisesrc=d={dur}:r={rate}:a=0.003:seed={seed},aformat=channel_layouts={layout}"
    if content == "noise":
        return f"anoisesrc=d={dur}:r={rate}:a=0.2:seed={seed},aformat=channel_layouts={layout}"
    return f"sine=f={content}:r={rate}:d={dur},aformat=channel_layouts={layout}"


def audio_encoder(track, i):
    enc = [f"-c:a:{i}", {"aac": "aac", "mp3": "libmp3lame"}.get(track["codec"], track["codec"])]
    if track["codec"] in ("aac", "mp3"):
        enc += [f"-b:a:{i}", f"{track['kbps']}k"]
    return enc


def other_content(content):
    """The reference's sound: same settings, other content."""
    return "noise" if content != "noise" else 880


def write_subtitles(path, dur, words):
    with open(path, "w") as f:
        t, n = 0.0, 1
        while t < dur:
            a, b = t, min(dur, t + 0.3)
            f.write(f"{n}\n{srt_time(a)} --> {srt_time(b)}\n{words} {n}\n\n")
            t, n = t + 0.4, n + 1


def srt_time(t):
    ms = int(round(t * 1000))
    return f"{ms // 3600000:02d}:{ms // 60000 % 60:02d}:{ms // 1000 % 60:02d},{ms % 1000:03d}"


def vfr_filter(cfg, reference):
    if cfg["vfr"] == "jitter":  # every frame a little early or late
        return f"settb=1/1000,setpts='(N+0.4*sin(N))/{cfg['fps']}/TB'"
    if cfg["vfr"] == "drop" or (cfg["vfr"] == "dark" and not reference):  # four pictures of every ten left out
        return "select='lt(mod(n,10),6)'"
    if cfg["vfr"] == "dusk" and not reference:  # every other picture left out in the second half
        return f"select='lt(t,{cfg['dur'] / 2})+not(mod(n,2))'"
    if cfg["vfr"] == "hold" and reference:
        # The reference's first frame held for two seconds (a phone that
        # starts slowly).  Only the reference: without its index nothing
        # tells how long a damaged recording's frames were held.
        return "setpts='if(eq(N,0),0,PTS+2/TB)'"
    return ""


def make_movie(cfg, path, vkind, contents, dur, reference=False):
    """contents: one audio content (tone frequency, 'noise', 'silent') per audio track."""
    cmd = ["ffmpeg", "-nostdin", "-y", "-v", "error",
           "-f", "lavfi", "-i", video_source(vkind, cfg["w"], cfg["h"], cfg["fps"], dur)]
    maps = ["-map", "0:v"]
    for i, (track, content) in enumerate(zip(cfg["audio"], contents)):
        # Fixed noise seeds: a case repairs the same bytes on every run.
        cmd += ["-f", "lavfi", "-i", audio_source(track, content, dur, zlib.crc32(os.path.basename(path).encode()) + i)]
        maps += ["-map", f"{i + 1}:a"]
    if cfg["meta"] == "text":
        srt = path + ".srt"
        write_subtitles(srt, dur, "caption" if vkind == "testsrc2" else "reference")
        cmd += ["-i", srt]
        maps += ["-map", f"{len(cfg['audio']) + 1}:s"]
    cmd += maps
    params = [f"cabac={cfg['cabac']}", f"slices={cfg['slices']}", f"open_gop={cfg['open_gop']}"]
    if cfg["interlaced"]:
        params.append("interlaced=1")
        cmd += ["-flags", "+ildct+ilme"]
    if cfg.get("vcodec") == "hevc":
        x265 = [f"bframes={cfg['bf']}", f"b-pyramid={cfg['bpyramid']}", f"open-gop={cfg['open_gop']}",
                f"keyint={cfg['gop']}", f"slices={cfg['slices']}", "log-level=error"]
        cmd += ["-c:v", "libx265", "-preset", "ultrafast", "-pix_fmt", cfg["pix_fmt"], "-tag:v", cfg["tag"],
                "-x265-params", ":".join(x265)]
    else:
        cmd += ["-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", cfg["pix_fmt"],
                "-profile:v", cfg["profile"], "-bf", str(cfg["bf"]), "-g", str(cfg["gop"]),
                "-x264-params", ":".join(params)]
    vf = vfr_filter(cfg, reference)
    if vf:
        cmd += ["-vf", vf, "-fps_mode", "vfr"]
        if cfg["vfr"] == "jitter":
            cmd += ["-enc_time_base", "1:1000"]
    for i, track in enumerate(cfg["audio"]):
        cmd += audio_encoder(track, i)
    if cfg["meta"] == "text":
        cmd += ["-c:s", "mov_text"]
    elif cfg["meta"] == "tmcd":
        cmd += ["-timecode", "01:00:00:00"]
    if cfg["chunk"]:
        cmd += ["-chunk_duration", str(cfg["chunk"])]
    cmd += ["-t", str(dur), path]
    rc, _, err = run(cmd)
    if rc != 0:
        raise RuntimeError(f"ffmpeg failed for {path}: {err.strip()[:300]}")


AAC_RATES = [8000, 11025, 16000, 22050, 32000, 44100, 48000, 88200, 96000]
MP3_RATES = [22050, 24000, 32000, 44100, 48000]
PCM_RATES = [8000, 16000, 32000, 44100, 48000, 96000]
PCM_CODECS = ["pcm_s16le", "pcm_s16be", "pcm_s24le", "pcm_s24be"]


def random_track(rng, codec):
    t = {"codec": codec, "content": rng.choice([330, 440, 550, "noise", "silent"])}
    if codec == "aac":
        t.update(rate=rng.choice(AAC_RATES), channels=rng.choice([1, 2, 6]),
                 kbps=rng.choice([32, 48, 64, 96, 128, 192, 256, 320]))
    elif codec == "mp3":
        t.update(rate=rng.choice(MP3_RATES), channels=rng.choice([1, 2]),
                 kbps=rng.choice([32, 64, 96, 128, 192, 320]))
        if t["rate"] < 32000:
            t["kbps"] = min(t["kbps"], 160)  # MPEG-2 layer III stops there
    else:
        t.update(rate=rng.choice(PCM_RATES), channels=rng.choice([1, 2]), kbps=0)
    return t


def finish(cfg):
    """Settings x264 or the container would refuse or silently change."""
    if cfg["profile"] == "baseline":
        cfg["cabac"], cfg["bf"], cfg["interlaced"] = 0, 0, 0
    cfg["pix_fmt"] = {"high10": "yuv420p10le", "high422": "yuv422p"}.get(cfg["profile"], "yuv420p")
    if cfg["bf"] == 0 or cfg["gop"] == 1:
        cfg["open_gop"] = 0
    if any(t["codec"].startswith("pcm") for t in cfg["audio"]):
        cfg["ext"] = "mov"  # ffmpeg's mp4 muxer takes no PCM
    if cfg["interlaced"]:
        cfg["h"] -= cfg["h"] % 32
    if cfg["vfr"] == "hold":
        cfg["refdur"] = max(cfg["refdur"], 4)  # frames after the held one
    return cfg


def random_case(rng):
    codec = rng.choice(["aac", "aac", "aac", "mp3", "pcm", "none"])
    if codec == "pcm":
        codec = rng.choice(PCM_CODECS)
    audio = []
    if codec != "none":
        audio.append(random_track(rng, codec))
        if rng.random() < 0.25:
            second = random_track(rng, codec)
            second["content"] = rng.choice([660, "noise"])
            # A third of them of the other compressed codec (MP3 beside AAC),
            # drawn apart so that a seed's other settings stay what they were.
            side = random.Random(repr(sorted(audio[0].items())) + repr(sorted(second.items())))
            if codec in ("aac", "mp3") and side.random() < 1 / 3:
                second = random_track(side, "mp3" if codec == "aac" else "aac")
                second["content"] = side.choice([660, "noise"])
            audio.append(second)
    gop_kind = rng.random()
    cfg = {
        "w": rng.randrange(176, 961, 16), "h": rng.randrange(144, 577, 16),
        "fps": rng.choice([24, 25, 30, 50, 60]),
        "profile": rng.choice(["baseline", "main", "high", "high", "high10", "high422"]),
        "cabac": rng.choice([0, 1]),
        "bf": rng.randint(0, 3),
        "open_gop": rng.choice([0, 1]),
        "gop": 1 if gop_kind < 0.1 else rng.randint(2, 30) if gop_kind < 0.5 else rng.randint(31, 250),
        "slices": rng.choice([1, 1, 2, 3, 4]),
        "interlaced": int(rng.random() < 0.2),
        "vfr": rng.choice(["", "", "", "jitter", "hold"]),
        "audio": audio,
        "meta": rng.choice(["", "", "tmcd", "text"]),
        "ext": rng.choice(["mp4", "mov"]),
        "chunk": rng.choice([0, rng.randint(100, 2000) * 1000]),
        "dur": rng.randint(4, 8),
        "refdur": rng.randint(2, 5),
    }
    # Half the variable rates drop pictures instead, where there is sound to
    # time them by in chunks enough (sixteen in the clip, so about ten when
    # cut), drawn apart so that the seed's other settings stay what they were.
    timed_by_sound = audio and (cfg["chunk"] == 0 or cfg["chunk"] * 16 <= cfg["dur"] * 1000000)
    # Half of those are recorded in the dark: the reference, made in
    # daylight, comes at the steady rate.
    side = random.Random(f"drop {cfg['w']} {cfg['h']} {cfg['fps']}")
    if cfg["vfr"] == "jitter" and timed_by_sound and side.random() < 0.5:
        cfg["vfr"] = "drop" if side.random() < 0.5 else "dark"
        # Half of those in the dark only get there half way through, in a
        # clip long enough for stretches of sound to time each half.
        if cfg["vfr"] == "dark" and side.random() < 0.5:
            cfg["vfr"] = "dusk"
            cfg["dur"] = max(cfg["dur"], 16)
    return finish(cfg)


HEVC_PIX_FMT = {"main": "yuv420p", "main10": "yuv420p10le", "main422-8": "yuv422p", "main422-10": "yuv422p10le"}


def hevc_case(rng, cfg):
    """The drawn case recorded with libx265 instead: its own profiles, B-pyramids and tags, smaller pictures."""
    cfg.update(vcodec="hevc", profile=rng.choice(list(HEVC_PIX_FMT)), tag=rng.choice(["hvc1", "hev1"]),
               bf=rng.randint(0, 4), bpyramid=rng.choice([0, 1]), open_gop=rng.choice([0, 1]),
               w=rng.randrange(176, 481, 16), h=rng.randrange(144, 353, 16), interlaced=0, cabac=1)
    cfg["pix_fmt"] = HEVC_PIX_FMT[cfg["profile"]]
    if cfg["bf"] == 0:
        cfg["bpyramid"] = 0
    if cfg["vfr"] == "hold":
        cfg["refdur"] = max(cfg["refdur"], 4)
    if any(t["codec"].startswith("pcm") for t in cfg["audio"]):
        cfg["ext"] = "mov"
    return cfg


def hevc_settings(cfg):
    """A fixed case recorded with libx265: main (main10 for high10), hvc1, a B-pyramid when there are B-frames."""
    cfg = dict(cfg, vcodec="hevc", tag="hvc1", bpyramid=int(cfg["bf"] > 1), interlaced=0,
               profile="main10" if cfg["profile"] == "high10" else "main")
    cfg["pix_fmt"] = HEVC_PIX_FMT[cfg["profile"]]
    return cfg


def fixed(**kw):
    cfg = dict(w=320, h=240, fps=25, profile="high", cabac=1, bf=2, open_gop=0, gop=50, slices=1,
               interlaced=0, vfr="", audio=[], meta="", ext="mp4", chunk=0, dur=4, refdur=3)
    cfg.update(kw)
    return finish(cfg)


def aac(rate=48000, channels=2, kbps=128, content=440):
    return dict(codec="aac", rate=rate, channels=channels, kbps=kbps, content=content)


# The quick slice spans the axes with few, short cases; the suite's
# recording matrix test repairs the same recordings.
QUICK = [
    fixed(profile="high10", interlaced=1, bf=3, open_gop=1, gop=120, audio=[aac(channels=1, kbps=64)]),
    fixed(profile="high422", slices=4, gop=1, audio=[aac(rate=96000, content="noise")], ext="mov", chunk=2000000),
    fixed(profile="baseline", audio=[aac(rate=44100, channels=1, kbps=32, content="noise")], chunk=1000000),
    fixed(profile="main", cabac=0, bf=1, audio=[dict(codec="pcm_s24be", rate=48000, channels=2, kbps=0, content=440)],
          ext="mov", chunk=500000),
    fixed(bf=3, gop=250, audio=[dict(codec="mp3", rate=44100, channels=2, kbps=128, content=440)], chunk=1000000),
    fixed(vfr="jitter", audio=[], meta="tmcd", ext="mov"),
    fixed(audio=[aac(content="silent"), aac(rate=44100, channels=1, kbps=64, content=660)], meta="text",
          chunk=100000),
]


def describe(cfg):
    if cfg.get("vcodec") == "hevc":
        v = f"{cfg['w']}x{cfg['h']}@{cfg['fps']} hevc {cfg['tag']} {cfg['profile']} bf{cfg['bf']}"
        v += " pyramid" if cfg["bpyramid"] else ""
    else:
        v = f"{cfg['w']}x{cfg['h']}@{cfg['fps']} {cfg['profile']} {'cabac' if cfg['cabac'] else 'cavlc'} bf{cfg['bf']}"
    v += f" {'open' if cfg['open_gop'] else 'closed'}-g{cfg['gop']} sl{cfg['slices']}"
    v += " il" if cfg["interlaced"] else ""
    v += {"jitter": " vfr", "drop": " drops-pictures", "dark": " drops-pictures-steady-ref",
          "dusk": " drops-half-way-steady-ref", "hold": " ref-holds-first-frame"}.get(cfg["vfr"], "")
    a = " + ".join(f"{t['codec']} {t['rate'] // 1000 if t['rate'] >= 1000 else t['rate']}k {t['channels']}ch"
                   + (f" {t['kbps']}kb/s" if t["kbps"] else "") + f" {t['content']}" for t in cfg["audio"]) or "no audio"
    il = f"chunks {cfg['chunk'] / 1e6:g}s" if cfg["chunk"] else "default interleave"
    meta = f" +{cfg['meta']}" if cfg["meta"] else ""
    return f"{v} | {a} | {cfg['ext']} {il}{meta} | {cfg['dur']}s, ref {cfg['refdur']}s"


# ------------------------------------------------------------------ damaging

def top_atoms(data):
    return [(kind.decode("latin-1"), pos, size, head)
            for pos, size, kind, head in nal_lengths.atoms(data, 0, len(data), whole=False)]


def damage(src, dst, variant):
    data = open(src, "rb").read()
    atoms = top_atoms(data)
    moov = [a for a in atoms if a[0] == "moov"]
    mdat = [a for a in atoms if a[0] == "mdat"]
    if not moov or not mdat:
        raise RuntimeError(f"{src}: no moov/mdat")
    if moov[0][1] < mdat[0][1]:
        raise RuntimeError(f"{src}: moov before mdat")
    if variant == "nomoov":
        cut = moov[0][1]
    else:
        payload = mdat[0][1] + mdat[0][3]
        cut = payload + int(0.6 * (mdat[0][2] - mdat[0][3]))
    open(dst, "wb").write(data[:cut])
    return cut


# ------------------------------------------------------------------- scoring

Stream = collections.namedtuple("Stream", "type codec tb packets")  # packets: (pos, size, md5, duration)


def streams(path):
    """Every stream of a file with its packets in demux order."""
    rc, out, _ = run(["ffprobe", "-v", "error", "-show_streams", "-show_packets", "-of", "json", path])
    info = json.loads(out) if rc == 0 and out else {}
    probe = collections.defaultdict(list)
    for p in info.get("packets", []):
        probe[p["stream_index"]].append((int(p.get("pos", -1)), int(p["size"]), number(p.get("dts")),
                                         number(p.get("duration"))))
    sums = framemd5(path)
    res = {}
    for s in info.get("streams", []):
        idx, kind = s["index"], s["codec_type"]
        if kind not in ("video", "audio"):
            continue
        plist, mlist = probe.get(idx, []), sums.get(idx, [])
        if len(plist) != len(mlist):
            print(f"warning: {path} stream {idx}: {len(plist)} probed, {len(mlist)} hashed", file=sys.stderr)
        res[idx] = Stream(kind, s.get("codec_name", "?"), fractions.Fraction(s.get("time_base", "1/1")),
                          [(p[0], p[1], m, d) for p, m, d in zip(plist, mlist, durations(plist))])
    return res


def number(v):
    return int(v) if v not in (None, "N/A") else None


def durations(plist):
    """What each packet lasts on its track's timeline: up to the next one's
    decode time (packet durations are missing for variable rates); the last
    lasts what the file says, or the typical step."""
    dts = [p[2] for p in plist]
    if not dts or any(d is None for d in dts):
        return [p[3] or 0 for p in plist]
    steps = [b - a for a, b in zip(dts, dts[1:])]
    last = plist[-1][3]
    if last is None:
        last = sorted(steps)[len(steps) // 2] if steps else 0
    return steps + [last]


def framemd5(path):
    """stream -> [md5] in demux order."""
    rc, out, _ = run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:v?", "-map", "0:a?",
                      "-c", "copy", "-copyinkf", "-f", "framemd5", "-"])
    sums = collections.defaultdict(list)
    if rc == "TIMEOUT":
        return sums
    # Only video and audio are mapped, so output indexes are renumbered;
    # translate them back through the input's own order.
    rc, out2, _ = run(["ffprobe", "-v", "error", "-show_entries", "stream=index,codec_type", "-of", "json", path])
    info = json.loads(out2).get("streams", []) if rc == 0 else []
    order = [s["index"] for s in info if s["codec_type"] == "video"]
    order += [s["index"] for s in info if s["codec_type"] == "audio"]
    for line in out.splitlines():
        if line.startswith("#") or not line.strip():
            continue
        f = [x.strip() for x in line.split(",")]
        if int(f[0]) < len(order):
            sums[order[int(f[0])]].append(f[5])
    return sums


def decode_errors(path):
    rc, _, err = run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:v?", "-map", "0:a?",
                      "-f", "null", "-"])
    if rc == "TIMEOUT":
        return 10 ** 6
    return len([line for line in err.splitlines() if line.strip()])


Judged = collections.namedtuple("Judged", "label recovered alive duration_error duration_ok foreign disorder drift",
                                defaults=(0, 0, 0.0))


def drift(orig, rep, md5s):
    """How far the recovered packets' moments (from the first packet of the
    track, in decode order) stray from the original's, largest ahead plus
    largest behind: pictures that keep their mean duration but run ahead
    of their sound in one half and behind it in the other drift."""
    def starts(packets, tb):
        out, at = {}, 0
        for (_, _, m, d) in packets:
            out.setdefault(m, at * tb)
            at += d
        return out
    before, after = starts(orig.packets, float(orig.tb)), starts(rep.packets, float(rep.tb))
    offsets = [after[m] - before[m] for m in md5s if m in after and m in before]
    return max(offsets) - min(offsets) if offsets else 0.0


def disorder(orig_md5s, rep_md5s):
    """Packets of a repaired track out of the original's order: each one is
    matched to the first original packet of its checksum behind the last one
    matched (digital silence repeats a checksum); those with none behind it
    count. Packets the original track does not hold are left to recall."""
    where = collections.defaultdict(list)
    for i, m in enumerate(orig_md5s):
        where[m].append(i)
    last, bad = -1, 0
    for m in rep_md5s:
        if m not in where:
            continue
        k = bisect.bisect_right(where[m], last)
        if k < len(where[m]):
            last = where[m][k]
        else:
            bad += 1
    return bad


def judge_stream(label, orig, rep, cut, tolerance=MAX_DURATION_ERROR):
    want = [(m, d) for (pos, size, m, d) in orig.packets if pos >= 0 and pos + size <= cut]
    have = collections.Counter(m for (_, _, m, _) in rep.packets) if rep else collections.Counter()
    hits = [(m, d) for (m, d) in want if have[m] > 0]
    if not rep or not hits:
        return Judged(label, 0, len(want), None if not want else 1.0, not want)
    lasts = float(sum(d for _, d in hits) * orig.tb)
    got = float(sum(d for (_, _, _, d) in rep.packets) * rep.tb)
    # A short clip cut mid-frame may keep the partial frame at the cut: one
    # typical packet is allowed where it is more than 1%.
    steps = sorted(d for (_, _, _, d) in orig.packets)
    one = float(steps[len(steps) // 2] * orig.tb)
    return Judged(label, len(hits), len(want), abs(got - lasts) / lasts if lasts > 0 else 0.0,
                  abs(got - lasts) <= max(tolerance * lasts, one) * (1 + 1e-6),
                  drift=drift(orig, rep, [m for m, _ in hits]) if label == "V" else 0.0)


def judge(orig, cut, out, paced=False):
    """One Judged per original video and audio stream; `paced`: the video's
    dropped pictures are timed by the sound."""
    rep = streams(out) if os.path.exists(out) else {}
    res = []
    for kind, label in (("video", "V"), ("audio", "A")):
        mine = [i for i, s in orig.items() if s.type == kind]
        theirs = [i for i, s in rep.items() if s.type == kind]
        # Each original track goes to the repaired track holding most of its
        # packets; two tracks never share one.
        pairs = []
        for a in mine:
            md5s = set(p[2] for p in orig[a].packets)
            for b in theirs:
                pairs.append((sum(1 for p in rep[b].packets if p[2] in md5s), a, b))
        pairs.sort(reverse=True)
        match, used = {}, set()
        for n, a, b in pairs:
            if n and a not in match and b not in used:
                match[a] = b
                used.add(b)
        for k, a in enumerate(mine):
            tolerance = MAX_PACED_DURATION_ERROR if paced and kind == "video" else MAX_DURATION_ERROR
            j = judge_stream(label + (str(k + 1) if kind == "audio" else ""), orig[a], rep.get(match.get(a)), cut,
                             tolerance)
            # Packets only another original track holds: frames dealt to the
            # wrong track, which recall and duration may not show.
            own = set(p[2] for p in orig[a].packets)
            others = set(p[2] for b in mine if b != a for p in orig[b].packets) - own
            got = rep.get(match.get(a))
            res.append(j._replace(foreign=sum(1 for p in got.packets if p[2] in others) if got else 0,
                                  disorder=disorder([p[2] for p in orig[a].packets], [p[2] for p in got.packets])
                                  if got else 0))
    return res


def passes_recall(j):
    return j.alive == 0 or 100.0 * j.recovered / j.alive >= (MIN_VIDEO if j.label == "V" else MIN_AUDIO)


def passes_duration(j):
    return j.alive == 0 or j.duration_ok


def fmt(j):
    if j.alive == 0:
        return f"{j.label} n/a"
    d = "  -  " if j.duration_error is None else f"{100 * j.duration_error:4.1f}%"
    return (f"{j.label} {100.0 * j.recovered / j.alive:6.2f}% {j.recovered}/{j.alive} d{d}"
            + (f" s{j.drift:.2f}" if j.drift > 0.05 else "")
            + (f" f{j.foreign}" if j.foreign else "") + (f" o{j.disorder}" if j.disorder else ""))


def timed(cmd):
    t0 = time.monotonic()
    rc, _, err = run(cmd)
    return rc, time.monotonic() - t0, err


def remux_seconds(orig, work):
    """Best of three stream-copy remuxes of the intact original."""
    dst = os.path.join(work, "remux" + os.path.splitext(orig)[1])
    best = None
    for _ in range(3):
        _, dt, _ = timed(["ffmpeg", "-nostdin", "-y", "-v", "error", "-i", orig, "-map", "0:v", "-map", "0:a?",
                          "-c", "copy", dst])
        best = dt if best is None else min(best, dt)
    return best


def repair(framend, damaged, ref, out, budget):
    """Exit code, seconds (the better of two tries when over budget), last error line."""
    best, rc, err = None, None, ""
    for _ in range(2):
        if os.path.exists(out):
            os.remove(out)
        rc, dt, err = timed([framend, "-i", damaged, "-ref", ref, "-o", out])
        best = dt if best is None else min(best, dt)
        if best <= budget:
            break
    return rc, best, err.strip().splitlines()[-1:] if err.strip() else []


# ---------------------------------------------------------------- the runs

Row = collections.namedtuple("Row", "case variant rc seconds ratio judged decerr decerr_orig")


def repair_case(args, i, cfg, vk, rk, rows, notes):
    ext = cfg["ext"]
    orig = os.path.join(args.work, f"c{i:02d}.orig.{ext}")
    ref = os.path.join(args.work, f"c{i:02d}.ref.{ext}")
    contents = [t["content"] for t in cfg["audio"]]
    try:
        make_movie(cfg, orig, vk, contents, cfg["dur"])
        make_movie(cfg, ref, rk, [other_content(c) for c in contents], cfg["refdur"], reference=True)
    except RuntimeError as e:
        notes.append(f"case {i}: generation failed: {e}")
        print(f"{i:4d} generation failed: {e}", flush=True)
        return
    if getattr(args, "nal_length", 4) == 2:
        # As a phone that writes 2-byte unit lengths would have stored both.
        try:
            for path in (orig, ref):
                nal_lengths.two_byte_lengths(path, path + ".two")
                os.replace(path + ".two", path)
        except ValueError as e:
            notes.append(f"case {i}: not rewritten with 2-byte lengths: {e}")
            print(f"{i:4d} skipped: {e}", flush=True)
            return
    opk = streams(orig)
    remux = remux_seconds(orig, args.work)
    derr_orig = decode_errors(orig)
    for variant in ("nomoov", "trunc60"):
        dmg = os.path.join(args.work, f"c{i:02d}.{variant}.{ext}")
        out = os.path.join(args.work, f"c{i:02d}.{variant}.out.{ext}")
        try:
            cut = damage(orig, dmg, variant)
        except RuntimeError as e:
            notes.append(f"case {i} {variant}: {e}")
            continue
        rc, dt, tail = repair(args.framend, dmg, ref, out, MAX_TIME_RATIO * remux)
        judged = judge(opk, cut, out, cfg["vfr"] in ("drop", "dark", "dusk"))
        derr = decode_errors(out) if os.path.exists(out) else 0
        if rc != 0:
            notes.append(f"case {i} {variant}: exit {rc} {tail}")
        row = Row(i, variant, rc, dt, dt / remux if remux > 0 else 0.0, judged, derr, derr_orig)
        rows.append(row)
        print(f"{i:4d} {variant:7} {verdict(row):8} {str(rc):>4} {dt:5.2f} {row.ratio:5.1f}x  "
              + "  ".join(f"{fmt(j):28}" for j in judged) + f" decerr {derr}/{derr_orig}", flush=True)


def verdict(row):
    """ok, or the letters of the failed checks: r recall, d duration, s drift, f another track's packets, o
    packets out of order, e decoder errors, x exit code, t time."""
    bad = "".join(c for c, failed in (("r", not all(passes_recall(j) for j in row.judged)),
                                      ("d", not all(passes_duration(j) for j in row.judged)),
                                      ("s", any(j.drift > MAX_DRIFT for j in row.judged)),
                                      ("f", any(j.foreign for j in row.judged)),
                                      ("o", any(j.disorder for j in row.judged)),
                                      ("e", row.decerr > row.decerr_orig), ("x", row.rc != 0),
                                      ("t", row.ratio > MAX_TIME_RATIO)) if failed)
    return "FAIL:" + bad if bad else "ok"


def summary(rows, notes):
    def failing(ok):
        return [r for r in rows if not ok(r)]

    checks = [
        ("1 recall (>= 99% video, >= 97% each audio track)", lambda r: all(passes_recall(j) for j in r.judged)),
        ("1 duration (each track within 1% or one packet)", lambda r: all(passes_duration(j) for j in r.judged)),
        (f"1 drift (no picture more than {MAX_DRIFT} s off its moment)", lambda r: not any(j.drift > MAX_DRIFT for j in r.judged)),
        ("1 tracks kept apart (no packet only another track holds)", lambda r: not any(j.foreign for j in r.judged)),
        ("1 packets in order (each track's in the original's order)", lambda r: not any(j.disorder for j in r.judged)),
        ("1 decoder errors (none beyond the original's)", lambda r: r.decerr <= r.decerr_orig),
        ("1 exit code 0", lambda r: r.rc == 0),
        ("5 speed (<= 3x an ffmpeg remux)", lambda r: r.ratio <= MAX_TIME_RATIO),
    ]
    print("# summary")
    print(f"runs {len(rows)}")
    for name, ok in checks:
        bad = failing(ok)
        where = " ".join(f"{r.case}/{r.variant}" for r in bad)
        print(f"criterion {name}: {'PASS' if not bad else 'FAIL'}, {len(rows) - len(bad)}/{len(rows)} runs pass"
              + (f"  failing: {where}" if bad else ""))
    for label in ("V", "A"):
        values = [100.0 * j.recovered / j.alive for r in rows for j in r.judged if j.label[0] == label and j.alive]
        if values:
            print(f"{'video' if label == 'V' else 'audio'} recall mean {sum(values) / len(values):.2f}% "
                  f"min {min(values):.2f}% over {len(values)} tracks")
    for n in notes:
        print("note:", n)


def matrix(args):
    os.makedirs(args.work, exist_ok=True)
    rng = random.Random(args.seed)
    cases = QUICK if args.quick else [random_case(rng) for _ in range(args.cases)]
    if args.codec == "hevc" and not args.quick:
        cases = [hevc_case(rng, c) for c in cases]
    print(f"# {'quick slice' if args.quick else f'seed {args.seed}'}, {len(cases)} cases, framend {args.framend}")
    print(f"{'case':>4} {'variant':7} {'verdict':8} {'rc':>4} {'sec':>5} {'remux':>6}  "
          "per stream: recall, duration error, drift past 0.05 s (verdict letters: r recall, d duration, "
          "s drift, f other tracks' packets, o order, e decoder errors, x exit code, t time)")
    rows, notes = [], []
    for i, cfg in enumerate(cases):
        vk = rng.choice(["testsrc2", "mandelbrot"])
        rk = "mandelbrot" if vk == "testsrc2" else "testsrc2"
        print(f"c{i:02d}: {describe(cfg)}", flush=True)
        repair_case(args, i, cfg, vk, rk, rows, notes)
    summary(rows, notes)


REF_SETTINGS = [
    fixed(w=640, h=360, fps=30, gop=60, audio=[aac()], dur=5),
    fixed(w=640, h=360, fps=30, gop=60, audio=[aac()], chunk=500000, dur=5),
    fixed(w=640, h=360, fps=30, profile="baseline", audio=[aac(channels=1, kbps=64)], chunk=1000000, dur=5),
    fixed(w=640, h=360, fps=25, gop=250, bf=3, audio=[dict(codec="pcm_s16le", rate=48000, channels=2, kbps=0,
                                                           content=440)], chunk=500000, dur=5),
    fixed(w=640, h=360, fps=25, profile="high10", slices=4, audio=[dict(codec="pcm_s24be", rate=48000, channels=2,
                                                                        kbps=0, content=440)], chunk=1000000, dur=5),
]
# label, picture, sound: a lens-capped camera in a quiet room; the same with
# digital silence, as a screen recorder writes it; colour bars and a tone.
REF_CONTENT = [("black", "black", "hiss"), ("silence", "black", "silent"), ("static", "static", 880),
               ("slow", "mandelbrot", "noise"), ("fast", "fast", "noise"), ("same", "testsrc2", 550)]


def refcontent(args):
    os.makedirs(args.work, exist_ok=True)
    settings = REF_SETTINGS[1:3] if args.quick else REF_SETTINGS
    if args.codec == "hevc":
        settings = [hevc_settings(c) for c in settings]
    lengths = (2,) if args.quick else (2, 10, 60)
    print(f"# reference content, framend {args.framend}; damaged = testsrc2 + sine 440")
    results = []
    for si, cfg in enumerate(settings):
        ext = cfg["ext"]
        print(f"s{si}: {describe(cfg).split(', ref')[0]}", flush=True)
        orig = os.path.join(args.work, f"s{si}.orig.{ext}")
        make_movie(cfg, orig, "testsrc2", [440] * len(cfg["audio"]), cfg["dur"])
        opk = streams(orig)
        damaged = {v: os.path.join(args.work, f"s{si}.{v}.{ext}") for v in ("nomoov", "trunc60")}
        cuts = {v: damage(orig, p, v) for v, p in damaged.items()}
        for label, kind, sound in REF_CONTENT:
            for dur in lengths:
                ref = os.path.join(args.work, f"s{si}.ref_{label}{dur}.{ext}")
                try:
                    make_movie(cfg, ref, kind, [sound] * len(cfg["audio"]), dur, reference=True)
                except RuntimeError as e:
                    print(f"  {label}{dur}s generation failed: {e}")
                    continue
                for variant, dmg in damaged.items():
                    out = os.path.join(args.work, f"s{si}.{variant}.out_{label}{dur}.{ext}")
                    rc, dt, _ = repair(args.framend, dmg, ref, out, float("inf"))
                    judged = judge(opk, cuts[variant], out)
                    results.append((si, variant, label, dur, judged))
                    print(f"  {variant:7} {label + str(dur) + 's':9} {str(rc):>4} {dt:5.2f}  "
                          + "  ".join(f"{fmt(j):28}" for j in judged), flush=True)
    # Criterion 2: each reference does as well as the one of matching content
    # (or meets the recall thresholds anyway).
    print("# summary")
    bad = []
    for si, variant, label, dur, judged in results:
        same = [j for (s, v, lab, d, j) in results if s == si and v == variant and lab == "same" and d == dur]
        if not same:
            continue
        worse = [j.label for j, k in zip(judged, same[0]) if j.recovered < k.recovered and not passes_recall(j)]
        if worse:
            bad.append(f"s{si}/{variant}/{label}{dur}s/{'+'.join(worse)}")
    print(f"criterion 2 reference content: {'PASS' if not bad else 'FAIL'}, "
          f"{len(results) - len(bad)}/{len(results)} repairs as good as with matching content"
          + (f"  failing: {' '.join(bad)}" if bad else ""))


def repair_or_describe(framend, dmg, ref, out, opts):
    """Repairs dmg against ref, or, with no reference (ref None), with the recording described by opts."""
    if ref is not None:
        return repair(framend, dmg, ref, out, float("inf"))
    if os.path.exists(out):
        os.remove(out)
    rc, dt, err = timed([framend, "-i", dmg, "-o", out] + opts)
    return rc, dt, err.strip().splitlines()[-1:] if err.strip() else []


def frame_matrix_args(ap, cases, work, refcontent):
    """The options mpeg_matrix.py and frame_codecs.py share; returns the parsed arguments."""
    ap.add_argument("--framend", default="build/framend")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--cases", type=int, default=cases)
    ap.add_argument("--work", default=work)
    ap.add_argument("--refcontent", default=refcontent, choices=["mandelbrot", "black", "static", "fast"],
                    help="picture of the reference recordings (same settings, other content)")
    ap.add_argument("--noref", action="store_true", help="no reference: the recording described on the command line")
    ap.add_argument("--judges", action="store_true",
                    help="afterwards, judge every repaired file with ffmpeg, mkvmerge and GStreamer (judges.py)")
    args = ap.parse_args()
    args.framend = os.path.abspath(args.framend)
    os.makedirs(args.work, exist_ok=True)
    return args


def binary_digest(path):
    return hashlib.sha256(open(path, "rb").read()).hexdigest()[:16]


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--framend", default="build/framend")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--cases", type=int, default=12)
    ap.add_argument("--work", default="/tmp/h264_matrix")
    ap.add_argument("--quick", action="store_true", help="a small fixed slice instead of the seeded cases")
    ap.add_argument("--codec", choices=["h264", "hevc"], default="h264", help="the video codec of the seeded cases")
    ap.add_argument("--nal-length", type=int, choices=[4, 2], default=4,
                    help="2: H.264 samples rewritten with 2-byte unit lengths, as some phones store them")
    ap.add_argument("--refcontent", action="store_true",
                    help="repair fixed recordings with references of other content and length")
    ap.add_argument("--judges", action="store_true",
                    help="afterwards, judge every repaired file with ffmpeg, mkvmerge and GStreamer (judges.py)")
    args = ap.parse_args()
    args.framend = os.path.abspath(args.framend)
    # The binary may be rebuilt under a running bench; the digest printed
    # before and after shows whether every row came from the same build.
    print(f"# framend sha256 {binary_digest(args.framend)}")
    (refcontent if args.refcontent else matrix)(args)
    print(f"# framend sha256 {binary_digest(args.framend)} (after)")
    if args.judges:
        import judges
        judges.judge_dir(args.work)


if __name__ == "__main__":
    main()
