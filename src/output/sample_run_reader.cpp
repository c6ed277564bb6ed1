#include "output/sample_run_reader.h"

#include <algorithm>

namespace {

// Bytes between two samples that are read along rather than ending the run:
// the other track's chunk between two chunks of this one, a skipped header.
constexpr int64_t kLargestGap = 64 * 1024;

}  // namespace

bool SampleRunReader::open(const std::string& utf8Name) {
    // The scan window is not used here: one byte of it is enough.
    return m_input.open(utf8Name, 1);
}

bool SampleRunReader::holds(const MediaSample& sample) const {
    return sample.offset >= m_start && sample.size >= 0 && sample.offset + sample.size <= m_end;
}

bool SampleRunReader::load(const FoundSampleList& samples, size_t i) {
    const MediaSample& first = samples[i];
    const int64_t limit = first.offset + int64_t(m_capacity);
    if (first.offset < 0 || first.size < 0 || first.offset + first.size > limit ||
        first.offset + first.size > m_input.fileSize())
        return false;
    int64_t end = first.offset + first.size;
    for (size_t j = i + 1; j < samples.size(); ++j) {
        const MediaSample& s = samples[j];
        if (s.offset < end || s.offset - end > kLargestGap || s.size < 0 || s.offset + s.size > limit)
            break;
        end = s.offset + s.size;
    }
    end = std::min(end, m_input.fileSize());
    if (m_bytes.size() < size_t(end - first.offset))
        m_bytes.resize(m_capacity);
    const size_t got = m_input.read(m_bytes.data(), first.offset, size_t(end - first.offset));
    m_start = first.offset;
    m_end = first.offset + int64_t(got);
    return holds(first);
}
