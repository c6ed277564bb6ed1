#pragma once
// Field codecs shared by the reader and the writer: one function per atom body
// lists its fields once and moves them in the file's direction. In mode 'r'
// every read is bounded by the end of the atom, counts from the file are
// checked against the bytes left, and the entries actually read are kept.

#include <cstdint>

#include "qt/atom_io.h"
#include "qt/movie_file.h"

namespace qt {

// One atom as found by the walk: where it starts, its declared size, the
// header length and the end actually usable (clamped to parent and file).
struct AtomHeader {
    uint64_t m_start = 0;
    uint64_t m_size = 0;
    uint32_t m_headerSize = 8;
    Fourcc m_type = 0;
    uint64_t m_end = 0;
    uint64_t payload() const { return m_start + m_headerSize; }
};

// Bytes between the current position and end (0 when past it).
inline uint64_t bytesLeft(const MovieFile* f, uint64_t end) {
    return end > f->m_position ? end - f->m_position : 0;
}

// Version byte and three flag bytes under the given labels.
bool rwFullHeader(MovieFile* f, uint8_t* version, uint32_t* flags, const char* versionLabel,
                  const char* flagsLabel);

void rwAvcC(MovieFile* f, H264Config* c, uint64_t end);
void rwHvcC(MovieFile* f, HEVCConfig* c, uint64_t end);
void rwColr(MovieFile* f, ColourInfo* c, uint64_t end);
// esds descriptors (mode 'r'): parses the chain into the descriptor fields.
void readEsdsDescriptors(MovieFile* f, ESDescriptor* d, uint64_t end);

// Sample tables after the version and flags. The reader appends to the
// track's tables; the writer writes them.
void rwStsz(MovieFile* f, MovieTrack* t, uint64_t end);
void rwStsc(MovieFile* f, MovieTrack* t, uint64_t end);
void rwStts(MovieFile* f, MovieTrack* t, uint64_t end);
// The sample duration most of a time-to-sample table's samples have (equal
// counts: the one met first); 0 for an empty table.
uint32_t typicalSampleDuration(const GrowableTable<TimeToSampleEntry>& table);
// What a time-to-sample table's samples last together.
uint64_t totalSampleDuration(const GrowableTable<TimeToSampleEntry>& table);
// The duration of sample `index` (from 0), or `past` beyond the table.
uint32_t sampleDurationAt(const GrowableTable<TimeToSampleEntry>& table, uint64_t index, uint32_t past);
// One more sample of `duration` at the table's end; false when the table is full.
bool appendSampleDuration(GrowableTable<TimeToSampleEntry>& table, uint32_t duration);
void rwCtts(MovieFile* f, MovieTrack* t, uint64_t end, bool signedOffsets);
// Sync sample numbers; the reader also sets m_syncKnown.
void rwStss(MovieFile* f, MovieTrack* t, uint64_t end);
void rwChunkOffsets(MovieFile* f, MovieTrack* t, uint64_t end, bool offsets64);
void rwElst(MovieFile* f, MovieTrack* t, uint64_t end);

// Video and audio sample description fields after the data reference index.
struct VideoDescription {
    uint16_t m_version = 0, m_revision = 0;
    uint8_t m_vendor[4] = {};
    uint32_t m_temporalQuality = 0, m_spatialQuality = 0;
    uint16_t m_width = 0, m_height = 0;
    double m_hres = 0, m_vres = 0;
    uint32_t m_dataSize = 0;
    uint16_t m_frameCount = 0;
    uint8_t m_compressor[32] = {};
    uint16_t m_depth = 0, m_colourTableId = 0;
};
bool rwVideoDescription(MovieFile* f, VideoDescription* d);

struct AudioDescription {
    uint16_t m_version = 0, m_revision = 0;
    uint8_t m_vendor[4] = {};
    uint16_t m_channels = 0, m_sampleSize = 0, m_compressionId = 0, m_packetSize = 0;
    double m_sampleRate = 0;
    // version 1
    uint32_t m_samplesPerPacket = 0, m_bytesPerPacket = 0, m_bytesPerFrame = 0, m_bytesPerSample = 0;
    // version 2
    uint32_t m_structSize = 0;
    double m_v2SampleRate = 0;
    uint32_t m_v2Channels = 0, m_v2Reserved = 0, m_bitsPerChannel = 0, m_formatFlags = 0;
    uint32_t m_v2BytesPerPacket = 0, m_framesPerPacket = 0;
};
bool rwAudioDescription(MovieFile* f, AudioDescription* d);

}  // namespace qt

namespace qt {
// Writer: finishes a movie opened by QTCreate (tables, mdat size, moov).
bool completeMovie(MovieFile* f);
}  // namespace qt

namespace qt {
// A zeroed MovieFile in one allocation (configuration slots stay untouched
// until used); null when memory runs out. Released by freeMovieFile.
MovieFile* allocateMovieFile();
void freeMovieFile(MovieFile* f);
}  // namespace qt
