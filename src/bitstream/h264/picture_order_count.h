#pragma once
// Picture order counts of a frame-only H.264 stream, picture by picture in
// decode order: the order in which the pictures are shown. Only the rules
// of pic_order_cnt_type 0 (an lsb in each slice header, its wraps followed
// from one reference picture to the next) and 2 (shown in decode order) are
// followed; type 1 and field coding are not.

#include <cstdint>

namespace H264 {

struct SequenceParameterSet;

class PictureOrderCount {
public:
    // Can the order counts of a stream with this SPS be followed here?
    static bool followed(const SequenceParameterSet& sps);

    explicit PictureOrderCount(const SequenceParameterSet& sps);

    // The order count of the next picture: an IDR picture, a reference
    // picture or neither, with the pic_order_cnt_lsb of its slice header
    // (not used under type 2).
    int64_t next(bool idr, bool reference, uint32_t pocLsb);
    // A picture whose slice header could not be read: it keeps its place in
    // decode order and leaves the wrap tracking as it was. Its count is its
    // decode index, a stand-in only.
    int64_t skip() { return m_decoded++; }

private:
    uint32_t m_type = 0;
    int64_t m_maxLsb = 16;  // MaxPicOrderCntLsb
    int64_t m_prevMsb = 0, m_prevLsb = 0;
    int64_t m_decoded = 0;  // pictures seen so far
};

}  // namespace H264
