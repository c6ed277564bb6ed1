#!/usr/bin/env python3
"""Throughput of the Sony RSV and Canon REPI recoveries.

Takes the recordings the camera tests leave in the build folder (run
test_camera once first: build/scratch/rsv_h264_klv, rsv_hevc_rtmd,
repi_whole), repeats each into a large input and times framend on it, as a
ratio to reading the input once (`cat FILE > /dev/null`); best of --runs,
hot cache.

  bench/camera_throughput.py --build build --size-mb 500 --work /tmp/camera_bench
"""
import argparse
import glob
import os
import subprocess

from crm_throughput import best_of


def newest(pattern):
    files = glob.glob(pattern)
    return max(files, key=os.path.getmtime) if files else None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build")
    ap.add_argument("--size-mb", type=int, default=500)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--work", default="/tmp/camera_bench")
    args = ap.parse_args()
    os.makedirs(args.work, exist_ok=True)
    framend = os.path.join(args.build, "framend")
    cases = [
        ("rsv_h264_klv", "scratch/rsv_h264_klv/clip.RSV", "fixtures/*rsv_ref_h264.mov", "-sonyrsv"),
        ("rsv_hevc_rtmd", "scratch/rsv_hevc_rtmd/clip.bin", "fixtures/*rsv_ref_hevc.mov", "-sonyrsv"),
        ("repi", "scratch/repi_whole/clip.bin", "fixtures/*rsv_ref_hevc.mov", "-canonrepi"),
    ]
    for name, source, ref_pattern, flag in cases:
        source = os.path.join(args.build, source)
        ref = newest(os.path.join(args.build, ref_pattern))
        if not os.path.exists(source) or not ref:
            print(f"{name}: missing {source} or reference; run test_camera first")
            continue
        unit = open(source, "rb").read()
        big = os.path.join(args.work, name + ".bin")
        with open(big, "wb") as f:
            for _ in range(max(1, args.size_mb * 1024 * 1024 // len(unit))):
                f.write(unit)
        size = os.path.getsize(big)
        out = os.path.join(args.work, name + "_out.mov")
        read = best_of(args.runs, f"cat {big} > /dev/null")
        run = best_of(args.runs, f"{framend} -i {big} -ref {ref} -o {out} {flag}")
        print(f"{name}: {size / 1e6:.0f} MB  framend {run:.2f} s ({size / 1e6 / run:.0f} MB/s)  "
              f"cat {read:.2f} s  ratio {run / read:.1f}")


if __name__ == "__main__":
    main()
