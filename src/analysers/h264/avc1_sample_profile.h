#pragma once
// What an H.264 video sample of the reference looks like, and the tests that
// tell whether bytes of the damaged input form such a sample. Samples are
// NAL units each behind a big-endian length (of the 4 or 2 bytes the
// reference's configuration names); the reference teaches
// which unit layouts and sizes occur (per type of the first slice) and, for
// recorders that begin every frame the same way, which byte prefixes
// ("anchors") start a sample.

#include "analysers/chunk/clean_payload_memo.h"
#include "analysers/chunk/sample_class.h"
#include "analysers/chunk/carried_units.h"
#include "analysers/chunk/learned_sample_codec.h"
#include "bitstream/h264/sample_units.h"
#include "bitstream/h264/slice_header.h"

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Reference samples whose first slice has one nal_unit_type.
struct Avc1SampleClass : SampleClass {
    uint32_t maxSlices = 0;  // slices of one sample
    // How the first slices of the class begin: their NAL header bytes
    // (nal_ref_idc with the type) and slice_type values.
    std::bitset<256> headerBytes;
    std::bitset<10> sliceTypes;
};

// Everything learnt from the reference's samples.
class Avc1SampleProfile : public LearnedSampleCodec {
public:
    // Forget everything learnt; lengths are 4 bytes again.
    void clear() override;
    // Units' lengths are `bytes` (2 or 4) long: set before learning.
    void setLengthSize(unsigned bytes) { m_lengthSize = bytes == 2 ? 2 : 4; }
    unsigned lengthSize() const override { return m_lengthSize; }
    // The slice headers' context per PPS id (from the reference's parameter
    // sets; `present` marks the ids it has). With two-byte lengths any
    // two bytes pass for a length, so a first slice must then also keep the
    // rules of its whole header; so must a picture too short for the scan's
    // unit test (see measureSample).
    void setSliceContexts(std::vector<H264::SliceContext> contexts, std::vector<bool> present) {
        m_contexts = std::move(contexts);
        m_contextPresent = std::move(present);
    }
    // Learns from one reference sample (its bytes, whole). Returns false when
    // the sample does not tile and was skipped.
    bool learn(const uint8_t* data, int64_t size) override;
    // After the last learn(): picks the anchors and decides the fast flag.
    void finishLearning() override;

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
    bool anchorTest(const uint8_t* data, int64_t n) const {
        return !m_fast || anchorAt(data, n) > 0 || anchorBehindMessage(data, n);
    }
    // An SEI unit in front of an anchor: an encoder's first picture carries
    // its own message (x264's settings) ahead of what every picture begins with.
    bool anchorBehindMessage(const uint8_t* data, int64_t n) const;
    // Size of the sample that begins at `data` (n bytes available), or 0.
    // Without anchors the sample ends where the next access unit begins (an
    // access unit delimiter, an SEI, a slice of a new picture) or where the
    // bytes stop being NAL units that a sample can hold. Its first slice may
    // be short, but one of its slices must pass the scan's unit test, unless
    // the first slice's whole header holds: a still scene codes whole
    // pictures in a few bytes.
    // nextPlausibleStart() offers short units as starts for that reason.
    int64_t measureSample(const uint8_t* data, int64_t n) const override;

    // One picture at `data` within bytes known to hold only whole samples:
    // its slices may be as short as a still scene codes them. The first
    // slice must begin as the reference's do (at macroblock 0), the others
    // go on with it (same header byte and parameter set, further down the
    // picture), and every unit must keep the NAL byte rules.
    int64_t measureBoundedSample(const uint8_t* data, int64_t n) const override;

    // The chunk search's view: NAL unit test, anchors, PPS id.
    int64_t nextPlausibleStart(const uint8_t* data, int64_t n, int64_t from, int64_t last) const override;
    bool continuesAt(const uint8_t* data, int64_t n) const override { return anchorTest(data, n); }
    bool beginsAfterPadding(const uint8_t* data, int64_t n) const override { return anchorAt(data, n) > 0; }
    int32_t parameterSetId(const uint8_t* sample, int64_t size) const override;

    bool empty() const override { return m_classes.empty(); }
    bool carriedParameterSet(const uint8_t* unit, int64_t length) const override {
        return m_carriedSets.contains(unit, length);
    }
    bool wholeSample(const uint8_t* data, int64_t size) const override {
        return H264::tileSample(data, size, m_extras, m_lengthSize).exact;
    }
    bool boundedUnitAt(const uint8_t* data, int64_t n) const override {
        H264::NalUnitCheck nal;
        return unitAt(data, n, nal, H264::kMinKnownSliceLength);
    }
    int64_t nextBoundedUnit(const uint8_t* data, int64_t n, int64_t from) const override {
        return nextLengthPrefixedUnit(data, n, from, m_lengthSize, [this](const uint8_t* d, int64_t m) {
            return Avc1SampleProfile::boundedUnitAt(d, m);
        });
    }
    bool fast() const { return m_fast; }
    const std::vector<Avc1SampleClass>& classes() const { return m_classes; }
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
    // The extra kinds of unit (H264::kScalableUnits...) the reference's
    // samples carried.
    uint8_t extraUnits() const { return m_extras; }

