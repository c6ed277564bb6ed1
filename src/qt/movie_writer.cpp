#include "qt/movie_writer.h"

#include <algorithm>
#include <climits>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/file_copy.h"
#include "qt/atom_codecs.h"
#include "qt/movie_reader.h"

using namespace qt;

namespace {

// mvhd/tkhd transformation matrix: identity in 16.16 (and 2.30 for w).
const uint32_t kIdentityMatrix[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};
// mdhd language code written for every track (packed ISO-639 "und").
constexpr uint16_t kLanguageUndetermined = 5575;
// lpcm format flags: signed integer + packed, with and without big-endian.
constexpr uint32_t kLpcmFlagsBigEndian = 14;
constexpr uint32_t kLpcmFlagsLittleEndian = 12;

// Opens an atom: size 0 (patched by endAtom) and the type under its own name.
uint64_t beginAtom(MovieFile* f, const char* type) {
    const uint64_t start = f->m_position;
    const std::string sizeLabel = std::string(type) + ".size";
    uint32_t size = 0;
    Fourcc fourcc = fourccFromText(type);
    rw32be(f, &size, sizeLabel.c_str(), kTraceAtoms);
    rwfourcc(f, &fourcc, type, kTraceAtoms);
    traceFourcc(f, fourcc);
    ++f->m_depth;
    return start;
}

void endAtom(MovieFile* f, uint64_t start, const char* type) {
    --f->m_depth;
    patchSize(f, start, false, (std::string(type) + ".size").c_str());
}

void fullHeader(MovieFile* f, const char* type, uint8_t version, uint32_t flags) {
    const std::string t(type);
    rwFullHeader(f, &version, &flags, (t + ".version").c_str(), (t + ".flags").c_str());
}

void u16(MovieFile* f, uint16_t v, const char* label) { rw16be(f, &v, label, kTraceAtoms); }
void u32(MovieFile* f, uint32_t v, const char* label) { rw32be(f, &v, label, kTraceAtoms); }
void fix16(MovieFile* f, double v, const char* label) { rwfix16(f, &v, label, kTraceAtoms); }
void fix32(MovieFile* f, double v, const char* label) { rwfix32(f, &v, label, kTraceAtoms); }
void zeros(MovieFile* f, uint32_t n, const char* label) {
    uint8_t z[36] = {};
    rw(f, z, n, label, kTraceAtoms);
}
void fourcc(MovieFile* f, Fourcc v, const char* label) { rwfourcc(f, &v, label, kTraceAtoms); }

void matrix(MovieFile* f, const uint8_t* custom, const char* label) {
    uint8_t m[36];
    bool any = false;
    for (int i = 0; custom && i < 36; ++i)
        any = any || custom[i] != 0;
    if (any) {
        std::memcpy(m, custom, 36);
    } else {
        for (int i = 0; i < 9; ++i)
            for (int b = 0; b < 4; ++b)
                m[i * 4 + b] = uint8_t(kIdentityMatrix[i] >> (24 - 8 * b));
    }
    rw(f, m, 36, label, kTraceAtoms);
}

bool isVideo(const MovieTrack& t) { return t.m_handlerType == makeFourcc("vide"); }
bool isSound(const MovieTrack& t) { return t.m_handlerType == makeFourcc("soun"); }

void closeChunk(MovieTrack* t) {
    if (!t->m_chunkOffsets.empty() &&
        (t->m_sampleToChunk.empty() || t->m_sampleToChunk.back().m_samplesPerChunk != t->m_chunkSamples)) {
        SampleToChunkEntry e;
        e.m_firstChunk = uint32_t(t->m_chunkOffsets.size());
        e.m_samplesPerChunk = t->m_chunkSamples;
        e.m_descriptionId = 1;
        t->m_sampleToChunk.push_back(e);
    }
    t->m_chunkSamples = 0;
    t->m_chunkBytes = 0;
}

void writeMvhd(MovieFile* f) {
    const uint64_t a = beginAtom(f, "mvhd");
    fullHeader(f, "mvhd", 0, 0);
    u32(f, 0, "mvhd.crtime");
    u32(f, 0, "mvhd.modtime");
    u32(f, f->m_movieTimescale, "mvhd.timescale");
    u32(f, f->m_movieDuration, "mvhd.duration");
    fix32(f, 1.0, "mvhd.prefrate");
    fix16(f, 1.0, "mvhd.prefvol");
    zeros(f, 10, "mvhd.res");
    matrix(f, nullptr, "mvhd.matrix");
    for (const char* label : {"mvhd.prevtime", "mvhd.prevdur", "mvhd.postrtime", "mvhd.seltime", "mvhd.seldur",
                              "mvhd.currtime"})
        u32(f, 0, label);
    u32(f, uint32_t(f->m_trackCount + 1), "mvhd.nexttrackid");
    endAtom(f, a, "mvhd");
}

void writeTkhd(MovieFile* f, const MovieTrack& t) {
    const uint64_t a = beginAtom(f, "tkhd");
    fullHeader(f, "tkhd", 0, 0x00000F);
    u32(f, 0, "tkhd.creattime");
    u32(f, 0, "tkhd.modtime");
    u32(f, t.m_trackId, "tkhd.trackid");
    u32(f, 0, "tkhd.res");
    u32(f, t.m_trackDuration, "tkhd.duration");
    zeros(f, 8, "tkhd.res");
    u16(f, 0, "tkhd.layer");
    u16(f, 0, "tkhd.altgroup");
    fix16(f, 1.0, "tkhd.volume");
    u16(f, 0, "tkhd.res");
    matrix(f, isVideo(t) ? f->m_videoMatrix : nullptr, "tkhd.matrix");
    fix32(f, double(t.m_width), "tkhd.width");
    fix32(f, double(t.m_height), "tkhd.height");
    endAtom(f, a, "tkhd");
}

void writeTapt(MovieFile* f, const MovieTrack& t) {
    const uint64_t a = beginAtom(f, "tapt");
    for (const char* type : {"clef", "prof", "enof"}) {
        const uint64_t c = beginAtom(f, type);
        fullHeader(f, type, 0, 0);
        fix32(f, double(t.m_width), (std::string(type) + ".width").c_str());
        fix32(f, double(t.m_height), (std::string(type) + ".height").c_str());
        endAtom(f, c, type);
    }
    endAtom(f, a, "tapt");
}

void writeHdlr(MovieFile* f, const char* type, Fourcc subtype) {
    const uint64_t a = beginAtom(f, "hdlr");
    fullHeader(f, "hdlr", 0, 0);
    fourcc(f, fourccFromText(type), "hdlr.type");
    fourcc(f, subtype, "hdlr.subtype");
    u32(f, 0, "hdlr.manufac");
    u32(f, 0, "hdlr.compflags");
    u32(f, 0, "hdlr.cmpflgmsk");
    u16(f, 0, "hdlr.compname");
    endAtom(f, a, "hdlr");
}

void writeVideoDescription(MovieFile* f, const MovieTrack& t) {
    VideoDescription d;
    d.m_spatialQuality = 512;
    d.m_width = uint16_t(t.m_width);
    d.m_height = uint16_t(t.m_height);
    d.m_hres = d.m_vres = 72.0;
    d.m_frameCount = 1;
    d.m_depth = 24;
    d.m_colourTableId = 65535;
    rwVideoDescription(f, &d);
    if (t.m_hevc.m_arrayCount > 0) {
        const uint64_t a = beginAtom(f, "hvcC");
        rwHvcC(f, const_cast<HEVCConfig*>(&t.m_hevc), 0);
        endAtom(f, a, "hvcC");
    }
    if (f->m_layoutMode == 1) {
        if (t.m_colour.m_present) {
            const uint64_t a = beginAtom(f, "colr");
            rwColr(f, const_cast<ColourInfo*>(&t.m_colour), 0);
            endAtom(f, a, "colr");
        }
    } else if (t.m_avc.m_ppsCount > 0) {
        const uint64_t a = beginAtom(f, "avcC");
        rwAvcC(f, const_cast<H264Config*>(&t.m_avc), 0);
        endAtom(f, a, "avcC");
    }
}

void writeEsds(MovieFile* f, const MovieTrack& t) {
    if (t.m_esds.m_rawLength == 0)
        return;
    const uint64_t a = beginAtom(f, "esds");
    fullHeader(f, "esds", 0, 0);
    rw(f, const_cast<uint8_t*>(t.m_esds.m_raw), t.m_esds.m_rawLength, "esds.esds", kTraceAtoms);
    endAtom(f, a, "esds");
}

void writeAudioDescription(MovieFile* f, const MovieTrack& t) {
    AudioDescription d;
    if (t.m_codec == makeFourcc("lpcm")) {
        d.m_version = 2;
        d.m_channels = 3;
        d.m_sampleSize = 16;
        d.m_compressionId = 65534;
        d.m_sampleRate = 1.0;
        d.m_structSize = 72;
        // The 16-bit rate field cannot hold rates above 65535 Hz (the reason
        // for a version-2 description); the media timescale is the rate.
        d.m_v2SampleRate = double(t.m_mediaTimescale ? t.m_mediaTimescale : t.m_audioSampleRate);
        d.m_v2Channels = t.m_audioChannels;
        d.m_v2Reserved = 0x7F000000;
        d.m_bitsPerChannel = t.m_audioSampleSize;
        d.m_formatFlags = t.m_lpcmFlags ? t.m_lpcmFlags
                                        : (t.m_endianness == 1 ? kLpcmFlagsBigEndian : kLpcmFlagsLittleEndian);
        d.m_v2BytesPerPacket = uint32_t(t.m_audioSampleSize / 8) * t.m_audioChannels;
        d.m_framesPerPacket = 1;
        rwAudioDescription(f, &d);
        return;
    }
    d.m_channels = t.m_audioChannels;
    // The version-0 rate field is 16.16 fixed point; players take higher
    // rates from the codec configuration, so such a rate is written as 0.
    d.m_sampleRate = t.m_audioSampleRate <= 65535 ? double(t.m_audioSampleRate) : 0.0;
    if (t.m_endianness == 0) {
        d.m_sampleSize = t.m_audioSampleSize;
        if (t.m_codec == makeFourcc(".mp3") && t.m_sampleDuration > 0) {
            // A version-0 description leaves readers to take the fixed-size
            // samples for PCM frames (GStreamer then cuts the chunks into
            // pieces no MPEG parser can read); version 1 says a packet is one
            // compressed frame of this many samples, of variable size.
            d.m_version = 1;
            d.m_sampleSize = 16;
            d.m_compressionId = 65534;
            d.m_samplesPerPacket = t.m_sampleDuration;
            d.m_bytesPerSample = 2;
        }
        rwAudioDescription(f, &d);
        writeEsds(f, t);
        if (t.m_extraAtom.m_size >= 8) {
            const uint32_t size = t.m_extraAtom.m_size;
            uint32_t declared = size;
            Fourcc type;
            std::memcpy(&type, t.m_extraAtom.m_data + 4, 4);
            rw32be(f, &declared, "atom.size", kTraceAtoms);
            rwfourcc(f, &type, "atom.fourchar", kTraceAtoms);
            rw(f, const_cast<uint8_t*>(t.m_extraAtom.m_data + 8), size - 8, "atom.data", kTraceTables);
        }
        return;
    }
    d.m_version = 1;
    d.m_sampleSize = 16;
    d.m_samplesPerPacket = 1;
    d.m_bytesPerPacket = t.m_audioSampleSize / 8u;
    d.m_bytesPerFrame = uint32_t(t.m_audioSampleSize / 8) * t.m_audioChannels;
    d.m_bytesPerSample = t.m_audioSampleSize == 8 ? 1 : 2;
    rwAudioDescription(f, &d);
    const uint64_t wave = beginAtom(f, "wave");
    const uint64_t frma = beginAtom(f, "frma");
    fourcc(f, t.m_codec, "atom.fourchar");
    endAtom(f, frma, "frma");
    const uint64_t enda = beginAtom(f, "enda");
    u16(f, t.m_endianness, "enda.endian");
    endAtom(f, enda, "enda");
    u32(f, 8, "atom.size");
    u32(f, 0, "atom.fourchar");
    endAtom(f, wave, "wave");
}

void writeStsd(MovieFile* f, const MovieTrack& t) {
    const uint64_t a = beginAtom(f, "stsd");
    fullHeader(f, "stsd", 0, 0);
    u32(f, 1, "stsd.numentries");
    const uint64_t entry = f->m_position;
    u32(f, 0, "stsd.entrysize");
    fourcc(f, t.m_codec, "stsd.dataform");
    zeros(f, 6, "stsd.res");
    u16(f, 1, "stsd.dataref");
    if (isVideo(t) && t.m_descriptionBody.m_size > 0) {
        rw(f, const_cast<uint8_t*>(t.m_descriptionBody.m_data), t.m_descriptionBody.m_size, "stsd.body",
           kTraceAtoms);
    } else if (isVideo(t)) {
        writeVideoDescription(f, t);
        writeEsds(f, t);
    } else if (isSound(t)) {
        writeAudioDescription(f, t);
    } else if (t.m_descriptionBody.m_size > 0) {
        rw(f, const_cast<uint8_t*>(t.m_descriptionBody.m_data), t.m_descriptionBody.m_size, "stsd.body",
           kTraceAtoms);
    }
    patchSize(f, entry, false, "stsd.entrysize");
    endAtom(f, a, "stsd");
}

void writeSgpd(MovieFile* f, const char* grouping, uint32_t length) {
    // The default length exists in version 1 only: a version 0 box with it
    // reads as a huge entry count.
    const uint64_t a = beginAtom(f, "sgpd");
    fullHeader(f, "sgpd", 1, 0);
    fourcc(f, fourccFromText(grouping), "sgpd.groupingtype");
    u32(f, length, "sgpd.defaultlen");
    u32(f, 1, "sgpd.entrycount");
    zeros(f, length, "sgpd.payload");
    endAtom(f, a, "sgpd");
}

// Table atoms: a full header, then the track's table.
template <typename Body>
void writeTable(MovieFile* f, const char* type, Body body) {
    const uint64_t a = beginAtom(f, type);
    fullHeader(f, type, 0, 0);
    body();
    endAtom(f, a, type);
}

void writeStbl(MovieFile* f, MovieTrack& t) {
    const uint64_t a = beginAtom(f, "stbl");
    writeStsd(f, t);
    writeTable(f, "stts", [&] { rwStts(f, &t, 0); });
    // Without the table every sample is a sync sample, which is right for
    // intra-only pictures and for a track whose pictures all are; and
    // without one listed sample players would not seek at all.
    if (t.m_syncKnown && !t.m_syncSamples.empty() && t.m_syncSamples.size() < t.m_sampleCount)
        writeTable(f, "stss", [&] { rwStss(f, &t, 0); });
    if (isVideo(t)) {
        if (f->m_layoutMode == 1) {
            writeSgpd(f, "tscl", 20);
            writeSgpd(f, "sync", 1);
        }
        // Offsets that are all zero say nothing a player would not assume
        // without the table, and -noctts asks for no table at all.
        const bool anyOffset = std::any_of(t.m_compositionOffsets.begin(), t.m_compositionOffsets.end(),
                                           [](const auto& e) { return e.m_offset != 0; });
        if (anyOffset)
            writeTable(f, "ctts", [&] { rwCtts(f, &t, 0, false); });
    }
    writeTable(f, "stsc", [&] { rwStsc(f, &t, 0); });
    writeTable(f, "stsz", [&] { rwStsz(f, &t, 0); });
    writeTable(f, "co64", [&] { rwChunkOffsets(f, &t, 0, true); });
    endAtom(f, a, "stbl");
}

void writeTrak(MovieFile* f, MovieTrack& t) {
    const uint64_t trak = beginAtom(f, "trak");
    writeTkhd(f, t);
    if (f->m_layoutMode == 1 && isVideo(t))
        writeTapt(f, t);
    const MovieTrack* timecode = nullptr;
    for (int i = 0; i < f->m_trackCount; ++i)
        if (t.m_timecodeTrackId != 0 && f->m_tracks[i].m_trackId == t.m_timecodeTrackId)
            timecode = &f->m_tracks[i];
    if (timecode && timecode->m_sampleCount > 0) {
        const uint64_t tref = beginAtom(f, "tref");
        const uint64_t tmcd = beginAtom(f, "tmcd");
        u32(f, t.m_timecodeTrackId, "tref.trackid");
        endAtom(f, tmcd, "tmcd");
        endAtom(f, tref, "tref");
    }
    if (!t.m_editList.empty()) {
        const uint64_t edts = beginAtom(f, "edts");
        writeTable(f, "elst", [&] { rwElst(f, &t, 0); });
        endAtom(f, edts, "edts");
    }
    const uint64_t mdia = beginAtom(f, "mdia");
    {
        const uint64_t mdhd = beginAtom(f, "mdhd");
        fullHeader(f, "mdhd", 0, 0);
        u32(f, 0, "mdhd.creattime");
        u32(f, 0, "mdhd.modtime");
        u32(f, t.m_mediaTimescale, "mdhd.timescale");
        u32(f, t.m_mediaDuration, "mdhd.duration");
        u16(f, kLanguageUndetermined, "mdhd.language");
        u16(f, 0, "mdhd.quality");
        endAtom(f, mdhd, "mdhd");
    }
    writeHdlr(f, "mhlr", t.m_handlerType);
    const uint64_t minf = beginAtom(f, "minf");
    if (isSound(t)) {
        const uint64_t smhd = beginAtom(f, "smhd");
        fullHeader(f, "smhd", 0, 0);
        u16(f, 0, "smhd.balance");
        u16(f, 0, "smhd.res");
        endAtom(f, smhd, "smhd");
    } else if (isVideo(t)) {
        const uint64_t vmhd = beginAtom(f, "vmhd");
        fullHeader(f, "vmhd", 0, 0x000001);
        u16(f, 64, "vmhd.graphmode");
        for (int i = 0; i < 3; ++i)
            u16(f, 32768, "vmhd.opcolor");
        endAtom(f, vmhd, "vmhd");
    } else if (t.m_handlerType == makeFourcc("meta")) {
        // Timed metadata has a null media header.
        const uint64_t nmhd = beginAtom(f, "nmhd");
        fullHeader(f, "nmhd", 0, 0);
        endAtom(f, nmhd, "nmhd");
    }
    writeHdlr(f, "dhlr", makeFourcc("alis"));
    const uint64_t dinf = beginAtom(f, "dinf");
    const uint64_t dref = beginAtom(f, "dref");
    fullHeader(f, "dref", 0, 0);
    u32(f, 1, "dref.entries");
    u32(f, 12, "dref.typesize");
    fourcc(f, makeFourcc("alis"), "dref.type");
    fullHeader(f, "dref", 0, 0x000001);
    endAtom(f, dref, "dref");
    endAtom(f, dinf, "dinf");
    writeStbl(f, t);
    endAtom(f, minf, "minf");
    endAtom(f, mdia, "mdia");
    endAtom(f, trak, "trak");
}

// The earliest presentation time of the track's samples in media units:
// with B-frames every composition offset is positive (the first picture is
// shown one or two frame times after its decode time).
int64_t earliestPresentation(const MovieTrack& t) {
    if (t.m_compositionOffsets.empty())
        return 0;
    int64_t best = INT64_MAX;
    int64_t dts = 0;
    size_t ctts = 0;
    uint32_t cttsLeft = t.m_compositionOffsets[0].m_sampleCount;
    for (const TimeToSampleEntry& e : t.m_timeToSample) {
        for (uint32_t n = 0; n < e.m_sampleCount; ++n) {
            while (cttsLeft == 0 && ++ctts < t.m_compositionOffsets.size())
                cttsLeft = t.m_compositionOffsets[ctts].m_sampleCount;
            if (ctts >= t.m_compositionOffsets.size())
                return best == INT64_MAX ? 0 : best;
            --cttsLeft;
            best = std::min(best, dts + int64_t(int32_t(t.m_compositionOffsets[ctts].m_offset)));
            dts += e.m_duration;
        }
    }
    return best == INT64_MAX || best < 0 ? 0 : best;
}

void appendEditIfNone(MovieFile* f, MovieTrack* t) {
    // A list the caller filled (for example copied from a source movie) is
    // kept; behind empty edits alone (a delayed start) the media is shown.
    for (const EditListEntry& e : t->m_editList)
        if (e.m_mediaTime != -1)
            return;
    EditListEntry e;
    e.m_trackDuration = f->m_movieDuration;
    // Start the presentation at the first picture shown. An edit from media
    // time 0 would put an empty stretch of one or two frames in front when
    // composition offsets delay every picture, and players then cut the last
    // picture off at the end of the edit.
    const int64_t start = earliestPresentation(*t);
    e.m_mediaTime = start > INT32_MAX ? 0 : int32_t(start);
    e.m_mediaRate = 1.0;
    t->m_editList.push_back(e);
}

}  // namespace

