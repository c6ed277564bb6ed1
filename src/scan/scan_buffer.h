#pragma once
// Buffered reader over one input file: a large window that the scan walks
// through, plus block, direct and entropy reads for the analysers. Every
// byte it hands out has passed the simulated-corruption overlay, so all
// readers of the input see the same (possibly damaged) data.

#include "scan/byte_block.h"
#include "platform/file.h"

#include <cstdint>
#include <string>
#include <vector>

// Scan window size: large enough that the 5000-byte overlap between windows
// is a negligible re-read, small enough to stay cache- and memory-friendly.
constexpr uint64_t kScanBufferCapacity = 8 * 1024 * 1024;

class ScanBuffer {
public:
    ScanBuffer() = default;
    ~ScanBuffer() { close(); }
    ScanBuffer(const ScanBuffer&) = delete;
    ScanBuffer& operator=(const ScanBuffer&) = delete;

    // Opens the file, measures it, allocates a zero-filled window of
    // `capacity` bytes (no more than a small file needs) and fills it from offset 0. When the file cannot be
    // opened this logs an error and returns false, but the window still
    // exists (all zeros) and the file size is 0, so reads simply return
    // nothing.
    bool open(const std::string& utf8Name, uint64_t capacity = kScanBufferCapacity);
    bool isOpen() const { return m_file.isOpen(); }

    // Pointer to the byte at `offset`, with available() bytes valid from it.
    // Served from the window when it holds `minimum` bytes from `offset` on;
    // otherwise the window is refilled starting exactly at `offset`. Near the
    // end of the file available() may be less than `minimum`, down to 0.
    // A refill invalidates pointers returned earlier.
    const uint8_t* get(int64_t offset, int32_t minimum) {
        if (minimum < 0)
            minimum = 0;
        // The scan loop calls this once per window and analysers call it
        // often, so the common case is two comparisons and no call.
        if (const uint8_t* data = held(offset, minimum)) {
            m_available = m_windowLength - int32_t(offset - m_windowOffset);
            return data;
        }
        return refill(offset);
    }
    int32_t available() const { return m_available; }
    // The window's bytes [offset, offset + n), or nullptr when it does not
    // hold them all. Reads nothing and changes nothing.
    const uint8_t* held(int64_t offset, int32_t n) const {
        if (n < 0 || offset < m_windowOffset || offset - m_windowOffset > int64_t(m_windowLength) - n)
            return nullptr;
        return m_buffer.data() + (offset - m_windowOffset);
    }
    // Like get(), for a few bytes that analysers read here and there over the
    // whole file (a sample's first headers): served from the window when it
    // holds them, else from a small side buffer that one read fills from
    // `offset` on. The window stays where it is, so its pointers stay good.
    const uint8_t* peek(int64_t offset, int32_t minimum);

    // `n` bytes read from `offset` into a new zeroed block; length() tells
    // how many came from the file. For data outside the window, or data an
    // analyser keeps across calls.
    ByteBlock readBlock(int64_t offset, int32_t n);
    // Up to `n` bytes from `offset` into the caller's memory; returns the count.
    size_t read(void* destination, int64_t offset, size_t n);
    // Shannon entropy of up to `n` bytes from `offset`, in bits per byte
    // divided by 8: 0 for constant data (or nothing read), 1 for data in
    // which all 256 values are equally frequent.
    float entropy(int64_t offset, int32_t n);

    int64_t fileSize() const { return m_fileSize; }
    // Frees the window and closes the file; also done by the destructor.
    void close();

    // Bytes delivered by the last read of any kind.
    int32_t lastReadCount() const { return m_lastReadCount; }
    int64_t windowOffset() const { return m_windowOffset; }
    int32_t windowLength() const { return m_windowLength; }
    uint64_t capacity() const { return m_buffer.size(); }
    const std::string& name() const { return m_name; }

private:
    const uint8_t* refill(int64_t offset);
    // The one path to the file: reads at most up to the size measured at
    // open and applies the simulated corruption to what it read.
    size_t readRaw(int64_t offset, uint8_t* destination, size_t n);
    // readRaw for readers outside the window: from the window when it holds the bytes.
    size_t readCopy(int64_t offset, uint8_t* destination, size_t n);

    platform::File m_file;
    std::string m_name;
    std::vector<uint8_t> m_buffer;
    std::vector<uint8_t> m_side;  // peek()'s bytes: [m_sideOffset, + m_sideLength)
    int64_t m_sideOffset = 0;
    int32_t m_sideLength = 0;
    int64_t m_windowOffset = 0;
    int64_t m_fileSize = 0;
    int32_t m_lastReadCount = 0;
    int32_t m_windowLength = 0;
    int32_t m_available = 0;
};
