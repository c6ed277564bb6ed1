#include "qt/atom_readers.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "log/logger.h"
#include "qt/movie_reader.h"

namespace qt {

namespace {

// Payloads larger than these cannot be a real decoder configuration; they are
// skipped whole rather than parsed (the slots could not hold them anyway).
constexpr uint64_t kMaxAvcCPayload = 393352;
constexpr uint64_t kMaxHvcCPayload = 50320;
// A colr needs its 8-byte header, type and three indices.
constexpr uint64_t kMinColrSize = 18;
// xml payload read for tracing, and user data shown per record.
constexpr uint32_t kMaxXmlBytes = 8192;
constexpr uint32_t kMaxUserDataShown = 200000;

bool fits(const MovieFile* f, uint64_t end, uint64_t width) { return bytesLeft(f, end) >= width; }

// Reads the version and flags of a full atom, labelled "<type>.version" and
// "<type>.flags". False when they are not there.
bool readFullHeader(MovieFile* f, const AtomHeader& atom, uint8_t* version) {
    if (!fits(f, atom.m_end, 4))
        return false;
    char versionLabel[16], flagsLabel[16];
    const char* type = fourccText(atom.m_type);
    std::snprintf(versionLabel, sizeof versionLabel, "%s.version", type);
    type = fourccText(atom.m_type);
    std::snprintf(flagsLabel, sizeof flagsLabel, "%s.flags", type);
    uint32_t flags = 0;
    return rwFullHeader(f, version, &flags, versionLabel, flagsLabel);
}

// Reads a u32 at a fixed distance from the payload start, when the atom has it.
bool readU32At(MovieFile* f, const AtomHeader& atom, uint64_t offset, uint32_t* value, const char* label) {
    const uint64_t at = atom.payload() + offset;
    if (at + 4 > atom.m_end || !seekTo(f, at))
        return false;
    return rw32be(f, value, label, kTraceAtoms);
}

bool readU64At(MovieFile* f, const AtomHeader& atom, uint64_t offset, uint64_t* value, const char* label) {
    const uint64_t at = atom.payload() + offset;
    if (at + 8 > atom.m_end || !seekTo(f, at))
        return false;
    return rw64be(f, value, label, kTraceAtoms);
}

uint32_t clamp32(uint64_t v) { return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(v); }

// Timescale and duration of mvhd and mdhd (same positions in both).
bool readTimescaleDuration(MovieFile* f, const AtomHeader& atom, uint32_t* timescale, uint32_t* duration,
                           const char* timescaleLabel, const char* durationLabel) {
    uint8_t version = 0;
    if (!readFullHeader(f, atom, &version))
        return false;
    if (version == 0) {
        return readU32At(f, atom, 12, timescale, timescaleLabel) &&
               readU32At(f, atom, 16, duration, durationLabel);
    }
    if (version == 1) {
        uint64_t d = 0;
        if (!readU32At(f, atom, 20, timescale, timescaleLabel) || !readU64At(f, atom, 24, &d, durationLabel))
            return false;
        *duration = clamp32(d);
        return true;
    }
    return false;
}

void readXml(MovieFile* f, const AtomHeader& atom) {
    static uint8_t s_xml[kMaxXmlBytes];
    seekTo(f, atom.m_start);
    uint32_t size = 0;
    rw32be(f, &size, "xml.size", kTraceAtoms);
    seekTo(f, atom.payload());
    const uint32_t n = uint32_t(std::min<uint64_t>(bytesLeft(f, atom.m_end), kMaxXmlBytes));
    rw(f, s_xml, n, "xml.data", kTraceTables);
}

void readFtyp(MovieFile* f, const AtomHeader& atom) {
    BrandRecord& b = f->m_brand;
    b = BrandRecord();
    if (!fits(f, atom.m_end, 8))
        return;
    rwfourcc(f, &b.m_majorBrand, "ftyp.majorbrand", kTraceAtoms);
    rw32be(f, &b.m_minorVersion, "ftyp.minorver", kTraceAtoms);
    while (b.m_compatibleCount < kMaxCompatibleBrands && fits(f, atom.m_end, 4)) {
        if (!rwfourcc(f, &b.m_compatibleBrands[b.m_compatibleCount], "ftyp.compbrands", kTraceAtoms))
            break;
        ++b.m_compatibleCount;
    }
}

void readMvhd(MovieFile* f, const AtomHeader& atom) {
    uint32_t timescale = 0, duration = 0;
    if (readTimescaleDuration(f, atom, &timescale, &duration, "mvhd.timescale", "mvhd.duration")) {
        f->m_movieTimescale = timescale;
        f->m_movieDuration = duration;
    }
}

void readTkhd(MovieFile* f, const AtomHeader& atom) {
    MovieTrack* t = addTrack(f);
    if (!t)
        return;
    uint8_t version = 0;
    if (!readFullHeader(f, atom, &version) || version > 1)
        return;
    const uint64_t base = version == 0 ? 12 : 20;  // track id, from the payload start
    readU32At(f, atom, base, &t->m_trackId, "trk.trackid");
    if (version == 0) {
        readU32At(f, atom, 20, &t->m_trackDuration, "trk.duration");
    } else {
        uint64_t d = 0;
        if (readU64At(f, atom, 28, &d, "trk.duration"))
            t->m_trackDuration = clamp32(d);
    }
    const uint64_t matrixAt = atom.payload() + (version == 0 ? 40 : 52);
    if (matrixAt + 36 + 8 <= atom.m_end && seekTo(f, matrixAt)) {
        rw(f, t->m_matrix, 36, "tkhd.matrix", kTraceAtoms);
        double w = 0, h = 0;
        rwfix32(f, &w, "trk.width", kTraceAtoms);
        rwfix32(f, &h, "trk.height", kTraceAtoms);
        t->m_width = uint32_t(w);
        t->m_height = uint32_t(h);
    }
}

void readMdhd(MovieFile* f, const AtomHeader& atom) {
    MovieTrack* t = f->m_currentTrack;
    if (!t)
        return;
    uint32_t timescale = 0, duration = 0;
    if (readTimescaleDuration(f, atom, &timescale, &duration, "mdhd.timescale", "mdhd.duration")) {
        t->m_mediaTimescale = timescale;
        t->m_mediaDuration = duration;
    }
}

void readHdlr(MovieFile* f, const AtomHeader& atom) {
    uint8_t version = 0;
    if (!readFullHeader(f, atom, &version) || version != 0)
        return;
    Fourcc subtype = 0, manufacturer = 0;
    if (atom.payload() + 16 > atom.m_end || !seekTo(f, atom.payload() + 8))
        return;
    if (!rwfourcc(f, &subtype, "hdlr.subtype", kTraceAtoms))
        return;
    rwfourcc(f, &manufacturer, "hdlr.manufac", kTraceAtoms);
    MovieTrack* t = f->m_currentTrack;
    if (!t || t->m_handlerType != 0)
        return;
    t->m_handlerType = subtype;
    if (subtype == makeFourcc("vide") && !f->m_videoTrack)
        f->m_videoTrack = t;
    if (subtype == makeFourcc("soun") && f->m_audioTrackCount < kMaxTracks)
        f->m_audioTracks[f->m_audioTrackCount++] = t;
}

void readDinf(MovieFile* f, const AtomHeader& atom) {
    uint8_t version = 0;
    if (fits(f, atom.m_end, 1))
        rw8(f, &version, "dinf.version", kTraceAtoms);
}

// The rest of an atom walked as a sequence of atoms (sample description
// children: avcC, hvcC, esds, colr, wave, ...).
void walkRest(MovieFile* f, uint64_t end) {
    if (f->m_position < end)
        parseContainer(f, end - f->m_position, false);
}

void readStsd(MovieFile* f, const AtomHeader& atom) {
    MovieTrack* t = f->m_currentTrack;
    if (!t)
        return;
    uint8_t version = 0;
    if (!readFullHeader(f, atom, &version) || !fits(f, atom.m_end, 16))
        return;
    uint32_t entries = 0, entrySize = 0;
    uint8_t reserved[6];
    uint16_t dataRef = 0;
    rw32be(f, &entries, "stsd.entries", kTraceAtoms);
    rw32be(f, &entrySize, "stsd.entrysize", kTraceAtoms);
    rwfourcc(f, &t->m_codec, "stsd.dataform", kTraceAtoms);
    traceFourcc(f, t->m_codec);
    if (!fits(f, atom.m_end, 8))
        return;
    rw(f, reserved, 6, "stsd.res", kTraceAtoms);
    rw16be(f, &dataRef, "stsd.dataref", kTraceAtoms);
    if (t->m_handlerType == makeFourcc("vide")) {
        VideoDescription d;
        const uint64_t body = f->m_position;
        if (!fits(f, atom.m_end, 70) || !rwVideoDescription(f, &d))
            return;
        if (d.m_width)
            t->m_width = d.m_width;
        if (d.m_height)
            t->m_height = d.m_height;
        walkRest(f, atom.m_end);
        // The description as the recorder wrote it (configuration boxes of
        // any size, colour, HDR and layer boxes), for a writer that must
        // describe the same stream.
        const uint64_t entryEnd = std::min<uint64_t>(atom.m_end, body - 16 + entrySize);
        if (entrySize >= 16 && entryEnd > body && entryEnd - body <= uint64_t(kMaxExtraAtomBytes)) {
            const uint64_t after = f->m_position;
            seekTo(f, body);
            if (rw(f, t->m_descriptionBody.m_data, uint32_t(entryEnd - body), "stsd.body", kTraceAtoms))
                t->m_descriptionBody.m_size = uint32_t(entryEnd - body);
            seekTo(f, after);
        }
    } else if (t->m_handlerType == makeFourcc("soun")) {
        AudioDescription d;
        if (!fits(f, atom.m_end, 20))
            return;
        const uint64_t at = f->m_position;
        uint16_t peekVersion = 0;
        rw16be(f, &peekVersion, nullptr, 0);
        seekTo(f, at);
        const uint64_t need = peekVersion == 1 ? 36 : peekVersion == 2 ? 56 : 20;
        if (!fits(f, atom.m_end, need) || !rwAudioDescription(f, &d))
            return;
        t->m_audioChannels = d.m_channels;
        t->m_audioSampleSize = d.m_sampleSize;
        t->m_audioSampleRate = uint32_t(d.m_sampleRate);
        if (d.m_version == 1) {
            t->m_audioSampleSize = uint16_t(d.m_bytesPerPacket * 8);
        } else if (d.m_version == 2) {
            t->m_audioChannels = uint16_t(d.m_v2Channels);
            const double rate = d.m_v2SampleRate;
            t->m_audioSampleRate = rate > 0 && rate < 4294967296.0 ? uint32_t(rate) : 0;
            t->m_audioSampleSize = uint16_t(d.m_bitsPerChannel);
            if (t->m_codec == makeFourcc("lpcm")) {
                t->m_lpcmFlags = d.m_formatFlags;
                t->m_endianness = (d.m_formatFlags & 2) ? 1 : 2;
            }
        }
        walkRest(f, atom.m_end);
    } else {
        // The first entry's own end bounds what is kept of it.
        const uint64_t entryEnd = std::min<uint64_t>(atom.m_end, f->m_position - 16 + entrySize);
        if (entrySize < 16 || entryEnd <= f->m_position)
            return;
        const uint64_t n = std::min<uint64_t>(entryEnd - f->m_position, uint64_t(kMaxExtraAtomBytes));
        if (rw(f, t->m_descriptionBody.m_data, uint32_t(n), "stsd.body", kTraceAtoms))
            t->m_descriptionBody.m_size = uint32_t(n);
    }
}

void readStco(MovieFile* f, const AtomHeader& atom) {
    uint8_t version = 0;
    if (f->m_currentTrack && readFullHeader(f, atom, &version) && version == 0)
        rwChunkOffsets(f, f->m_currentTrack, atom.m_end, false);
}

void readCo64(MovieFile* f, const AtomHeader& atom) {
    uint8_t version = 0;
    if (f->m_currentTrack && readFullHeader(f, atom, &version) && version == 0)
        rwChunkOffsets(f, f->m_currentTrack, atom.m_end, true);
}

void readStsz(MovieFile* f, const AtomHeader& atom) {
    uint8_t version = 0;
    if (f->m_currentTrack && readFullHeader(f, atom, &version) && version == 0)
        rwStsz(f, f->m_currentTrack, atom.m_end);
}

void readStsc(MovieFile* f, const AtomHeader& atom) {
    uint8_t version = 0;
    if (f->m_currentTrack && readFullHeader(f, atom, &version) && version == 0)
        rwStsc(f, f->m_currentTrack, atom.m_end);
}

void readStts(MovieFile* f, const AtomHeader& atom) {
    uint8_t version = 0;
    if (f->m_currentTrack && readFullHeader(f, atom, &version) && version == 0)
        rwStts(f, f->m_currentTrack, atom.m_end);
}

void readStss(MovieFile* f, const AtomHeader& atom) {
    uint8_t version = 0;
    if (f->m_currentTrack && readFullHeader(f, atom, &version) && version == 0)
        rwStss(f, f->m_currentTrack, atom.m_end);
}

void readCtts(MovieFile* f, const AtomHeader& atom) {
    uint8_t version = 0;
    if (f->m_currentTrack && readFullHeader(f, atom, &version) && version <= 1)
        rwCtts(f, f->m_currentTrack, atom.m_end, version == 1);
}

void readElst(MovieFile* f, const AtomHeader& atom) {
    uint8_t version = 0;
    if (f->m_currentTrack && readFullHeader(f, atom, &version) && version == 0)
        rwElst(f, f->m_currentTrack, atom.m_end);
}

void readEsds(MovieFile* f, const AtomHeader& atom) {
    MovieTrack* t = f->m_currentTrack;
    uint8_t version = 0;
    if (!t || !fits(f, atom.m_end, 4))
        return;
    uint8_t flags[3];
    rw8(f, &version, "esds.version", kTraceAtoms);
    rw8(f, &flags[0], "esds.res0", kTraceAtoms);
    rw8(f, &flags[1], "esds.res1", kTraceAtoms);
    rw8(f, &flags[2], "esds.res2", kTraceAtoms);
    if (version != 0)
        return;
    const uint64_t length = bytesLeft(f, atom.m_end);
    if (length > uint64_t(kMaxEsdsBytes))
        return;
    ESDescriptor& d = t->m_esds;
    d = ESDescriptor();
    const uint64_t at = f->m_position;
    if (f->m_file.read(d.m_raw, size_t(length)) != length) {
        seekTo(f, at);
        return;
    }
    d.m_rawLength = uint32_t(length);
    seekTo(f, at);
    readEsdsDescriptors(f, &d, atom.m_end);
}

void readAvcC(MovieFile* f, const AtomHeader& atom) {
    if (f->m_currentTrack && bytesLeft(f, atom.m_end) < kMaxAvcCPayload)
        rwAvcC(f, &f->m_currentTrack->m_avc, atom.m_end);
}

void readHvcC(MovieFile* f, const AtomHeader& atom) {
    if (f->m_currentTrack && bytesLeft(f, atom.m_end) < kMaxHvcCPayload)
        rwHvcC(f, &f->m_currentTrack->m_hevc, atom.m_end);
}

void readColr(MovieFile* f, const AtomHeader& atom) {
    if (!f->m_currentTrack || atom.m_end - atom.m_start < kMinColrSize)
        return;
    ColourInfo c;
    rwColr(f, &c, atom.m_end);
    if (c.m_present)
        f->m_currentTrack->m_colour = c;
}

void readPasp(MovieFile* f, const AtomHeader& atom) {
    MovieTrack* t = f->m_currentTrack;
    if (!t || !fits(f, atom.m_end, 8))
        return;
    rw32be(f, &t->m_pixelAspect[0], "pasp.hspace", kTraceAtoms);
    rw32be(f, &t->m_pixelAspect[1], "pasp.vspace", kTraceAtoms);
}

void readClap(MovieFile* f, const AtomHeader& atom) {
    static const char* const kLabels[8] = {"clap.awidth_N",  "clap.awidth_D",  "clap.aheight_N",
                                           "clap.aheight_D", "clap.horizOff_N", "clap.horizOff_D",
                                           "clap.vertOff_N", "clap.vertOff_D"};
    MovieTrack* t = f->m_currentTrack;
    if (!t || !fits(f, atom.m_end, 32))
        return;
    for (int i = 0; i < 8; ++i)
        rw32be(f, &t->m_cleanAperture[i], kLabels[i], kTraceAtoms);
}

void readFrma(MovieFile* f, const AtomHeader& atom) {
    Fourcc format = 0;
    if (fits(f, atom.m_end, 4))
        rwfourcc(f, &format, "frma.dataform", kTraceAtoms);
}

void readEnda(MovieFile* f, const AtomHeader& atom) {
    uint16_t endian = 0;
    if (f->m_currentTrack && fits(f, atom.m_end, 2) && rw16be(f, &endian, "enda.endian", kTraceAtoms))
        f->m_currentTrack->m_endianness = endian;
}

void readUdta(MovieFile* f, const AtomHeader& atom) {
    static uint8_t s_shown[48];
    ++f->m_depth;
    uint64_t record = atom.payload();
    while (record + 8 <= atom.m_end && seekTo(f, record)) {
        uint32_t size = 0;
        Fourcc type = 0;
        if (!rw32be(f, &size, "userdata.size", kTraceAtoms) || size == 0)
            break;
        rwfourcc(f, &type, "userdata.type", kTraceAtoms);
        if (size < 8)
            break;
        // Only the bytes the trace can show are read.
        const uint64_t shown = std::min<uint64_t>({uint64_t(size) - 8, kMaxUserDataShown, sizeof s_shown,
                                                   bytesLeft(f, atom.m_end)});
        if (f->m_traceMask & kTraceAtoms)
            rw(f, s_shown, uint32_t(shown), "userdata", kTraceAtoms);
        record += size;
    }
    --f->m_depth;
}

struct HandlerEntry {
    Fourcc m_type;
    AtomHandler m_handler;
};

// The reader's dispatch table; a linear scan of 25 entries costs nothing next
// to the file reads of each atom.
const HandlerEntry kHandlers[] = {
    {makeFourcc("xml "), readXml}, {makeFourcc("ftyp"), readFtyp}, {makeFourcc("mvhd"), readMvhd},
    {makeFourcc("tkhd"), readTkhd}, {makeFourcc("mdhd"), readMdhd}, {makeFourcc("hdlr"), readHdlr},
    {makeFourcc("dinf"), readDinf}, {makeFourcc("stsd"), readStsd}, {makeFourcc("stco"), readStco},
    {makeFourcc("co64"), readCo64}, {makeFourcc("stsz"), readStsz}, {makeFourcc("stsc"), readStsc},
    {makeFourcc("stts"), readStts}, {makeFourcc("ctts"), readCtts}, {makeFourcc("elst"), readElst},
    {makeFourcc("stss"), readStss},
    {makeFourcc("esds"), readEsds}, {makeFourcc("avcC"), readAvcC}, {makeFourcc("hvcC"), readHvcC},
    {makeFourcc("colr"), readColr}, {makeFourcc("pasp"), readPasp}, {makeFourcc("clap"), readClap},
    {makeFourcc("frma"), readFrma}, {makeFourcc("enda"), readEnda}, {makeFourcc("udta"), readUdta},
};

const Fourcc kContainers[] = {makeFourcc("moov"), makeFourcc("trak"), makeFourcc("mdia"), makeFourcc("minf"),
                              makeFourcc("stbl"), makeFourcc("wave"), makeFourcc("edts"), makeFourcc("tapt")};

}  // namespace

AtomHandler findAtomHandler(Fourcc type) {
    for (const HandlerEntry& e : kHandlers)
        if (e.m_type == type)
            return e.m_handler;
    return nullptr;
}

bool isContainerAtom(Fourcc type) {
    return std::find(std::begin(kContainers), std::end(kContainers), type) != std::end(kContainers);
}

bool readAtomHeader(MovieFile* f, uint64_t start, uint64_t limit, AtomHeader* atom) {
    if (start + 8 > limit || !seekTo(f, start))
        return false;
    uint32_t size32 = 0;
    if (!rw32be(f, &size32, "atom.size", kTraceAtoms) || size32 == 0)
        return false;
    Fourcc type = 0;
    if (!rwfourcc(f, &type, "atom.type", kTraceAtoms))
        return false;
    uint64_t size = size32;
    uint32_t headerSize = 8;
    if (size32 == 1) {
        if (!rw64be(f, &size, "atom.exsize", kTraceAtoms) || size == 0)
            return false;
        headerSize = 16;
    }
    traceFourcc(f, type);
    if (size < headerSize) {
        FLOG(LogLevel::Debug) << "qt atom " << fourccText(type) << " at " << start << ": size " << size
                              << " is smaller than its header";
        return false;
    }
    atom->m_start = start;
    atom->m_size = size;
    atom->m_headerSize = headerSize;
    atom->m_type = type;
    // Never trust the size: the usable part ends with the parent and the file.
    uint64_t end = size > UINT64_MAX - start ? UINT64_MAX : start + size;
    end = std::min(end, limit);
    if (f->m_fileSize)
        end = std::min(end, f->m_fileSize);
    atom->m_end = std::max(end, start + headerSize);
    return true;
}

}  // namespace qt
