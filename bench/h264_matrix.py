#!/usr/bin/env python3
"""Recall of H.264 repairs over a random matrix of recording settings.

Each case is an ffmpeg recording (random size, rate, profile, B-frames, GOP,
slices, audio codec/layout, container, interleave) plus a reference made with
the same settings but other content and length.  The original is damaged two
ways (nomoov: cut before its moov; trunc60: cut at 60% of the mdat payload),
repaired with framend, and judged from outside with ffmpeg packet checksums:
per stream, recall = surviving original packets whose md5 appears in the
repaired file / surviving original packets.

  bench/h264_matrix.py --framend build/framend --seed 4242 --cases 12 --work /tmp/matrix
  bench/h264_matrix.py --framend build/framend --refcontent --work /tmp/matrix_ref

Generated media stays in --work; nothing goes into the repository.
"""
import argparse
import collections
import hashlib
import json
import os
import random
import struct
import subprocess
import sys
import time

TIMEOUT = 120


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
    if kind == "mandelbrot":
        return f"mandelbrot=s={w}x{h}:r={fps}:maxiter=200,trim=duration={dur}"
    if kind == "black":
        return f"color=c=black:{s}"
    if kind == "static":
        return f"smptebars={s}"
    if kind == "fast":
        return f"life=s={w}x{h}:r={fps}:mold=10:ratio=0.5:death_color=#C83232:life_color=#00ff00,trim=duration={dur}"
    if kind == "testsrc":
        return f"testsrc={s}"
    raise ValueError(kind)


def audio_args(cfg, tone, dur):
    a = cfg["audio"]
    if a == "none":
        return [], []
    layout = {1: "mono", 2: "stereo", 6: "5.1"}[cfg["channels"]]
    rate = cfg["rate"]
    if tone == "noise":
        src = f"anoisesrc=d={dur}:r={rate}:a=0.2,aformat=channel_layouts={layout}"
    else:
        src = f"sine=f={tone}:r={rate}:d={dur},aformat=channel_layouts={layout}"
    inp = ["-f", "lavfi", "-i", src]
    if a == "aac":
        enc = ["-c:a", "aac", "-b:a", "128k" if cfg["channels"] <= 2 else "256k"]
    elif a == "mp3":
        enc = ["-c:a", "libmp3lame", "-b:a", "128k"]
    else:
        enc = ["-c:a", "pcm_s16le"]
    return inp, enc


def make_movie(cfg, path, vkind, tone, dur):
    cmd = ["ffmpeg", "-nostdin", "-y", "-v", "error",
           "-f", "lavfi", "-i", video_source(vkind, cfg["w"], cfg["h"], cfg["fps"], dur)]
    ainp, aenc = audio_args(cfg, tone, dur)
    cmd += ainp
    cmd += ["-map", "0:v"] + (["-map", "1:a"] if ainp else [])
    cmd += ["-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p",
            "-profile:v", cfg["profile"], "-bf", str(cfg["bf"]), "-g", str(cfg["gop"]),
            "-x264-params", f"slices={cfg['slices']}"]
    cmd += aenc
    if cfg["chunk"]:
        cmd += ["-chunk_duration", str(cfg["chunk"])]
    cmd += ["-t", str(dur), path]
    rc, _, err = run(cmd)
    if rc != 0:
        raise RuntimeError(f"ffmpeg failed for {path}: {err.strip()[:300]}")


