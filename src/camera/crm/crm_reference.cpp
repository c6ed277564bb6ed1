#include "camera/crm/crm_reference.h"

#include <algorithm>
#include <stdexcept>

namespace crm {

namespace {

[[noreturn]] void fail(const char* text) { throw std::runtime_error(text); }

const BoxNode& need(const BoxNode& parent, const char* type, const char* error) {
    const BoxNode* n = findChild(parent, type);
    if (!n)
        fail(error);
    return *n;
}

Bytes payloadOf(platform::File& file, const BoxNode& box) {
    return readBoxBytes(file, box.offset + box.header, box.size - box.header);
}

Bytes rawOf(platform::File& file, const BoxNode& box) { return readBoxBytes(file, box.offset, box.size); }

void appendRaw(Bytes& to, const Bytes& box) { to.insert(to.end(), box.begin(), box.end()); }

void readSampleSizes(const Bytes& p, uint64_t fileSize, CrmRefTrack& t) {
    if (p.size() < 12)
        fail("bad stsz");
    const uint32_t size = readU32(&p[4]);
    const uint64_t count = readU32(&p[8]);
    if (size == 0) {
        if (count * 4 + 12 > p.size())
            fail("bad stsz count");
        t.sampleSizes.resize(count);
        for (uint64_t i = 0; i < count; ++i)
            t.sampleSizes[i] = readU32(&p[12 + 4 * i]);
    } else {
        // A common size stores no table, so the count alone would size the
        // allocation: samples of at least a byte each must fit in the file.
        if (count > fileSize)
            fail("bad stsz");
        t.sampleSizes.assign(count, size);
    }
}

void readChunkOffsets(const Bytes& p, bool wide, CrmRefTrack& t) {
    if (p.size() < 8)
        fail("bad chunk offsets");
    const uint64_t count = readU32(&p[4]);
    const uint64_t entry = wide ? 8 : 4;
    if (count * entry + 8 > p.size())
        fail(wide ? "bad co64" : "bad stco");
    t.chunkOffsets.resize(count);
    for (uint64_t i = 0; i < count; ++i)
        t.chunkOffsets[i] = wide ? readU64(&p[8 + 8 * i]) : readU32(&p[8 + 4 * i]);
}

void expandSampleToChunk(const Bytes& p, CrmRefTrack& t) {
    if (p.size() < 8)
        fail("bad stsc");
    const uint64_t count = readU32(&p[4]);
    if (count * 12 + 8 > p.size())
        fail("bad stsc entries");
    const uint64_t chunks = t.chunkOffsets.size();
    t.samplesPerChunk.assign(chunks, 0);
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t first = readU32(&p[8 + 12 * i]);
        const uint32_t perChunk = readU32(&p[12 + 12 * i]);
        const uint64_t next = i + 1 < count ? uint64_t(readU32(&p[8 + 12 * (i + 1)])) : chunks + 1;
        if (first == 0 || first > chunks || first >= next)
            continue;
        for (uint64_t c = first; c < next && c <= chunks; ++c)
            t.samplesPerChunk[c - 1] = perChunk;
    }
}

}  // namespace

std::vector<const CrmRefTrack*> CrmReference::audioTracks() const {
    std::vector<const CrmRefTrack*> audio;
    for (const CrmRefTrack& t : tracks)
        if (t.handler == "soun")
            audio.push_back(&t);
    return audio;
}

