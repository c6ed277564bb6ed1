#include "bitstream/h264/picture_order_count.h"

#include "bitstream/h264/sequence_parameter_set.h"

namespace H264 {

bool PictureOrderCount::followed(const SequenceParameterSet& sps) {
    return (sps.pic_order_cnt_type == 0 || sps.pic_order_cnt_type == 2) && sps.frame_mbs_only_flag;
}

PictureOrderCount::PictureOrderCount(const SequenceParameterSet& sps)
    : m_type(sps.pic_order_cnt_type), m_maxLsb(int64_t(1) << (sps.log2_max_pic_order_cnt_lsb_minus4 + 4)) {}

int64_t PictureOrderCount::next(bool idr, bool reference, uint32_t pocLsb) {
    const int64_t index = m_decoded++;
    if (m_type != 0)
        return index;  // type 2: shown in decode order
    if (idr)
        m_prevMsb = m_prevLsb = 0;
    // The order count's high part follows the wraps of its low part from one
    // reference picture to the next.
    const int64_t lsb = int64_t(pocLsb);
    int64_t msb = m_prevMsb;
    if (lsb < m_prevLsb && m_prevLsb - lsb >= m_maxLsb / 2)
        msb = m_prevMsb + m_maxLsb;
    else if (lsb > m_prevLsb && lsb - m_prevLsb > m_maxLsb / 2)
        msb = m_prevMsb - m_maxLsb;
    if (reference)
        m_prevMsb = msb, m_prevLsb = lsb;
    return msb + lsb;
}

}  // namespace H264
