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
    }
    m_changed.notify_all();
    m_thread.join();
}

AacChainPrefetch::Run* AacChainPrefetch::find(int64_t offset) {
    for (Run& run : m_runs)
        if (run.offset == offset)
            return &run;
    return nullptr;
}

AacChainPrefetch::Run* AacChainPrefetch::findId(uint64_t id) {
    for (Run& run : m_runs)
        if (run.id == id)
            return &run;
    return nullptr;
}

AacChainPrefetch::Run& AacChainPrefetch::add(int64_t offset) {
    if (Run* run = find(offset))
        return *run;
    if (m_runs.size() >= kMaxRuns) {
        for (auto it = m_runs.begin(); it != m_runs.end(); ++it) {
            if (it->state != State::Measuring) {
                m_runs.erase(it);
                break;
            }
        }
    }
    Run& run = m_runs.emplace_back();
    run.offset = offset;
    run.id = ++m_lastId;
    run.foundBusy = m_workerId != 0;
    return run;
}

AacChainPrefetch::Run* AacChainPrefetch::nextWaiting() {
    Run* first = nullptr;
    for (Run& run : m_runs) {
        if (run.state != State::Waiting)
            continue;
        if (run.requested)
            return &run;
        if (!first)
            first = &run;
    }
    return first;
}

void AacChainPrefetch::request(int64_t offset) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (Run& run : m_runs)
            run.requested = false;
        add(offset).requested = true;
    }
    m_changed.notify_all();
}

void AacChainPrefetch::expectNext(int64_t offset) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        add(offset);
    }
    m_changed.notify_all();
}

bool AacChainPrefetch::expects(int64_t offset) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return offset >= 0 && find(offset) != nullptr;
}

int64_t AacChainPrefetch::pending() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const Run& run : m_runs)
        if (run.requested)
            return run.offset;
    return -1;
}

bool AacChainPrefetch::take(int64_t offset, std::vector<uint32_t>& lengths) {
    std::unique_lock<std::mutex> lock(m_mutex);
    Run* run = offset >= 0 ? find(offset) : nullptr;
    if (!run)
        return false;
    const uint64_t id = run->id;
    m_waited = run->state != State::Done && run->foundBusy;
    if (run->state == State::Waiting) {
        measureHere(lock, *run, lengths);
    } else {
        // While the worker measures this run, the taker measures the next
        // one waiting instead of idling.
        if (run->state == State::Measuring)
            if (Run* other = nextWaiting()) {
                std::vector<uint32_t> measured;
                const uint64_t otherId = other->id;
                measureHere(lock, *other, measured);
                if (Run* again = findId(otherId)) {
                    again->lengths.swap(measured);
                    again->state = State::Done;
                }
            }
        m_changed.wait(lock, [&] {
            const Run* r = findId(id);
            return !r || r->state == State::Done;
        });
        run = findId(id);
        if (!run)
            return false;
        lengths.swap(run->lengths);
    }
    // Used up, and the runs in front of it are behind the scan: a measure
    // of one of them on the worker stops at its next check.
    for (auto it = m_runs.begin(); it != m_runs.end();) {
        if (it->id == id || it->offset < offset)
            it = m_runs.erase(it);
        else
            ++it;
    }
    return true;
}

bool AacChainPrefetch::wanted(uint64_t id) {
    if (id == 0)
        return true;
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_stop && findId(id) != nullptr;
}

void AacChainPrefetch::measureHere(std::unique_lock<std::mutex>& lock, Run& run, std::vector<uint32_t>& lengths) {
    const int64_t offset = run.offset;
    run.state = State::Measuring;
    lock.unlock();
    if (!m_takerInput && !m_takerInputFailed) {
        m_takerInput = std::make_unique<ScanBuffer>();
        m_takerInputFailed = !m_takerInput->open(m_fileName, kReaderCapacity);
    }
    lengths.clear();
    if (!m_takerInputFailed)
        measure(*m_takerInput, offset, 0, lengths);
    lock.lock();
}

void AacChainPrefetch::work() {
    ScanBuffer input;
    const bool opened = input.open(m_fileName, kReaderCapacity);
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (m_stop)
            return;
        Run* run = nextWaiting();
        if (!run) {
            m_changed.wait(lock);
            continue;
        }
        run->state = State::Measuring;
        const uint64_t id = run->id;
        const int64_t offset = run->offset;
        m_workerId = id;
        lock.unlock();
        std::vector<uint32_t> lengths;
        const bool done = !opened || measure(input, offset, id, lengths);
        lock.lock();
        m_workerId = 0;
        // A run dropped while it was measured is gone.
        if (Run* again = findId(id)) {
            if (done)
                again->lengths.swap(lengths);
            again->state = State::Done;
        }
        m_changed.notify_all();
    }
}

bool AacChainPrefetch::measure(ScanBuffer& input, int64_t offset, uint64_t id, std::vector<uint32_t>& lengths) {
    try {
        return measureRun(input, offset, id, lengths);
    } catch (const std::bad_alloc&) {
        lengths.clear();  // the gap's resync decodes it itself
        return wanted(id);
    }
}

bool AacChainPrefetch::measureRun(ScanBuffer& input, int64_t offset, uint64_t id, std::vector<uint32_t>& lengths) {
    AacFrameMeter meter(m_config);
    if (!meter.restart())
        return wanted(id);
    const int64_t fileSize = input.fileSize();
    std::vector<uint8_t> bytes;  // the input from `offset` on
    int64_t pos = offset;
    while (lengths.size() + 1 < kMaxFrameChainOffsets && pos < fileSize) {
        // Topped up some dozens of frames at a time, not frame by frame.
        const int64_t need = std::min(pos + kLookahead, fileSize) - offset;
        const int64_t want = std::min(pos + kLookahead + kLookahead / 4, fileSize) - offset;
        if (int64_t(bytes.size()) < need) {
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
        if ((lengths.size() & 15) == 0 && !wanted(id))
            return false;
    }
    return wanted(id);
}