CrmRefTrack parseRefTrack(platform::File& file, const BoxNode& trak) {
    const uint64_t fileSize = uint64_t(std::max<int64_t>(file.size(), 0));
    const BoxNode& tkhd = need(trak, "tkhd", "bad trak");
    const BoxNode& mdia = need(trak, "mdia", "bad trak");
    const BoxNode& mdhd = need(mdia, "mdhd", "bad mdia");
    const BoxNode& hdlr = need(mdia, "hdlr", "bad mdia");
    const BoxNode& minf = need(mdia, "minf", "bad mdia");
    const BoxNode& stbl = need(minf, "stbl", "bad minf");
    const BoxNode& dinf = need(minf, "dinf", "bad minf");
    const BoxNode& stsd = need(stbl, "stsd", "bad stbl");
    const BoxNode& stsz = need(stbl, "stsz", "bad stbl");
    const BoxNode& stsc = need(stbl, "stsc", "bad stbl");
    const BoxNode& stts = need(stbl, "stts", "bad stbl");
    const BoxNode* offsets = findChild(stbl, "co64");
    const bool wide = offsets != nullptr;
    if (!offsets)
        offsets = &need(stbl, "stco", "bad stbl");

    CrmRefTrack t;
    t.tkhd = rawOf(file, tkhd);
    t.mdhd = rawOf(file, mdhd);
    t.hdlr = rawOf(file, hdlr);
    t.stsd = rawOf(file, stsd);
    t.dinf = rawOf(file, dinf);
    for (const BoxNode& c : minf.children) {
        if (c.type != "stbl" && c.type != "dinf") {
            t.mediaHeader = rawOf(file, c);
            break;
        }
    }
    const Bytes handler = payloadOf(file, hdlr);
    if (handler.size() >= 12)
        t.handler.assign(reinterpret_cast<const char*>(&handler[8]), 4);

    readSampleSizes(payloadOf(file, stsz), fileSize, t);
    readChunkOffsets(payloadOf(file, *offsets), wide, t);
    expandSampleToChunk(payloadOf(file, stsc), t);

    const Bytes times = payloadOf(file, stts);
    t.sampleDelta = times.size() >= 16 ? readU32(&times[12]) : 1;
    if (t.handler == "soun") {
        const Bytes d = payloadOf(file, stsd);
        if (d.size() >= 44) {
            const uint32_t channels = uint32_t(d[32]) << 8 | d[33];
            const uint32_t bits = uint32_t(d[34]) << 8 | d[35];
            t.frameBytes = channels * bits / 8;
        }
        if (t.frameBytes == 0)
            t.frameBytes = 1;
    }
    const Bytes m = payloadOf(file, mdhd);
    if (m.size() < 24)
        fail("bad mdhd");
    if (m[0] == 1) {
        if (m.size() < 32)
            fail("bad mdhd");
        t.timescale = readU32(&m[20]);
        t.duration = readU64(&m[24]);
    } else {
        t.timescale = readU32(&m[12]);
        t.duration = readU32(&m[16]);
    }
    return t;
}

CrmReference loadCrmReference(const std::string& fileName) {
    platform::File file;
    if (!file.open(fileName, platform::File::Mode::Read))
        fail("reference open failed");
    const int64_t size = file.size();
    CrmReference ref;
    bool haveFtyp = false, afterMedia = false;
    for (const BoxNode& box : parseBoxes(file, 0, uint64_t(std::max<int64_t>(size, 0)))) {
        if (box.type == "ftyp") {
            ref.ftyp = rawOf(file, box);
            haveFtyp = true;
        } else if (box.type == "moov") {
            const BoxNode& mvhd = need(box, "mvhd", "reference moov lacks mvhd");
            ref.mvhd = rawOf(file, mvhd);
            if (ref.mvhd.size() >= 28) {
                const size_t at = ref.mvhd[8] == 1 ? 28 : 20;
                if (ref.mvhd.size() >= at + 4)
                    ref.movieTimescale = readU32(&ref.mvhd[at]);
            }
            for (const BoxNode& c : box.children) {
                if (c.type == "trak") {
                    ref.tracks.push_back(parseRefTrack(file, c));
                    if (ref.videoTrack == kNoTrack && ref.tracks.back().handler == "vide")
                        ref.videoTrack = ref.tracks.size() - 1;
                } else if (c.type != "mvhd") {
                    appendRaw(ref.moovExtra, rawOf(file, c));
                }
            }
        } else if (box.type == "mdat") {
            ref.mediaStart = box.offset + box.header;
            afterMedia = true;
        } else {
            appendRaw(afterMedia ? ref.postMediaBoxes : ref.preMediaBoxes, rawOf(file, box));
        }
    }
    if (!haveFtyp || ref.mvhd.empty() || ref.videoTrack == kNoTrack)
        fail("reference missing ftyp/moov/video track");
    return ref;
}

}  // namespace crm