def random_case(rng):
    a = rng.choice(["aac", "aac", "mp3", "pcm", "none"])
    cfg = {
        "w": 0, "h": 0,
        "fps": rng.choice([24, 25, 30, 50]),
        "profile": rng.choice(["baseline", "main", "high"]),
        "bf": rng.randint(0, 3),
        "gop": rng.randint(12, 250),
        "slices": rng.randint(1, 4),
        "audio": a,
        "channels": rng.choice([1, 2, 6]) if a == "aac" else rng.choice([1, 2]),
        "rate": rng.choice([22050, 32000, 44100, 48000]),
        "ext": "mov" if a == "pcm" else rng.choice(["mp4", "mov"]),
        "chunk": rng.choice([0, rng.randint(200000, 1000000)]),
        "dur": rng.randint(3, 6),
        "refdur": rng.randint(2, 5),
    }
    w = rng.randrange(320, 1281, 16)
    h = rng.randrange(240, 721, 16)
    cfg["w"], cfg["h"] = w, h
    if cfg["profile"] == "baseline":
        cfg["bf"] = 0  # baseline has no B-frames; x264 would drop them anyway
    return cfg


def describe(cfg):
    a = cfg["audio"]
    if a != "none":
        a = f"{a}{cfg['channels']}ch{cfg['rate'] // 1000}k"
    il = f"c{cfg['chunk'] // 1000}ms" if cfg["chunk"] else "dflt"
    return (f"{cfg['w']}x{cfg['h']}@{cfg['fps']} {cfg['profile'][:4]} bf{cfg['bf']} g{cfg['gop']} "
            f"sl{cfg['slices']} {a} {cfg['ext']} {il} {cfg['dur']}s")


# ------------------------------------------------------------------ damaging

def top_atoms(data):
    atoms, pos = [], 0
    while pos + 8 <= len(data):
        size, kind = struct.unpack(">I4s", data[pos:pos + 8])
        hdr = 8
        if size == 1:
            size = struct.unpack(">Q", data[pos + 8:pos + 16])[0]
            hdr = 16
        elif size == 0:
            size = len(data) - pos
        if size < hdr:
            break
        atoms.append((kind.decode("latin-1"), pos, size, hdr))
        pos += size
    return atoms


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

def packets(path):
    """Per-stream ordered (pos, size, md5) lists plus codec_type per stream."""
    rc, out, _ = run(["ffprobe", "-v", "error", "-show_streams", "-show_packets",
                      "-of", "json", path])
    info = json.loads(out) if rc == 0 and out else {}
    types = {s["index"]: s["codec_type"] for s in info.get("streams", [])}
    probe = collections.defaultdict(list)
    for p in info.get("packets", []):
        probe[p["stream_index"]].append((int(p.get("pos", -1)), int(p["size"])))
    sums = framemd5(path)
    res = {}
    for idx, t in types.items():
        plist = probe.get(idx, [])
        mlist = sums.get(idx, [])
        if len(plist) != len(mlist):
            print(f"warning: {path} stream {idx}: {len(plist)} probed, {len(mlist)} hashed", file=sys.stderr)
        res[idx] = (t, [(p[0], p[1], m[1]) for p, m in zip(plist, mlist)])
    return res


def framemd5(path):
    rc, out, _ = run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:v?", "-map", "0:a?",
                      "-c", "copy", "-copyinkf", "-f", "framemd5", "-"])
    sums = collections.defaultdict(list)
    if rc == "TIMEOUT":
        return sums
    for line in out.splitlines():
        if line.startswith("#") or not line.strip():
            continue
        f = [x.strip() for x in line.split(",")]
        sums[int(f[0])].append((int(f[4]), f[5]))
    return sums


def repaired_md5s(path):
    rc, out, _ = run(["ffprobe", "-v", "error", "-show_streams", "-of", "json", path])
    types = {}
    if rc == 0 and out:
        types = {s["index"]: s["codec_type"] for s in json.loads(out).get("streams", [])}
    by_type = collections.defaultdict(set)
    for idx, lst in framemd5(path).items():
        by_type[types.get(idx, "?")].update(m for _, m in lst)
    return by_type


def decode_errors(path):
    rc, _, err = run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "null", "-"])
    if rc == "TIMEOUT":
        return "TO"
    return len([l for l in err.splitlines() if l.strip()])