namespace qt {

bool completeMovie(MovieFile* f) {
    for (int i = 0; i < f->m_trackCount; ++i) {
        MovieTrack& t = f->m_tracks[i];
        closeChunk(&t);
        if (t.m_timeToSample.empty() && t.m_sampleCount > 0) {
            TimeToSampleEntry e;
            e.m_sampleCount = t.m_sampleCount;
            e.m_duration = t.m_sampleDuration;
            t.m_timeToSample.push_back(e);
        }
    }
    // Movie time was summed per sample with each sample's share truncated, so
    // a long track comes out short (33 ms per 1/30 s frame loses 0.1 s a
    // minute) and players cut the last frames off at the end of the edit.
    // Round the whole track up instead.
    for (int i = 0; i < f->m_trackCount; ++i) {
        MovieTrack& t = f->m_tracks[i];
        if (!t.m_mediaTimescale || !t.m_mediaDuration)
            continue;
        const uint64_t exact = (uint64_t(t.m_mediaDuration) * f->m_movieTimescale + t.m_mediaTimescale - 1) /
                               t.m_mediaTimescale;
        if (exact > t.m_trackDuration && exact <= 0xFFFFFFFFu) {
            if (&t == f->m_videoTrack && f->m_movieDuration == t.m_trackDuration)
                f->m_movieDuration = uint32_t(exact);
            t.m_trackDuration = uint32_t(exact);
        }
    }
    if (f->m_videoTrack)
        appendEditIfNone(f, f->m_videoTrack);
    if (f->m_layoutMode == 1)
        for (int i = 0; i < f->m_audioTrackCount; ++i)
            appendEditIfNone(f, f->m_audioTracks[i]);
    // A caller may ask for an edit (say, to skip an audio encoder's priming
    // samples) before the length is known: a zero duration means "the whole
    // movie", or all of the track's own media behind the skipped part where
    // whole samples of it would start after the movie's end (an audio
    // encoder's last frames behind the last picture, which players would
    // drop). A shorter excess is the encoder's padding of its last frame.
    const uint32_t movieDuration = f->m_movieDuration;
    for (int i = 0; i < f->m_trackCount; ++i) {
        const MovieTrack& t = f->m_tracks[i];
        if (t.m_sampleCount == 0)
            continue;  // left out below
        // Sound without edits plays all of its media: the movie lasts at
        // least that long, or players stop it at the video's end.
        // (Metadata keeps the length the video gives.)
        if (t.m_editList.empty() && isSound(t))
            f->m_movieDuration = std::max(f->m_movieDuration, t.m_trackDuration);
        // The movie lasts as long as its longest track with the empty edits
        // that delay it.
        uint64_t presented = 0;
        for (EditListEntry& e : f->m_tracks[i].m_editList) {
            if (e.m_trackDuration != 0) {
                presented += e.m_trackDuration;
                f->m_movieDuration = uint32_t(std::min<uint64_t>(std::max<uint64_t>(f->m_movieDuration, presented),
                                                                 0xFFFFFFFFu));
                continue;
            }
            uint64_t duration = movieDuration ? movieDuration : t.m_trackDuration;
            if (t.m_mediaTimescale && e.m_mediaTime >= 0) {
                const uint64_t skipped = uint64_t(e.m_mediaTime) * f->m_movieTimescale / t.m_mediaTimescale;
                const uint64_t sample = uint64_t(t.m_sampleDuration) * f->m_movieTimescale / t.m_mediaTimescale;
                const uint64_t own = t.m_trackDuration > skipped ? t.m_trackDuration - skipped : 0;
                if (own >= duration + std::max<uint64_t>(sample, 1))
                    duration = own;
                // Sound that ends before the movie (a recording cut between
                // its video and its audio) is shown for its own length: an
                // edit beyond it makes players stretch its last frame.
                else if (isSound(t) && own > 0 && own < duration)
                    duration = own;
            }
            e.m_trackDuration = uint32_t(std::min<uint64_t>(duration, 0xFFFFFFFFu));
            presented += e.m_trackDuration;
            f->m_movieDuration =
                uint32_t(std::min<uint64_t>(std::max<uint64_t>(f->m_movieDuration, presented), 0xFFFFFFFFu));
        }
    }
    patchSize(f, f->m_mdatHeaderOffset, true, "mdat.exsize");

    f->m_depth = -1;
    const uint64_t moov = beginAtom(f, "moov");
    writeMvhd(f);
    // A track the recording kept nothing of (its samples all lay behind
    // the cut) is left out: players take an empty track for a stream whose
    // format they cannot tell.
    for (int i = 0; i < f->m_trackCount; ++i)
        if (f->m_tracks[i].m_sampleCount > 0)
            writeTrak(f, f->m_tracks[i]);
    endAtom(f, moov, "moov");
    bool ok = f->m_file.tell() >= 0 && uint64_t(f->m_file.tell()) == f->m_position;
    // Payload copied ahead of the writer may reach past the moov's end;
    // nothing may remain behind the movie.
    const int64_t size = f->m_file.size();
    if (ok && size > int64_t(f->m_position))
        ok = f->m_file.truncate(int64_t(f->m_position));
    return f->m_file.closeChecked() && ok;
}

}  // namespace qt

