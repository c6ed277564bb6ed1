#pragma once
// Picture order counts of an H.264 stream, picture by picture in decode
// order: the order in which the pictures are shown. All three rules are
// followed (type 0: an lsb in each slice header whose wraps are tracked from
// one reference picture to the next; type 1: expected counts from frame_num
// and the SPS's cycle of offsets; type 2: twice the frame number), for
// frames, MBAFF frames and single field pictures alike. Memory management
// operation 5 (which restarts the counts without an IDR) is not read.

#include "bitstream/h264/sequence_parameter_set.h"

#include <cstdint>

namespace H264 {

struct SliceHeader;

class PictureOrderCount {
public:
    // Can the order counts of a stream with this SPS be followed here?
    static bool followed(const SequenceParameterSet& sps);

    explicit PictureOrderCount(const SequenceParameterSet& sps);

    // The order count of the next picture (a frame or one field) from the
    // first slice header of it: whether it is an IDR and a reference
    // picture (nal_ref_idc != 0). A frame's count is the lesser of its two
    // fields' counts: the field shown first.
    int64_t next(bool idr, bool reference, const SliceHeader& sh);
    // A picture whose slice header could not be read: it keeps its place in
    // decode order and leaves the tracking as it was. Its count is a
    // stand-in only.
    int64_t skip() { return m_decoded++; }

private:
    int64_t frameNumOffset(bool idr, uint32_t frameNum);
    int64_t expectedCount(bool reference, int64_t absFrameNum) const;

    SequenceParameterSet m_sps;
    int64_t m_maxLsb = 16;       // MaxPicOrderCntLsb
    int64_t m_maxFrameNum = 16;  // MaxFrameNum
    int64_t m_prevMsb = 0, m_prevLsb = 0;
    int64_t m_prevFrameNumOffset = 0;
    uint32_t m_prevFrameNum = 0;
    int64_t m_decoded = 0;  // pictures seen so far
};

}  // namespace H264
