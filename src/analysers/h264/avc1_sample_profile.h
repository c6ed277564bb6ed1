#pragma once
// What an H.264 video sample of the reference looks like, and the tests that
// tell whether bytes of the damaged input form such a sample. Samples are
// NAL units each behind a 4-byte big-endian length; the reference teaches
// which unit layouts and sizes occur (per type of the first slice) and, for
// recorders that begin every frame the same way, which byte prefixes
// ("anchors") start a sample.

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <vector>

// Result of testing one length-prefixed NAL unit.
struct NalUnitCheck {
    uint32_t length = 0;  // without the 4 length bytes
    uint8_t type = 0;     // nal_unit_type
    bool slice = false;   // type 1 or 5
};

// Tests the length-prefixed NAL unit at `data` with `n` bytes available. Only
// units that can make up a sample stored with out-of-band parameter sets
// pass: slices (types 1, 5) of 32 to 1,499,999 bytes, and SEI, access unit
// delimiter, end of sequence/stream and SPS extension units of at most 799
// bytes. This runs at every offset of a candidate search, so it is a few
// comparisons on the bytes given.
inline bool nalUnitCheck(const uint8_t* data, int64_t n, NalUnitCheck& out) {
    // A length larger than this cannot be one slice of any frame a recorder
    // writes; rejecting it early keeps random bytes from passing.
    constexpr uint32_t kMaxNalLength = 1500000;
    constexpr uint32_t kMinSliceLength = 32;      // smaller "slices" are chance matches in audio data
    constexpr uint32_t kMaxSliceLength = 1499999;
    constexpr uint32_t kMaxSideUnitLength = 799;  // SEI, AUD and the like are short
    if (n < 5)
        return false;
    const uint32_t length = (uint32_t(data[0]) << 24) | (uint32_t(data[1]) << 16) | (uint32_t(data[2]) << 8) | data[3];
    if (length == 0 || length > kMaxNalLength || int64_t(length) + 4 > n)
        return false;
    const uint8_t header = data[4];
    if (header & 0x80)  // forbidden_zero_bit
        return false;
    const uint8_t type = header & 0x1F;
    const bool slice = (header & 0x1B) == 1;  // types 1 and 5
    if (slice) {
        if (length < kMinSliceLength || length > kMaxSliceLength)
            return false;
    } else {
        if (!((type >= 2 && type <= 13) || type == 19) || length > kMaxSideUnitLength)
            return false;
        // Data partitions, in-band SPS/PPS, filler and auxiliary slices never
        // occur in the samples we can rebuild.
        if (type <= 4 || type == 7 || type == 8 || type == 12 || type == 19)
            return false;
    }
    out.length = length;
    out.type = type;
    out.slice = slice;
    return true;
}

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
};

// Walks the NAL units of a `size`-byte sample (at least 5 bytes, at most 512
// units).
SampleTiling tileSample(const uint8_t* data, int64_t size);

// Reference samples whose first slice has one nal_unit_type.
struct SampleProfileClass {
    uint8_t key = 0;  // type of the first slice
    uint32_t minSize = 0, maxSize = 0;
    uint32_t minFirstSlice = 0, maxFirstSlice = 0;
    uint32_t minUnits = 0, maxUnits = 0;
    uint32_t maxSlices = 0;  // slices of one sample
    uint32_t samples = 0;
    // How the first slices of the class begin: their NAL header bytes
    // (nal_ref_idc with the type) and slice_type values.
    std::bitset<256> headerBytes;
    std::bitset<10> sliceTypes;
};

// A byte string that begins reference samples.
struct SampleAnchor {
    std::vector<uint8_t> bytes;
    uint32_t count = 0;
};

// Everything learnt from the reference's samples.
class Avc1SampleProfile {
public:
    // Forget everything learnt.
    void clear();
    // Learns from one reference sample (its bytes, whole). Returns false when
    // the sample does not tile and was skipped.
    bool learn(const uint8_t* data, int64_t size);
    // After the last learn(): picks the anchors and decides the fast flag.
    void finishLearning();

    // Can a sample whose first slice has type `type` and length
    // `firstSlice` hold `slices` slices? True when the reference has a class
    // for the type and used as many slices per picture. Sizes are not held
    // against the reference's: the damaged recording is another scene, and
    // its frames may be many times smaller (a still scene) or larger (an
    // intra frame of a busy one) than any frame of the reference.
    bool classFit(uint8_t type, uint32_t firstSlice, uint32_t slices) const;
    // Does the first slice of a sample (`nal` at its header byte, `length`
    // bytes) begin the way the reference's first slices of its type do:
    // the same header byte, a slice type seen there, and, as in every
    // recording without arbitrary slice order, at macroblock 0? The tail
    // of an AAC frame followed by the next frame's first byte passes the NAL
    // unit test often enough that the class sizes alone cannot tell.
    bool firstSliceFits(const uint8_t* nal, uint32_t length) const;
    // Length of the anchor that `data` (n bytes) begins with, or 0.
    size_t anchorAt(const uint8_t* data, int64_t n) const;
    // True without the fast flag; otherwise when the data begins with an anchor.
    bool anchorTest(const uint8_t* data, int64_t n) const { return !m_fast || anchorAt(data, n) > 0; }
    // Size of the sample that begins at `data` (n bytes available), or 0.
    // Without anchors the sample ends where the next access unit begins (an
    // access unit delimiter, an SEI, a slice of a new picture) or where the
    // bytes stop being NAL units that a sample can hold.
    int64_t measureSample(const uint8_t* data, int64_t n) const;

    bool empty() const { return m_classes.empty(); }
    bool fast() const { return m_fast; }
    const std::vector<SampleProfileClass>& classes() const { return m_classes; }
    const std::vector<SampleAnchor>& anchors() const { return m_anchors; }
    uint32_t samplesUsed() const { return m_samplesUsed; }
    // Share of the used samples that begin with a kept anchor, in tenths of a percent.
    uint32_t anchorCoverage() const { return m_coverage; }
    uint32_t minSampleSize() const { return m_minSize; }
    uint32_t maxSampleSize() const { return m_maxSize; }
    uint32_t minFirstSlice() const { return m_minFirstSlice; }
    uint32_t maxFirstSlice() const { return m_maxFirstSlice; }
    uint32_t maxSlices() const { return m_maxSlices; }
    bool payloadsClean() const { return m_payloadsClean; }

    // For tests and for callers that learn anchors elsewhere.
    void setFast(bool fast) { m_fast = fast; }

private:
    // Does the unit at `data` (which passed the NAL unit test) begin the
    // next access unit, given `slices` slices of the current one so far?
    bool beginsNextPicture(const uint8_t* data, const NalUnitCheck& nal, uint32_t slices) const;

    std::vector<SampleProfileClass> m_classes;
    std::vector<SampleAnchor> m_anchorCounts;  // every key seen while learning
    std::vector<SampleAnchor> m_anchors;       // the kept anchors, most frequent first
    uint32_t m_samplesUsed = 0;
    uint32_t m_coverage = 0;
    bool m_fast = false;
    uint32_t m_minSize = 0, m_maxSize = 0;
    uint32_t m_minFirstSlice = 0, m_maxFirstSlice = 0;
    uint32_t m_maxSlices = 0;
    // Cleared when a reference sample breaks the NAL byte rules (some
    // recorders pad their units with zeros), so the input is not held to them.
    bool m_payloadsClean = true;
    // Cleared when a reference sample's first slice does not start at
    // macroblock 0 (arbitrary slice order), so that no sample is held to it.
    bool m_firstSliceAtZero = true;
};