MovieFile* QTCreate(const std::string& fileName, const BrandRecord* brand, uint32_t movieTimescale,
                    uint32_t traceMask) {
    MovieFile* f = allocateMovieFile();
    if (!f || !f->m_file.open(fileName, platform::File::Mode::Write)) {
        std::printf("QTCreate: cannot create file %s\n", fileName.c_str());
        freeMovieFile(f);
        return nullptr;
    }
    f->m_fileName = fileName.substr(0, kMaxFileNameBytes);
    f->m_mode = 'w';
    f->m_depth = -1;
    f->m_traceMask = traceMask;
    f->m_movieTimescale = movieTimescale;
    if (brand && brand->m_majorBrand != 0) {
        f->m_brand = *brand;
        int32_t count = brand->m_compatibleCount;
        count = count < 0 ? 0 : count > kMaxCompatibleBrands ? kMaxCompatibleBrands : count;
        f->m_brand.m_compatibleCount = count;
        const uint64_t a = beginAtom(f, "ftyp");
        fourcc(f, f->m_brand.m_majorBrand, "ftyp.majorbrand");
        u32(f, f->m_brand.m_minorVersion, "ftyp.minorver");
        for (int i = 0; i < count; ++i)
            fourcc(f, f->m_brand.m_compatibleBrands[i], "ftyp.compbrands");
        endAtom(f, a, "ftyp");
    }
    f->m_mdatHeaderOffset = f->m_position;
    u32(f, 1, "mdat.size");
    fourcc(f, makeFourcc("mdat"), "mdat");
    traceFourcc(f, makeFourcc("mdat"));
    uint64_t size = 0;
    rw64be(f, &size, "atom.exsize", kTraceAtoms);
    f->m_mdatOffset = f->m_position;
    return f;
}

