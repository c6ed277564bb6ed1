#pragma once
// The NAL units of an H.264 sample as a movie stores it: each unit behind a
// big-endian length of `lengthSize` bytes (4 nearly always, 2 from some
// phones), parameter sets kept out of band. These tests
// decide which bytes can be such a sample; they run at every offset of a
// search, so the unit test is a few comparisons on the bytes given.

#include "bitstream/common/byte_read.h"

#include <cstdint>

namespace H264 {

// Result of testing one length-prefixed NAL unit.
struct NalUnitCheck {
    uint32_t length = 0;  // without the length bytes
    uint8_t type = 0;     // nal_unit_type
    bool slice = false;   // type 1 or 5
};

// NAL unit types of scalable (SVC) streams: the prefix unit in front of each
// base-layer slice, which carries its temporal layer, and the slice of an
// enhancement layer. Phones that record slow motion in temporal layers write
// both into every sample; a stream without them never has them.
constexpr uint8_t kPrefixUnit = 14;
constexpr uint8_t kSliceExtension = 20;

// Units beyond a plain sample's that a recorder may write into its samples,
// as flags: the scalable-stream units above, and parameter sets (SPS, PPS)
// repeated in front of a picture.
constexpr uint8_t kScalableUnits = 1;
constexpr uint8_t kParameterSetUnits = 2;
constexpr uint8_t kAllExtraUnits = kScalableUnits | kParameterSetUnits;

// Lengths are written in this many bytes unless the configuration says otherwise.
constexpr unsigned kUsualLengthSize = 4;

// Tests the length-prefixed NAL unit at `data` with `n` bytes available. Only
// units that can make up a sample stored with out-of-band parameter sets
// pass: slices (types 1, 5) of 32 to 1,499,999 bytes, and SEI, access unit
// delimiter, end of sequence/stream and SPS extension units of at most 799
// bytes that keep the fixed parts of their syntax. With kScalableUnits in
// `extras`, prefix units and slice extensions (like slices) pass too; with
// kParameterSetUnits, SPS and PPS units of at most 799 bytes.
//
// `minSliceLength` is for bytes whose sample bounds are unknown: there a
// smaller "slice" is as likely a chance match in audio data. Within a sample
// whose bounds are known (the reference's own), a slice may be as short as a
// still or dark scene codes it: a header byte and a few bits.
constexpr uint32_t kMinScanSliceLength = 32;
constexpr uint32_t kMinKnownSliceLength = 2;
inline bool nalUnitCheck(const uint8_t* data, int64_t n, NalUnitCheck& out,
                         uint32_t minSliceLength = kMinScanSliceLength, uint8_t extras = 0,
                         unsigned lengthSize = kUsualLengthSize) {
    // A length larger than this cannot be one slice of any frame a recorder
    // writes; rejecting it early keeps random bytes from passing.
    constexpr uint32_t kMaxNalLength = 1500000;
    constexpr uint32_t kMaxSliceLength = 1499999;
    constexpr uint32_t kMaxSideUnitLength = 799;  // SEI, AUD and the like are short
    if (n < int64_t(lengthSize) + 1)
        return false;
    const uint32_t length = bitstream::readUnitLength(data, lengthSize);
    if (length == 0 || length > kMaxNalLength || int64_t(length) + lengthSize > n)
        return false;
    const uint8_t header = data[lengthSize];
    if (header & 0x80)  // forbidden_zero_bit
        return false;
    const uint8_t type = header & 0x1F;
    const bool slice = (header & 0x1B) == 1;  // types 1 and 5
    const bool scalable = (extras & kScalableUnits) != 0;
    if (slice || (scalable && type == kSliceExtension)) {
        if (length < minSliceLength || length > kMaxSliceLength)
            return false;
    } else if (scalable && type == kPrefixUnit) {
        // A wrapped picture (below) is as long as the picture.
        if (length > kMaxSliceLength)
            return false;
    } else if ((extras & kParameterSetUnits) && (type == 7 || type == 8)) {
        if (length < 2 || length > kMaxSideUnitLength)
            return false;
    } else {
        if (!((type >= 2 && type <= 13) || type == 19) || length > kMaxSideUnitLength)
            return false;
        // Data partitions, in-band SPS/PPS, filler and auxiliary slices never
        // occur in the samples we can rebuild.
        if (type <= 4 || type == 7 || type == 8 || type == 12 || type == 19)
            return false;
        // What the syntax fixes for the short units: SEI, delimiters and the
        // end markers carry nal_ref_idc 0; an end of sequence or stream is
        // the header alone; a delimiter is one byte of primary_pic_type and
        // its stop bit. The tail of an audio frame followed by the next
        // frame's length passes the looser tests now and then, and a "unit"
        // taken there shifts the frame and cuts the audio in front of it.
        if (type != 13 && (header & 0x60) != 0)
            return false;
        if ((type == 10 || type == 11) && length != 1)
            return false;
        if (type == 9 && (length != 2 || (data[lengthSize + 1] & 0x1F) != 0x10))
            return false;
    }
    out.length = length;
    out.type = type;
    out.slice = slice;
    return true;
}

// Some slow-motion recorders store each picture as one length-prefixed
// prefix unit whose length covers the prefix's four bytes and then the
// picture's own units in byte-stream form, each behind a start code. Where
// is the first slice of such a "wrapped" picture (`unit` at its header byte,
// `length` bytes)? False for a plain prefix unit or anything else.
struct WrappedSlice {
    uint32_t offset = 0;  // of the slice's header byte within the unit
    uint8_t type = 0;
};
bool wrappedPictureSlice(const uint8_t* unit, uint32_t length, WrappedSlice& out);

// Does the NAL unit at `unit` (header byte first, `length` bytes) keep the
// byte rules of H.264's NAL unit syntax: no 0x000000, 0x000001 or 0x000002
// at any position (emulation prevention) and a last byte other than 0x00?
// Audio or other data that passed the length test almost never does over
// more than a few hundred bytes. Reads the whole unit.
bool nalPayloadClean(const uint8_t* unit, uint32_t length);

// How a buffer that should be exactly one sample splits into NAL units.
struct SampleTiling {
    bool exact = false;          // the units end exactly at the sample end
    uint32_t units = 0;
    uint32_t firstUnitLength = 0;
    uint8_t firstUnitType = 0;
    uint32_t firstSliceLength = 0;  // 0: no slice
    uint8_t firstSliceType = 0;
    int64_t firstSliceOffset = 0;   // of its length prefix
    uint32_t slices = 0;
    uint8_t extras = 0;             // the extra kinds of unit met
};

// Walks the NAL units of a `size`-byte sample whose bounds are known (at
// least 5 bytes, at most 512 units); its slices may be of any length. A
// wrapped picture (below) counts as one unit with its first slice.
// `extras` and `lengthSize` as for nalUnitCheck().
SampleTiling tileSample(const uint8_t* data, int64_t size, uint8_t extras = 0,
                        unsigned lengthSize = kUsualLengthSize);

// pic_parameter_set_id of the first slice of a sample, or -1.
int32_t firstSlicePpsId(const uint8_t* sample, int64_t size, uint8_t extras = 0,
                        unsigned lengthSize = kUsualLengthSize);

}  // namespace H264
