#!/usr/bin/env python3
"""Three independent judges over a directory of repaired movies.

Every repaired file (`<name>.<variant>.out*.<ext>`) is read by
  ffmpeg     a full decode of every video and audio stream (`-f null`)
  mkvmerge   `mkvmerge -J` (identification: errors, warnings, a track for
             every video and audio stream ffprobe sees) and a full remux to
             Matroska (exit code 1 = warnings, 2 = errors)
  gstreamer  `gst-launch-1.0 filesrc ! qtdemux` with every video and audio
             pad decoded by decodebin into a fakesink: exit code, the
             pipeline's ERROR/WARNING messages, whether EOS arrived (decoded to
             the end), the demuxer's warnings about boxes (qtdemux at
             GST_DEBUG level 2) and the decoders' own complaints (level 1)
and the same judges read the intact original next to it (matrix work
directories: `<name>.orig.<ext>`; a corpus of make_corpus.py: --corpus, the
case folder's original).  A repaired file fails a judge when it draws more
complaints than the original did (or a demuxer warning the original does not
draw: ffmpeg's own movies draw some).  Decoder complaints are expected where the
damage put foreign bytes inside the frames (the corpus's `holes` variant):
variants matching --damaged-inside only report them.

  bench/judges.py /tmp/h264_matrix
  KEEP_OUTPUTS=1 WORKDIR=/tmp/corpus_out NO_DECODE=1 \\
      /work/shared/bench/run_bench.sh /work/data/public build/framend /tmp/c.json
  bench/judges.py /tmp/corpus_out --corpus /work/data/public --json /tmp/judges.json

The matrix scripts run it over their work directory with --judges.
Needs mkvtoolnix, gstreamer1.0-tools, gstreamer1.0-plugins-good and
gstreamer1.0-libav (Debian packages).
"""
import argparse
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

OUTPUT = re.compile(r"^(?P<name>.+)\.(?P<variant>[^.]+)\.out[^.]*\.(?P<ext>\w+)$")
# Demuxer warnings any movie draws: every unfragmented one has no fragment
# defaults, and the node table lacks many sample description fourccs.
BENIGN_DEMUX = re.compile(r"failed to find fragment defaults|unknown QuickTime node type")
GST_NOISE = re.compile(r"^(Setting pipeline|Pipeline is|Redistribute latency|New clock|Execution ended|"
                       r"Freeing pipeline|Prerolled|Got EOS|Got context|Missing element|Progress)")


def run(cmd, timeout, env=None, stderr=subprocess.STDOUT):
    try:
        p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=stderr, stdin=subprocess.DEVNULL,
                           timeout=timeout, env=env)
        return p.returncode, p.stdout.decode(errors="replace")
    except subprocess.TimeoutExpired:
        return "TIMEOUT", ""


def budget(path):
    """Seconds a judge may take: generous, as the machine may be busy."""
    return 120 + os.path.getsize(path) / 2e6


def stream_types(path):
    rc, out = run(["ffprobe", "-v", "error", "-show_entries", "stream=codec_type", "-of", "json", path], 60,
                  stderr=subprocess.DEVNULL)
    try:
        kinds = [s["codec_type"] for s in json.loads(out).get("streams", [])] if rc == 0 else []
    except ValueError:
        kinds = []
    return kinds.count("video"), kinds.count("audio")


def ffmpeg_judge(path):
    rc, out = run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:v?", "-map", "0:a?",
                   "-f", "null", "-"], budget(path))
    lines = [line for line in out.splitlines() if line.strip()]
    return {"rc": rc, "container": [f"exit {rc}"] if rc != 0 else [], "decoder": lines}


def mkvmerge_judge(path, video, audio):
    complaints = []
    rc, out = run(["mkvmerge", "-J", path], budget(path))
    try:
        info = json.loads(out)
    except ValueError:
        info = {}
        complaints.append(f"identify exit {rc}, no JSON")
    complaints += [f"identify error: {e}" for e in info.get("errors", [])]
    complaints += [f"identify warning: {w}" for w in info.get("warnings", [])]
    if info and not info.get("container", {}).get("supported", False):
        complaints.append("identify: container not supported")
    tracks = [t.get("type") for t in info.get("tracks", [])]
    if tracks.count("video") < video or tracks.count("audio") < audio:
        complaints.append(f"identify: {tracks.count('video')} video / {tracks.count('audio')} audio tracks, "
                          f"ffprobe sees {video} / {audio}")
    with tempfile.TemporaryDirectory(prefix="judges.") as tmp:
        rc, out = run(["mkvmerge", "-o", os.path.join(tmp, "x.mkv"), path], budget(path))
    if rc != 0:
        complaints.append(f"remux exit {rc}")
    complaints += [f"remux: {line.strip()}" for line in out.splitlines()
                   if line.startswith(("Warning", "Error"))]
    return {"rc": rc, "container": complaints, "decoder": []}


