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
// the awaited one is known as soon as the chunk in front of it is found, and
// a recorder's chunk found in parts may bring the guess of one more: such
// runs queue behind the request and are measured in the order they came, by
// whichever thread is free first, the worker once it is done with what it
// measures, or a take that would otherwise wait for the worker. A measured
// run is kept until it is taken or has grown stale, so a gap asked for
// again is not measured twice. Either thread measures a run the same way,
// so which one did it never changes the result.

#include "analysers/audio/aac_frame_chain.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
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
    // Starts measuring the run from file offset `offset` before any other:
    // the scan waits for it next. An earlier request becomes an ordinary
    // expected run.
    void request(int64_t offset);
    // The lengths of the frames the run from `offset` takes one after the
    // other, as a fresh decoder measures each with the rest of the input
    // behind it, waiting for the measure to finish; false when `offset` is
    // neither requested nor expected (the others stay). The run ends at the
    // first frame the decoder rejects or whose length could depend on what
    // lies behind the bytes read. Runs from earlier offsets are dropped: the
    // scan has passed them.
    bool take(int64_t offset, std::vector<uint32_t>& lengths);
    // Whether the last take found its run not measured yet, and the worker
    // busy with another when that run came: the worker falls behind. A run
    // that simply came late says nothing of that.
    bool lastTakeWaited() const { return m_waited; }
    // The offset of the request not taken yet (measured or not); -1: none.
    int64_t pending();
    // A gap behind the requested one opens at `offset`: it is measured after
    // the request and the runs expected before it.
    void expectNext(int64_t offset);
    // Whether the run from `offset` is requested or expected (measured,
    // being measured or waiting): no request for it is needed.
    bool expects(int64_t offset);

private:
    enum class State { Waiting, Measuring, Done };
    struct Run {
        int64_t offset = -1;
        uint64_t id = 0;  // tells a measure whether its run is still wanted
        State state = State::Waiting;
        bool requested = false;
        bool foundBusy = false;  // the worker was measuring another when it came
        std::vector<uint32_t> lengths;
    };
    // Few runs are ever ahead of the scan: a gap, the one behind it, and a
    // guess or two that the chunk search proves wrong.
    static constexpr size_t kMaxRuns = 6;

    void work();
    // False when the run `id` was dropped or the end came (checked now and
    // then); id 0 is never interrupted. Out of memory, the run is answered
    // empty (the gap's resync decodes it itself).
    bool measure(ScanBuffer& input, int64_t offset, uint64_t id, std::vector<uint32_t>& lengths);
    bool measureRun(ScanBuffer& input, int64_t offset, uint64_t id, std::vector<uint32_t>& lengths);
    bool wanted(uint64_t id);
    Run* find(int64_t offset);
    Run* findId(uint64_t id);
    // Adds a waiting run for `offset` (or returns the one there), making
    // room by dropping the oldest run no thread is measuring.
    Run& add(int64_t offset);
    // The run the worker takes up next: the request first, then the others
    // in the order they came; null when none waits.
    Run* nextWaiting();
    // Measures a waiting run on the taking thread into `lengths`.
    void measureHere(std::unique_lock<std::mutex>& lock, Run& run, std::vector<uint32_t>& lengths);

    AacChainConfig m_config;
    std::string m_fileName;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    // Guarded by m_mutex.
    std::deque<Run> m_runs;  // in the order they came
    uint64_t m_lastId = 0;
    uint64_t m_workerId = 0;  // the run the worker measures; 0: none
    bool m_stop = false;
    bool m_waited = false;  // the taking thread's own
    // The taking thread's own reader, opened when it first measures.
    std::unique_ptr<ScanBuffer> m_takerInput;
    bool m_takerInputFailed = false;
    std::thread m_thread;  // last: started once everything else is set up
};
