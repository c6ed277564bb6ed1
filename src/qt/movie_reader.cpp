#include "qt/movie_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <cstring>

#include "log/logger.h"
#include "qt/atom_readers.h"
#include "qt/fragment_reader.h"

using namespace qt;

namespace {

// Containers nest a handful of levels in real files; anything deeper is
// hostile and would only burn stack.
constexpr int32_t kMaxAtomDepth = 20;
// The top-level walk covers "the whole file" whatever its size.
constexpr uint64_t kWholeFile = 0x7FFFFFFFFFFFFFFFull;
// Every printed list stops after this many entries.
constexpr uint32_t kDumpListEntries = 22;
constexpr uint32_t kDumpHexBytes = 48;

// Reads an opaque atom of the sound description ('damr', an ISO integer PCM
// entry's 'pcmC') whole, up to its slot size: the output's description
// carries it as it is.
void readExtraAtom(MovieFile* f, MovieTrack* t, const AtomHeader& atom) {
    ExtraAtom& x = t->m_extraAtom;
    const uint64_t available = atom.m_end - atom.m_start;
    const uint32_t size = uint32_t(std::min<uint64_t>({atom.m_size, available, uint64_t(kMaxExtraAtomBytes)}));
    if (size < 8 || !seekTo(f, atom.m_start))
        return;
    uint32_t declared = 0;
    Fourcc type = 0;
    rw32be(f, &declared, "atom.size", kTraceAtoms);
    rwfourcc(f, &type, "atom.fourchar", kTraceAtoms);
    if (!rw(f, x.m_data + 8, size - 8, "atom.data", kTraceTables))
        return;
    // The stored copy says the size it really holds.
    x.m_data[0] = uint8_t(size >> 24);
    x.m_data[1] = uint8_t(size >> 16);
    x.m_data[2] = uint8_t(size >> 8);
    x.m_data[3] = uint8_t(size);
    std::memcpy(x.m_data + 4, &type, 4);
    x.m_size = size;
    // 'pcmC': a version word, then format flags whose first bit says
    // little-endian (the ISO default is big-endian).
    if (type == makeFourcc("pcmC"))
        t->m_pcmcLittleEndian = size >= 13 && (x.m_data[12] & 1) != 0;
}

const char* hexBytes(const uint8_t* bytes, uint32_t count) {
    static char s_hex[kDumpHexBytes * 3 + 1];
    s_hex[0] = 0;
    for (uint32_t i = 0; i < count && i < kDumpHexBytes; ++i)
        std::snprintf(s_hex + i * 3, 4, "%02X ", bytes[i]);
    return s_hex;
}

int secondsOf(uint32_t duration, uint32_t timescale) {
    return int(duration / (timescale < 1 ? 1 : timescale));
}

// Prints a list; the callback prints entry i. Stops with "..." after the
// 22nd entry, even when there is none after it.
template <typename PrintEntry>
void dumpList(size_t count, PrintEntry printEntry) {
    for (size_t i = 0; i < count; ++i) {
        printEntry(i);
        if (i + 1 == kDumpListEntries) {
            std::printf("...\n");
            break;
        }
    }
}

void dumpTrack(const MovieFile* f, int index) {
    const MovieTrack& t = f->m_tracks[index];
    std::printf("------------- track %d ------------\n", index);
    std::printf("           type: %s\n", fourccText(t.m_handlerType));
    std::printf("             id: %d\n", int(t.m_trackId));
    std::printf("  movieduration: %d timescales (=%d sec)\n", int(t.m_trackDuration),
                secondsOf(t.m_trackDuration, f->m_movieTimescale));
    std::printf(" mediatimescale: %d Hz\n", int(t.m_mediaTimescale));
    std::printf("  mediaduration: %d timescales (=%d sec)\n", int(t.m_mediaDuration),
                secondsOf(t.m_mediaDuration, t.m_mediaTimescale));
    std::printf("   onesampledur: %d timescales (=%.2f fps)\n", int(t.m_sampleDuration), QTGetFrameRate(&t));
    std::printf("            fmt: %s\n", fourccText(t.m_codec));
    std::printf("            dim: %d x %d\n", int(t.m_width), int(t.m_height));
    std::printf("  audiochannels: %d\n", int(t.m_audioChannels));
    std::printf("audiosamplerate: %d\n", int(t.m_audioSampleRate));
    std::printf("audiosamplesize: %d\n", int(t.m_audioSampleSize));
    for (int a = 0; a < t.m_hevc.m_arrayCount && a < kMaxHevcArrays; ++a) {
        const HEVCNalArray& array = t.m_hevc.m_arrays[a];
        std::printf("        naltype: %02x\n", array.m_nalType);
        for (int n = 0; n < array.m_nalCount && n < kMaxHevcNalus; ++n)
            std::printf("        nalunit: %s\n", hexBytes(array.m_nal[n].data(), array.m_nalLength[n]));
    }
    std::printf("           pps:  %s\n", hexBytes(t.m_avc.m_pps[0], t.m_avc.m_ppsLength[0]));
    std::printf("           sps:  %s\n", hexBytes(t.m_avc.m_sps[0], t.m_avc.m_spsLength[0]));
    std::printf("   devspecinfo:  %s\n", hexBytes(t.m_esds.m_decoderInfo, t.m_esds.m_decoderInfoLength));
    std::printf("     objtypeid:  %xh\n", t.m_esds.m_objectType);
    std::printf("    samplecount: %d\n", int(t.m_sampleCount));
    std::printf("fixedsamplesize: %d\n", int(t.m_fixedSampleSize));
    std::printf("samplesizecount: %d\n", int(t.m_sampleSizes.size()));
    dumpList(t.m_sampleSizes.size(), [&](size_t i) {
        std::printf("     samplesize:    sample      %10d, size        %10d\n", int(i + 1), int(t.m_sampleSizes[i]));
    });
    std::printf("     chunkcount: %d\n", int(t.m_chunkOffsets.size()));
    dumpList(t.m_chunkOffsets.size(), [&](size_t i) {
        std::printf("       chunkofs:    chunk       %10d, ofs        %11.0f\n", int(i + 1),
                    double(t.m_chunkOffsets[i]));
    });
    std::printf("smpletochunkcnt: %d\n", int(t.m_sampleToChunk.size()));
    dumpList(t.m_sampleToChunk.size(), [&](size_t i) {
        std::printf("  sampletochunk:    firstchunk  %10d, samplecount %10d\n", int(t.m_sampleToChunk[i].m_firstChunk),
                    int(t.m_sampleToChunk[i].m_samplesPerChunk));
    });
    std::printf("timetosamplecnt: %d\n", int(t.m_timeToSample.size()));
    dumpList(t.m_timeToSample.size(), [&](size_t i) {
        std::printf("   timetosample:    samplecount %10d, duration    %10d\n", int(t.m_timeToSample[i].m_sampleCount),
                    int(t.m_timeToSample[i].m_duration));
    });
    std::printf("   composofscnt: %d\n", int(t.m_compositionOffsets.size()));
    dumpList(t.m_compositionOffsets.size(), [&](size_t i) {
        std::printf(" compositionofs:    samplecount %10d, ofs         %10d\n",
                    int(t.m_compositionOffsets[i].m_sampleCount), int(t.m_compositionOffsets[i].m_offset));
    });
    std::printf("    editlistcnt: %d\n", int(t.m_editList.size()));
    dumpList(t.m_editList.size(), [&](size_t i) {
        std::printf("       editlist:    trkduration %10d, mediatime   %10d, mediarate %10.0f\n",
                    int(t.m_editList[i].m_trackDuration), int(t.m_editList[i].m_mediaTime),
                    t.m_editList[i].m_mediaRate);
    });
}

}  // namespace

