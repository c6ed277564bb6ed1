#include "analysers/chunk/clean_payload_memo.h"

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
    // looks for zero pairs eight bytes at a time (the pairs starting at the
    // first seven bytes of each word; words overlap by one byte).
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    int64_t i = m_to - m_offset;
    while (i <= last) {
        if (i + 8 > m_size) {
            if (m_data[i] == 0 && m_data[i + 1] == 0 && m_data[i + 2] <= 2) {
                m_to = m_offset + i;
                m_blocked = true;
                return;
            }
            ++i;
            continue;
        }
        uint64_t word;
        std::memcpy(&word, m_data + i, sizeof word);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        word = __builtin_bswap64(word);
#endif
        // The top bit of every zero byte (exact, no false hits), then of
        // every zero byte that another follows. Bytes in memory order are
        // the word's bytes from the least significant on (little endian).
        const uint64_t zeros = ~(((word & kLow7) + kLow7) | word | kLow7);
        for (uint64_t pairs = zeros & (zeros >> 8); pairs; pairs &= pairs - 1) {
            const int64_t at = i + __builtin_ctzll(pairs) / 8;
            if (at > last)
                break;
            if (m_data[at + 2] <= 2) {
                m_to = m_offset + at;
                m_blocked = true;
                return;
            }
        }
        i += 7;
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
