#pragma once
// Writing a movie: ftyp and an mdat with a 64-bit size first, samples streamed
// into the mdat, the moov with all tables appended by QTClose.

#include <cstdint>
#include <string>

#include "qt/movie_file.h"

// Creates the file (ftyp when brand->m_majorBrand is non-zero; brand may be
// null) and the mdat header. Null, with a message, when it cannot be created.
MovieFile* QTCreate(const std::string& fileName, const BrandRecord* brand, uint32_t movieTimescale,
                    uint32_t traceMask);

MovieTrack* QTAddVideoTrack(MovieFile* file, const std::string& codec, uint32_t mediaTimescale, double fps,
                            uint32_t width, uint32_t height);

// The sample rate is also the media timescale.
MovieTrack* QTAddAudioTrack(MovieFile* file, const std::string& codec, uint32_t sampleDuration,
                            uint32_t sampleRate, uint32_t sampleSize, uint32_t channels,
                            uint32_t fixedSampleSize);

// Metadata track `index` (its place among the source's metadata tracks),
// created on first use; null for an index out of range or when all tracks
// are in use.
MovieTrack* QTGetMetaTrack(MovieFile* file, int index = 0);

// Copies a reference track's codec configuration into a new track. Any pointer
// may be null (nothing copied for it); at most 8191 esds bytes are taken.
void QTCopyCodecConfig(MovieTrack* track, const uint8_t* esds, uint32_t esdsLength, const H264Config* avc,
                       const HEVCConfig* hevc, const ColourInfo* colour);

// Appends one sample (size / fixed size samples for a fixed-size track) and
// writes its payload at the end of the file.
bool QTAddSamples(MovieFile* file, MovieTrack* track, const uint8_t* data, uint32_t size,
                  uint32_t compositionOffset);

// For a writer that copies the payload of many samples at once: QTWritePayload
// appends bytes at the end of the file, and QTAddSampleAt enters one sample
// whose payload is (or will be) at `position` exactly as QTAddSamples would,
// without writing anything.
bool QTWritePayload(MovieFile* file, const uint8_t* data, uint64_t size);
// The same for bytes that are in another file: copied by the kernel.
bool QTCopyPayload(MovieFile* file, platform::File& source, int64_t offset, uint64_t size);
// Moves the end of the file past `size` payload bytes another writer has
// already put in place there.
bool QTSkipPayload(MovieFile* file, uint64_t size);
bool QTAddSampleAt(MovieFile* file, MovieTrack* track, uint64_t position, uint32_t size,
                   uint32_t compositionOffset);

// Says whether the sample added to the track last is a sync sample (a
// random-access point). A track told this of any of its samples gets a sync
// sample table listing those that are, unless every sample is one; samples
// nobody told it about count as none.
void QTMarkLastSampleSync(MovieTrack* track, bool sync);