namespace qt {

MovieFile* allocateMovieFile() {
    // calloc hands out zero pages without writing them; default construction
    // then sets only the members that have initializers.
    void* memory = std::calloc(1, sizeof(MovieFile));
    return memory ? new (memory) MovieFile : nullptr;
}

void freeMovieFile(MovieFile* f) {
    if (!f)
        return;
    f->~MovieFile();
    std::free(f);
}

}  // namespace qt

MovieFile* QTOpen(const std::string& fileName, uint32_t traceMask, bool parse) {
    MovieFile* f = allocateMovieFile();
    if (!f || !f->m_file.open(fileName, platform::File::Mode::Read)) {
        std::printf("QTOpen: cannot open file: %s\n", fileName.c_str());
        freeMovieFile(f);
        return nullptr;
    }
    f->m_fileName = fileName.substr(0, kMaxFileNameBytes);
    f->m_mode = 'r';
    f->m_depth = -1;
    f->m_traceMask = traceMask;
    const int64_t size = f->m_file.size();
    f->m_fileSize = size > 0 ? uint64_t(size) : 0;
    if (parse) {
        seekTo(f, 0);
        parseContainer(f, kWholeFile, false);
        readMovieFragments(f);
    }
    return f;
}

void parseContainer(MovieFile* f, uint64_t length, bool skipHeader) {
    if (!f)
        return;
    if (f->m_depth > kMaxAtomDepth) {
        std::printf("parseContainer error: atom level too high\n");
        return;
    }
    ++f->m_depth;
    const uint64_t begin = f->m_position;
    const uint64_t end = length > UINT64_MAX - begin ? UINT64_MAX : begin + length;
    uint64_t start = begin + (skipHeader ? 8 : 0);
    while (start < end) {
        AtomHeader atom;
        if (!readAtomHeader(f, start, end, &atom))
            break;
        const Fourcc type = atom.m_type;
        if (type == makeFourcc("mdat")) {
            if (f->m_mdatOffset && f->m_moovOffset)
                break;
            f->m_mdatOffset = atom.payload();
        } else if (type == makeFourcc("moov")) {
            if (f->m_moovOffset)
                break;
            f->m_moovOffset = atom.payload();
        }
        if (type == makeFourcc("meta")) {
            // A version and flags word follows the header.
            if (atom.payload() + 4 < atom.m_end && seekTo(f, atom.payload() + 4))
                parseContainer(f, atom.m_end - f->m_position, false);
        }
        if (isContainerAtom(type) && seekTo(f, atom.payload()))
            parseContainer(f, atom.m_end - atom.payload(), false);
        if (AtomHandler handler = findAtomHandler(type)) {
            seekTo(f, atom.payload());
            handler(f, atom);
            if (f->m_position > atom.m_end) {
                FLOG(LogLevel::Debug) << "qt " << fourccText(type) << " at " << atom.m_start << " read "
                                      << (f->m_position - atom.m_end) << " bytes past its end";
            }
        }
        if (f->m_currentTrack && (type == makeFourcc("damr") || type == makeFourcc("pcmC")))
            readExtraAtom(f, f->m_currentTrack, atom);
        if (atom.m_size > UINT64_MAX - start)
            break;
        start += atom.m_size;
    }
    --f->m_depth;
}