MovieTrack* QTAddVideoTrack(MovieFile* f, const std::string& codec, uint32_t mediaTimescale, double fps,
                            uint32_t width, uint32_t height) {
    if (!f) {
        std::printf("QTAddVideoTrack error: file undefined\n");
        return nullptr;
    }
    MovieTrack* t = addTrack(f);
    if (!t)
        return nullptr;
    t->m_handlerType = makeFourcc("vide");
    t->m_codec = fourccFromText(codec);
    t->m_mediaTimescale = mediaTimescale;
    const double duration = fps > 0 ? double(mediaTimescale) / fps : 0;
    t->m_sampleDuration = duration >= 0 && duration < 4294967296.0 ? uint32_t(duration) : 0;
    t->m_width = width;
    t->m_height = height;
    if (!f->m_videoTrack)
        f->m_videoTrack = t;
    return t;
}

MovieTrack* QTAddAudioTrack(MovieFile* f, const std::string& codec, uint32_t sampleDuration, uint32_t sampleRate,
                            uint32_t sampleSize, uint32_t channels, uint32_t fixedSampleSize) {
    if (!f) {
        std::printf("QTAddAudioTrack error - invalid file\n");
        return nullptr;
    }
    MovieTrack* t = addTrack(f);
    if (!t)
        return nullptr;
    t->m_handlerType = makeFourcc("soun");
    t->m_codec = fourccFromText(codec);
    t->m_sampleDuration = sampleDuration;
    t->m_mediaTimescale = sampleRate;
    t->m_audioSampleRate = sampleRate;
    t->m_audioSampleSize = uint16_t(sampleSize);
    t->m_audioChannels = uint16_t(channels);
    t->m_fixedSampleSize = fixedSampleSize;
    f->m_audioTracks[f->m_audioTrackCount++] = t;
    return t;
}

