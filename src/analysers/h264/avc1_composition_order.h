#pragma once
// Composition offsets of found H.264 samples from their own slice headers.
// The reference's offsets fit the damaged recording only while both happen
// to share a frame-type pattern (and run out where the reference ends); an
// encoder that picks B-frames by content gives every scene its own pattern.
// The picture order count in each first slice says where the frame is shown.

#include "scan/media_sample.h"
#include "bitstream/h264/sequence_parameter_set.h"
#include "bitstream/h264/slice_header.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class ScanBuffer;
struct H264Config;

class Avc1CompositionOrder {
public:
    // Reads the SPS and PPS of the avcC; false when there is no usable pair
    // or the order count is one the rules here do not follow.
    bool configure(const H264Config& avc);

    // Rewrites the composition offsets of the video samples in `samples`
    // (decode order, `frameDuration` media units each) from their picture
    // order counts, one stretch between IDR pictures at a time. A stretch
    // with a sample whose first slice cannot be read keeps the offsets it
    // has. Returns the number of samples rewritten (0 without
    // `rewriteOffsets`). Either way every video sample's sync state is set
    // from the same reading: a sync sample holds an IDR picture, or an
    // I picture announced by a recovery point SEI (as x264 opens an open
    // group of pictures, and ffmpeg's muxer lists it as a key frame); one
    // whose first slice cannot be read is no sync sample.
    size_t apply(ScanBuffer& input, FoundSampleList& samples, int64_t frameDuration,
                 bool rewriteOffsets = true) const;

    // Of the pairs of readable pictures one behind the other in the last
    // apply(), how many the second continues by frame number: the first's
    // number (one more behind a reference picture), or 0 (an IDR picture
    // or a reset). Chance pictures in other data continue one another
    // about as often as two random numbers below MaxFrameNum agree.
    struct Continuity {
        size_t pairs = 0, continuing = 0;
    };
    Continuity lastContinuity() const { return m_continuity; }

private:
    // One picture of a sample: a frame, or one field of a field pair.
    struct Coded {
        bool idr = false, reference = false;
        // A recovery point SEI stands in front of the picture.
        bool recoveryPoint = false;
        H264::SliceHeader header;
    };
    // The pictures of the sample, from the first slice of each: one frame,
    // or up to two fields (a field pair is stored as one sample). Empty when
    // the first slice cannot be read.
    size_t readPictures(ScanBuffer& input, const MediaSample& sample, Coded (&out)[2]) const;

    bool m_ready = false;
    unsigned m_lengthSize = 4;  // of the length in front of each unit
    // The first SPS of the avcC: its order count rules hold for the stream.
    H264::SequenceParameterSet m_sps;
    // Frames the decoder holds back before showing the first one, as the
    // SPS declares it (max_num_reorder_frames); players and muxers start
    // the timeline that late, so the offsets do too.
    int64_t m_declaredDelay = 0;
    // Slice header context per pic_parameter_set_id; absent ids are unusable.
    std::vector<H264::SliceContext> m_contexts;
    std::vector<bool> m_present;
    mutable Continuity m_continuity;
};
