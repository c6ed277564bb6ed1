#!/usr/bin/env python3
"""MPEG-2 and MPEG-4 Visual repairs over a seeded matrix of ffmpeg recordings.

Each case is drawn from a seed.  MPEG-2 (mpeg2video in .mov, the XDCAM/HDV
fourcc ffmpeg's muxer picks for the size and rate): 1920x1080, 1440x1080 or
1280x720 (or a small size with --small), 4:2:0 or 4:2:2, long GOP with 0-2
B-frames, open or closed GOP, progressive or interlaced, 16- or 24-bit PCM
(big or little endian).  MPEG-4 Visual (mpeg4, tag mp4v, in .mp4) with 0-2
B-frames and AAC or MP3.  ffmpeg's default interleave or camera-like chunks.
The reference has the same settings but other content (--refcontent: a slow
zoom by default, or black, static bars, fast motion) and length.

Damage, judging and verdicts are those of h264_matrix.py (nomoov: cut
before the moov; trunc60: cut at 60% of the payload; recall by ffmpeg packet
checksums, >= 99% video, >= 97% audio).

--noref repairs the MPEG-2 cases without a reference, the recording
described on the command line instead (-vf, -fps, -fw, -fh, -af, -ar, -ac,
-ab); the MPEG-4 Visual cases are skipped.

  bench/mpeg_matrix.py --framend build/framend --seed 7 --cases 12 --work /tmp/mpeg_matrix
"""
import argparse
import os
import random
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import h264_matrix as hm  # noqa: E402

MPEG2_SIZES = [(1920, 1080), (1440, 1080), (1280, 720)]
SMALL_SIZES = [(352, 288), (720, 576), (640, 480)]


def random_case(rng, small):
    codec = rng.choice(["mpeg2", "mpeg2", "mpeg4"])
    cfg = {"codec": codec, "bf": rng.choice([0, 2, 2]), "cgop": rng.choice([0, 1]),
           "chunk": rng.choice([0, 0, rng.randint(100, 1000) * 1000]),
           "dur": rng.choice([1, 2, 3]), "refdur": rng.choice([1, 2, 3]), "interlaced": 0}
    if codec == "mpeg2":
        w, h = rng.choice(SMALL_SIZES if small else MPEG2_SIZES)
        cfg.update(w=w, h=h, ext="mov", fps=rng.choice(["25", "30000/1001", "50", "60000/1001", "24000/1001"]),
                   gop=rng.choice([12, 15]), pix_fmt=rng.choice(["yuv420p", "yuv420p", "yuv422p"]),
                   kbps=rng.choice([4000, 8000]), interlaced=int(rng.random() < 0.4),
                   audio=dict(codec=rng.choice(["pcm_s16be", "pcm_s16be", "pcm_s24be", "pcm_s16le"]),
                              rate=48000, channels=rng.choice([2, 2, 4])))
        if h == 1080 and cfg["fps"] in ("25", "30000/1001") and rng.random() < 0.7:
            cfg["interlaced"] = 1  # 1080i, as XDCAM HD and HDV cameras record it
    else:
        w, h = rng.choice([(640, 360), (320, 240), (720, 480)])
        a = rng.choice(["aac", "aac", "mp3"])
        cfg.update(w=w, h=h, ext="mp4", fps=rng.choice(["25", "30", "30000/1001"]), gop=rng.choice([12, 30, 250]),
                   pix_fmt="yuv420p", kbps=rng.choice([800, 2000]),
                   audio=dict(codec=a, rate=rng.choice([44100, 48000]), channels=rng.choice([1, 2]),
                              kbps=rng.choice([64, 128, 192])))
    if cfg["bf"] == 0:
        cfg["cgop"] = 1
    return cfg


def describe(cfg):
    a = cfg["audio"]
    v = (f"{cfg['codec']} {cfg['w']}x{cfg['h']}@{cfg['fps']} {cfg['pix_fmt']} bf{cfg['bf']} "
         f"{'closed' if cfg['cgop'] else 'open'}-g{cfg['gop']}{' il' if cfg['interlaced'] else ''} {cfg['kbps']}k")
    au = f"{a['codec']} {a['rate']} {a['channels']}ch" + (f" {a['kbps']}kb/s" if "kbps" in a else "")
    il = f"chunks {cfg['chunk'] / 1e6:g}s" if cfg["chunk"] else "default interleave"
    return f"{v} | {au} | {cfg['ext']} {il} | {cfg['dur']}s, ref {cfg['refdur']}s"


def audio_source(sound, rate, layout, dur):
    if sound == "noise":
        return f"anoisesrc=d={dur}:r={rate}:a=0.2:seed=7,aformat=channel_layouts={layout}"
    return f"sine=f={sound}:r={rate}:d={dur},aformat=channel_layouts={layout}"