MovieTrack* QTGetMetaTrack(MovieFile* f, int index) {
    if (!f || index < 0 || index >= kMaxTracks)
        return nullptr;
    if (f->m_metaTracks[index])
        return f->m_metaTracks[index];
    MovieTrack* t = addTrack(f);
    if (!t)
        return nullptr;
    t->m_handlerType = makeFourcc("meta");
    f->m_metaTracks[index] = t;
    return t;
}

void QTCopyCodecConfig(MovieTrack* t, const uint8_t* esds, uint32_t esdsLength, const H264Config* avc,
                       const HEVCConfig* hevc, const ColourInfo* colour) {
    if (!t)
        return;
    if (avc)
        t->m_avc = *avc;
    if (hevc)
        t->m_hevc = *hevc;
    if (colour)
        t->m_colour = *colour;
    if (esds) {
        const uint32_t n = esdsLength > uint32_t(kMaxEsdsCopyBytes) ? uint32_t(kMaxEsdsCopyBytes) : esdsLength;
        std::memcpy(t->m_esds.m_raw, esds, n);
        t->m_esds.m_rawLength = n;
    }
}

namespace {

// The checks every sample passes before it enters a track.
bool acceptsSample(const MovieFile* f, const MovieTrack* t, uint32_t size) {
    if (!f) {
        std::printf("QTAddSamples error - memory full\n");
        return false;
    }
    if (!t) {
        std::printf("QTAddSamples error - invalid trk\n");
        return false;
    }
    if (size == 0) {
        std::printf("QTAddSamples error: invalid size (0)\n");
        return false;
    }
    if (f->m_mode != 'w') {
        std::printf("QTAddSample error: invalid operation\n");
        return false;
    }
    return true;
}

// Enters a sample whose payload starts at `position` in the track's tables.
void recordSample(MovieFile* f, MovieTrack* t, uint64_t position, uint32_t size, uint32_t compositionOffset) {
    // One composition run entry per call, whatever the number of samples in it.
    if (!t->m_compositionOffsets.empty() && t->m_compositionOffsets.back().m_offset == compositionOffset) {
        ++t->m_compositionOffsets.back().m_sampleCount;
    } else {
        CompositionOffsetEntry e;
        e.m_sampleCount = 1;
        e.m_offset = compositionOffset;
        t->m_compositionOffsets.push_back(e);
    }
    // A payload continues the track's chunk only when nothing else was
    // written since the chunk's last byte.
    if (t->m_chunkOffsets.empty() || t->m_chunkOffsets.back() + t->m_chunkBytes != position) {
        closeChunk(t);
        t->m_chunkOffsets.push_back(position);
    }
    uint32_t count = 1;
    if (t->m_fixedSampleSize)
        count = size / t->m_fixedSampleSize;
    else
        t->m_sampleSizes.push_back(size);
    t->m_chunkSamples += count;
    t->m_chunkBytes += size;
    t->m_sampleCount += count;
    const uint64_t mediaTime = uint64_t(count) * t->m_sampleDuration;
    t->m_mediaDuration += uint32_t(mediaTime);
    // A track without a media timescale (the metadata track) adds no movie time.
    uint32_t movieTime = 0;
    if (t->m_mediaTimescale) {
        const double scaled = double(f->m_movieTimescale) / double(t->m_mediaTimescale) * double(mediaTime);
        movieTime = scaled < 4294967296.0 ? uint32_t(scaled) : 0xFFFFFFFFu;
    }
    t->m_trackDuration += movieTime;
    // The main pictures time the movie; a second video track (a motion
    // photo's stills) lies beside them.
    if (t == f->m_videoTrack)
        f->m_movieDuration += movieTime;
}

}  // namespace

