#pragma once
// Where a timed-metadata chunk can end, read from the structure of its
// samples: a 'mebx' sample is a run of boxes, each named by one of the
// track's local key ids; a GoPro 'gpmd' sample is a run of KLV entries
// (four-character key, type, size, repeat, payload padded to four bytes).
// Samples follow each other in a chunk, so every unit end is a possible
// chunk end.

#include "qt/qt_types.h"

#include <cstdint>
#include <vector>

// A 3GPP timed-text ('tx3g') or QuickTime text sample is a 16-bit length,
// that much text, and optional modifier boxes; its structure alone tells
// whether bytes are a caption chunk.
bool metadataStructureDecides(Fourcc codec);

// Does the structure at least tell whether bytes open a sample: every GoPro
// sample opens with a KLV entry, every 'mebx' sample with a box of one of
// the track's keys? Where it does, bytes that open none are no chunk of the
// track, whatever their length.
bool metadataStructureOpens(Fourcc codec, const std::vector<uint32_t>& keys);

// The possible chunk lengths at `data` (n bytes available), ascending; empty
// when the bytes do not open a sample of the codec, or the codec has no
// structure read here. `keys`: the local key ids of a 'mebx' track.
std::vector<int64_t> metadataUnitEnds(Fourcc codec, const std::vector<uint32_t>& keys, const uint8_t* data,
                                      int64_t n);
