#!/usr/bin/env python3
"""Repairs of self-delimiting frame codecs over a seeded set of ffmpeg recordings.

Each case is an ffmpeg .mov drawn from a seed: ProRes (prores_ks profiles 0-5:
apco, apcs, apcn, apch, ap4h, ap4x), DV (dvvideo 720x480 / 720x576, DV25 and
DVCPRO50) or Motion JPEG (tag jpeg or mjpa, and files without an ftyp atom, as
some still cameras write them), with no sound, with PCM (16- and 24-bit,
both byte orders, 8-bit for Motion JPEG; mono to 8 channels, or 2-4 mono
tracks as professional recorders write them) or with AAC or MP3, ffmpeg's own
interleave or -chunk_duration chunks.  The reference has the same settings
and other content and length.  Each recording is damaged as bench/h264_matrix.py
does it (nomoov, trunc60), repaired with framend and judged with ffmpeg packet
checksums (recall of surviving packets, duration, decoder errors).

The "rule" column estimates what one audio block per gap sized from the
reference's largest audio cycle would recover: the share of the original's
audio packets that lie in gaps such a block reproduces exactly (ProRes: a gap
of exactly the cycle; JPEG and AIC: a whole number of cycles; DV: any gap
over 5000 bytes).

--noref repairs without a reference, the recording described on the command
line instead (-vf, -fps, -fw, -fh, -af, -ar, -ac, -ab), for the DV and Motion
JPEG cases with no sound or one PCM track; the others are skipped.

  bench/frame_codecs.py --framend build/framend --seed 7 --cases 16 --work /tmp/frames
"""
import argparse
import os
import random
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import h264_matrix as hm  # noqa: E402

PRORES = ["apco", "apcs", "apcn", "apch", "ap4h", "ap4x"]
DV = {  # name: size, rate, pix_fmt (dvvideo picks DV25 or DVCPRO50 by it)
    "dv25-525": ("720x480", "30000/1001", "yuv411p"),
    "dv25-625": ("720x576", "25", "yuv420p"),
    "dv50-525": ("720x480", "30000/1001", "yuv422p"),
    "dv50-625": ("720x576", "25", "yuv422p"),
}
LAYOUTS = ["mono", "stereo", "2.1", "quad", "5.0", "5.1", "6.1", "7.1"]
PCM = ["pcm_s16le", "pcm_s16be", "pcm_s24le", "pcm_s24be"]


def random_case(rng):
    family = rng.choice(["prores", "prores", "dv", "mjpeg"])
    cfg = {"family": family, "noftyp": False, "tag": None, "chunk": rng.choice([0, 0, 200000, 500000]),
           "dur": rng.randint(2, 4), "refdur": rng.randint(1, 3)}
    if family == "prores":
        cfg["profile"] = rng.randrange(len(PRORES))
        cfg["size"], cfg["rate"] = "160x120", "25"
    elif family == "dv":
        cfg["dv"] = rng.choice(sorted(DV))
        cfg["size"], cfg["rate"], _ = DV[cfg["dv"]]
        cfg["dur"], cfg["refdur"] = min(cfg["dur"], 2), 1
    else:
        cfg["tag"] = rng.choice(["jpeg", "mjpa"])
        cfg["noftyp"] = rng.random() < 0.4
        cfg["size"], cfg["rate"] = "160x120", rng.choice(["15", "25", "30"])
    codecs = PCM + (["pcm_u8", "pcm_s8"] if family == "mjpeg" else [])
    cfg["audio"] = None if rng.random() < 0.1 else rng.choice(codecs + ["aac", "libmp3lame"])
    cfg["channels"] = rng.randint(1, 8)
    if cfg["audio"] == "libmp3lame":
        cfg["channels"] = min(cfg["channels"], 2)
    elif cfg["audio"] == "aac" and cfg["channels"] in (7, 8):
        cfg["channels"] = 6
    cfg["tracks"] = 1
    if cfg["audio"] and cfg["audio"].startswith("pcm") and rng.random() < 0.25:
        cfg["tracks"], cfg["channels"] = rng.randint(2, 4), 1
    cfg["ar"] = rng.choice([32000, 44100, 48000]) if family != "dv" else 48000
    return cfg


def describe(cfg):
    if cfg["family"] == "prores":
        v = f"prores {PRORES[cfg['profile']]}"
    elif cfg["family"] == "dv":
        v = cfg["dv"]
    else:
        v = f"mjpeg {cfg['tag']}" + (" no-ftyp" if cfg["noftyp"] else "")
    a = f"{cfg['audio']} {cfg['channels']}ch {cfg['ar']}" if cfg["audio"] else "no audio"
    if cfg["tracks"] > 1:
        a = f"{cfg['tracks']} x {a}"
    il = f"chunks {cfg['chunk'] / 1e6:g}s" if cfg["chunk"] else "default interleave"
    return f"{v} {cfg['size']}@{cfg['rate']} | {a} | {il} | {cfg['dur']}s, ref {cfg['refdur']}s"


