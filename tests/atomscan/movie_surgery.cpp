#include "movie_surgery.h"

#include "support/atom_builder.h"
#include "support/repair_run.h"

#include <algorithm>

namespace atomtest {

namespace {

using testsupport::be32;
using testsupport::be64;

bool isContainer(const std::string& type) {
    return type == "moov" || type == "trak" || type == "mdia" || type == "minf" || type == "stbl";
}

void walk(const Bytes& f, size_t begin, size_t end, std::vector<AtomSpan>& out) {
    for (size_t at = begin; at + 8 <= end;) {
        uint64_t size = be32(&f[at]);
        if (size == 1 && at + 16 <= end)
            size = be64(&f[at + 8]);
        if (size < 8 || size > end - at)
            break;
        const std::string type(f.begin() + long(at) + 4, f.begin() + long(at) + 8);
        out.push_back({type, at, size_t(size)});
        if (isContainer(type))
            walk(f, at + 8, at + size, out);
        at += size;
    }
}

// The atoms of [begin, end) again, with stco turned into co64 inside the
// containers.
Bytes rewriteLevel(const Bytes& f, size_t begin, size_t end) {
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
            next = testsupport::atom(type.c_str(), rewriteLevel(f, at + 8, at + size));
        } else if (type == "stco") {
            const uint32_t count = be32(&f[at + 12]);
            Bytes entries;
            testsupport::put32(entries, count);
            for (uint32_t i = 0; i < count; ++i)
                testsupport::put64(entries, be32(&f[at + 16 + 4 * i]));
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

std::vector<AtomSpan> atomTree(const Bytes& file) {
    std::vector<AtomSpan> out;
    walk(file, 0, file.size(), out);
    return out;
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

Bytes withCo64(const Bytes& file) { return rewriteLevel(file, 0, file.size()); }

StreamMatch compareStream(const std::string& original, const std::string& repaired, int stream) {
    std::vector<repairrun::Packet> a, b;
    for (const auto& p : repairrun::packets(original))
        if (p.stream == stream)
            a.push_back(p);
    for (const auto& p : repairrun::packets(repaired))
        if (p.stream == stream)
            b.push_back(p);
    StreamMatch m;
    m.original = a.size();
    m.repaired = b.size();
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        if (a[i].md5 == b[i].md5)
            ++m.matched;
    return m;
}

}  // namespace atomtest