    // For tests and for callers that learn anchors elsewhere.
    void setFast(bool fast) { m_fast = fast; }
    void setSearchWindow(const uint8_t* data, int64_t n, int64_t offset) override {
        m_cleanMemo.setWindow(data, n, offset);
    }

private:
    // Does the unit at `data` (which passed the NAL unit test, n bytes
    // available) begin the next access unit, given `slices` slices of the
    // current one so far?
    bool beginsNextPicture(const uint8_t* data, int64_t n, const H264::NalUnitCheck& nal, uint32_t slices) const;
    // Is the unit at `data`, which failed the scan's NAL unit test, a slice
    // too short for that test that goes on with the picture whose first
    // slice had the header byte `firstHeader` and whose latest slice began
    // as `previous`? A slice over a still part of the picture codes its
    // macroblocks as skipped in a few bytes, and a picture cut into several
    // slices has such slices wherever the scene does not move. Fills `nal`.
    // Size of the wrapped picture (see H264::wrappedPictureSlice) that
    // begins at `data` when the reference's samples were such and its first
    // slice begins as theirs did, or 0. Its length is the sample's.
    int64_t wrappedSampleAt(const uint8_t* data, int64_t n) const;
    // Does another slice of the picture (the first slice's header byte, a
    // header that goes on from the `previous` slice's) begin at `data` and
    // run past the `n` bytes given?
    bool sliceRunsPast(const uint8_t* data, int64_t n, uint8_t firstHeader, const H264::SliceHeaderStart& previous) const;
    bool continuesPicture(const uint8_t* data, int64_t n, uint8_t firstHeader, const H264::SliceHeaderStart& previous,
                          uint32_t slices, H264::NalUnitCheck& nal) const;

    std::vector<Avc1SampleClass> m_classes;
    std::vector<SampleAnchor> m_anchorCounts;  // every key seen while learning
    std::vector<SampleAnchor> m_anchors;       // the kept anchors, most frequent first
    uint32_t m_samplesUsed = 0;
    uint32_t m_coverage = 0;
    bool m_fast = false;
    uint32_t m_minSize = 0, m_maxSize = 0;
    uint32_t m_minFirstSlice = 0, m_maxFirstSlice = 0;
    uint32_t m_maxSlices = 0;
    // The most units a sample that opens with a short unit holds in front of
    // its first slice: x264 opens a key picture with a recovery point SEI
    // and then the picture timing SEI that opens every other picture, so an
    // anchor may follow another inside one sample.
    uint32_t m_maxLeadingUnits = 1;
    // Cleared when a reference sample breaks the NAL byte rules (some
    // recorders pad their units with zeros), so the input is not held to them.
    bool m_payloadsClean = true;
    // Cleared when a reference sample's first slice does not start at
    // macroblock 0 (arbitrary slice order), so that no sample is held to it.
    bool m_firstSliceAtZero = true;
    // What the payload test already read of the input.
    mutable CleanPayloadMemo m_cleanMemo;
    // The extra kinds of unit the reference's samples carry: only those are
    // taken as parts of a sample.
    uint8_t m_extras = 0;
    unsigned m_lengthSize = H264::kUsualLengthSize;
    std::vector<H264::SliceContext> m_contexts;
    std::vector<bool> m_contextPresent;
    // Does the slice (`nal` at its header byte, whose header names PPS
    // `ppsId`) name a parameter set of the reference and keep the rules of
    // its whole header? True when no context was given.
    bool wholeHeaderHolds(const uint8_t* nal, uint32_t length, uint32_t ppsId) const;
    // The same for the first slice of a picture of short slices, which is
    // false when no context was given.
    bool shortPictureHolds(const uint8_t* nal, uint32_t length) const;
    mutable std::string m_headerProblem;  // what the header parse found wrong, unused
    // The unit types the reference's samples held.
    std::bitset<32> m_unitTypes;
    // With two-byte lengths a frame of sound now and then begins with what
    // reads as its own length and a header byte (an AAC frame's first
    // element and gain as an SPS extension of exactly its size): units
    // other than slices must then be of a type the reference's samples had.
    bool unitAt(const uint8_t* data, int64_t n, H264::NalUnitCheck& nal,
                uint32_t minSliceLength = H264::kMinScanSliceLength) const {
        return H264::nalUnitCheck(data, n, nal, minSliceLength, m_extras, m_lengthSize) &&
               (m_lengthSize != 2 || nal.slice || m_unitTypes.test(nal.type));
    }
    // Parameter sets the reference's samples carried in front of their slices.
    CarriedUnits m_carriedSets;
};