def score(orig_pk, cut, out):
    """recall per codec type, or None when the original has no such stream."""
    got = repaired_md5s(out) if os.path.exists(out) else {}
    rec = {}
    for t in ("video", "audio"):
        want = [m for (tt, lst) in orig_pk.values() if tt == t
                for (pos, size, m) in lst if pos >= 0 and pos + size <= cut]
        if not any(tt == t for tt, _ in orig_pk.values()):
            rec[t] = None
            continue
        if not want:
            rec[t] = (0, 0)
            continue
        have = got.get(t, set())
        rec[t] = (sum(1 for m in want if m in have), len(want))
    return rec


def repair(framend, damaged, ref, out):
    if os.path.exists(out):
        os.remove(out)
    t0 = time.time()
    rc, _, err = run([framend, "-i", damaged, "-ref", ref, "-o", out])
    dt = time.time() - t0
    return rc, dt, err.strip().splitlines()[-1:] if err.strip() else []


def fmt_rec(r):
    if r is None:
        return "     -      "
    h, n = r
    if n == 0:
        return "   n/a 0/0  "
    return f"{100.0 * h / n:6.2f}% {h}/{n}".ljust(12)


# ---------------------------------------------------------------- the runs

def matrix(args):
    rng = random.Random(args.seed)
    os.makedirs(args.work, exist_ok=True)
    rows = []
    notes = []
    print(f"# seed {args.seed}, {args.cases} cases, framend {args.framend}")
    print(f"{'case':>4} {'variant':7} {'settings':58} {'rc':>4} {'sec':>5} {'video recall':>16} {'audio recall':>16} {'decerr':>6}")
    for i in range(args.cases):
        cfg = random_case(rng)
        ext = cfg["ext"]
        orig = os.path.join(args.work, f"c{i:02d}.orig.{ext}")
        ref = os.path.join(args.work, f"c{i:02d}.ref.{ext}")
        vk = rng.choice(["testsrc2", "mandelbrot"])
        rk = "mandelbrot" if vk == "testsrc2" else "testsrc2"
        tone = rng.choice([330, 440, 550, "noise"])
        rtone = 880 if tone == "noise" else "noise"
        try:
            make_movie(cfg, orig, vk, tone, cfg["dur"])
            make_movie(cfg, ref, rk, rtone, cfg["refdur"])
        except RuntimeError as e:
            notes.append(f"case {i}: generation failed: {e}")
            print(f"{i:4d} generation failed: {e}")
            continue
        opk = packets(orig)
        for variant in ("nomoov", "trunc60"):
            dmg = os.path.join(args.work, f"c{i:02d}.{variant}.{ext}")
            out = os.path.join(args.work, f"c{i:02d}.{variant}.out.{ext}")
            try:
                cut = damage(orig, dmg, variant)
            except RuntimeError as e:
                notes.append(f"case {i} {variant}: {e}")
                continue
            rc, dt, tail = repair(args.framend, dmg, ref, out)
            rec = score(opk, cut, out)
            derr = decode_errors(out) if os.path.exists(out) else "-"
            if rc not in (0,):
                notes.append(f"case {i} {variant}: exit {rc} {tail}")
            rows.append((i, variant, cfg, rc, rec, derr))
            print(f"{i:4d} {variant:7} {describe(cfg):58} {str(rc):>4} {dt:5.1f} "
                  f"{fmt_rec(rec['video']):>16} {fmt_rec(rec['audio']):>16} {str(derr):>6}", flush=True)
    # totals
    def fr(t):
        return [r[4][t][0] / r[4][t][1] for r in rows if r[4][t] and r[4][t][1]]
    v, a = fr("video"), fr("audio")
    print("# totals")
    print(f"runs {len(rows)}  nonzero exit {sum(1 for r in rows if r[3] != 0)}  "
          f"decoder-error runs {sum(1 for r in rows if isinstance(r[5], int) and r[5] > 0)}")
    if v:
        print(f"video recall mean {100 * sum(v) / len(v):.2f}%  min {100 * min(v):.2f}%  "
              f"runs below 99%: {sum(1 for x in v if x < 0.99)}/{len(v)}")
    if a:
        print(f"audio recall mean {100 * sum(a) / len(a):.2f}%  min {100 * min(a):.2f}%  "
              f"runs below 97%: {sum(1 for x in a if x < 0.97)}/{len(a)}")
    for n in notes:
        print("note:", n)


