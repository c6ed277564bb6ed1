#include "qt/atom_codecs.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "log/logger.h"

namespace qt {

namespace {

bool reading(const MovieFile* f) { return f->m_mode != 'w'; }

// Number of entries of entrySize bytes that a table may really hold: the
// claimed count, cut to what is left of the atom (always when reading).
uint64_t entriesThatFit(const MovieFile* f, uint32_t claimed, uint64_t end, uint32_t entrySize,
                        const char* type) {
    if (!reading(f))
        return claimed;
    const uint64_t room = bytesLeft(f, end) / entrySize;
    if (claimed > room) {
        FLOG(LogLevel::Debug) << "qt " << type << " at " << f->m_position << " claims " << claimed
                              << " entries, room for " << room;
        return room;
    }
    return claimed;
}

// Reads up to `n` 32-bit entries into `table`; a short read or a full
// table ends it.
void readWords(MovieFile* f, GrowableTable<uint32_t>& table, uint64_t n, const char* label) {
    for (uint64_t i = 0; i < n; ++i) {
        uint32_t word = 0;
        if (!rw32be(f, &word, label, kTraceTables) || !table.push_back(word))
            break;
    }
}

// Skips forward when reading; the writer never needs it.
void skipTo(MovieFile* f, uint64_t offset) {
    if (reading(f) && f->m_position != offset)
        seekTo(f, offset);
}

// The four bytes and extension units x264 and others write after the PPS
// of a High-profile record. A record that ends at its PPS (older writers)
// has none, and one whose extension units overrun it keeps the bytes it
// holds, so that it is written back as it was read.
void rwAvcHighTail(MovieFile* f, H264Config* c, uint64_t end) {
    const bool r = reading(f);
    if (r) {
        if (!H264Config::profileHasHighTail(c->m_profile) || bytesLeft(f, end) < 4)
            return;
        c->m_hasHighTail = true;
    } else if (!c->m_hasHighTail) {
        return;
    }
    if (!rw8(f, &c->m_chromaFormatByte, "avcC.chromafmt", kTraceAtoms) ||
        !rw8(f, &c->m_bitDepthLumaByte, "avcC.bitdepthluma", kTraceAtoms) ||
        !rw8(f, &c->m_bitDepthChromaByte, "avcC.bitdepthchroma", kTraceAtoms) ||
        !rw8(f, &c->m_spsExtCount, "avcC.numspsext", kTraceAtoms))
        return;
    if (r) {
        const uint64_t left = bytesLeft(f, end);
        if (c->m_spsExtCount == 0 || left > uint64_t(kMaxSpsExtBytes))
            return;
        c->m_spsExtBytes = uint16_t(left);
    }
    rw(f, c->m_spsExt, c->m_spsExtBytes, "avcC.spsext", kTraceAtoms);
}

}  // namespace

bool rwFullHeader(MovieFile* f, uint8_t* version, uint32_t* flags, const char* versionLabel,
                  const char* flagsLabel) {
    uint8_t b[3] = {uint8_t(*flags >> 16), uint8_t(*flags >> 8), uint8_t(*flags)};
    const bool ok = rw8(f, version, versionLabel, kTraceAtoms) && rw(f, b, 3, flagsLabel, kTraceAtoms);
    *flags = (uint32_t(b[0]) << 16) | (uint32_t(b[1]) << 8) | b[2];
    return ok;
}

void rwAvcC(MovieFile* f, H264Config* c, uint64_t end) {
    const bool r = reading(f);
    if (r)
        c->clear();
    if (!rw8(f, &c->m_version, "avcC.cfgver", kTraceAtoms) ||
        !rw8(f, &c->m_profile, "avcC.avcprofind", kTraceAtoms) ||
        !rw8(f, &c->m_compatibility, "avcC.profcomp", kTraceAtoms) ||
        !rw8(f, &c->m_level, "avcC.avclevind", kTraceAtoms) ||
        !rw8(f, &c->m_lengthSizeByte, "avcC.lenminusone", kTraceAtoms))
        return;
    uint8_t spsByte = c->m_spsCountByte;
    if (!rw8(f, &spsByte, "avcC.numsps", kTraceAtoms))
        return;
    // Parameter sets that do not fit their slots are skipped, not stored: the
    // counts then say how many are held.
    int stored = 0;
    const int claimed = spsByte & 0x1F;
    bool ok = true;
    for (int i = 0; i < claimed && ok; ++i) {
        uint16_t len = r ? 0 : c->m_spsLength[i];
        if (r && bytesLeft(f, end) < 2) { ok = false; break; }
        rw16be(f, &len, "avcC.spslen", kTraceAtoms);
        if (r && (bytesLeft(f, end) < len)) { ok = false; break; }
        if (len > kMaxSpsBytes || stored >= kMaxParameterSets) {
            seekTo(f, f->m_position + len);
            continue;
        }
        rw(f, c->m_sps[stored], len, "avcC.sps", kTraceAtoms);
        c->m_spsLength[stored++] = len;
    }
    if (r)
        c->m_spsCountByte = uint8_t((spsByte & 0xE0) | stored);
    if (!ok)
        return;
    uint8_t ppsCount = c->m_ppsCount;
    if (r && bytesLeft(f, end) < 1)
        return;
    if (!r)
        ppsCount = uint8_t(c->ppsCount());
    rw8(f, &ppsCount, "avcC.numpps", kTraceAtoms);
    stored = 0;
    for (int i = 0; i < ppsCount; ++i) {
        uint16_t len = r ? 0 : c->m_ppsLength[i];
        if (r && bytesLeft(f, end) < 2) break;
        rw16be(f, &len, "avcC.ppslen", kTraceAtoms);
        if (r && bytesLeft(f, end) < len) break;
        if (len > kMaxPpsBytes || stored >= kMaxParameterSets) {
            seekTo(f, f->m_position + len);
            continue;
        }
        rw(f, c->m_pps[stored], len, "avcC.pps", kTraceAtoms);
        c->m_ppsLength[stored++] = len;
    }
    if (r)
        c->m_ppsCount = uint8_t(stored);
    rwAvcHighTail(f, c, end);
}

void rwHvcC(MovieFile* f, HEVCConfig* c, uint64_t end) {
    const bool r = reading(f);
    if (r)
        *c = HEVCConfig();
    if (r && bytesLeft(f, end) < 23)
        return;
    uint8_t arrays = c->m_arrayCount;
    rw8(f, &c->m_version, "hvcC.cfgver", kTraceAtoms);
    rw8(f, &c->m_profileByte, "hvcC.profind", kTraceAtoms);
    rw(f, c->m_profileCompatibility, 4, "hvcC.profcomp", kTraceAtoms);
    rw(f, c->m_constraints, 6, "hvcC.constr", kTraceAtoms);
    rw8(f, &c->m_level, "hvcC.levind", kTraceAtoms);
    rw(f, c->m_spatialSegmentation, 2, "hvcC.spatseg", kTraceAtoms);
    rw8(f, &c->m_parallelismType, "hvcC.paraltyp", kTraceAtoms);
    rw8(f, &c->m_chromaFormat, "hvcC.chromaidc", kTraceAtoms);
    rw8(f, &c->m_lumaBitDepth, "hvcC.luma8", kTraceAtoms);
    rw8(f, &c->m_chromaBitDepth, "hvcC.chroma8", kTraceAtoms);
    rw16be(f, &c->m_avgFrameRate, "hvcC.aframerate", kTraceAtoms);
    rw8(f, &c->m_lengthSizeByte, "hvcC.lenminusone", kTraceAtoms);
    if (!rw8(f, &arrays, "hvcC.numarr", kTraceAtoms))
        return;
    if (arrays > kMaxHevcArrays)
        arrays = kMaxHevcArrays;
    if (r)
        c->m_arrayCount = 0;
    for (int a = 0; a < arrays; ++a) {
        HEVCNalArray& array = c->m_arrays[a];
        if (r && bytesLeft(f, end) < 3)
            return;
        uint16_t nalus = array.m_nalCount;
        rw8(f, &array.m_nalType, "hvcC.naltype", kTraceAtoms);
        rw16be(f, &nalus, "hvcC.numnalus", kTraceAtoms);
        if (r) {
            array.m_nalCount = 0;
            c->m_arrayCount = uint8_t(a + 1);
        }
        // Extra NAL units beyond the slots are still walked over so that the
        // next array starts where the file has it.
        for (int n = 0; n < nalus; ++n) {
            uint16_t len = array.m_nalLength[n < kMaxHevcNalus ? n : 0];
            if (r && bytesLeft(f, end) < 2)
                return;
            rw16be(f, &len, "hvcC.nallen", kTraceAtoms);
            if (r && bytesLeft(f, end) < len)
                return;
            const uint64_t next = f->m_position + len;
            if (n < kMaxHevcNalus) {
                // Kept whole: a parameter set with scaling lists runs to
                // kilobytes, and a cut one describes no stream.
                const uint16_t kept = r ? len : uint16_t(std::min<size_t>(len, array.m_nal[n].size()));
                if (r)
                    array.m_nal[n].resize(kept);
                rw(f, array.m_nal[n].data(), kept, "hvcC.nalunit", kTraceAtoms);
                if (r) {
                    array.m_nalLength[n] = kept;
                    array.m_nalCount = uint16_t(n + 1);
                }
            }
            skipTo(f, next);
        }
    }
}

void rwColr(MovieFile* f, ColourInfo* c, uint64_t end) {
    const bool r = reading(f);
    if (!rwfourcc(f, &c->m_type, "colr.type", kTraceAtoms) ||
        !rw16be(f, &c->m_primaries, "colr.primaryindex", kTraceAtoms) ||
        !rw16be(f, &c->m_transfer, "colr.transferfunctionindex", kTraceAtoms) ||
        !rw16be(f, &c->m_matrix, "colr.matrixindex", kTraceAtoms))
        return;
    if (r) {
        c->m_present = 1;
        c->m_fullRangePresent = 0;
        if (c->m_type == makeFourcc("nclx") && bytesLeft(f, end) >= 1 &&
            rw8(f, &c->m_fullRange, "colr.fullrange", kTraceAtoms))
            c->m_fullRangePresent = 1;
    } else if (c->m_fullRangePresent) {
        rw8(f, &c->m_fullRange, "colr.fullrange", kTraceAtoms);
    }
}

void readEsdsDescriptors(MovieFile* f, ESDescriptor* d, uint64_t end) {
    uint8_t tag = 0;
    auto nextTag = [&](uint8_t expected, const char* tagLabel, const char* lenLabel) {
        if (bytesLeft(f, end) < 2 || !rw8(f, &tag, tagLabel, kTraceAtoms) || tag != expected)
            return false;
        readdescrsz(f, lenLabel, kTraceAtoms);
        return true;
    };
    // ES_Descriptor
    if (!nextTag(3, "esds.tag03", "esds.tag03len"))
        return;
    rw16be(f, &d->m_esId, "esds.esid", kTraceAtoms);
    rw8(f, &d->m_flags, "esds.useflags1", kTraceAtoms);
    if (d->m_flags & 0x80)
        rw16be(f, &d->m_dependsOnEsId, "esds.depesid", kTraceAtoms);
    if (d->m_flags & 0x40) {
        uint8_t urlLength = 0;
        rw8(f, &urlLength, "esds.urllen", kTraceAtoms);
        std::memset(d->m_url, 0, sizeof d->m_url);
        rw(f, reinterpret_cast<uint8_t*>(d->m_url), urlLength, "esds.url", kTraceAtoms);
    }
    if (d->m_flags & 0x20)
        rw16be(f, &d->m_ocrEsId, "esds.ocrsid", kTraceAtoms);
    // DecoderConfigDescriptor
    if (!nextTag(4, "esds.tag04", "esds.tag04len"))
        return;
    rw8(f, &d->m_objectType, "esds.objtype", kTraceAtoms);
    rw8(f, &d->m_streamType, "esds.streamtype", kTraceAtoms);
    rw(f, d->m_bufferSize, 3, "esds.bufsizedb", kTraceAtoms);
    rw32be(f, &d->m_maxBitrate, "esds.maxbitrate", kTraceAtoms);
    rw32be(f, &d->m_avgBitrate, "esds.avgbitrate", kTraceAtoms);
    // DecoderSpecificInfo: one length byte's worth is kept, the rest skipped.
    if (bytesLeft(f, end) < 2 || !rw8(f, &tag, "esds.tag05", kTraceAtoms) || tag != 5)
        return;
    const int32_t infoLength = readdescrsz(f, "esds.tag05len", kTraceAtoms);
    const uint64_t infoEnd = f->m_position + uint32_t(infoLength);
    const uint32_t kept = uint32_t(std::min<uint64_t>({uint64_t(infoLength), 255, bytesLeft(f, end)}));
    d->m_decoderInfoLength = uint8_t(kept);
    rw(f, d->m_decoderInfo, kept, "esds.devinfo", kTraceAtoms);
    if (infoEnd >= end)
        return;
    skipTo(f, infoEnd);
    // SLConfigDescriptor
    if (!nextTag(6, "esds.tag06", "esds.tag06len"))
        return;
    rw8(f, &d->m_slPredefined, "esds.predefined", kTraceAtoms);
    rw8(f, &d->m_slFlags, "esds.useflags2", kTraceAtoms);
    if (d->m_slFlags & 4) {
        rw32be(f, &d->m_slTimestampResolution, "esds.timestmpres", kTraceAtoms);
        rw32be(f, &d->m_slOcrResolution, "esds.ocrres", kTraceAtoms);
        rw8(f, &d->m_slTimestampLength, "esds.timestmplen", kTraceAtoms);
        rw8(f, &d->m_slOcrLength, "esds.ocrlen", kTraceAtoms);
        rw8(f, &d->m_slAuLength, "esds.aulen", kTraceAtoms);
        rw8(f, &d->m_slInstantBitrateLength, "esds.ibitratelen", kTraceAtoms);
        rw(f, d->m_slReserved, 4, "esds.res", kTraceAtoms);
    }
    if (d->m_slFlags & 1) {
        rw32be(f, &d->m_slTimescale, "esds.timescale", kTraceAtoms);
        rw16be(f, &d->m_slAccessUnitDuration, "esds.accunitdur", kTraceAtoms);
        rw16be(f, &d->m_slCompositionUnitDuration, "esds.compunitdur", kTraceAtoms);
    }
    if (d->m_slFlags & 4) {
        rw(f, d->m_slStartTimestamp, 8, "esds.starttimestamp", kTraceAtoms);
        rw(f, d->m_slStartCompositionTimestamp, 8, "esds.startcompts", kTraceAtoms);
    }
}

void rwStsz(MovieFile* f, MovieTrack* t, uint64_t end) {
    const bool r = reading(f);
    uint32_t fixed = t->m_fixedSampleSize;
    uint32_t count = r ? 0 : t->m_sampleCount;
    if (!rw32be(f, &fixed, "stsz.samplesize", kTraceAtoms) || !rw32be(f, &count, "stsz.entries", kTraceAtoms))
        return;
    if (!r) {
        for (uint32_t& size : t->m_sampleSizes)
            rw32be(f, &size, "stsz.samplesize", kTraceTables);
        return;
    }
    t->m_fixedSampleSize = fixed;
    if (fixed == 1 && t->m_audioSampleSize && t->m_audioChannels)
        t->m_fixedSampleSize = uint32_t(t->m_audioSampleSize / 8) * t->m_audioChannels;
    if (fixed != 0) {
        t->m_sampleCount = count;
        return;
    }
    readWords(f, t->m_sampleSizes, entriesThatFit(f, count, end, 4, "stsz"), "stsz.size");
    // Only sizes really present count as samples.
    t->m_sampleCount = uint32_t(t->m_sampleSizes.size());
}

void rwStss(MovieFile* f, MovieTrack* t, uint64_t end) {
    const bool r = reading(f);
    uint32_t count = uint32_t(t->m_syncSamples.size());
    if (!rw32be(f, &count, "stss.entries", kTraceAtoms))
        return;
    if (!r) {
        for (uint32_t& number : t->m_syncSamples)
            rw32be(f, &number, "stss.sample", kTraceTables);
        return;
    }
    t->m_syncKnown = true;
    readWords(f, t->m_syncSamples, entriesThatFit(f, count, end, 4, "stss"), "stss.sample");
}

void rwStsc(MovieFile* f, MovieTrack* t, uint64_t end) {
    const bool r = reading(f);
    uint32_t count = uint32_t(t->m_sampleToChunk.size());
    if (!rw32be(f, &count, "stsc.entries", kTraceAtoms))
        return;
    if (!r) {
        for (SampleToChunkEntry& e : t->m_sampleToChunk) {
            rw32be(f, &e.m_firstChunk, "stsc.firstchunk", kTraceTables);
            rw32be(f, &e.m_samplesPerChunk, "stsc.sperchunk", kTraceTables);
            rw32be(f, &e.m_descriptionId, "stsc.sdescrid", kTraceTables);
        }
        return;
    }
    const uint64_t n = entriesThatFit(f, count, end, 12, "stsc");
    for (uint64_t i = 0; i < n; ++i) {
        SampleToChunkEntry e;
        if (!rw32be(f, &e.m_firstChunk, "stsc.firstchunk", kTraceTables) ||
            !rw32be(f, &e.m_samplesPerChunk, "stsc.sperchunk", kTraceTables) ||
            !rw32be(f, &e.m_descriptionId, "stsc.sdescrid", kTraceTables) || !t->m_sampleToChunk.push_back(e))
            break;
    }
}

void rwStts(MovieFile* f, MovieTrack* t, uint64_t end) {
    const bool r = reading(f);
    uint32_t count = uint32_t(t->m_timeToSample.size());
    if (!rw32be(f, &count, "stts.entries", kTraceAtoms))
        return;
    if (!r) {
        for (TimeToSampleEntry& e : t->m_timeToSample) {
            rw32be(f, &e.m_sampleCount, "stts.samplecount", kTraceTables);
            rw32be(f, &e.m_duration, "stts.sampduration", kTraceTables);
        }
        return;
    }
    const uint64_t n = entriesThatFit(f, count, end, 8, "stts");
    for (uint64_t i = 0; i < n; ++i) {
        TimeToSampleEntry e;
        if (!rw32be(f, &e.m_sampleCount, "stts.samplecount", kTraceTables) ||
            !rw32be(f, &e.m_duration, "stts.sampduration", kTraceTables) || !t->m_timeToSample.push_back(e))
            break;
    }
    t->m_sampleDuration = typicalSampleDuration(t->m_timeToSample);
}

uint32_t typicalSampleDuration(const GrowableTable<TimeToSampleEntry>& table) {
    // The one most samples have, not the first entry's: variable-frame-rate
    // recordings may hold their first frame for seconds, and some phones
    // give the first audio frame a longer duration than every later one.
    std::unordered_map<uint32_t, uint64_t> samplesPerDuration;
    uint64_t most = 0;
    uint32_t typical = 0;
    for (const TimeToSampleEntry& e : table) {
        uint64_t& samples = samplesPerDuration[e.m_duration];
        samples += e.m_sampleCount;
        // Equal counts keep the duration met first.
        if (samples > most || typical == 0) {
            most = samples;
            typical = e.m_duration;
        }
    }
    return typical;
}

uint64_t totalSampleDuration(const GrowableTable<TimeToSampleEntry>& table) {
    uint64_t total = 0;
    for (const TimeToSampleEntry& e : table)
        total += uint64_t(e.m_sampleCount) * e.m_duration;
    return total;
}

uint32_t sampleDurationAt(const GrowableTable<TimeToSampleEntry>& table, uint64_t index, uint32_t past) {
    for (const TimeToSampleEntry& e : table) {
        if (index < e.m_sampleCount)
            return e.m_duration;
        index -= e.m_sampleCount;
    }
    return past;
}

bool appendSampleDuration(GrowableTable<TimeToSampleEntry>& table, uint32_t duration) {
    if (!table.empty() && table.back().m_duration == duration) {
        ++table.back().m_sampleCount;
        return true;
    }
    return table.push_back({1, duration});
}

void rwCtts(MovieFile* f, MovieTrack* t, uint64_t end, bool signedOffsets) {
    (void)signedOffsets;  // stored as the raw 32 bits either way
    const bool r = reading(f);
    uint32_t count = uint32_t(t->m_compositionOffsets.size());
    if (!rw32be(f, &count, "ctts.entries", kTraceAtoms))
        return;
    const char* offsetLabel = r ? "ctts.sampoffset" : "ctts.sampleofs";
    if (!r) {
        for (CompositionOffsetEntry& e : t->m_compositionOffsets) {
            rw32be(f, &e.m_sampleCount, "ctts.samplecount", kTraceTables);
            rw32be(f, &e.m_offset, offsetLabel, kTraceTables);
        }
        return;
    }
    const uint64_t n = entriesThatFit(f, count, end, 8, "ctts");
    for (uint64_t i = 0; i < n; ++i) {
        CompositionOffsetEntry e;
        if (!rw32be(f, &e.m_sampleCount, "ctts.samplecount", kTraceTables) ||
            !rw32be(f, &e.m_offset, offsetLabel, kTraceTables) || !t->m_compositionOffsets.push_back(e))
            break;
    }
}

void rwChunkOffsets(MovieFile* f, MovieTrack* t, uint64_t end, bool offsets64) {
    const bool r = reading(f);
    uint32_t count = uint32_t(t->m_chunkOffsets.size());
    if (!rw32be(f, &count, offsets64 ? "co64.entries" : "stco.entries", kTraceAtoms))
        return;
    if (!r) {
        for (uint64_t& ofs : t->m_chunkOffsets)
            rw64be(f, &ofs, "co64.chunkofs", kTraceTables);
        return;
    }
    const uint64_t n = entriesThatFit(f, count, end, offsets64 ? 8 : 4, offsets64 ? "co64" : "stco");
    for (uint64_t i = 0; i < n; ++i) {
        uint64_t ofs = 0;
        bool ok;
        if (offsets64) {
            ok = rw64be(f, &ofs, "stco.ofs64", kTraceTables);
        } else {
            uint32_t ofs32 = 0;
            ok = rw32be(f, &ofs32, "stco.ofs", kTraceTables);
            ofs = ofs32;
        }
        if (!ok || !t->m_chunkOffsets.push_back(ofs))
            break;
    }
}

void rwElst(MovieFile* f, MovieTrack* t, uint64_t end) {
    const bool r = reading(f);
    uint32_t count = uint32_t(t->m_editList.size());
    if (!rw32be(f, &count, "elst.entries", kTraceAtoms))
        return;
    const uint64_t n = r ? entriesThatFit(f, count, end, 12, "elst") : t->m_editList.size();
    for (uint64_t i = 0; i < n; ++i) {
        EditListEntry e = r ? EditListEntry() : t->m_editList[i];
        uint32_t mediaTime = uint32_t(e.m_mediaTime);
        if (!rw32be(f, &e.m_trackDuration, "elst.trkduration", kTraceTables) ||
            !rw32be(f, &mediaTime, "elst.mediatime", kTraceTables) ||
            !rwfix32(f, &e.m_mediaRate, "elst.mediarate", kTraceTables))
            break;
        e.m_mediaTime = int32_t(mediaTime);
        if (r && !t->m_editList.push_back(e))
            break;
    }
}

bool rwVideoDescription(MovieFile* f, VideoDescription* d) {
    if (!rw16be(f, &d->m_version, "video.version", kTraceAtoms))
        return false;
    // Versions 3 and above have another layout; the caller stops there.
    if (d->m_version >= 3)
        return false;
    rw16be(f, &d->m_revision, "video.rev", kTraceAtoms);
    rw(f, d->m_vendor, 4, "video.vendor", kTraceAtoms);
    rw32be(f, &d->m_temporalQuality, "video.tempoqual", kTraceAtoms);
    rw32be(f, &d->m_spatialQuality, "video.spatialq", kTraceAtoms);
    rw16be(f, &d->m_width, "video.width", kTraceAtoms);
    rw16be(f, &d->m_height, "video.height", kTraceAtoms);
    rwfix32(f, &d->m_hres, "video.hres", kTraceAtoms);
    rwfix32(f, &d->m_vres, "video.vres", kTraceAtoms);
    rw32be(f, &d->m_dataSize, "video.datasz", kTraceAtoms);
    rw16be(f, &d->m_frameCount, "video.framecount", kTraceAtoms);
    rw(f, d->m_compressor, 32, "video.compressor", kTraceAtoms);
    rw16be(f, &d->m_depth, "video.depth", kTraceAtoms);
    return rw16be(f, &d->m_colourTableId, "video.coltableid", kTraceAtoms);
}

bool rwAudioDescription(MovieFile* f, AudioDescription* d) {
    const bool r = reading(f);
    if (!rw16be(f, &d->m_version, "audio.version", kTraceAtoms) || d->m_version >= 3)
        return false;
    rw16be(f, &d->m_revision, "v0.rev", kTraceAtoms);
    rw(f, d->m_vendor, 4, "v0.vendor", kTraceAtoms);
    rw16be(f, &d->m_channels, "v0.channels", kTraceAtoms);
    rw16be(f, &d->m_sampleSize, "v0.samplesz", kTraceAtoms);
    rw16be(f, &d->m_compressionId, "v0.compressid", kTraceAtoms);
    rw16be(f, &d->m_packetSize, "v0.packetsz", kTraceAtoms);
    bool ok = rwfix32(f, &d->m_sampleRate, "v0.samplerate", kTraceAtoms);
    if (d->m_version == 1) {
        rw32be(f, &d->m_samplesPerPacket, r ? "v1.sampppacket" : "v1.samppacket", kTraceAtoms);
        rw32be(f, &d->m_bytesPerPacket, "v1.bytesppacket", kTraceAtoms);
        rw32be(f, &d->m_bytesPerFrame, "v1.bytespframe", kTraceAtoms);
        ok = rw32be(f, &d->m_bytesPerSample, "v1.bytespsample", kTraceAtoms);
    } else if (d->m_version == 2) {
        rw32be(f, &d->m_structSize, "v2.structsz", kTraceAtoms);
        rw64float(f, &d->m_v2SampleRate, "v2.samplerate", kTraceAtoms);
        rw32be(f, &d->m_v2Channels, "v2.channels", kTraceAtoms);
        rw32be(f, &d->m_v2Reserved, "v2.res", kTraceAtoms);
        rw32be(f, &d->m_bitsPerChannel, "v2.bitsperchan", kTraceAtoms);
        rw32be(f, &d->m_formatFlags, "v2.formatflags", kTraceAtoms);
        rw32be(f, &d->m_v2BytesPerPacket, "v2.bytesppacket", kTraceAtoms);
        ok = rw32be(f, &d->m_framesPerPacket, "v2.framesppacket", kTraceAtoms);
    }
    return ok;
}

}  // namespace qt
