#pragma once
// The NAL units of an HEVC sample as a movie stores it: each unit behind a
// 4-byte big-endian length, with its two-byte header. The unit test runs at
// every offset of a chunk search, so it is a few comparisons on the bytes
// given; the slice start reader reads the first fields of a slice segment
// header against the decoder configuration's parameter sets.

#include "bitstream/hevc/parameter_sets.h"

#include <cstdint>

namespace HEVC {

// Result of testing one length-prefixed NAL unit.
struct UnitCheck {
    uint32_t length = 0;  // without the 4 length bytes
    uint8_t type = 0;     // nal_unit_type
    uint8_t temporalIdPlus1 = 0;
    uint8_t layer = 0;    // nuh_layer_id
    bool slice = false;   // types 0-9 and 16-21
};

// Units beyond a single-layer stream's that a recorder's samples may carry:
// the unspecified types 48-63 (Dolby Vision writes its metadata as 62 and
// its enhancement layer as 63) and units of layers above the base (the
// second view of multi-view video). Only what the reference's own samples
// showed is let in.
struct UnitExtensions {
    uint16_t unspecifiedTypes = 0;  // bit t - 48 for type t
    bool upperLayers = false;
    bool takes(uint8_t type) const { return type >= 48 && (unspecifiedTypes >> (type - 48) & 1); }
    static UnitExtensions all() { return UnitExtensions{0xFFFF, true}; }
};

// A slice needs its two header bytes and one byte of header fields.
constexpr uint32_t kMinKnownSliceLength = 3;
// Where the sample bounds are unknown, a sample needs one slice at least this
// long: a shorter "slice" is as likely a chance match in audio data.
constexpr uint32_t kMinScanSliceLength = 16;

// Tests the length-prefixed unit at `data` (n bytes available): a length
// below 16,777,216 that ends within n; forbidden bit clear, nuh_layer_id 0; a
// temporal id; and a type a sample holds: a slice of at least
// `minSliceLength` bytes, an access unit delimiter (at most 16 bytes), a
// prefix or suffix SEI (at most 131,072 bytes), an end of sequence or
// bitstream (the header alone), and, with `parameterSets`, VPS, SPS and PPS
// units (recorders that repeat them in front of random access pictures);
// and what `extensions` lets in: an unspecified type of any length, and a
// unit of an upper layer of the kinds above.
bool unitCheck(const uint8_t* data, int64_t n, UnitCheck& out, uint32_t minSliceLength, bool parameterSets,
               const UnitExtensions& extensions = UnitExtensions());

// The fields of a slice segment header up to the picture order count.
struct SliceStart {
    bool firstInPicture = false;
    uint32_t ppsId = 0;
    uint32_t sliceType = 0;  // 0 B, 1 P, 2 I; only for an independent segment
    bool independent = false;
    uint32_t pocLsb = 0;     // 0 for IDR pictures
};

// Reads the slice start of the unit at `nal` (its header first, `length`
// bytes). A picture's first segment is read whole; a later one only up to
// its PPS id. False when the PPS or its SPS is not among `sets`, or the
// fields run past the bytes.
bool readSliceStart(const uint8_t* nal, uint32_t length, const HEVC::ParameterSets& sets, SliceStart& out);

}  // namespace HEVC