bool QTAddSamples(MovieFile* f, MovieTrack* t, const uint8_t* data, uint32_t size, uint32_t compositionOffset) {
    if (f && t && !data) {
        std::printf("QTAddSamples error: invalid buffer\n");
        return false;
    }
    if (!acceptsSample(f, t, size))
        return false;
    const uint64_t position = f->m_position;
    const bool ok = rw(f, const_cast<uint8_t*>(data), size, "", kTracePayload);
    recordSample(f, t, position, size, compositionOffset);
    return ok;
}

bool QTAddSampleAt(MovieFile* f, MovieTrack* t, uint64_t position, uint32_t size, uint32_t compositionOffset) {
    if (!acceptsSample(f, t, size))
        return false;
    recordSample(f, t, position, size, compositionOffset);
    return true;
}

bool QTWritePayload(MovieFile* f, const uint8_t* data, uint64_t size) {
    if (!f || f->m_mode != 'w' || (!data && size > 0))
        return false;
    // rw moves at most 4 GiB at a time.
    constexpr uint64_t kPiece = 1u << 30;
    bool ok = true;
    for (uint64_t done = 0; done < size && ok;) {
        const uint32_t n = uint32_t(std::min(kPiece, size - done));
        ok = rw(f, const_cast<uint8_t*>(data + done), n, "", kTracePayload);
        done += n;
    }
    return ok;
}

bool QTSkipPayload(MovieFile* f, uint64_t size) {
    if (!f || f->m_mode != 'w' || !f->m_file.flush())
        return false;
    f->m_position += size;
    return f->m_file.seek(int64_t(f->m_position));
}

bool QTCopyPayload(MovieFile* f, platform::File& source, int64_t offset, uint64_t size) {
    if (!f || f->m_mode != 'w' || !f->m_file.flush())
        return false;
    const uint64_t copied = platform::copyRange(source, offset, f->m_file, int64_t(f->m_position), size);
    f->m_position += copied;
    // Later writes go through stdio again, behind the copied bytes.
    return f->m_file.seek(int64_t(f->m_position)) && copied == size;
}

void QTMarkLastSampleSync(MovieTrack* t, bool sync) {
    if (!t || t->m_sampleCount == 0)
        return;
    t->m_syncKnown = true;
    if (sync && (t->m_syncSamples.empty() || t->m_syncSamples.back() < t->m_sampleCount))
        t->m_syncSamples.push_back(t->m_sampleCount);
}
