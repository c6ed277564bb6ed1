#pragma once
// NAL units located inside a caller's buffer: length-prefixed walking (as in
// MP4 samples) and Annex B start-code search. Nothing is copied; spans point
// into the caller's bytes and stay valid as long as they do.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bitstream {

struct NalSpan {
    const uint8_t* data = nullptr;  // first byte of the NAL unit header
    size_t size = 0;
    size_t offset = 0;  // of the unit's first byte (after any prefix) in the walked buffer
};

// Steps through length-prefixed NAL units. next() fails at the end of the
// buffer, and also when a length prefix or the unit behind it does not fit
// (stopped() then tells the two apart).
class LengthPrefixedNals {
public:
    // lengthSize 1, 2 or 4 (other values walk nothing).
    LengthPrefixedNals(const uint8_t* data, size_t size, unsigned lengthSize = 4)
        : m_data(data), m_size(data ? size : 0), m_lengthSize(lengthSize) {}

    bool next(NalSpan& nal);
    // True when the walk ended on a prefix or unit that runs past the end.
    bool stopped() const { return m_stopped; }
    size_t position() const { return m_pos; }

private:
    const uint8_t* m_data;
    size_t m_size;
    unsigned m_lengthSize;
    size_t m_pos = 0;
    bool m_stopped = false;
};

// Position of the next 00 00 01 at or after from (the 00 00 01 itself; a
// four-byte start code's leading zero lies before it), or size when none.
size_t findStartCode(const uint8_t* data, size_t size, size_t from);

// All NAL units of an Annex B byte stream, with trailing zero bytes of each
// unit (the leading zero of a four-byte start code) removed.
std::vector<NalSpan> splitAnnexB(const uint8_t* data, size_t size);

// A NAL-type pattern as printed in "nalseq" lines: each byte as two
// lower-case hex digits followed by a blank.
std::string nalSequenceText(const std::vector<uint8_t>& sequence);

}  // namespace bitstream
