#include "analysers/chunk/clean_payload_memo.h"

#include "bitstream/common/zero_bytes.h"
#include "bitstream/h264/sample_units.h"

#include <algorithm>
#include <cstring>

namespace {

// A query further than this beyond what is known starts afresh rather than
// reading every byte in between.
constexpr int64_t kMaxBridge = 64 * 1024;

}  // namespace

void CleanPayloadMemo::extend(int64_t last) {
    // Window positions from m_to to `last`; every byte of a sequence that
    // begins at or before `last` lies inside the window. Coded pictures hold
    // a zero byte every few dozen bytes but two in a row seldom, so the test
    // looks for zero pairs sixteen bytes at a time (the pairs starting at
    // the first fifteen bytes of each block; blocks overlap by one byte),
    // and sixty-four at a time while the window holds that many.
    // A zero pair followed by a byte of 2 or less ends the clean stretch.
    const auto endsAt = [&](int64_t at) {
        if (m_data[at + 2] > 2)
            return false;
        m_to = m_offset + at;
        m_blocked = true;
        return true;
    };
    int64_t i = m_to - m_offset;
    while (i <= last && i + 64 <= m_size) {
        const uint64_t zeros = bitstream::zeroByteMask64(m_data + i);
        for (uint64_t pairs = zeros & (zeros >> 1) & (~uint64_t(0) >> 1); pairs; pairs &= pairs - 1) {
            const int64_t at = i + __builtin_ctzll(pairs);
            if (at > last)
                break;
            if (endsAt(at))
                return;
        }
        i += 63;
    }
    while (i <= last) {
        if (i + 16 > m_size) {
            if (m_data[i] == 0 && m_data[i + 1] == 0 && endsAt(i))
                return;
            ++i;
            continue;
        }
        const uint32_t zeros = bitstream::zeroByteMask16(m_data + i);
        for (uint32_t pairs = zeros & (zeros >> 1) & 0x7FFF; pairs; pairs &= pairs - 1) {
            const int64_t at = i + __builtin_ctz(pairs);
            if (at > last)
                break;
            if (endsAt(at))
                return;
        }
        i += 15;
    }
    m_to = m_offset + std::min(i, last + 1);
}

bool CleanPayloadMemo::clean(const uint8_t* unit, uint32_t length) {
    if (!m_data || length < 3 || unit < m_data || unit - m_data > m_size - int64_t(length))
        return H264::nalPayloadClean(unit, length);
    if (unit[length - 1] == 0)
        return false;
    const int64_t at = m_offset + (unit - m_data);
    // The last file offset a sequence inside the unit can begin at.
    const int64_t last = at + int64_t(length) - 3;
    const bool known = m_from >= 0 && m_from <= at && at <= m_to;
    // Reading on from what is known to this unit keeps one stretch for the
    // searches that follow, unless a sequence in between ends it.
    const bool bridge = m_from >= 0 && at > m_to && !m_blocked && at - m_to <= kMaxBridge && m_to >= m_offset;
    if (!known && !bridge) {
        m_from = m_to = at;
        m_blocked = false;
    }
    if (!m_blocked && m_to <= last)
        extend(last - m_offset);
    if (m_blocked && m_to < at) {
        m_from = m_to = at;
        m_blocked = false;
        extend(last - m_offset);
    }
    return !(m_blocked && m_to <= last);
}
