#!/usr/bin/env python3
"""Throughput of the Canon CRM container rebuild and of the CRM analyser.

Takes the CRM recording the test programs cache in the build folder (run
test_camera once first: build/fixtures/crm_border_*), repeats its payload into
a large one, and times framend on it in the wrapped form (container rebuild)
and as a bare payload (analyser fallback), as ratios to reading the input once
(`cat FILE > /dev/null`) and, for the rebuild that writes a whole new file, to
copying it (`cp`); best of --runs, hot cache.

  bench/crm_throughput.py --build build --size-mb 1000 --work /tmp/crm_bench
"""
import argparse
import os
import struct
import subprocess
import time


def best_of(runs, command):
    best = None
    for _ in range(runs):
        t = time.monotonic()
        subprocess.run(command, shell=True, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        elapsed = time.monotonic() - t
        best = elapsed if best is None else min(best, elapsed)
    return best


def box(kind, payload, large=False):
    if large:
        return struct.pack(">I4sQ", 1, kind, len(payload) + 16) + payload
    return struct.pack(">I4s", len(payload) + 8, kind) + payload


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build")
    ap.add_argument("--size-mb", type=int, default=1000)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--work", default="/tmp/crm_bench")
    a = ap.parse_args()
    fixtures = os.path.join(a.build, "fixtures")
    framend = os.path.realpath(os.path.join(a.build, "framend"))
    ref = os.path.realpath(os.path.join(fixtures, "crm_border_ref.mov"))
    with open(os.path.join(fixtures, "crm_border_payload.crm"), "rb") as f:
        payload = f.read()
    os.makedirs(a.work, exist_ok=True)
    repeats = max(1, a.size_mb * 1024 * 1024 // len(payload))
    bare = os.path.join(a.work, "payload.crm")
    wrapped = os.path.join(a.work, "wrapped.mov")
    ftyp_crx = box(b"ftyp", b"crx \x00\x00\x00\x01crx isom")
    with open(bare, "wb") as f:
        for _ in range(repeats):
            f.write(payload)
    inner_len = len(ftyp_crx) + 16 + len(payload) * repeats
    with open(wrapped, "wb") as f:
        f.write(box(b"ftyp", b"qt  \x00\x00\x00\x00qt  "))
        f.write(struct.pack(">I4sQ", 1, b"mdat", inner_len + 16))
        f.write(ftyp_crx)
        f.write(struct.pack(">I4sQ", 1, b"mdat", len(payload) * repeats + 16))
        for _ in range(repeats):
            f.write(payload)
    out = os.path.join(a.work, "out.mov")
    size = os.path.getsize(wrapped) / 1e6
    read = best_of(a.runs, f"cat {wrapped} > /dev/null")
    copy = best_of(a.runs, f"cp {wrapped} {out}")
    rebuild = best_of(a.runs, f"{framend} -i {wrapped} -ref {ref} -o {out} -canoncrm -v 1")
    analyser = best_of(a.runs, f"{framend} -i {bare} -ref {ref} -o {out} -canoncrm -v 1")
    print(f"input {size:.0f} MB, read {read:.2f} s")
    print(f"rebuild  {rebuild:.2f} s  {size / rebuild:.0f} MB/s  {rebuild / copy:.1f}x cp ({copy:.2f} s)")
    print(f"analyser {analyser:.2f} s  {size / analyser:.0f} MB/s  {analyser / read:.1f}x read")


if __name__ == "__main__":
    main()