def make_movie(cfg, path, picture, tone, dur):
    w, h = cfg["size"].split("x")
    cmd = ["ffmpeg", "-nostdin", "-y", "-v", "error",
           "-f", "lavfi", "-i", hm.video_source(picture, w, h, cfg["rate"], dur)]
    layout = LAYOUTS[cfg["channels"] - 1]
    tracks = cfg["tracks"] if cfg["audio"] else 0
    for t in range(tracks):
        cmd += ["-f", "lavfi", "-i", f"sine=f={tone + 110 * t}:r={cfg['ar']}:d={dur},aformat=channel_layouts={layout}"]
    cmd += ["-map", "0:v"] + [a for t in range(tracks) for a in ("-map", f"{t + 1}:a")]
    if cfg["family"] == "prores":
        pix = "yuv444p10le" if cfg["profile"] >= 4 else "yuv422p10le"
        cmd += ["-c:v", "prores_ks", "-profile:v", str(cfg["profile"]), "-pix_fmt", pix]
    elif cfg["family"] == "dv":
        cmd += ["-c:v", "dvvideo", "-pix_fmt", DV[cfg["dv"]][2]]
    else:
        cmd += ["-c:v", "mjpeg", "-q:v", "5", "-tag:v", cfg["tag"]]
    if cfg["audio"]:
        cmd += ["-c:a", cfg["audio"]]
    if cfg["chunk"]:
        cmd += ["-chunk_duration", str(cfg["chunk"])]
    cmd += ["-t", str(dur), path]
    rc, _, err = hm.run(cmd)
    if rc != 0:
        raise RuntimeError(f"ffmpeg failed for {path}: {err.strip()[:300]}")
    if cfg["noftyp"]:
        strip_ftyp(path)


# The boxes on the way from moov to the chunk offset tables.
CONTAINERS = {b"moov", b"trak", b"mdia", b"minf", b"stbl"}


def shift_chunk_offsets(data, start, end, delta):
    pos = start
    while pos + 8 <= end:
        size, kind = struct.unpack(">I4s", data[pos:pos + 8])
        if size < 8 or pos + size > end:
            return
        if kind in CONTAINERS:
            shift_chunk_offsets(data, pos + 8, pos + size, delta)
        elif kind in (b"stco", b"co64"):
            count = struct.unpack(">I", data[pos + 12:pos + 16])[0]
            wide = kind == b"co64"
            fmt, step = (">Q", 8) if wide else (">I", 4)
            for k in range(count):
                at = pos + 16 + k * step
                struct.pack_into(fmt, data, at, struct.unpack(fmt, data[at:at + step])[0] - delta)
        pos += size


def strip_ftyp(path):
    """Removes the leading ftyp atom (a camera that writes none) and moves
    the chunk offsets with the data."""
    data = bytearray(open(path, "rb").read())
    atoms = hm.top_atoms(bytes(data))
    if not atoms or atoms[0][0] != "ftyp":
        return
    n = atoms[0][2]
    del data[:n]
    for kind, pos, size, hdr in hm.top_atoms(bytes(data)):
        if kind == "moov":
            shift_chunk_offsets(data, pos, pos + size, n)
    open(path, "wb").write(bytes(data))


# What -af and -ab say of ffmpeg's PCM encoders in .mov.
PCM_FOURCC = {"pcm_s16le": ("sowt", 16), "pcm_s16be": ("twos", 16), "pcm_s24le": ("in24", 24),
              "pcm_s24be": ("in24", 24), "pcm_u8": ("raw ", 8), "pcm_s8": ("twos", 8)}


def command_line(cfg):
    """The options that describe the recording without a reference; None
    when the command line cannot (ProRes, compressed or several sound tracks)."""
    if cfg["family"] not in ("dv", "mjpeg") or (cfg["audio"] and (cfg["audio"] not in PCM_FOURCC or cfg["tracks"] > 1)):
        return None
    w, h = cfg["size"].split("x")
    num, _, den = cfg["rate"].partition("/")
    fps = float(num) / float(den or 1)
    opts = ["-vf", "dvc " if cfg["family"] == "dv" else cfg["tag"], "-fps", f"{fps:.3f}", "-fw", w, "-fh", h]
    if cfg["audio"]:
        fourcc, bits = PCM_FOURCC[cfg["audio"]]
        opts += ["-af", fourcc, "-ar", str(cfg["ar"]), "-ac", str(cfg["channels"]), "-ab", str(bits)]
    return opts


