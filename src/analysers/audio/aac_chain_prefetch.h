#pragma once
// Measures the AAC frames at the start of the next audio gap on a second
// thread. In an interleaved recording the gap behind a video chunk is known
// to open where the chunk ends long before its other end is: the search for
// the chunk behind it has to find that first. Decoding the gap's frames in
// the meantime puts the decoder, the largest cost of a repair with AAC
// sound, on the second core.
//
// What the gap's resync then takes from here is exactly what its own first
// run would measure: the same fresh decoder over the same bytes, frame by
// frame. A frame the decoder takes reads only its own bits, so the bytes
// behind it (which the gap's read may not hold) do not change its length;
// runs the measure does not settle are decoded by the resync as before.
//
// The decoder costs more than the search for a chunk, so one request at a
// time would keep the scan waiting at every gap. The start of the gap behind
// the awaited one is known as soon as the chunk in front of it is found: that
// gap is measured by whichever thread is free first, the worker once it is
// done with its request, or a take that would otherwise wait for the worker.
// Either thread measures a run the same way, so which one did it never
// changes the result.

#include "analysers/audio/aac_frame_chain.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ScanBuffer;

class AacChainPrefetch {
public:
    // Reads `fileName` through a reader of its own (the scan's is not
    // shared between threads). The configuration's bytes must outlive this.
    AacChainPrefetch(const AacChainConfig& config, const std::string& fileName);
    ~AacChainPrefetch();
    AacChainPrefetch(const AacChainPrefetch&) = delete;
    AacChainPrefetch& operator=(const AacChainPrefetch&) = delete;

    const std::string& fileName() const { return m_fileName; }
    // Starts measuring the run of frames from file offset `offset`,
    // dropping any earlier request.
    void request(int64_t offset);
    // The lengths of the frames the run from `offset` takes one after the
    // other, as a fresh decoder measures each with the rest of the input
    // behind it, waiting for the measure to finish; false when `offset` is
    // neither the requested start (the request stays) nor an expected run
    // measured or being measured by the worker. The run ends at the first
    // frame the decoder rejects or whose length could depend on what lies
    // behind the bytes read.
    bool take(int64_t offset, std::vector<uint32_t>& lengths);
    // Whether the last take had to wait for a worker that was still busy
    // with an earlier request when its own came: the worker falls behind.
    // A wait for a request that simply came late says nothing of that.
    bool lastTakeWaited() const { return m_waited; }
    // The offset of the request not taken yet (measured or not); -1: none.
    int64_t pending();
    // The gap behind the requested one opens at `offset`: it is measured by
    // the worker when it is free, or by a take that has to wait for it.
    void expectNext(int64_t offset);
    // Whether the run from `offset` is the expected one (measured, being
    // measured or waiting): no request for it is needed.
    bool expects(int64_t offset);

private:
    enum class NextState { Waiting, Measuring, Done };

    void work();
    // False when `watched` moved away from `value` or the end came
    // (checked now and then); a null `watched` is never interrupted.
    bool measure(ScanBuffer& input, int64_t offset, const uint64_t* watched, uint64_t value,
                 std::vector<uint32_t>& lengths);
    bool current(const uint64_t* watched, uint64_t value);
    // Measures the expected run on the taking thread.
    void measureNextHere(std::unique_lock<std::mutex>& lock);
    // Measures the request (or the expected run) on the worker; false when
    // neither waits.
    bool workOnce(std::unique_lock<std::mutex>& lock, ScanBuffer& input, bool opened);

    AacChainConfig m_config;
    std::string m_fileName;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    // Guarded by m_mutex: each request gets the next generation; the worker
    // answers the one it measured.
    uint64_t m_generation = 0;
    int64_t m_offset = -1;
    uint64_t m_answered = 0;
    std::vector<uint32_t> m_lengths;
    bool m_measuring = false;     // the worker is at a measure of a request
    bool m_requestFoundBusy = false;  // it was when the pending request came
    // Guarded by m_mutex: the expected run; each new one gets the next
    // generation (-1: none).
    int64_t m_nextOffset = -1;
    uint64_t m_nextGeneration = 0;
    NextState m_nextState = NextState::Waiting;
    std::vector<uint32_t> m_nextLengths;
    bool m_stop = false;
    bool m_waited = false;  // the taking thread's own
    // The taking thread's own reader, opened when it first measures.
    std::unique_ptr<ScanBuffer> m_takerInput;
    bool m_takerInputFailed = false;
    std::thread m_thread;  // last: started once everything else is set up
};
