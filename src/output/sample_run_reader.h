#pragma once
// Reads the found samples back from the input for the writer. A sample that
// is not held yet is loaded together with the samples behind it in the list
// that follow it closely in the file, in one read: a chunk's frames come in
// one call, and a list that jumps back and forth (all video first, then all
// audio) reads no bytes it does not use beyond small gaps.

#include "scan/media_sample.h"
#include "scan/scan_buffer.h"

#include <cstdint>
#include <string>
#include <vector>

class SampleRunReader {
public:
    // `capacity` bounds one read, and the memory held.
    explicit SampleRunReader(size_t capacity) : m_capacity(capacity) {}

    bool open(const std::string& utf8Name);

    // True when the sample lies wholly inside the file.
    bool wholeInFile(const MediaSample& sample) const {
        return sample.offset >= 0 && sample.size >= 0 && sample.offset <= m_input.fileSize() - sample.size;
    }
    // True when samples[i]'s bytes are held (a pointer from data() is still good).
    bool holds(const MediaSample& sample) const;
    // Loads samples[i] and its close followers; false when the sample does
    // not fit the capacity or is not wholly in the file.
    bool load(const FoundSampleList& samples, size_t i);
    // The held bytes of a sample holds() accepts.
    const uint8_t* data(const MediaSample& sample) const { return m_bytes.data() + (sample.offset - m_start); }

    // Reads one sample into its own block (for samples above the capacity).
    ByteBlock readBlock(const MediaSample& sample) { return m_input.readBlock(sample.offset, sample.size); }

private:
    ScanBuffer m_input;
    size_t m_capacity;
    std::vector<uint8_t> m_bytes;
    int64_t m_start = 0;
    int64_t m_end = 0;  // held: [m_start, m_end)
};