def make_movie(cfg, path, vkind, sound, dur):
    a = cfg["audio"]
    layout = {1: "mono", 2: "stereo", 4: "quad"}[a["channels"]]
    cmd = ["ffmpeg", "-nostdin", "-y", "-v", "error", "-f", "lavfi",
           "-i", hm.video_source(vkind, cfg["w"], cfg["h"], cfg["fps"], dur),
           "-f", "lavfi", "-i", audio_source(sound, a["rate"], layout, dur),
           "-map", "0:v", "-map", "1:a", "-pix_fmt", cfg["pix_fmt"], "-b:v", f"{cfg['kbps']}k",
           "-bf", str(cfg["bf"]), "-g", str(cfg["gop"])]
    if cfg["cgop"]:
        cmd += ["-sc_threshold", "1000000000"]  # ffmpeg refuses scene cuts in closed GOPs
    flags = ("+cgop" if cfg["cgop"] else "") + ("+ilme+ildct" if cfg["interlaced"] else "")
    if flags:
        cmd += ["-flags", flags]
    if cfg["interlaced"]:
        # Field order on the frames too: ffmpeg's muxer picks the XDCAM HD
        # and HDV fourccs (xdv3, xdvc, xd5c, ...) only for interlaced frames.
        cmd += ["-top", "1", "-vf", "setfield=tff"]
    if cfg["codec"] == "mpeg2":
        cmd += ["-c:v", "mpeg2video", "-maxrate", f"{cfg['kbps']}k", "-bufsize", f"{cfg['kbps'] // 2}k"]
    else:
        cmd += ["-c:v", "mpeg4", "-tag:v", "mp4v"]
    cmd += ["-c:a", {"aac": "aac", "mp3": "libmp3lame"}.get(a["codec"], a["codec"])]
    if "kbps" in a:
        cmd += ["-b:a", f"{a['kbps']}k"]
    if cfg["chunk"]:
        cmd += ["-chunk_duration", str(cfg["chunk"])]
    cmd += ["-t", str(dur), path]
    rc, _, err = hm.run(cmd)
    if rc != 0:
        raise RuntimeError(f"ffmpeg failed for {path}: {err.strip()[:300]}")


def fourcc(path):
    rc, out, _ = hm.run(["ffprobe", "-v", "error", "-select_streams", "v", "-show_entries",
                         "stream=codec_tag_string", "-of", "csv=p=0", path])
    return out.strip() if rc == 0 else "?"


# What -af and -ab say of ffmpeg's PCM encoders in .mov.
PCM_FOURCC = {"pcm_s16le": ("sowt", 16), "pcm_s16be": ("twos", 16), "pcm_s24be": ("in24", 24)}


def command_line(cfg):
    """The options that describe an MPEG-2 recording without a reference."""
    if cfg["codec"] != "mpeg2":
        return None
    num, _, den = cfg["fps"].partition("/")
    fps = float(num) / float(den or 1)
    a = cfg["audio"]
    fourcc, bits = PCM_FOURCC[a["codec"]]
    return ["-vf", "MPG2", "-fps", f"{fps:.3f}", "-fw", str(cfg["w"]), "-fh", str(cfg["h"]),
            "-af", fourcc, "-ar", str(a["rate"]), "-ac", str(a["channels"]), "-ab", str(bits)]


def repair_case(args, i, cfg, rows, notes):
    opts = command_line(cfg) if args.noref else []
    if opts is None:
        print(f"{i:4d} skipped: no command-line description without a reference", flush=True)
        return
    ext = cfg["ext"]
    orig = os.path.join(args.work, f"c{i:02d}.orig.{ext}")
    ref = os.path.join(args.work, f"c{i:02d}.ref.{ext}")
    try:
        make_movie(cfg, orig, "testsrc2", 440, cfg["dur"])
        if not args.noref:
            make_movie(cfg, ref, args.refcontent, "noise", cfg["refdur"])
    except RuntimeError as e:
        notes.append(f"case {i}: generation failed: {e}")
        print(f"{i:4d} generation failed: {e}", flush=True)
        return
    print(f"     fourcc {fourcc(orig)}", flush=True)
    opk = hm.streams(orig)
    remux = hm.remux_seconds(orig, args.work)
    derr_orig = hm.decode_errors(orig)
    for variant in ("nomoov", "trunc60"):
        dmg = os.path.join(args.work, f"c{i:02d}.{variant}.{ext}")
        out = os.path.join(args.work, f"c{i:02d}.{variant}.out.{ext}")
        cut = hm.damage(orig, dmg, variant)
        rc, dt, tail = hm.repair_or_describe(args.framend, dmg, None if args.noref else ref, out, opts)
        judged = hm.judge(opk, cut, out)
        derr = hm.decode_errors(out) if os.path.exists(out) else 0
        if rc != 0:
            notes.append(f"case {i} {variant}: exit {rc} {tail}")
        row = hm.Row(i, variant, rc, dt, dt / remux if remux > 0 else 0.0, judged, derr, derr_orig)
        rows.append(row)
        print(f"{i:4d} {variant:7} {hm.verdict(row):8} {str(rc):>4} {dt:5.2f} {row.ratio:5.1f}x  "
              + "  ".join(f"{hm.fmt(j):28}" for j in judged) + f" decerr {derr}/{derr_orig}", flush=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--small", action="store_true", help="MPEG-2 at small sizes (faster)")
    args = hm.frame_matrix_args(ap, 12, "/tmp/mpeg_matrix", "mandelbrot")
    rng = random.Random(args.seed)
    print(f"# seed {args.seed}, {args.cases} cases, reference {'none' if args.noref else args.refcontent}, framend {args.framend} sha256 {hm.binary_digest(args.framend)}")
    rows, notes = [], []
    for i in range(args.cases):
        cfg = random_case(rng, args.small)
        print(f"c{i:02d}: {describe(cfg)}", flush=True)
        repair_case(args, i, cfg, rows, notes)
    hm.summary(rows, notes)
    if args.judges:
        import judges
        judges.judge_dir(args.work)


if __name__ == "__main__":
    main()
