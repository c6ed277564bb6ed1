#pragma once
// One raw elementary-stream output file (-ov, -oa). Video in length-prefixed
// form (avc1, hvc1) is converted to the byte-stream form with start codes so
// that decoders can read the file on its own; the parameter sets (or the
// MPEG-4 decoder-specific information) go first.

#include "platform/file.h"
#include "qt/qt_types.h"

#include <cstdint>
#include <string>

class RawStreamWriter {
public:
    // Opens (truncating) on first use; false when the file cannot be created.
    bool open(const std::string& utf8Name);
    bool isOpen() const { return m_file.isOpen(); }
    // False when flushing or closing failed.
    bool close();
    // Nothing written yet: the stream header is still due.
    bool empty() const { return m_written == 0; }
    uint64_t bytesWritten() const { return m_written; }

    // The sample as it is.
    void writeRaw(const uint8_t* data, size_t size);

    // One video sample of the given codec. The configuration records may be
    // null (nothing to put in front of the first sample).
    void writeVideoSample(Fourcc codec, const uint8_t* data, size_t size, const H264Config* avc,
                          const HEVCConfig* hevc, const ESDescriptor* esds);

private:
    void writeStartCode();
    void writeNalUnit(const uint8_t* data, size_t size);
    // Big-endian length prefixes (normally 4 bytes) to start codes. Stops at
    // a length of 0 or one that runs past the sample.
    void writeLengthPrefixed(const uint8_t* data, size_t size, int lengthSize);

    platform::File m_file;
    uint64_t m_written = 0;
};
