#include "bitstream/h264/picture_order_count.h"

#include "bitstream/h264/sequence_parameter_set.h"
#include "bitstream/h264/slice_header.h"

#include <algorithm>

namespace H264 {

bool PictureOrderCount::followed(const SequenceParameterSet& sps) {
    return sps.pic_order_cnt_type <= 2 &&
           (sps.pic_order_cnt_type != 1 ||
            sps.num_ref_frames_in_pic_order_cnt_cycle < sps.offset_for_ref_frame.size());
}

PictureOrderCount::PictureOrderCount(const SequenceParameterSet& sps)
    : m_sps(sps),
      m_maxLsb(int64_t(1) << (sps.log2_max_pic_order_cnt_lsb_minus4 + 4)),
      m_maxFrameNum(int64_t(1) << (sps.log2_max_frame_num_minus4 + 4)) {}

int64_t PictureOrderCount::frameNumOffset(bool idr, uint32_t frameNum) {
    // frame_num wraps at MaxFrameNum; the offset counts the wraps, picture
    // by picture (reference or not).
    int64_t offset = m_prevFrameNumOffset;
    if (idr)
        offset = 0;
    else if (m_prevFrameNum > frameNum)
        offset += m_maxFrameNum;
    m_prevFrameNumOffset = offset;
    m_prevFrameNum = frameNum;
    return offset;
}

int64_t PictureOrderCount::expectedCount(bool reference, int64_t absFrameNum) const {
    const uint32_t cycle = m_sps.num_ref_frames_in_pic_order_cnt_cycle;
    int64_t expected = 0;
    if (absFrameNum > 0) {
        int64_t perCycle = 0;
        for (uint32_t i = 0; i < cycle; ++i)
            perCycle += m_sps.offset_for_ref_frame[i];
        const int64_t cycles = (absFrameNum - 1) / cycle;
        const int64_t inCycle = (absFrameNum - 1) % cycle;
        expected = cycles * perCycle;
        for (int64_t i = 0; i <= inCycle; ++i)
            expected += m_sps.offset_for_ref_frame[size_t(i)];
    }
    if (!reference)
        expected += m_sps.offset_for_non_ref_pic;
    return expected;
}

int64_t PictureOrderCount::next(bool idr, bool reference, const SliceHeader& sh) {
    ++m_decoded;
    const bool field = sh.field_pic_flag, bottom = sh.field_pic_flag && sh.bottom_field_flag;
    int64_t top = 0, bot = 0;
    if (m_sps.pic_order_cnt_type == 0) {
        if (idr)
            m_prevMsb = m_prevLsb = 0;
        // The high part follows the wraps of the low part from one
        // reference picture to the next.
        const int64_t lsb = int64_t(sh.pic_order_cnt_lsb);
        int64_t msb = m_prevMsb;
        if (lsb < m_prevLsb && m_prevLsb - lsb >= m_maxLsb / 2)
            msb = m_prevMsb + m_maxLsb;
        else if (lsb > m_prevLsb && lsb - m_prevLsb > m_maxLsb / 2)
            msb = m_prevMsb - m_maxLsb;
        if (reference)
            m_prevMsb = msb, m_prevLsb = lsb;
        top = msb + lsb;
        bot = field ? top : top + sh.delta_pic_order_cnt_bottom;
    } else if (m_sps.pic_order_cnt_type == 1) {
        const int64_t offset = frameNumOffset(idr, sh.frame_num);
        int64_t absFrameNum = m_sps.num_ref_frames_in_pic_order_cnt_cycle ? offset + sh.frame_num : 0;
        if (!reference && absFrameNum > 0)
            --absFrameNum;
        const int64_t expected = expectedCount(reference, absFrameNum);
        top = expected + sh.delta_pic_order_cnt[0];
        if (!field)
            bot = top + m_sps.offset_for_top_to_bottom_field + sh.delta_pic_order_cnt[1];
        else
            bot = expected + m_sps.offset_for_top_to_bottom_field + sh.delta_pic_order_cnt[0];
        if (field)
            top = bot = bottom ? bot : top;
    } else {
        const int64_t offset = frameNumOffset(idr, sh.frame_num);
        top = bot = idr ? 0 : 2 * (offset + sh.frame_num) - (reference ? 0 : 1);
    }
    return std::min(top, bot);
}

}  // namespace H264
