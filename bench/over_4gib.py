#!/usr/bin/env python3
"""Repair of a recording over 4 GiB: time, throughput, peak memory, bit-exactness.

The recording is a 4 s 1080p H.264 + AAC clip's media data written again and
again behind one 64-bit mdat header (no index).  Each binary repairs
it with a 2 s reference of the same settings; the row gives wall seconds,
MB/s of input, peak RSS, whether every packet came back bit-exact (ffmpeg
packet checksums against the clip's, repeated) and the furthest video packet
position (above 2^32 only through 64-bit chunk offsets).

  bench/over_4gib.py --framend build/framend /work/data/framend.s21start --work /tmp/over4g

Needs about 9 GB free in --work (the input is removed at the end unless --keep).
"""
import argparse
import os
import struct
import subprocess
import sys
import time

FOUR_GIB = 1 << 32


def ffmpeg_clip(path, video, tone, seconds):
    if os.path.exists(path):
        return
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", f"{video}=s=1920x1080:r=25",
                    "-f", "lavfi", "-i", f"sine=f={tone}:r=48000", "-t", str(seconds), "-vf",
                    "noise=alls=20:allf=t", "-c:v", "libx264", "-preset", "veryfast", "-crf", "12", "-bf", "2",
                    "-g", "50", "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "128k", path], check=True)


def top_boxes(path):
    boxes, pos, size = {}, 0, os.path.getsize(path)
    with open(path, "rb") as f:
        while pos + 8 <= size:
            f.seek(pos)
            head = f.read(16)
            n, kind = struct.unpack(">I4s", head[:8])
            header = 8
            if n == 1:
                n, header = struct.unpack(">Q", head[8:16])[0], 16
            if n < header:
                break
            boxes[kind.decode("latin-1")] = (pos, header, n)
            pos += n
    return boxes


def write_repeated(clip, copies, out):
    boxes = top_boxes(clip)
    data = open(clip, "rb").read()
    fpos, _, fsize = boxes["ftyp"]
    mpos, mheader, msize = boxes["mdat"]
    payload = data[mpos + mheader:mpos + msize]
    with open(out, "wb") as f:
        f.write(data[fpos:fpos + fsize])
        f.write(struct.pack(">I4sQ", 1, b"mdat", 16 + len(payload) * copies))
        for _ in range(copies):
            f.write(payload)


def packet_sums(path):
    """stream -> [(size, md5)] in demux order."""
    out = subprocess.run(["ffmpeg", "-nostdin", "-v", "quiet", "-i", path, "-c", "copy", "-f", "framemd5", "-"],
                         stdout=subprocess.PIPE, check=False).stdout.decode()
    sums = {}
    for line in out.splitlines():
        if line.startswith("#") or not line.strip():
            continue
        f = [x.strip() for x in line.split(",")]
        sums.setdefault(int(f[0]), []).append((f[4], f[5]))
    return sums


def last_video_position(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "packet=pos",
                          "-of", "csv=p=0", path], stdout=subprocess.PIPE, check=False).stdout.decode()
    return max((int(x) for x in out.split() if x.isdigit()), default=0)


def repair(framend, damaged, ref, out):
    if os.path.exists(out):
        os.remove(out)
    t0 = time.monotonic()
    pid = os.fork()
    if pid == 0:
        fd = os.open(out + ".log", os.O_WRONLY | os.O_CREAT | os.O_TRUNC)
        os.dup2(fd, 1)
        os.execv(framend, [framend, "-i", damaged, "-ref", ref, "-o", out])
    _, status, usage = os.wait4(pid, 0)
    return os.waitstatus_to_exitcode(status), time.monotonic() - t0, usage.ru_maxrss


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--framend", nargs="+", default=["build/framend"])
    ap.add_argument("--work", default="/tmp/over_4gib")
    ap.add_argument("--keep", action="store_true", help="keep the input and the repaired files")
    args = ap.parse_args()
    os.makedirs(args.work, exist_ok=True)
    clip, ref = os.path.join(args.work, "clip.mp4"), os.path.join(args.work, "reference.mp4")
    ffmpeg_clip(clip, "testsrc2", 440, 4)
    ffmpeg_clip(ref, "mandelbrot", 880, 2)
    copies = FOUR_GIB // os.path.getsize(clip) + 2
    damaged = os.path.join(args.work, "damaged.mp4")
    write_repeated(clip, copies, damaged)
    size = os.path.getsize(damaged)
    want = {s: p * copies for s, p in packet_sums(clip).items()}
    print(f"# input {size / 1e9:.2f} GB: {copies} copies of a {os.path.getsize(clip) / 1e6:.1f} MB clip, "
          f"{len(want.get(0, []))} video and {len(want.get(1, []))} audio packets")
    print(f"{'binary':40} {'rc':>3} {'sec':>7} {'MB/s':>6} {'RSS MB':>7} {'output GB':>9} {'last pos > 2^32':>15} exact")
    failed = False
    for i, framend in enumerate(args.framend):
        out = os.path.join(args.work, f"repaired{i}.mp4")
        rc, sec, rss = repair(os.path.abspath(framend), damaged, ref, out)
        got = packet_sums(out) if os.path.exists(out) else {}
        exact = got == want
        last = last_video_position(out) if os.path.exists(out) else 0
        failed |= rc != 0 or not exact or last <= FOUR_GIB
        osize = os.path.getsize(out) / 1e9 if os.path.exists(out) else 0
        print(f"{framend[-40:]:40} {rc:>3} {sec:7.1f} {size / 1e6 / sec:6.0f} {rss / 1024:7.1f} {osize:9.2f} "
              f"{str(last > FOUR_GIB):>15} {exact}", flush=True)
        if not args.keep:
            os.remove(out)
    if not args.keep:
        os.remove(damaged)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
