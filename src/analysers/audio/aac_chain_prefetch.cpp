#include "analysers/audio/aac_chain_prefetch.h"

#include "analysers/audio/frame_chain.h"
#include "scan/scan_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// The decoder always has at least this much input behind a frame's start
// (or the rest of the file): far more than the largest frame.
constexpr int64_t kLookahead = 64 * 1024;
// The worker's reader window: it reads the gaps, never whole chunks.
constexpr uint64_t kReaderCapacity = 64 * 1024;

}  // namespace

AacChainPrefetch::AacChainPrefetch(const AacChainConfig& config, const std::string& fileName)
    : m_config(config), m_fileName(fileName), m_thread(&AacChainPrefetch::work, this) {}

AacChainPrefetch::~AacChainPrefetch() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        ++m_generation;
    }
    m_changed.notify_all();
    m_thread.join();
}

void AacChainPrefetch::request(int64_t offset) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (offset == m_nextOffset)
            return;  // the expected run: measured or being measured already
        ++m_generation;
        m_offset = offset;
        m_requestFoundBusy = m_measuring;
    }
    m_changed.notify_all();
}

void AacChainPrefetch::expectNext(int64_t offset) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (offset == m_nextOffset || offset == m_offset)
            return;
        ++m_nextGeneration;
        m_nextOffset = offset;
        m_nextState = NextState::Waiting;
        m_nextLengths.clear();
    }
    m_changed.notify_all();
}

bool AacChainPrefetch::expects(int64_t offset) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return offset >= 0 && offset == m_nextOffset;
}

bool AacChainPrefetch::take(int64_t offset, std::vector<uint32_t>& lengths) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (offset >= 0 && offset == m_nextOffset) {
        // Not begun yet (the worker is busy): measured here.
        if (m_nextState == NextState::Waiting)
            measureNextHere(lock);
        m_changed.wait(lock, [&] { return m_nextState == NextState::Done; });
        lengths.swap(m_nextLengths);
        ++m_nextGeneration;
        m_nextOffset = -1;
        m_nextLengths.clear();
        m_waited = false;
        return true;
    }
    if (m_offset < 0 || m_offset != offset)
        return false;
    const uint64_t generation = m_generation;
    m_waited = m_answered != generation && m_requestFoundBusy;
    if (m_answered != generation && m_nextOffset >= 0 && m_nextState == NextState::Waiting)
        measureNextHere(lock);
    m_changed.wait(lock, [&] { return m_answered == generation; });
    // Used up: a later gap at the same offset asks again.
    m_offset = -1;
    lengths.swap(m_lengths);
    return true;
}

int64_t AacChainPrefetch::pending() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_offset;
}

bool AacChainPrefetch::current(const uint64_t* watched, uint64_t value) {
    if (!watched)
        return true;
    std::lock_guard<std::mutex> lock(m_mutex);
    return *watched == value && !m_stop;
}

void AacChainPrefetch::measureNextHere(std::unique_lock<std::mutex>& lock) {
    const int64_t offset = m_nextOffset;
    m_nextState = NextState::Measuring;
    lock.unlock();
    if (!m_takerInput && !m_takerInputFailed) {
        m_takerInput = std::make_unique<ScanBuffer>();
        m_takerInputFailed = !m_takerInput->open(m_fileName, kReaderCapacity);
    }
    std::vector<uint32_t> lengths;
    if (!m_takerInputFailed) {
        try {
            measure(*m_takerInput, offset, nullptr, 0, lengths);
        } catch (const std::bad_alloc&) {
            lengths.clear();  // the gap's resync decodes it itself
        }
    }
    lock.lock();
    // Only this thread replaces the expected run, so it is still this one.
    m_nextLengths.swap(lengths);
    m_nextState = NextState::Done;
}

bool AacChainPrefetch::workOnce(std::unique_lock<std::mutex>& lock, ScanBuffer& input, bool opened) {
    const bool request = m_offset >= 0 && m_answered != m_generation;
    if (!request && (m_nextOffset < 0 || m_nextState != NextState::Waiting))
        return false;
    const uint64_t* watched = request ? &m_generation : &m_nextGeneration;
    const uint64_t value = *watched;
    const int64_t offset = request ? m_offset : m_nextOffset;
    if (request)
        m_measuring = true;
    else
        m_nextState = NextState::Measuring;
    lock.unlock();
    std::vector<uint32_t> lengths;
    bool done = true;
    try {
        done = !opened || measure(input, offset, watched, value, lengths);
    } catch (const std::bad_alloc&) {
        lengths.clear();  // the gap's resync decodes it itself
    }
    lock.lock();
    if (request) {
        m_measuring = false;
        if (done && value == m_generation) {
            m_lengths.swap(lengths);
            m_answered = value;
        }
    } else if (done && value == m_nextGeneration) {
        m_nextLengths.swap(lengths);
        m_nextState = NextState::Done;
    }
    m_changed.notify_all();
    return true;
}

void AacChainPrefetch::work() {
    ScanBuffer input;
    const bool opened = input.open(m_fileName, kReaderCapacity);
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (m_stop)
            return;
        if (!workOnce(lock, input, opened))
            m_changed.wait(lock);
    }
}

bool AacChainPrefetch::measure(ScanBuffer& input, int64_t offset, const uint64_t* watched, uint64_t value,
                               std::vector<uint32_t>& lengths) {
    AacFrameMeter meter(m_config);
    if (!meter.restart())
        return current(watched, value);
    const int64_t fileSize = input.fileSize();
    std::vector<uint8_t> bytes;  // the input from `offset` on
    int64_t pos = offset;
    while (lengths.size() + 1 < kMaxFrameChainOffsets && pos < fileSize) {
        const int64_t want = std::min(pos + kLookahead, fileSize) - offset;
        if (int64_t(bytes.size()) < want) {
            const size_t had = bytes.size();
            bytes.resize(size_t(want));
            const size_t got = input.read(bytes.data() + had, offset + int64_t(had), bytes.size() - had);
            bytes.resize(had + got);
            if (int64_t(bytes.size()) <= pos - offset)
                break;
        }
        const uint8_t* data = bytes.data() + (pos - offset);
        const int64_t left = int64_t(bytes.size()) - (pos - offset);
        // An ID3v1 tag is taken whole only by a decoder given 128 bytes.
        if (left >= 3 && std::memcmp(data, "TAG", 3) == 0)
            break;
        const uint32_t length = meter.frameLength(data, uint32_t(left));
        // A frame that reaches the end of what was read may have read past it.
        if (length == 0 || (int64_t(length) >= left && offset + int64_t(bytes.size()) < fileSize))
            break;
        lengths.push_back(length);
        pos += length;
        if ((lengths.size() & 15) == 0 && !current(watched, value))
            return false;
    }
    return current(watched, value);
}
