#include "movie_surgery.h"

#include "support/atom_builder.h"
#include "support/repair_run.h"
#include "support/test_media.h"

#include <algorithm>
#include <fstream>

namespace atomtest {

namespace {

using testsupport::be32;
using testsupport::isContainer;

// The atoms of [begin, end) again, with stco turned into co64 inside the
// containers.
Bytes rewriteLevel(const Bytes& f, size_t begin, size_t end, uint64_t shift) {
    Bytes out;
    for (size_t at = begin; at + 8 <= end;) {
        const size_t size = be32(&f[at]);
        if (size < 8 || size > end - at) {
            out.insert(out.end(), f.begin() + long(at), f.begin() + long(end));
            break;
        }
        const std::string type(f.begin() + long(at) + 4, f.begin() + long(at) + 8);
        Bytes next;
        if (isContainer(type)) {
            next = testsupport::atom(type.c_str(), rewriteLevel(f, at + 8, at + size, shift));
        } else if (type == "stco") {
            const uint32_t count = be32(&f[at + 12]);
            Bytes entries;
            testsupport::put32(entries, count);
            for (uint32_t i = 0; i < count; ++i)
                testsupport::put64(entries, be32(&f[at + 16 + 4 * i]) + shift);
            next = testsupport::fullAtom("co64", 0, 0, entries);
        } else {
            next.assign(f.begin() + long(at), f.begin() + long(at + size));
        }
        out.insert(out.end(), next.begin(), next.end());
        at += size;
    }
    return out;
}

}  // namespace

std::string faststartMp4() {
    return testmedia::movie("atomscan_faststart.mp4",
                            "-c:v libx264 -pix_fmt yuv420p -g 25 -c:a aac -ac 2 -movflags +faststart");
}

Bytes withoutHeaders(Bytes file, Fill fill) {
    const Bytes noise = repairrun::noise(file.size(), 777);
    for (const AtomSpan& a : atomTree(file)) {
        if (a.type != "mvhd" && a.type != "tkhd" && a.type != "mdhd" && a.type != "hdlr" && a.type != "stsd")
            continue;
        for (size_t i = a.start; i < a.start + a.size; ++i)
            file[i] = fill == Fill::Zero ? 0 : noise[i];
    }
    return file;
}

Bytes withCo64(const Bytes& atoms, uint64_t shift) { return rewriteLevel(atoms, 0, atoms.size(), shift); }

uint64_t writeBeyond4GiB(const Bytes& movie, const std::string& name, bool damageHeaders) {
    const std::vector<AtomSpan> atoms = atomTree(movie);
    const auto mdat = std::find_if(atoms.begin(), atoms.end(), [](const AtomSpan& a) { return a.type == "mdat"; });
    const auto moov = std::find_if(atoms.begin(), atoms.end(), [](const AtomSpan& a) { return a.type == "moov"; });
    if (mdat == atoms.end() || moov == atoms.end() || moov->start < mdat->start)
        return 0;
    constexpr uint64_t kHole = (uint64_t(1) << 32) + 12345;
    const uint64_t payload = mdat->size - 8;
    const uint64_t newPayloadStart = mdat->start + 16 + kHole;
    const uint64_t shift = newPayloadStart - (mdat->start + 8);
    Bytes head(movie.begin(), movie.begin() + long(mdat->start));
    testsupport::put32(head, 1);
    testsupport::putType(head, "mdat");
    testsupport::put64(head, 16 + kHole + payload);
    Bytes tail(movie.begin() + long(mdat->start + 8), movie.begin() + long(mdat->start + mdat->size));
    Bytes index = withCo64(Bytes(movie.begin() + long(moov->start), movie.begin() + long(moov->start + moov->size)),
                           shift);
    if (damageHeaders)
        index = withoutHeaders(index, Fill::Noise);
    tail.insert(tail.end(), index.begin(), index.end());
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(head.data()), std::streamsize(head.size()));
    out.seekp(std::streamoff(newPayloadStart));
    out.write(reinterpret_cast<const char*>(tail.data()), std::streamsize(tail.size()));
    return out ? newPayloadStart + payload : 0;
}

}  // namespace atomtest
