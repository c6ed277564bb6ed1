#pragma once
// Controlled damage and rewrites of ffmpeg-made movies for the atom scanner's
// tests.

#include "support/atom_builder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace atomtest {

using Bytes = std::vector<uint8_t>;
using testsupport::AtomSpan;
using testsupport::atomTree;

// H.264 with B-frames (so ctts) and AAC, index in front of the media data.
std::string faststartMp4();

// Overwrites the movie and track headers (mvhd, tkhd, mdhd, hdlr, stsd),
// their own size and type included, with zeros or with noise: only the
// sample tables survive.
enum class Fill { Zero, Noise };
Bytes withoutHeaders(Bytes file, Fill fill);

// The atoms with every stco rewritten as co64 (each offset moved by
// `shift`) and the container sizes around it grown to match. Only for movies
// whose moov follows their media data, so the offsets stay valid.
Bytes withCo64(const Bytes& atoms, uint64_t shift = 0);

// The movie with its media data moved beyond 4 GiB: a 64-bit mdat whose
// payload starts after a hole (left sparse on disk), and a moov whose
// chunk offsets are co64. Written to `name`; the moov offset is returned
// (0 on failure). With damageHeaders the moov's headers are noise.
uint64_t writeBeyond4GiB(const Bytes& movie, const std::string& name, bool damageHeaders);

}  // namespace atomtest
