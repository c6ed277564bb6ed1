#include "scan/scan_buffer.h"

#include "log/logger.h"
#include "simcorr/simulated_corruption.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

// Entropy reads go through a bounded scratch buffer in pieces, so a large
// (or hostile) count never becomes a large allocation.
constexpr size_t kEntropyChunk = 1 << 20;
// What a window holds at least, when the file is shorter or not there.
constexpr uint64_t kSmallestWindow = 64 * 1024;

int32_t clampToInt32(size_t n) { return n > size_t(INT32_MAX) ? INT32_MAX : int32_t(n); }

}  // namespace

bool ScanBuffer::open(const std::string& utf8Name, uint64_t capacity) {
    close();
    m_name = utf8Name;
    const bool opened = m_file.open(utf8Name, platform::File::Mode::Read);
    m_fileSize = opened ? std::max<int64_t>(m_file.size(), 0) : 0;
    // The window length is an int32, and an empty window could never serve
    // a byte. No window needs to be much longer than the file: a small
    // reference opened several times per run costs 64 KB, not a zeroed 8 MB
    // each time.
    capacity = std::clamp<uint64_t>(capacity, 1, uint64_t(INT32_MAX));
    m_buffer.assign(std::min<uint64_t>(capacity, std::max<uint64_t>(uint64_t(m_fileSize), kSmallestWindow)), 0);
    if (!opened) {
        FLOG(LogLevel::Error) << "ScanBuffer error opening file " << utf8Name;
        return false;
    }
    refill(0);
    return true;
}

void ScanBuffer::close() {
    m_file.close();
    std::vector<uint8_t>().swap(m_buffer);
    std::vector<uint8_t>().swap(m_side);
    m_sideOffset = 0;
    m_sideLength = 0;
    m_windowOffset = 0;
    m_fileSize = 0;
    m_lastReadCount = 0;
    m_windowLength = 0;
    m_available = 0;
}

size_t ScanBuffer::readRaw(int64_t offset, uint8_t* destination, size_t n) {
    if (offset < 0 || offset >= m_fileSize || n == 0 || !destination)
        return 0;
    n = size_t(std::min<uint64_t>(n, uint64_t(m_fileSize - offset)));
    const size_t got = m_file.pread(offset, destination, n);
    simcorr::apply(destination, m_name, offset, got);
    return got;
}

const uint8_t* ScanBuffer::refill(int64_t offset) {
    if (m_buffer.empty()) {  // never opened
        m_available = m_lastReadCount = 0;
        return nullptr;
    }
    if (offset < 0) {
        // No such byte: report nothing valid but keep the window, whose
        // offset stays non-negative.
        m_available = m_lastReadCount = 0;
        return m_buffer.data();
    }
    // The scan moves the window forward by less than its length and analysers
    // sometimes step back a little, so a new window usually shares bytes with
    // the old one: those move inside the buffer instead of being read again.
    const int64_t capacity = int64_t(m_buffer.size());
    const int64_t oldStart = m_windowOffset, oldEnd = m_windowOffset + m_windowLength;
    size_t got = 0;
    if (offset > oldStart && offset < oldEnd) {
        const size_t kept = size_t(oldEnd - offset);
        std::memmove(m_buffer.data(), m_buffer.data() + (offset - oldStart), kept);
        got = kept + readRaw(oldEnd, m_buffer.data() + kept, m_buffer.size() - kept);
    } else if (offset < oldStart && offset + capacity > oldStart && m_windowLength > 0) {
        const size_t head = size_t(oldStart - offset);
        const size_t kept = size_t(std::min<int64_t>(oldEnd, offset + capacity) - oldStart);
        std::memmove(m_buffer.data() + head, m_buffer.data(), kept);
        const size_t front = readRaw(offset, m_buffer.data(), head);
        got = front < head ? front : head + kept;
        // Past the end of the kept bytes, the window goes on with the file
        // only if the old one reached its capacity.
        if (front == head && kept == size_t(m_windowLength) && head + kept < m_buffer.size())
            got += readRaw(oldEnd, m_buffer.data() + head + kept, m_buffer.size() - head - kept);
    } else {
        got = readRaw(offset, m_buffer.data(), m_buffer.size());
    }
    m_windowOffset = offset;
    m_windowLength = m_available = m_lastReadCount = clampToInt32(got);
    return m_buffer.data();
}