bool QTParseAtom(MovieFile* f, uint64_t offset) {
    if (!f)
        return false;
    AtomHeader atom;
    if (!readAtomHeader(f, offset, UINT64_MAX, &atom))
        return false;
    if (AtomHandler handler = findAtomHandler(atom.m_type)) {
        seekTo(f, atom.payload());
        handler(f, atom);
    }
    return true;
}

MovieTrack* addTrack(MovieFile* f) {
    if (!f)
        return nullptr;
    if (f->m_trackCount >= kMaxTracks) {
        std::printf("addTrack error - memory full\n");
        f->m_currentTrack = nullptr;
        return nullptr;
    }
    MovieTrack* t = &f->m_tracks[f->m_trackCount];
    t->m_trackId = uint32_t(f->m_trackCount + 1);
    ++f->m_trackCount;
    f->m_currentTrack = t;
    return t;
}

void QTDump(const MovieFile* f) {
    if (!f)
        return;
    std::printf("---------------- QTDump -------------\n");
    std::printf("       mdatofs: %11.0f\n", double(f->m_mdatOffset));
    std::printf("       moovofs: %11.0f\n", double(f->m_moovOffset));
    std::printf("movietimescale: %d Hz\n", int(f->m_movieTimescale));
    std::printf(" movieduration: %d timescales (=%d sec)\n", int(f->m_movieDuration),
                secondsOf(f->m_movieDuration, f->m_movieTimescale));
    std::printf("    trackcount: %d\n", int(f->m_trackCount));
    for (int i = 0; i < f->m_trackCount && i < kMaxTracks; ++i)
        dumpTrack(f, i);
    std::fflush(stdout);
}

bool QTClose(MovieFile* f) {
    if (!f)
        return true;
    bool ok = true;
    if (f->m_mode == 'w')
        ok = completeMovie(f);
    else
        f->m_file.close();
    freeMovieFile(f);
    return ok;
}

uint32_t QTGetSampleSize(const MovieTrack* t, uint32_t sample) {
    if (!t)
        return 0;
    if (t->m_fixedSampleSize)
        return t->m_fixedSampleSize;
    if (sample < 1 || sample > t->m_sampleSizes.size())
        return 0;
    return t->m_sampleSizes[sample - 1];
}