def gstreamer_judge(path, video, audio):
    if video + audio == 0:
        return {"rc": None, "container": ["no video or audio stream to decode"], "decoder": []}
    pipeline = ["filesrc", f"location={path}", "!", "qtdemux", "name=d"]
    for kind, count in (("video", video), ("audio", audio)):
        for i in range(count):
            # Queues bounded by time only: with the default 200 buffers, 1 s and
            # 10 MB, a 96 kHz PCM track beside the video stalls the preroll even
            # on ffmpeg's own movies.
            pipeline += [f"d.{kind}_{i}", "!", "queue", "max-size-buffers=0", "max-size-bytes=0",
                         "max-size-time=10000000000", "!", "decodebin", "!", "fakesink"]
    env = dict(os.environ, GST_DEBUG="*:1,qtdemux:2", GST_DEBUG_NO_COLOR="1")
    rc, out = run(["gst-launch-1.0"] + pipeline, budget(path), env)
    complaints, decoder, demux = [], [], set()
    if rc != 0:
        complaints.append(f"exit {rc}")
    if rc != "TIMEOUT" and "Got EOS" not in out:
        complaints.append("no end of stream")
    for line in out.splitlines():
        if line.startswith(("ERROR:", "WARNING:")) or line.startswith("Additional debug info"):
            complaints.append(line.strip())
        elif " WARN " in line and " qtdemux " in line and not BENIGN_DEMUX.search(line):
            # What the demuxer thinks of a box, without the log's time, thread and stream numbers.
            demux.add(re.sub(r"\d+", "N", line.split(" qtdemux ", 1)[1].strip()))
        elif " ERROR " in line and not GST_NOISE.match(line):
            # A debug-log line: "<time> <pid> <thread> ERROR <category> <where> <message>".
            decoder.append(re.sub(r"^\S+\s+\d+\s+0x[0-9a-f]+\s+", "", line.strip()))
    return {"rc": rc, "container": complaints, "decoder": decoder, "demux": sorted(demux)}


def judge_file(path):
    video, audio = stream_types(path)
    return {"ffmpeg": ffmpeg_judge(path),
            "mkvmerge": mkvmerge_judge(path, video, audio),
            "gstreamer": gstreamer_judge(path, video, audio)}


def original_of(out_path, corpus):
    m = OUTPUT.match(os.path.basename(out_path))
    if not m:
        return None
    if corpus:
        path = os.path.join(corpus, m["name"], f"orig.{m['ext']}")
    else:
        path = os.path.join(os.path.dirname(out_path), f"{m['name']}.orig.{m['ext']}")
    return path if os.path.exists(path) else None


def verdict(rep, orig, lenient):
    """The judges that complain about the repair more than about the original."""
    bad = []
    for judge, res in rep.items():
        base = orig.get(judge, {"container": [], "decoder": []}) if orig else {"container": [], "decoder": []}
        if len(res["container"]) > len(base["container"]):
            bad.append(judge)
        elif set(res.get("demux", [])) - set(base.get("demux", [])):
            bad.append(judge + ":demux")
        elif not lenient and len(res["decoder"]) > len(base["decoder"]):
            bad.append(judge + ":decode")
    return bad


def check_tools():
    missing = [t for t in ("ffmpeg", "ffprobe", "mkvmerge", "gst-launch-1.0") if not shutil.which(t)]
    if missing:
        sys.exit("missing: " + " ".join(missing))
    rc, out = run(["gst-inspect-1.0", "qtdemux"], 60)
    if rc != 0:
        sys.exit("GStreamer has no qtdemux (gstreamer1.0-plugins-good)")


def judge_dir(work, corpus=None, damaged_inside="holes", json_out=None, cache=None, pattern=None):
    """Judges every repaired file in work (or every file the glob pattern finds
    there, judged without an original); prints a line per file and a summary.
    Returns the number of files some judge fails."""
    check_tools()
    if pattern:
        outputs = sorted(p for p in glob.glob(os.path.join(work, pattern), recursive=True) if os.path.isfile(p))
    else:
        outputs = sorted(p for p in glob.glob(os.path.join(work, "*")) if OUTPUT.match(os.path.basename(p)))
    originals = {} if cache is None else cache
    records, failing = [], []
    print(f"# judges over {len(outputs)} repaired files in {work}")
    print(f"{'file':44} {'verdict':22} complaints (repair/original): container, decoder")
    for out in outputs:
        orig = original_of(out, corpus)
        if orig and orig not in originals:
            originals[orig] = judge_file(orig)
        base = originals.get(orig)
        res = judge_file(out)
        m = OUTPUT.match(os.path.basename(out))
        variant = m["variant"] if m else os.path.basename(out)
        bad = verdict(res, base, bool(re.search(damaged_inside, variant)) if damaged_inside else False)
        if bad:
            failing.append(os.path.basename(out))
        counts = "  ".join(
            f"{j} {len(r['container'])}/{len(base[j]['container']) if base else '-'},"
            f"{len(r['decoder'])}/{len(base[j]['decoder']) if base else '-'}" for j, r in res.items())
        print(f"{os.path.relpath(out, work)[-44:]:44} {('FAIL:' + ','.join(bad)) if bad else 'ok':22} {counts}", flush=True)
        for j in bad:
            judge, _, what = j.partition(":")
            lines = res[judge][{"": "container", "decode": "decoder"}.get(what, what)]
            if what == "demux":
                lines = sorted(set(lines) - set(base[judge]["demux"] if base else []))
            for line in lines[:3]:
                print(f"    {j}: {line[:200]}")
        records.append({"file": out, "original": orig, "fails": bad, "judges": res})
    print(f"# judges: {len(outputs) - len(failing)}/{len(outputs)} repaired files pass all three"
          + (f"  failing: {' '.join(failing)}" if failing else ""))
    if json_out:
        with open(json_out, "w") as f:
            json.dump(records, f, indent=1)
    return len(failing)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("work", help="directory holding the repaired files")
    ap.add_argument("--corpus", help="make_corpus.py corpus the outputs were made from (originals)")
    ap.add_argument("--damaged-inside", default="holes",
                    help="regex of variants whose frames hold foreign bytes: decoder complaints only reported")
    ap.add_argument("--json", help="write every judge's complaints here")
    ap.add_argument("--glob", help="judge the files this pattern finds under work instead (** recurses), "
                                   "without originals, e.g. '**/repaired*.mp4' in build/scratch")
    args = ap.parse_args()
    sys.exit(1 if judge_dir(args.work, args.corpus, args.damaged_inside, args.json, pattern=args.glob) else 0)


if __name__ == "__main__":
    main()
