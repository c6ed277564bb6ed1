#pragma once
// Which sound track wrote which part of a stretch of PCM, told by the sound
// itself: the stretch is cut into blocks, each block is weighed against
// every track's sound (PcmSoundProfile), and the stretch is read as runs of
// whole packets of one track each, as few and as alike their tracks as may
// be. Muxers that cut a track's chunk where another's begins leave layouts
// that no timing rule predicts; where the tracks sound alike, the sound
// decides nothing and the caller falls back to timing.

#include <cstddef>
#include <cstdint>
#include <vector>

struct PcmContentRun {
    size_t track = 0;
    int64_t blocks = 0;
};

class PcmContentSplit {
public:
    // `costs[t][k]`: how unlike track t's sound block k is; `packets[t]`:
    // the blocks one packet of track t fills. The runs covering every block
    // in order, each whole packets of its track; empty when the tracks'
    // sounds are too alike to tell the blocks apart, or none cover them.
    static std::vector<PcmContentRun> split(const std::vector<std::vector<double>>& costs,
                                            const std::vector<int64_t>& packets);
    // Whether the runs give a block that the sound clearly tells for one
    // track (as split() tells a block) to another.
    static bool contradicts(const std::vector<std::vector<double>>& costs, const std::vector<PcmContentRun>& runs);
};