const uint8_t* ScanBuffer::peek(int64_t offset, int32_t minimum) {
    // Enough for the parameter sets and SEI in front of a picture's first
    // slice header, and small enough that one read costs little: the
    // composition order reads a few hundred bytes of every picture, and a
    // larger piece would read the file a sixth time over for them.
    constexpr int32_t kSideCapacity = 4 * 1024;
    if (minimum < 0)
        minimum = 0;
    if (offset < 0 || minimum > kSideCapacity || held(offset, minimum))
        return get(offset, minimum);
    // The side buffer answers when it holds the bytes, or all the file has.
    const int64_t sideEnd = m_sideOffset + m_sideLength;
    if (m_side.empty() || offset < m_sideOffset || offset > sideEnd ||
        (sideEnd - offset < minimum && sideEnd < m_fileSize)) {
        m_side.resize(kSideCapacity);
        m_sideOffset = offset;
        m_sideLength = clampToInt32(readRaw(offset, m_side.data(), m_side.size()));
    }
    m_available = int32_t(m_sideOffset + m_sideLength - offset);
    return m_side.data() + (offset - m_sideOffset);
}

size_t ScanBuffer::readCopy(int64_t offset, uint8_t* destination, size_t n) {
    // The analysers mostly ask for bytes the scan's window holds already (the
    // gap in front of the chunk just found, say): those are copied from it
    // rather than read from the file a second time.
    if (destination && n > 0 && offset >= m_windowOffset && offset < m_fileSize) {
        const uint64_t wanted = std::min<uint64_t>(n, uint64_t(m_fileSize - offset));
        if (uint64_t(offset - m_windowOffset) + wanted <= uint64_t(m_windowLength)) {
            std::memcpy(destination, m_buffer.data() + (offset - m_windowOffset), size_t(wanted));
            return size_t(wanted);
        }
    }
    return readRaw(offset, destination, n);
}

ByteBlock ScanBuffer::readBlock(int64_t offset, int32_t n) {
    if (n <= 0) {
        m_lastReadCount = 0;
        return ByteBlock();
    }
    ByteBlock block(static_cast<size_t>(n));
    const size_t got = readCopy(offset, block.data(), block.capacity());
    m_lastReadCount = clampToInt32(got);
    block.setLength(m_lastReadCount);
    return block;
}

size_t ScanBuffer::read(void* destination, int64_t offset, size_t n) {
    const size_t got = readCopy(offset, static_cast<uint8_t*>(destination), n);
    m_lastReadCount = clampToInt32(got);
    return got;
}

float ScanBuffer::entropy(int64_t offset, int32_t n) {
    m_lastReadCount = 0;
    if (n <= 0 || offset < 0 || offset >= m_fileSize)
        return 0.0f;
    const size_t wanted = size_t(std::min<int64_t>(n, m_fileSize - offset));
    std::vector<uint8_t> chunk(std::min(wanted, kEntropyChunk));
    std::array<uint64_t, 256> histogram{};
    size_t total = 0;
    while (total < wanted) {
        const size_t got = readRaw(offset + int64_t(total), chunk.data(), std::min(chunk.size(), wanted - total));
        if (got == 0)
            break;
        for (size_t i = 0; i < got; ++i)
            ++histogram[chunk[i]];
        total += got;
    }
    m_lastReadCount = clampToInt32(total);
    if (total == 0)
        return 0.0f;
    double bits = 0.0;
    for (uint64_t count : histogram) {
        if (count) {
            const double p = double(count) / double(total);
            bits -= p * std::log2(p);
        }
    }
    return float(bits / 8.0);
}
