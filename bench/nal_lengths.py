"""Rewrites an ffmpeg-made H.264 movie as a phone that writes 2-byte NAL
lengths (lengthSizeMinusOne 1) would have stored it: every video sample's
4-byte unit lengths become 2-byte ones, and the sample sizes, chunk offsets,
mdat size and the avcC's length size follow. ffmpeg's muxer always writes 4.

  python3 bench/nal_lengths.py IN OUT
"""
import bisect
import json
import struct
import subprocess
import sys

CONTAINERS = {b"moov", b"trak", b"mdia", b"minf", b"stbl", b"edts", b"udta"}


def atoms(d, start, end, whole=True):
    """(offset, size, type, header size) of the atoms from start to end; an
    atom running past end stops the walk, or with whole=False is the last."""
    p = start
    while p + 8 <= end:
        size, kind = struct.unpack(">I4s", d[p:p + 8])
        head = 8
        if size == 1:
            size = struct.unpack(">Q", d[p + 8:p + 16])[0]
            head = 16
        elif size == 0:
            size = end - p
        if size < head or (whole and p + size > end):
            return
        yield p, size, kind, head
        p += size


def walk(d, start, end):
    for p, size, kind, head in atoms(d, start, end):
        yield p, size, kind, head
        if kind in CONTAINERS:
            yield from walk(d, p + head, p + size)


def video_packets(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                          "packet=pos,size:stream=codec_name", "-of", "json", path],
                         capture_output=True, text=True, check=True).stdout
    info = json.loads(out)
    if not info.get("streams") or info["streams"][0].get("codec_name") != "h264":
        raise ValueError("no H.264 video")
    return [(int(p["pos"]), int(p["size"])) for p in info["packets"]]


def two_byte_lengths(src, dst):
    d = bytearray(open(src, "rb").read())
    top = list(atoms(d, 0, len(d)))
    kinds = [k for _, _, k, _ in top]
    if kinds.count(b"mdat") != 1 or kinds.count(b"moov") != 1 or kinds.index(b"mdat") > kinds.index(b"moov"):
        raise ValueError("not one mdat in front of the moov")
    samples = video_packets(src)  # decode order = file order within the track
    by_pos = sorted(samples)
    new_sizes = {}
    out = bytearray()
    copied = 0
    ends, shrunk = [], []  # old end of each video sample, bytes saved up to it
    saved = 0
    for pos, size in by_pos:
        out += d[copied:pos]
        q, start = 0, len(out)
        while q < size:
            length = struct.unpack(">I", d[pos + q:pos + q + 4])[0]
            if length > 0xFFFF or q + 4 + length > size:
                raise ValueError("a unit of 64 KiB or more, or a sample that does not tile")
            out += struct.pack(">H", length) + d[pos + q + 4:pos + q + 4 + length]
            q += 4 + length
        new_sizes[pos] = len(out) - start
        saved += size - new_sizes[pos]
        ends.append(pos + size)
        shrunk.append(saved)
        copied = pos + size
    out += d[copied:]

    def moved(offset):
        i = bisect.bisect_right(ends, offset)
        return offset - (shrunk[i - 1] if i else 0)

    mdat_pos, mdat_size, _, mdat_head = top[kinds.index(b"mdat")]
    new_mdat = mdat_size - saved
    if mdat_head == 16:
        out[mdat_pos + 8:mdat_pos + 16] = struct.pack(">Q", new_mdat)
    else:
        out[mdat_pos:mdat_pos + 4] = struct.pack(">I", new_mdat)
    moov_pos, moov_size, _, moov_head = top[kinds.index(b"moov")]
    moov_pos -= saved
    sizes_in_order = [new_sizes[pos] for pos, _ in samples]
    old_sizes = [size for _, size in samples]
    stsz_done = False
    for p, size, kind, head in walk(out, moov_pos + moov_head, moov_pos + moov_size):
        body = p + head
        if kind in (b"stco", b"co64"):
            count = struct.unpack(">I", out[body + 4:body + 8])[0]
            width = 8 if kind == b"co64" else 4
            fmt = ">Q" if width == 8 else ">I"
            for k in range(count):
                at = body + 8 + k * width
                out[at:at + width] = struct.pack(fmt, moved(struct.unpack(fmt, out[at:at + width])[0]))
        elif kind == b"stsz":
            fixed, count = struct.unpack(">II", out[body + 4:body + 12])
            if fixed or count != len(old_sizes):
                continue
            entries = list(struct.unpack(f">{count}I", out[body + 12:body + 12 + 4 * count]))
            if entries != old_sizes:
                continue
            out[body + 12:body + 12 + 4 * count] = struct.pack(f">{count}I", *sizes_in_order)
            stsz_done = True
    avcc = out.find(b"avcC", moov_pos)
    if not stsz_done or avcc < 0:
        raise ValueError("no video sample sizes or avcC")
    out[avcc + 8] = (out[avcc + 8] & 0xFC) | 1
    open(dst, "wb").write(out)


if __name__ == "__main__":
    two_byte_lengths(sys.argv[1], sys.argv[2])
