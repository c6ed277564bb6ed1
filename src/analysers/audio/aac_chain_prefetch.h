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

#include "analysers/audio/aac_frame_chain.h"

#include <condition_variable>
#include <cstdint>
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
    // not the requested start (the request stays). The run ends at the first
    // frame the decoder rejects or whose length could depend on what lies
    // behind the bytes read.
    bool take(int64_t offset, std::vector<uint32_t>& lengths);
    // Whether the last take had to wait for a worker that was still busy
    // with an earlier request when its own came: the worker falls behind.
    // A wait for a request that simply came late says nothing of that.
    bool lastTakeWaited() const { return m_waited; }
    // The offset of the request not taken yet (measured or not); -1: none.
    int64_t pending();

private:
    void work();
    // False when a newer request or the end interrupted it.
    bool measure(ScanBuffer& input, int64_t offset, uint64_t generation, std::vector<uint32_t>& lengths);
    bool current(uint64_t generation);

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
    bool m_measuring = false;     // the worker is at a measure
    bool m_requestFoundBusy = false;  // it was when the pending request came
    bool m_stop = false;
    bool m_waited = false;  // the taking thread's own
    std::thread m_thread;  // last: started once everything else is set up
};
