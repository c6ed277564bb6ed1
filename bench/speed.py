#!/usr/bin/env python3
"""Speed and memory of framend against the yardsticks a user knows.

Builds once (cached under --work) large recordings with camera-like 0.5 s
chunks: H.264+AAC (~3 GB), HEVC+AAC and ProRes+PCM (~0.75 GB each), made by
encoding a short clip and looping it by stream copy; a small reference of each
with the same settings; and the copy with its moov cut off, as an interrupted
recording leaves it. For each it measures, in the same run, median of --runs:

  cat       cat ORIG > /dev/null (reading the bytes once)
  remux     ffmpeg -i ORIG -map 0 -c copy (a stream copy of the intact file)
  scan      framend over ORIG with a reference whose codec leaves only the
            container analyser and a start code search walking the bytes,
            no output
  sim       framend -sim: every sample of the intact file written out
  repair    framend repairing the copy with the moov cut off

and prints times, ratios to cat and to remux, CPU time (the writeback of a
shared disk makes wall times of writing runs jumpy; CPU time is what the
program itself spends) and peak RSS (wait4 rusage). Every run starts after a
sync, and each output is deleted as soon as it is measured (its pages are
dropped, not written back), so no run pays for the writes of the one before.

  bench/speed.py                       # full sizes, cached in /work/data/speedbench
  bench/speed.py --quick               # ~10x smaller files (own cache folder)
  bench/speed.py --cases h264 --framend /path/to/other/framend --keep DIR
      --keep DIR keeps the -sim and repair outputs in DIR (compare two
      builds with cmp or bench/same_outputs.sh-style packet checksums).
  bench/speed.py --check               # also compare packet checksums of the
                                       # outputs with the original (slow)
  bench/speed.py --baseline OLD_FRAMEND [--baseline-runs sim,repair]
      also runs another build in the same rounds (rows "old ..."), and
      says whether its outputs are byte-identical to this build's.
"""
import argparse
import hashlib
import os
import statistics
import struct
import subprocess
import sys
import tempfile
import time

CLIP_SECONDS = 20
CHUNK_US = 500000  # camera-like interleave: half a second of each track per chunk


def ff(*args):
    """ffmpeg writing its last argument; the file appears only when complete."""
    *options, out = args
    part = os.path.join(os.path.dirname(out), "part." + os.path.basename(out))
    subprocess.run(["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", *options, part], check=True)
    os.replace(part, out)


# name: (extension, encode options for video, audio, target MiB full size)
CASES = {
    "h264_aac": ("mp4", "testsrc2=size=1920x1080:rate=30",
                 ["-c:v", "libx264", "-preset", "ultrafast", "-crf", "12", "-g", "60"],
                 ["-c:a", "aac", "-b:a", "192k"], 3072),
    "hevc_aac": ("mp4", "testsrc2=size=1280x720:rate=30",
                 ["-c:v", "libx265", "-preset", "ultrafast", "-crf", "10", "-g", "60", "-tag:v", "hvc1",
                  "-x265-params", "log-level=error"],
                 ["-c:a", "aac", "-b:a", "128k"], 768),
    "prores_pcm": ("mov", "testsrc2=size=1280x720:rate=25",
                   ["-c:v", "prores", "-profile:v", "2", "-pix_fmt", "yuv422p10le"],
                   ["-c:a", "pcm_s16le"], 768),
}


def top_atoms(path):
    atoms, ofs, total = [], 0, os.path.getsize(path)
    with open(path, "rb") as f:
        while ofs + 8 <= total:
            f.seek(ofs)
            size, kind = struct.unpack(">I4s", f.read(8))
            if size == 1:
                size = struct.unpack(">Q", f.read(8))[0]
            elif size == 0:
                size = total - ofs
            atoms.append((kind.decode("latin-1"), ofs, size))
            if size < 8:
                break
            ofs += size
    return atoms


def cut_moov(src, dst):
    moov = [a for a in top_atoms(src) if a[0] == "moov"]
    if not moov:
        raise RuntimeError(f"{src}: no moov")
    left = moov[0][1]
    with open(src, "rb") as i, open(dst, "wb") as o:
        while left > 0:
            block = i.read(min(left, 1 << 24))
            if not block:
                break
            o.write(block)
            left -= len(block)


