#pragma once
// Remembers where in the input no forbidden three-byte sequence (00 00 00,
// 00 00 01, 00 00 02) begins, so that the payload test of NAL units gives
// H264::nalPayloadClean's answer without reading the same bytes again. A
// chunk search meets "slices" of chance length (up to a megabyte of other
// data) at many offsets, one search after the other over the same bytes;
// reading each such unit whole made the test the largest cost of a scan.
// The facts are kept in file offsets, which hold for the whole scan since
// the input does not change; pointers are only trusted inside the window
// the current search reads.

#include <cstdint>

class CleanPayloadMemo {
public:
    // The bytes [data, data + n) are the input's from file offset `offset`
    // on, until the next call; nullptr ends the window.
    void setWindow(const uint8_t* data, int64_t n, int64_t offset) {
        m_data = data;
        m_size = data ? n : 0;
        m_offset = offset;
    }
    // H264::nalPayloadClean(unit, length).
    bool clean(const uint8_t* unit, uint32_t length);

private:
    // Moves m_to up to `last` (window positions) or to the first sequence
    // met before it.
    void extend(int64_t last);

    const uint8_t* m_data = nullptr;
    int64_t m_size = 0;
    int64_t m_offset = 0;
    // No sequence begins at a file offset in [m_from, m_to); one begins at
    // m_to when m_blocked.
    int64_t m_from = -1, m_to = -1;
    bool m_blocked = false;
};
