#pragma once
// The contract between the scan driver and the codec analysers. The driver
// offers every byte position of the input to each active analyser's check();
// where it fires, analyse() may read the input, report samples and move the
// scan.

#include "analysers/core/scan_info.h"
#include "analysers/core/video_classes.h"

#include <cstdint>
#include <string>

struct RepairState;
class ScanBuffer;

// Life of an analyser within one scan, in the order the driver calls it:
//
// accepts()  Asked once, after every analyser of the scan was created. Only
//            analysers answering true become active; the others are never
//            called again. May read ScanInfo and the repair state and set up
//            the analyser's own fields (e.g. copy a flag it depends on). The
//            default serves the video classes of the analyser's registry row:
//            true when the working video class is unset or one of them, and
//            always true for an analyser that serves no video class.
//
// prepare()  Called once on each active analyser before the first window is
//            read. Reset per-scan state here.
//
// check(offset, data, available)
//            The cheap test made at EVERY byte position of the input, for
//            every active analyser, so it must be a handful of comparisons:
//            no allocation, no logging, no ScanBuffer reads, no moving of the
//            scan. `data` points at the input byte at `offset`; at most
//            `available` bytes from it are valid, and nothing beyond them may
//            be read (near the end of the input `available` may be small).
//            Answers whether analyse() is worth calling here. The answer may
//            depend on the analyser's own state and the run's settings, not on
//            what other analysers do: the driver keeps an analyser's next
//            candidate position until that analyser's own analyse() has run.
//
// analyse(offset, buffer)
//            Called only where this analyser's check() answered true. May read
//            anything through `buffer` (which may refill its window, so
//            pointers from earlier get() calls become stale), report samples
//            through the collection operations, and move the scan by writing
//            ScanInfo::currentOffset, normally to the end of what it consumed.
//            Returns true when it consumed data here: the driver then drops the
//            current window and carries on at ScanInfo::currentOffset. Returns
//            false to let the driver probe the next position; analysers that
//            steer only through their own resume offsets report their samples
//            and return false. Never throws: bad data is logged and skipped.
//            The same offset may be offered twice in a row: after a position
//            fires, the driver offers the one before it again, so a position
//            whose analyse() returned false can come back at once (with check()
//            asked again first). A repeated offer must not report the same
//            samples again nor count as new evidence.
//
// finish(buffer)
//            Called once on each active analyser when the input is exhausted,
//            the stop offset is passed or the user cancelled. Flush pending
//            samples here; may still read through `buffer`.
//
// name()     The class name, e.g. "MDATAnalyser", for log lines.
class StreamAnalyser {
public:
    // Neither pointer is owned; both outlive the analyser.
    StreamAnalyser(RepairState* repairState, ScanInfo* scanInfo)
        : m_repairState(repairState), m_scanInfo(scanInfo) {}
    virtual ~StreamAnalyser() = default;
    StreamAnalyser(const StreamAnalyser&) = delete;
    StreamAnalyser& operator=(const StreamAnalyser&) = delete;

    virtual bool check(int64_t offset, const uint8_t* data, int32_t available) = 0;

    // The first i in [0, count) at which check(offset + i, data + i,
    // available - i) would answer true, or count when there is none. The
    // driver asks this instead of calling check() byte by byte, so an analyser
    // can skip a stretch with a memchr-style search or a single comparison.
    // An override must answer exactly as check() would.
    virtual int32_t findCandidate(int64_t offset, const uint8_t* data, int32_t count, int32_t available) {
        for (int32_t i = 0; i < count; ++i)
            if (check(offset + i, data + i, available - i))
                return i;
        return count;
    }
    virtual bool analyse(int64_t offset, ScanBuffer& buffer) = 0;
    virtual void finish(ScanBuffer& buffer) { (void)buffer; }
    virtual void prepare() {}
    virtual bool accepts();
    virtual std::string name() const = 0;

    RepairState* repairState() const { return m_repairState; }
    ScanInfo* scanInfo() const { return m_scanInfo; }
    // Set by the registry when it creates the analyser from its row.
    void setVideoClasses(const VideoClasses& classes) { m_videoClasses = classes; }
    const VideoClasses& videoClasses() const { return m_videoClasses; }

protected:
    RepairState* m_repairState;
    ScanInfo* m_scanInfo;

private:
    VideoClasses m_videoClasses;
};