def rule_share(orig, ref):
    """Share of the original's audio packets a one-block-per-gap rule sized
    from the reference's largest audio cycle would reproduce."""
    def runs(path):
        probed = hm.streams(path)
        pkts = sorted((p[0], p[1], s.type) for s in probed.values() for p in s.packets if p[0] >= 0)
        out = []
        for pos, size, kind in pkts:
            if out and out[-1][2] == kind and out[-1][0] + out[-1][1] == pos:
                out[-1] = (out[-1][0], out[-1][1] + size, kind, out[-1][3] + 1)
            else:
                out.append((pos, size, kind, 1))
        return out
    ref_runs = runs(ref)
    cycle = max((r[1] for r in ref_runs if r[2] == "audio"), default=0)
    return cycle, runs(orig)


def rule_recall(family, cycle, orig_runs):
    total = sum(r[3] for r in orig_runs if r[2] == "audio")
    if total == 0 or cycle == 0:
        return None
    got = 0
    for i, (pos, size, kind, n) in enumerate(orig_runs):
        if kind != "audio" or i == 0 or i + 1 >= len(orig_runs):
            continue  # the rule takes only gaps between two frames
        if family == "prores":
            ok = size == cycle
        elif family == "dv":
            ok = size > 5000
        else:
            ok = size % cycle == 0
        got += n if ok else 0
    return 100.0 * got / total


def repair_case(args, i, cfg, rows):
    opts = command_line(cfg) if args.noref else []
    if opts is None:
        print(f"{i:4d} skipped: no command-line description without a reference", flush=True)
        return
    orig = os.path.join(args.work, f"f{i:02d}.orig.mov")
    ref = os.path.join(args.work, f"f{i:02d}.ref.mov")
    try:
        make_movie(cfg, orig, "testsrc2", 440, cfg["dur"])
        make_movie(cfg, ref, args.refcontent, 880, cfg["refdur"])
    except RuntimeError as e:
        print(f"{i:4d} generation failed: {e}", flush=True)
        return
    opk = hm.streams(orig)
    cycle, orig_runs = rule_share(orig, ref)
    rule = rule_recall(cfg["family"], cycle, orig_runs)
    derr_orig = hm.decode_errors(orig)
    for variant in ("nomoov", "trunc60"):
        dmg = os.path.join(args.work, f"f{i:02d}.{variant}.mov")
        out = os.path.join(args.work, f"f{i:02d}.{variant}.out.mov")
        cut = hm.damage(orig, dmg, variant)
        rc, dt, _ = hm.repair_or_describe(args.framend, dmg, None if args.noref else ref, out, opts)
        judged = hm.judge(opk, cut, out)
        derr = hm.decode_errors(out) if os.path.exists(out) else 0
        row = hm.Row(i, variant, rc, dt, 0.0, judged, derr, derr_orig)
        rows.append(row)
        verdict = hm.verdict(row)
        rule_txt = "   -  " if rule is None else f"{rule:5.1f}%"
        print(f"{i:4d} {variant:7} {verdict:8} {str(rc):>4} {dt:5.2f}  rule {rule_txt}  "
              + "  ".join(f"{hm.fmt(j):28}" for j in judged) + f" decerr {derr}/{derr_orig}", flush=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    args = hm.frame_matrix_args(ap, 16, "/tmp/frame_codecs", "static")
    rng = random.Random(args.seed)
    cases = [random_case(rng) for _ in range(args.cases)]
    print(f"# seed {args.seed}, {len(cases)} cases, reference {'none' if args.noref else args.refcontent}, framend {args.framend} sha256 {hm.binary_digest(args.framend)}")
    print(f"{'case':>4} {'variant':7} {'verdict':8} {'rc':>4} {'sec':>5}  rule    per stream: recall, duration error")
    rows = []
    for i, cfg in enumerate(cases):
        print(f"f{i:02d}: {describe(cfg)}", flush=True)
        repair_case(args, i, cfg, rows)
    print("# summary")
    for name, ok in (("recall (>= 99% video, >= 97% audio)", lambda r: all(hm.passes_recall(j) for j in r.judged)),
                     ("duration", lambda r: all(hm.passes_duration(j) for j in r.judged)),
                     ("decoder errors", lambda r: r.decerr <= r.decerr_orig), ("exit code 0", lambda r: r.rc == 0)):
        bad = [f"{r.case}/{r.variant}" for r in rows if not ok(r)]
        print(f"{name}: {len(rows) - len(bad)}/{len(rows)} runs pass" + (f"  failing: {' '.join(bad)}" if bad else ""))
    if args.judges:
        import judges
        judges.judge_dir(args.work)


if __name__ == "__main__":
    main()
