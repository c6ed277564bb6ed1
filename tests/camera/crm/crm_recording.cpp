#include "camera/crm/crm_recording.h"

#include <algorithm>
#include <cmath>

namespace crmtest {

using namespace testsupport;

namespace {

constexpr uint32_t kVideoScale = 25000, kVideoDelta = 1000, kAudioRate = 48000;
constexpr uint32_t kMetaBytes = 48, kTimecodeBytes = 4;

Bytes ftypCrx() { return atom("ftyp", concat({Bytes{'c', 'r', 'x', ' '}, u32s({1}), Bytes{'c', 'r', 'x', ' ', 'i', 's', 'o', 'm'}})); }

// Enabled and in the movie; sound at full volume; the identity matrix; a
// picture of 640x360.
Bytes tkhd(uint32_t id, bool audio) {
    return fullAtom("tkhd", 0, 3, u32s({0, 0, id, 0, 0, 0, 0, 0, 0, audio ? 0x01000000u : 0u, 0x10000, 0, 0, 0, 0x10000, 0,
                                        0, 0, 0x40000000, audio ? 0 : 640u << 16, audio ? 0 : 360u << 16}));
}

Bytes table(const char* type, const std::vector<uint32_t>& words) { return fullAtom(type, 0, 0, u32s(words)); }

struct TrackTables {
    const char* handler = "";
    Bytes sampleEntry;
    Bytes mediaHeader;
    uint32_t timescale = 0, delta = 1;
    std::vector<uint32_t> sizes;  // empty: uniform `uniformSize`
    uint32_t uniformSize = 0;
    uint64_t count = 0;
    std::vector<uint32_t> perChunk;
    std::vector<uint64_t> offsets;
};

TrackTables tables(const char* handler, Bytes entry, Bytes mediaHeader, uint32_t timescale, uint32_t delta) {
    TrackTables t;
    t.handler = handler;
    t.sampleEntry = std::move(entry);
    t.mediaHeader = std::move(mediaHeader);
    t.timescale = timescale;
    t.delta = delta;
    return t;
}

Bytes trak(uint32_t id, const TrackTables& t) {
    const uint64_t count = t.sizes.empty() ? t.count : t.sizes.size();
    std::vector<uint32_t> stsc{0};
    for (size_t c = 0; c < t.perChunk.size(); ++c) {
        if (c && t.perChunk[c] == t.perChunk[c - 1])
            continue;
        stsc.insert(stsc.end(), {uint32_t(c + 1), t.perChunk[c], 1});
        ++stsc[0];
    }
    std::vector<uint32_t> stsz{t.sizes.empty() ? t.uniformSize : 0, uint32_t(count)};
    stsz.insert(stsz.end(), t.sizes.begin(), t.sizes.end());
    Bytes co64 = u32s({uint32_t(t.offsets.size())});
    for (uint64_t o : t.offsets)
        put64(co64, o);
    const Bytes stbl = atom("stbl", concat({fullAtom("stsd", 0, 0, concat({u32s({1}), t.sampleEntry})),
                                            table("stts", {1, uint32_t(count), t.delta}), table("stsc", stsc),
                                            table("stsz", stsz), fullAtom("co64", 0, 0, co64)}));
    const Bytes dref = fullAtom("dref", 0, 0, concat({u32s({1}), fullAtom("url ", 0, 1, {})}));
    const Bytes hdlr = fullAtom("hdlr", 0, 0, concat({u32s({0}), Bytes(t.handler, t.handler + 4), u32s({0, 0, 0}), Bytes{0}}));
    const Bytes mdhd = table("mdhd", {0, 0, t.timescale, uint32_t(count * t.delta), 0});
    return atom("trak", concat({tkhd(id, std::string(t.handler) == "soun"),
                                atom("mdia", concat({mdhd, hdlr, atom("minf", concat({t.mediaHeader, atom("dinf", dref), stbl}))}))}));
}

// Each entry: six reserved bytes and data reference 1, then its format's fields.
Bytes videoEntry() {
    // Version, vendor, qualities; 640x360 at 72 dpi; one frame per sample; no
    // compressor name; depth 24; no colour table.
    return atom("CRAW", concat({Bytes(6, 0), {0, 1}, Bytes(16, 0), {0x02, 0x80, 0x01, 0x68},
                                u32s({0x480000, 0x480000, 0}), {0, 1}, Bytes(32, 0), {0, 24, 0xFF, 0xFF}}));
}

Bytes soundEntry(uint32_t channels) {
    // Version, revision, vendor; channels, 24 bits, compression id, packet size; rate.
    return atom("in24", concat({Bytes(6, 0), {0, 1}, Bytes(8, 0), {0, uint8_t(channels), 0, 24, 0, 0, 0, 0},
                                u32s({kAudioRate << 16})}));
}

Bytes timecodeEntry() {
    return atom("tmcd", concat({Bytes(6, 0), {0, 1}, u32s({0, 0, kVideoScale, kVideoDelta}), {25, 0}}));
}

Bytes metadataEntry() {
    const std::string mime = "application/octet-stream";
    return atom("mett", concat({Bytes(6, 0), {0, 1, 0}, Bytes(mime.begin(), mime.end()), {0}}));
}

// Quiet tones, different per track and channel, continuous over chunks.
void appendTone(Bytes& out, uint32_t track, uint32_t channels, uint64_t firstFrame, uint32_t frames) {
    for (uint32_t f = 0; f < frames; ++f)
        for (uint32_t ch = 0; ch < channels; ++ch) {
            const double hz = 220.0 * (1 + track * channels + ch);
            const int32_t v = int32_t(std::lround(100000.0 * std::sin(2 * M_PI * hz * double(firstFrame + f) / kAudioRate)));
            const uint32_t u = uint32_t(v) & 0xFFFFFF;
            out.insert(out.end(), {uint8_t(u >> 16), uint8_t(u >> 8), uint8_t(u)});
        }
}

}  // namespace

Bytes CrmRecording::videoBytes(size_t from, size_t to) const {
    Bytes out;
    for (size_t i = from; i < sampleOffsets.size() && i < to; ++i)
        out.insert(out.end(), payload.begin() + long(sampleOffsets[i]), payload.begin() + long(sampleOffsets[i] + sampleSizes[i]));
    return out;
}

Bytes CrmRecording::audioBytes(size_t track, size_t from, size_t to) const {
    Bytes out;
    for (size_t c = from; c < audio[track].size() && c < to; ++c)
        out.insert(out.end(), audio[track][c].begin(), audio[track][c].end());
    return out;
}

CrmRecording makeCrmRecording(const CrmRecordingOptions& o) {
    CrmRecording r;
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    Bytes separate;  // metadata and timecode when they are not in the runs
    TrackTables video = tables("vide", videoEntry(), fullAtom("vmhd", 0, 1, Bytes(8, 0)), kVideoScale, kVideoDelta);
    TrackTables meta = tables("meta", metadataEntry(), fullAtom("nmhd", 0, 0, {}), kVideoScale, kVideoDelta * o.samplesPerChunk);
    TrackTables timecode = tables("tmcd", timecodeEntry(), fullAtom("nmhd", 0, 0, {}), kVideoScale, kVideoDelta * o.samplesPerChunk);
    std::vector<TrackTables> sound;
    for (uint32_t t = 0; t < o.audioTracks; ++t) {
        sound.push_back(tables("soun", soundEntry(o.channels), fullAtom("smhd", 0, 0, u32s({0})), kAudioRate, 1));
        sound.back().uniformSize = 1;
    }
    r.audio.resize(o.audioTracks);
    for (uint32_t c = 0; c < o.chunks; ++c) {
        r.chunkOffsets.push_back(r.payload.size());
        video.offsets.push_back(r.payload.size());
        video.perChunk.push_back(o.samplesPerChunk);
        for (uint32_t s = 0; s < o.samplesPerChunk; ++s) {
            const uint32_t length = o.lengthField + (next() >> 20) % 200;
            r.sampleOffsets.push_back(r.payload.size());
            r.sampleSizes.push_back(length + 872);
            video.sizes.push_back(length + 872);
            r.payload.insert(r.payload.end(), {0xFF, 0x11, 0x00, 0x10});
            put32(r.payload, length);
            // Noise like compressed raw data, without the marker's first byte.
            for (uint32_t i = 8; i < length + 872; ++i)
                r.payload.push_back(std::min<uint8_t>(uint8_t(next() >> 24), 0xFE));
        }
        Bytes& side = o.metadataInRuns ? r.payload : separate;
        meta.offsets.push_back(side.size());
        meta.perChunk.push_back(1);
        meta.sizes.push_back(kMetaBytes);
        for (uint32_t i = 0; i < kMetaBytes; ++i)
            side.push_back(uint8_t(c * 7 + i));
        timecode.offsets.push_back(side.size());
        timecode.perChunk.push_back(1);
        timecode.sizes.push_back(kTimecodeBytes);
        put32(side, c * o.samplesPerChunk);
        if (c == 0)
            r.payload.resize(r.payload.size() + o.fillerAfterFirstChunk, 0);
        for (uint32_t t = 0; t < o.audioTracks; ++t) {
            if (t == 0)
                r.audioChunkOffsets.push_back(r.payload.size());
            sound[t].offsets.push_back(r.payload.size());
            sound[t].perChunk.push_back(o.framesPerChunk);
            sound[t].count += o.framesPerChunk;
            Bytes chunk;
            appendTone(chunk, t, o.channels, uint64_t(c) * o.framesPerChunk, o.framesPerChunk);
            r.payload.insert(r.payload.end(), chunk.begin(), chunk.end());
            r.audio[t].push_back(std::move(chunk));
        }
    }

    // Layout: ftyp, moov, [mdat of metadata], mdat of the payload. The moov
    // size does not depend on the offsets (co64 throughout), so build it
    // twice: once to measure, once with the final offsets.
    const Bytes ftyp = ftypCrx();
    auto build = [&](uint64_t payloadAt, uint64_t separateAt) {
        auto shifted = [](TrackTables t, uint64_t by) {
            for (uint64_t& off : t.offsets)
                off += by;
            return t;
        };
        Bytes traks = trak(1, shifted(video, payloadAt));
        for (uint32_t t = 0; t < o.audioTracks; ++t)
            traks = concat({traks, trak(2 + t, shifted(sound[t], payloadAt))});
        const uint64_t sideAt = o.metadataInRuns ? payloadAt : separateAt;
        traks = concat({traks, trak(2 + o.audioTracks, shifted(meta, sideAt)), trak(3 + o.audioTracks, shifted(timecode, sideAt))});
        const uint32_t duration = o.chunks * o.samplesPerChunk * kVideoDelta / 25;
        const Bytes mvhd = table("mvhd", {0, 0, 1000, duration, 0x10000, 0x01000000, 0, 0, 0x10000, 0, 0, 0, 0x10000, 0, 0, 0,
                                          0x40000000, 0, 0, 0, 0, 0, 0, 4 + o.audioTracks});
        return atom("moov", concat({mvhd, traks}));
    };
    const uint64_t moovSize = build(0, 0).size();
    const uint64_t separateAt = ftyp.size() + moovSize + 8;
    const uint64_t sideBox = o.metadataInRuns ? 0 : separate.size() + 8;
    r.payloadStart = ftyp.size() + moovSize + sideBox + 16;
    r.file = concat({ftyp, build(r.payloadStart, separateAt)});
    if (!o.metadataInRuns)
        r.file = concat({r.file, atom("mdat", separate)});
    r.file = concat({r.file, atom64("mdat", r.payload)});
    return r;
}

Bytes withMediaHeader(const Bytes& payload) { return concat({ftypCrx(), atom("mdat", payload, 0u)}); }

Bytes wrapped(const Bytes& payload) {
    // The outer recorder keeps a megabyte of its own before its media data,
    // so the nested file starts beyond the first megabyte.
    const Bytes outerFtyp = atom("ftyp", concat({Bytes{'q', 't', ' ', ' '}, u32s({0}), Bytes{'q', 't', ' ', ' '}}));
    const Bytes inner = concat({ftypCrx(), atom64("mdat", payload)});
    return concat({outerFtyp, atom("free", Bytes(0x100000, 0)), atom64("mdat", inner)});
}

}  // namespace crmtest