def make_case(work, name, quick):
    ext, source, vopts, aopts, full_mib = CASES[name]
    folder = os.path.join(work, name)
    os.makedirs(folder, exist_ok=True)
    p = lambda n: os.path.join(folder, n)  # noqa: E731
    orig, ref, damaged = p("orig." + ext), p("ref." + ext), p("damaged." + ext)
    if os.path.exists(damaged):
        return orig, ref, damaged
    seconds = 4 if quick else CLIP_SECONDS
    mux = ["-chunk_duration", str(CHUNK_US)]
    if not os.path.exists(p("clip." + ext)):
        print(f"[{name}] encoding a {seconds} s clip", file=sys.stderr)
        ff("-f", "lavfi", "-i", f"{source}:duration={seconds}",
           "-f", "lavfi", "-i", f"sine=frequency=440:sample_rate=48000:duration={seconds}",
           "-ac", "2", *vopts, *aopts, *mux, p("clip." + ext))
    # The reference: other content, same settings and interleave.
    if not os.path.exists(ref):
        print(f"[{name}] encoding the reference", file=sys.stderr)
        ff("-f", "lavfi", "-i", f"{source.replace('testsrc2', 'testsrc')}:duration=3",
           "-f", "lavfi", "-i", "sine=frequency=1000:sample_rate=48000:duration=3",
           "-ac", "2", *vopts, *aopts, *mux, ref)
    target = full_mib * (1 << 20) // (10 if quick else 1)
    loops = max(0, target // os.path.getsize(p("clip." + ext)) - 1)
    print(f"[{name}] looping the clip {loops + 1} times into {target >> 20} MiB", file=sys.stderr)
    ff("-stream_loop", str(loops), "-i", p("clip." + ext), "-map", "0", "-c", "copy", *mux, orig)
    cut_moov(orig, damaged + ".part")
    os.replace(damaged + ".part", damaged)
    return orig, ref, damaged


def run_measured(command, quiet_codes=(0,)):
    """Wall seconds, CPU seconds (user + system) and peak RSS (MiB) of one run; output discarded.

    GNU time starts the command: a child forked from this Python process
    would count Python's own pages in its peak RSS."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as report:
        t = time.monotonic()
        proc = subprocess.run(["/usr/bin/time", "-f", "%M %U %S", "-o", report.name, *command],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        elapsed = time.monotonic() - t
        if proc.returncode not in quiet_codes:
            print(f"warning: exit {proc.returncode}: {' '.join(command)}", file=sys.stderr)
        fields = report.read().split()[-3:]
    return elapsed, float(fields[1]) + float(fields[2]), float(fields[0]) / 1024.0


def framemd5(path):
    out = subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-i", path, "-map", "0:v?", "-map", "0:a?",
                          "-c", "copy", "-copyinkf", "-f", "framemd5", "-"],
                         capture_output=True, text=True).stdout
    streams = {}
    for line in out.splitlines():
        if line.startswith("#"):
            continue
        fields = [x.strip() for x in line.split(",")]
        if len(fields) >= 6:
            streams.setdefault(fields[0], []).append(fields[5])
    return streams


def same_packets(orig, out):
    a, b = framemd5(orig), framemd5(out)
    parts = []
    for s in sorted(a):
        got = set(b.get(s, []))
        parts.append(f"stream {s}: {sum(1 for m in a[s] if m in got)}/{len(a[s])}")
    return ", ".join(parts)


def file_digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def recovered_samples(framend, damaged, ref):
    """Packets in a repair of `damaged`, made apart from the measured runs."""
    with tempfile.TemporaryDirectory(dir=os.path.dirname(damaged)) as scratch:
        out = os.path.join(scratch, "count" + os.path.splitext(damaged)[1])
        subprocess.run([framend, "-i", damaged, "-ref", ref, "-o", out, "-v", "1"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        probe = subprocess.run(["ffprobe", "-v", "error", "-count_packets", "-show_entries",
                                "stream=nb_read_packets", "-of", "csv=p=0", out],
                               capture_output=True, text=True).stdout.split()
    return sum(int(x) for x in probe if x.strip().isdigit())


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--framend", default="build/framend")
    ap.add_argument("--work", default=None, help="cache of the generated media (default /work/data/speedbench)")
    ap.add_argument("--quick", action="store_true", help="files about a tenth of the full size")
    ap.add_argument("--cases", default=",".join(CASES), help="comma list of " + ", ".join(CASES))
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--only", default="cat,remux,scan,sim,repair", help="comma list of the measurements")
    ap.add_argument("--keep", default=None, help="keep the -sim and repair outputs in this folder")
    ap.add_argument("--check", action="store_true", help="compare the outputs' packet checksums with the original")
    ap.add_argument("--baseline", default=None, help="another framend measured in the same rounds (rows 'old ...')")
    ap.add_argument("--baseline-runs", default="scan,sim,repair", help="which runs the baseline repeats")
    a = ap.parse_args()
    work = a.work or ("/work/data/speedbench" + ("-quick" if a.quick else ""))
    os.makedirs(work, exist_ok=True)
    framend = os.path.realpath(a.framend)
    baseline = os.path.realpath(a.baseline) if a.baseline else None
    scratch = a.keep or os.path.join(work, "out")
    os.makedirs(scratch, exist_ok=True)
    # A codec family whose analyser only looks for start codes: the scan run
    # then costs the loop, the container analyser and that search.
    scan_ref = os.path.join(work, "scan_ref.mov")
    if not os.path.exists(scan_ref):
        ff("-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=1", "-c:v", "mpeg4", scan_ref)
    wanted = a.only.split(",")

    print(f"framend: {framend}   work: {work}   runs: {a.runs} (median)")
    print(f"{'case':<11} {'run':<10} {'time s':>8} {'MiB/s':>7} {'x cat':>6} {'x remux':>8} {'cpu s':>7}"
          f" {'cpu x remux':>11} {'RSS MiB':>8}")
    for name in a.cases.split(","):
        orig, ref, damaged = make_case(work, name, a.quick)
        ext = CASES[name][0]
        sim_out = os.path.join(scratch, f"{name}.sim.{ext}")
        rep_out = os.path.join(scratch, f"{name}.repair.{ext}")
        remux_out = os.path.join(work, "out", f"remux.{ext}")
        os.makedirs(os.path.dirname(remux_out), exist_ok=True)
        commands = {
            "cat": ["sh", "-c", f"cat '{orig}' > /dev/null"],
            "remux": ["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", orig, "-map", "0", "-c", "copy",
                      remux_out],
            "scan": [framend, "-i", orig, "-ref", scan_ref, "-nfd", "-v", "1"],
            "sim": [framend, "-i", orig, "-sim", "-o", sim_out, "-v", "1"],
            "repair": [framend, "-i", damaged, "-ref", ref, "-o", rep_out, "-v", "1"],
        }
        # The same runs of another build, in the same rounds: what a change gained.
        if a.baseline:
            for k in a.baseline_runs.split(","):
                if k in commands and k in wanted:
                    commands["old " + k] = [baseline if x == framend else
                                            x.replace(f".{k}.", f".{k}.old.") for x in commands[k]]
        order = [k for k in commands if k in wanted or k in ("cat", "remux") or k.startswith("old ")]
        subprocess.run(["sh", "-c", f"cat '{orig}' '{damaged}' > /dev/null"], check=True)  # hot cache
        times = {k: [] for k in order}
        cpu = {k: [] for k in order}
        rss = {k: 0.0 for k in order}
        digests = {}
        # Rounds, not one measurement after the other: a load that comes and
        # goes on a shared machine then touches every row alike.
        for round_ in range(a.runs):
            for k in order:
                out = commands[k][-3] if k.endswith(("sim", "repair")) else remux_out
                if k != "scan" and os.path.exists(out):
                    os.unlink(out)
                # Every run starts with nothing waiting to be written back:
                # gigabytes of an earlier run's output still in the page
                # cache would slow down the writes of whichever run came next.
                subprocess.run(["sync"], check=True)
                # The scan run finds nothing to recover by design (exit code 3).
                t, c, r = run_measured(commands[k], (0, 3) if k.endswith("scan") else (0,))
                times[k].append(t)
                cpu[k].append(c)
                rss[k] = max(rss[k], r)
                if k != "scan" and os.path.exists(out):
                    if round_ == a.runs - 1 and k.endswith(("sim", "repair")):
                        digests[k] = file_digest(out)
                    # Deleted at once (its dirty pages are dropped, not
                    # written), unless asked to keep the last round's.
                    if not (a.keep and round_ == a.runs - 1 and k != "remux"):
                        os.unlink(out)
        mib = os.path.getsize(orig) / (1 << 20)
        med = {k: statistics.median(v) for k, v in times.items()}
        mcpu = {k: statistics.median(v) for k, v in cpu.items()}
        for k in order:
            t = med[k]
            print(f"{name:<11} {k:<10} {t:8.2f} {mib / t:7.0f} {t / med['cat']:6.2f} {t / med['remux']:8.2f}"
                  f" {mcpu[k]:7.2f} {mcpu[k] / mcpu['remux']:11.2f} {(rss[k] if k not in ('cat',) else 0):8.1f}")
        print(f"{name:<11} size {mib:.0f} MiB, all runs: " +
              "  ".join(f"{k}=" + "/".join(f"{x:.2f}" for x in times[k]) for k in order))
        # The memory budget: 64 MiB plus 32 bytes per recovered sample.
        if "repair" in order:
            samples = recovered_samples(framend, damaged, ref)
            peak = max((v for k, v in rss.items() if k in ("scan", "sim", "repair")), default=0.0)
            print(f"{name:<11} {samples} samples recovered: RSS budget {64 + samples * 32 / (1 << 20):.1f} MiB,"
                  f" peak {peak:.1f} MiB")
        if a.check:
            for k in ("sim", "repair"):
                for label in (k, "old " + k):
                    if label in order:
                        out = os.path.join(scratch, f"{name}.check.{ext}")
                        subprocess.run(commands[label][:-1] + [out], stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
                        print(f"{name:<11} {label} packets identical to the original's: {same_packets(orig, out)}")
                        os.unlink(out)
        for k in ("sim", "repair"):
            if "old " + k in digests and k in digests:
                same = digests[k] == digests["old " + k]
                print(f"{name:<11} {k} output {'byte-identical to' if same else 'DIFFERS from'} the baseline's")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