REF_SETTINGS = [
    ("640x360@30 high bf2 aac2 mp4 dflt",
     dict(w=640, h=360, fps=30, profile="high", bf=2, gop=60, slices=1, audio="aac", channels=2,
          rate=48000, ext="mp4", chunk=0)),
    ("640x360@30 high bf2 aac2 mp4 c500ms",
     dict(w=640, h=360, fps=30, profile="high", bf=2, gop=60, slices=1, audio="aac", channels=2,
          rate=48000, ext="mp4", chunk=500000)),
    ("1280x720@25 high bf2 pcm2 mov c500ms",
     dict(w=1280, h=720, fps=25, profile="high", bf=2, gop=50, slices=1, audio="pcm", channels=2,
          rate=48000, ext="mov", chunk=500000)),
]
REF_CONTENT = [("black", "black", 880), ("static", "static", 880), ("slow", "mandelbrot", 880),
               ("fast", "fast", 880), ("same", "testsrc2", 440)]


def refcontent(args):
    os.makedirs(args.work, exist_ok=True)
    print(f"# reference content, framend {args.framend}; damaged = testsrc2 5 s + sine 440, nomoov")
    print(f"{'settings':38} {'reference':10} {'rc':>4} {'sec':>5} {'video recall':>16} {'audio recall':>16} {'decerr':>6}")
    for si, (name, cfg) in enumerate(REF_SETTINGS):
        ext = cfg["ext"]
        orig = os.path.join(args.work, f"s{si}.orig.{ext}")
        make_movie(cfg, orig, "testsrc2", 440, 5)
        dmg = os.path.join(args.work, f"s{si}.nomoov.{ext}")
        cut = damage(orig, dmg, "nomoov")
        opk = packets(orig)
        for label, kind, tone in REF_CONTENT:
            for dur in (2, 10):
                ref = os.path.join(args.work, f"s{si}.ref_{label}{dur}.{ext}")
                out = os.path.join(args.work, f"s{si}.out_{label}{dur}.{ext}")
                try:
                    make_movie(cfg, ref, kind, tone, dur)
                except RuntimeError as e:
                    print(f"{name:38} {label}{dur}s generation failed: {e}")
                    continue
                rc, dt, tail = repair(args.framend, dmg, ref, out)
                rec = score(opk, cut, out)
                derr = decode_errors(out) if os.path.exists(out) else "-"
                print(f"{name:38} {label + str(dur) + 's':10} {str(rc):>4} {dt:5.1f} "
                      f"{fmt_rec(rec['video']):>16} {fmt_rec(rec['audio']):>16} {str(derr):>6}", flush=True)


def binary_digest(path):
    return hashlib.sha256(open(path, "rb").read()).hexdigest()[:16]


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--framend", default="build/framend")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--cases", type=int, default=12)
    ap.add_argument("--work", default="/tmp/h264_matrix")
    ap.add_argument("--refcontent", action="store_true",
                    help="repair one recording per fixed setting with references of other content")
    args = ap.parse_args()
    args.framend = os.path.abspath(args.framend)
    # The binary may be rebuilt under a running bench; the digest printed
    # before and after shows whether every row came from the same build.
    print(f"# framend sha256 {binary_digest(args.framend)}")
    (refcontent if args.refcontent else matrix)(args)
    print(f"# framend sha256 {binary_digest(args.framend)} (after)")


if __name__ == "__main__":
    main()
