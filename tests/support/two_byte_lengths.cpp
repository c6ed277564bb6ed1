#include "support/two_byte_lengths.h"

#include "support/atom_builder.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <algorithm>
#include <map>

namespace testsupport {

std::vector<uint8_t> withTwoByteNalLengths(const std::string& movie) {
    using Packet = testmedia::Packet;
    const Bytes file = readFile(movie);
    // Every packet of the movie where ffprobe finds it in the file.
    std::vector<Packet> packets = testmedia::probePackets(movie);
    const auto streams = testmedia::probeStreams(movie);
    const auto video = [&](const Packet& p) { return streams.at(size_t(p.stream)).at("codec_type") == "video"; };
    std::vector<AtomSpan> top;
    for (const AtomSpan& a : atomTree(file))
        if (a.type == "mdat" || a.type == "moov")
            top.push_back(a);
    if (packets.empty() || top.size() < 2 || top[0].type != "mdat" || top[1].type != "moov")
        return {};
    const AtomSpan mdat = top[0];
    // Sample sizes in decode order, for the video's stsz.
    std::vector<uint32_t> videoSizes;
    for (const Packet& p : packets)
        if (video(p))
            videoSizes.push_back(uint32_t(p.size));
    std::sort(packets.begin(), packets.end(), [](const Packet& a, const Packet& b) { return a.pos < b.pos; });

    Bytes out(file.begin(), file.begin() + long(mdat.start));
    const size_t header = out.size();
    out.insert(out.end(), file.begin() + long(mdat.start), file.begin() + long(mdat.start + 8));
    std::map<uint64_t, uint64_t> moved;  // old sample offset -> new
    std::map<int64_t, uint32_t> newSizeAt;  // video samples by their old offset
    size_t copied = mdat.start + 8;
    for (const Packet& p : packets) {
        if (p.pos < int64_t(copied) || p.pos + p.size > int64_t(mdat.start + mdat.size))
            return {};
        out.insert(out.end(), file.begin() + long(copied), file.begin() + long(p.pos));
        moved[uint64_t(p.pos)] = out.size();
        const uint8_t* s = file.data() + p.pos;
        if (!video(p)) {
            out.insert(out.end(), s, s + p.size);
        } else {
            const size_t start = out.size();
            for (int64_t q = 0; q < p.size;) {
                const uint32_t length = be32(s + q);
                if (length > 0xFFFF || q + 4 + int64_t(length) > p.size)
                    return {};
                out.push_back(uint8_t(length >> 8));
                out.push_back(uint8_t(length));
                out.insert(out.end(), s + q + 4, s + q + 4 + length);
                q += 4 + int64_t(length);
            }
            newSizeAt[p.pos] = uint32_t(out.size() - start);
        }
        copied = size_t(p.pos + p.size);
    }
    out.insert(out.end(), file.begin() + long(copied), file.begin() + long(mdat.start + mdat.size));
    setBe32(&out[header], uint32_t(out.size() - header));
    const size_t moovAt = out.size();
    out.insert(out.end(), file.begin() + long(mdat.start + mdat.size), file.end());

    mapChunkOffsets(out, [&](uint64_t offset) {
        const auto it = moved.find(offset);
        return it == moved.end() ? offset : it->second;
    });
    // The video track's stsz: the one whose entries are the video's sizes.
    bool sizesSet = false;
    for (const AtomSpan& a : atomTree(out)) {
        if (a.type != "stsz" || a.start < moovAt || a.size < 20)
            continue;
        const size_t count = be32(&out[a.start + 16]);
        if (be32(&out[a.start + 12]) != 0 || count != videoSizes.size() || a.size < 20 + 4 * count)
            continue;
        bool same = true;
        for (size_t i = 0; i < count && same; ++i)
            same = be32(&out[a.start + 20 + 4 * i]) == videoSizes[i];
        if (!same)
            continue;
        // Decode order is file order within a track: the k-th sample by
        // position is the k-th entry.
        size_t i = 0;
        for (const auto& [pos, size] : newSizeAt)
            setBe32(&out[a.start + 20 + 4 * i++], size);
        sizesSet = true;
    }
    const size_t avcC = findType(out, "avcC", moovAt);
    if (!sizesSet || avcC == std::string::npos || avcC + 8 >= out.size())
        return {};
    out[avcC + 8] = uint8_t((out[avcC + 8] & 0xFC) | 1);
    return out;
}

}  // namespace testsupport