uint64_t QTGetSampleOffset(const MovieTrack* t, uint32_t sample) {
    if (!t || sample < 1 || t->m_sampleToChunk.empty())
        return 0;
    const GrowableTable<SampleToChunkEntry>& stsc = t->m_sampleToChunk;
    const uint64_t chunkCount = t->m_chunkOffsets.size();
    size_t entry = 0;
    uint64_t chunk = stsc[0].m_firstChunk;
    uint64_t firstSample = 1;  // of the current chunk
    // Resume from the previous lookup when it did not pass this sample.
    const MovieTrack::LookupCursor& cursor = t->m_offsetCursor;
    if (cursor.m_chunk != 0 && cursor.m_entry < stsc.size() && cursor.m_firstSample <= sample) {
        entry = cursor.m_entry;
        chunk = cursor.m_chunk;
        firstSample = cursor.m_firstSample;
    }
    uint64_t perChunk = stsc[entry].m_samplesPerChunk;
    // Walk chunk by chunk; runs of equal chunks are jumped over in one step so
    // that the cost follows the number of stsc entries, not of chunks.
    while (firstSample + perChunk <= sample) {
        if (perChunk == 0) {
            // A run of empty chunks: only the next entry can move on.
            if (entry + 1 >= stsc.size() || stsc[entry + 1].m_firstChunk <= chunk)
                return 0;
            chunk = stsc[entry + 1].m_firstChunk;
            perChunk = stsc[++entry].m_samplesPerChunk;
            continue;
        }
        uint64_t steps = (sample - firstSample) / perChunk;
        if (entry + 1 < stsc.size() && stsc[entry + 1].m_firstChunk > chunk)
            steps = std::min<uint64_t>(steps, stsc[entry + 1].m_firstChunk - chunk);
        if (steps == 0)
            steps = 1;
        chunk += steps;
        firstSample += steps * perChunk;
        if (chunk > chunkCount)
            return 0;
        if (entry + 1 < stsc.size() && stsc[entry + 1].m_firstChunk == chunk)
            perChunk = stsc[++entry].m_samplesPerChunk;
    }
    t->m_offsetCursor = {entry, chunk, firstSample};
    if (chunk < 1 || chunk > chunkCount)
        return 0;
    uint64_t offset = t->m_chunkOffsets[chunk - 1];
    if (sample == firstSample)
        return offset;
    if (t->m_fixedSampleSize)
        return offset + (sample - firstSample) * uint64_t(t->m_fixedSampleSize);
    for (uint64_t s = firstSample; s < sample; ++s) {
        if (s > t->m_sampleSizes.size() || t->m_sampleSizes[s - 1] == 0)
            return 0;
        offset += t->m_sampleSizes[s - 1];
    }
    return offset;
}

uint32_t QTGetSamplesPerChunk(const MovieTrack* t, uint32_t chunk) {
    if (!t || t->m_sampleToChunk.empty() || chunk > t->m_chunkOffsets.size())
        return 0;
    uint32_t perChunk = 0;
    for (const SampleToChunkEntry& e : t->m_sampleToChunk) {
        if (e.m_firstChunk > chunk)
            break;
        perChunk = e.m_samplesPerChunk;
    }
    return perChunk;
}

uint32_t QTGetCompositionOffset(const MovieTrack* t, uint32_t sample) {
    if (!t || sample < 1 || t->m_compositionOffsets.empty())
        return 0;
    const GrowableTable<CompositionOffsetEntry>& ctts = t->m_compositionOffsets;
    size_t entry = 0;
    uint64_t before = 0;  // samples in the entries before `entry`
    MovieTrack::LookupCursor& cursor = t->m_compositionCursor;
    if (cursor.m_entry < ctts.size() && cursor.m_firstSample < sample) {
        entry = cursor.m_entry;
        before = cursor.m_firstSample;
    }
    for (; entry < ctts.size(); ++entry) {
        if (before + ctts[entry].m_sampleCount >= sample) {
            cursor = {entry, 0, before};
            return ctts[entry].m_offset;
        }
        before += ctts[entry].m_sampleCount;
    }
    return t->m_compositionOffsets.back().m_offset;
}

double QTGetFrameRate(const MovieTrack* t) {
    if (!t)
        return 0;
    if (t->m_sampleDuration < 2)
        return double(t->m_mediaTimescale);
    return double(t->m_mediaTimescale) / double(t->m_sampleDuration);
}
