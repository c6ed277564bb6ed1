#pragma once
// Composition offsets of found HEVC samples from their own slice headers: the
// picture order count of each picture's first slice segment says where it is
// shown. An encoder that picks B-frames by content gives every scene its own
// frame-type pattern, so the reference's offsets fit another recording only
// by chance.

#include "bitstream/hevc/parameter_sets.h"
#include "scan/media_sample.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class ScanBuffer;

class HevcCompositionOrder {
public:
    // The decoder configuration's parameter sets; false when they hold no
    // usable SPS.
    bool configure(const HEVC::ParameterSets& sets);

    // Rewrites the composition offsets of the video samples in `samples`
    // (decode order, `frameDuration` media units each) from their picture
    // order counts, one stretch between IDR or BLA pictures at a time. A
    // stretch with a sample whose first slice cannot be read keeps the
    // offsets it has. Returns the number of samples rewritten (0 without
    // `rewriteOffsets`). Either way every video sample's sync state is set
    // from the same reading: a sync sample's first slice is an IRAP picture
    // (BLA, IDR or CRA, as ffmpeg's muxer marks them); one whose first
    // slice cannot be read is no sync sample.
    size_t apply(ScanBuffer& input, FoundSampleList& samples, int64_t frameDuration, bool rewriteOffsets = true);

    // Reads the first slice of a sample just found while the scan's window
    // still holds its bytes, so that apply() need not read the file again
    // at every picture (one small read per picture, all of them at the end
    // of the scan, when nothing else runs beside it).
    void remember(const ScanBuffer& input, int64_t offset, int32_t size);

private:
    // What the first slice segment of a sample says.
    struct FirstSlice {
        uint8_t type = 0, temporalId = 0;
        uint32_t pocLsb = 0;
    };
    enum class Read { Done, Unreadable, NotHeld };
    // A reading kept by remember(), by the sample's file offset and size. An
    // order count lsb has at most 16 bits, so each takes 16 bytes.
    struct Remembered {
        int64_t offset;
        int32_t size;
        uint16_t pocLsb;
        uint8_t type : 7;
        uint8_t readable : 1;
        uint8_t temporalId;
    };

    // Reads the first slice of the sample [offset, offset + size) through
    // `bytes(at, n)`, which gives n bytes from file offset `at`, or nullptr
    // when it does not hold them (NotHeld).
    template <class Bytes>
    Read readFirstSlice(Bytes bytes, int64_t offset, int64_t size, FirstSlice& out) const;
    // The sample's first slice: remembered, or read now.
    bool firstSlice(ScanBuffer& input, const MediaSample& sample, FirstSlice& out);

    bool m_ready = false;
    HEVC::ParameterSets m_sets;
    int64_t m_maxPocLsb = 16;
    // Pictures the decoder holds back before showing the first one, as the
    // SPS declares it; players and muxers start the timeline that late.
    int64_t m_declaredDelay = 0;
    std::vector<Remembered> m_remembered;
    bool m_rememberedSorted = true;
};
