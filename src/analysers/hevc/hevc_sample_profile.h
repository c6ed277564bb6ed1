#pragma once
// What an HEVC video sample of the reference looks like, and the tests that
// tell whether bytes of the damaged input form such a sample. The reference
// teaches which kinds of first slice occur (by nal_unit_type) and how their
// headers begin (temporal ids, slice types, parameter sets), how many slice
// segments a picture takes, and whether its units keep the NAL byte rules.
// Sizes are learnt for the log only: the damaged recording is another scene,
// and a black or still reference codes its frames in a few bytes.

#include "analysers/chunk/clean_payload_memo.h"
#include "analysers/chunk/carried_units.h"
#include "analysers/chunk/learned_sample_codec.h"
#include "analysers/chunk/sample_class.h"
#include "bitstream/hevc/sample_units.h"
#include "bitstream/hevc/parameter_sets.h"

#include <bitset>
#include <cstdint>
#include <vector>

// Reference samples whose first slice has one nal_unit_type.
struct HevcSampleClass : SampleClass {
    uint32_t maxSlices = 0;  // slice segments of one sample
};

class HevcSampleProfile : public LearnedSampleCodec {
public:
    // The parameter sets of the decoder configuration, which slice headers
    // are read against. Kept until the next call.
    void setParameterSets(const HEVC::ParameterSets& sets) {
        m_sets = sets;
        m_parseSets = sets;
    }

    void clear() override;
    bool learn(const uint8_t* data, int64_t size) override;
    // A preview track's pictures, read against the same parameter sets,
    // differ in how many entry points (rows of coding blocks, tiles) their
    // first slices name: where none of its counts is one of ours, a picture
    // that names one of its counts is not ours.
    void learnOtherTrack(const uint8_t* data, int64_t size) override;
    void finishLearning() override;
    bool empty() const override { return m_classes.empty(); }
    bool wholeSample(const uint8_t* data, int64_t size) const override;
    bool carriedParameterSet(const uint8_t* unit, int64_t length) const override {
        return m_carriedSets.contains(unit, length);
    }
    bool boundedUnitAt(const uint8_t* data, int64_t n) const override;
    int64_t nextBoundedUnit(const uint8_t* data, int64_t n, int64_t from) const override {
        return nextLengthPrefixedUnit(data, n, from, 4, [this](const uint8_t* d, int64_t m) {
            return HevcSampleProfile::boundedUnitAt(d, m);
        });
    }
    void setSearchWindow(const uint8_t* data, int64_t n, int64_t offset) override {
        m_cleanMemo.setWindow(data, n, offset);
    }

    // A picture: units in front of its first slice segment (delimiter,
    // prefix SEI), its segments (the first says it is one, the others go on
    // with its type and parameter set), suffix SEI. It ends where the next
    // picture's units begin. One segment must be long enough for the search.
    int64_t measureSample(const uint8_t* data, int64_t n) const override;
    // The same within bytes known to hold only whole samples: segments may
    // be as short as a still scene codes them.
    int64_t measureBoundedSample(const uint8_t* data, int64_t n) const override;
    int64_t measureOtherTrackSample(const uint8_t* data, int64_t n) const override;
    int64_t nextPlausibleStart(const uint8_t* data, int64_t n, int64_t from, int64_t last) const override;
    bool continuesAt(const uint8_t*, int64_t) const override { return true; }
    bool beginsAfterPadding(const uint8_t*, int64_t) const override { return false; }
    int32_t parameterSetId(const uint8_t* sample, int64_t size) const override;

    // Does a picture whose first slice segment is `nal` (header first,
    // `length` bytes) begin the way the reference's pictures do? Its type
    // must be one the reference's first slices had, or of the same family
    // (random access, or leading and trailing pictures: a recorder whose
    // groups open on scene cuts starts them with CRA pictures and RASL
    // pictures that a short reference may never show), with a temporal id,
    // slice type and parameter set seen there.
    bool firstSliceFits(const uint8_t* nal, uint32_t length) const;

    const std::vector<HevcSampleClass>& classes() const { return m_classes; }
    uint32_t maxSlices() const { return m_maxSlices; }
    // Are another video track's pictures told apart by their entry points?
    bool tellsOtherTrackApart() const override { return m_entryPointsTellTracks; }
    bool parameterSetsInSamples() const { return m_parameterSetsInSamples; }
    const HEVC::UnitExtensions& extensions() const { return m_extensions; }

private:
    // `otherTrack`: a picture of the reference's other video track.
    int64_t measure(const uint8_t* data, int64_t n, bool bounded, bool otherTrack = false) const;
    bool otherTrackSliceFits(const uint8_t* nal, uint32_t length) const;
    // num_entry_point_offsets of a first slice segment; -1 when its picture
    // parameter set has neither tiles nor wavefronts or the header does not read.
    int32_t entryPoints(const uint8_t* nal, uint32_t length) const;
    // The first slice segment of a sample, or null.
    const uint8_t* firstSlice(const uint8_t* data, int64_t size, uint32_t& length) const;
    bool unitAt(const uint8_t* data, int64_t n, HEVC::UnitCheck& out, uint32_t minSliceLength) const {
        return HEVC::unitCheck(data, n, out, minSliceLength, m_parameterSetsInSamples, m_extensions);
    }
    // Did the reference's samples carry such an extension unit in front of
    // their first base-layer slice (`leading`) or behind it?
    bool extensionFits(const HEVC::UnitCheck& u, bool leading) const;

    HEVC::ParameterSets m_sets;
    // The same sets for whole slice headers, whose reading marks the active one.
    mutable HEVC::ParameterSets m_parseSets;
    std::vector<HevcSampleClass> m_classes;
    uint32_t m_maxSlices = 0;
    // What the first slices showed, by family (0: random access, 1: others).
    std::bitset<3> m_sliceTypes[2];
    std::bitset<8> m_temporalIds;
    std::bitset<64> m_ppsIds;
    bool m_parameterSetsInSamples = false;
    // Cleared when a reference unit breaks the NAL byte rules.
    bool m_payloadsClean = true;
    // What the payload test already read of the input.
    mutable CleanPayloadMemo m_cleanMemo;
    // Entry point counts of the first slices of this track and of the
    // reference's other video tracks.
    static constexpr size_t kEntryPointCounts = 1024;
    std::bitset<kEntryPointCounts> m_entryPoints, m_otherEntryPoints;
    bool m_entryPointsUnknown = false;
    bool m_entryPointsTellTracks = false;
    // Extension units (unspecified types, upper layers) the reference's
    // samples carried: all of them, those in front of the first base-layer
    // slice, and those behind it, which belong to the picture in front.
    HEVC::UnitExtensions m_extensions, m_leading, m_trailing;
    // Parameter sets the reference's samples carried in front of their slices.
    CarriedUnits m_carriedSets;
};
