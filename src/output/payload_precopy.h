#pragma once
// Copies the input's bytes into the output movie's media data while the
// scan is still finding the samples in them. The movie's payload is the
// found samples' bytes in the order of the list; in the usual damaged
// recording (index lost, media data whole) that is long runs of the input
// as they are. Written after the scan, that copy is wall time on one core
// while the other idles; here a thread copies each run as soon as the
// samples in it are found. The writer checks, run by run, that the bytes it
// would copy are already in place (PrecopiedRun) and copies only the rest,
// so what the movie holds never depends on this guess.

#include "output/payload_span.h"
#include "platform/file.h"
#include "scan/media_sample.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct MovieFile;

class PayloadPrecopy {
public:
    // `movie` (taken over) has nothing written behind its mdat header.
    PayloadPrecopy(MovieFile* movie, const std::string& inputName);
    // Stops the copier; a movie not taken is closed and its file deleted.
    ~PayloadPrecopy();
    PayloadPrecopy(const PayloadPrecopy&) = delete;
    PayloadPrecopy& operator=(const PayloadPrecopy&) = delete;

    const std::string& movieName() const { return m_movieName; }

    // The scan keeps two threads busy: where they and the copier would share
    // two cores, the copier yields to them from its next piece on and
    // catches up while they wait (whatever is left at the end, the writer
    // copies at full priority).
    void giveWayToScan();

    // Looks at the samples appended since the last call and lets the copier
    // copy their bytes. A list whose bytes jump about too often is not
    // followed any further.
    void follow(const FoundSampleList& samples);

    // Lets the copier finish the runs the final list agrees with, stops it
    // and hands the movie over with the bytes in place. Null after a first
    // take.
    MovieFile* take(const FoundSampleList& samples, PrecopiedRun& run);

private:
    using Piece = PrecopiedRun::Piece;  // output offsets counted from the payload's start

    void offer(uint64_t end, bool last);
    void work();
    // Reserves the output's blocks up to at least file offset `end`.
    void reserve(int64_t end);
    // Gives back the blocks reserved past the output's end.
    void releaseReserve();

    MovieFile* m_movie;
    std::string m_movieName;
    platform::File m_input;
    platform::File m_output;
    uint64_t m_outputStart;
    // The copier's: output blocks are reserved up to m_reserved, and never
    // past m_reserveLimit.
    int64_t m_reserved = 0;
    int64_t m_reserveLimit = 0;

    // The scan's side: the payload the samples looked at so far make.
    size_t m_checked = 0;
    std::vector<Piece> m_pieces;
    uint64_t m_end = 0;      // the payload's length
    uint64_t m_offered = 0;  // the length last offered to the copier
    bool m_stopped = false;  // nothing more is followed

    std::mutex m_mutex;
    std::condition_variable m_changed;
    // Guarded by m_mutex.
    std::deque<Piece> m_plan;  // offered and not copied yet, up to m_target
    uint64_t m_target = 0;
    bool m_last = false;  // the target will not grow any more
    bool m_stop = false;  // copy nothing more
    bool m_giveWay = false;  // giveWayToScan() was called
    bool m_yielded = false;  // and the copier lowered its priority
    uint64_t m_copied = 0;  // payload bytes in place from the start

    std::thread m_thread;  // last: started once everything else is set up
};
