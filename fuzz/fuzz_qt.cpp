// libFuzzer target for the movie reader: the input becomes a file that is
// opened and walked, every per-sample lookup is asked, the summary printed.

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "qt/quicktime.h"

namespace {

// Lookups per track are capped so that a claimed sample count of billions
// (valid for fixed-size tracks), or one chunk holding every sample (each
// lookup then sums the sizes before it), does not turn one input into a timeout.
constexpr uint32_t kMaxLookups = 1000;

std::string tempName() {
    return "/tmp/fuzz_qt_" + std::to_string(::getpid()) + ".mov";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Trace and dump text is not what we are after.
    if (!std::freopen("/dev/null", "w", stdout))
        return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string name = tempName();
    FILE* f = std::fopen(name.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    // The first byte picks the trace mask so that the trace code is fuzzed too.
    const uint32_t traceMask = size > 0 && (data[0] & 1) ? 255 : 0;
    MovieFile* movie = QTOpen(name, traceMask, true);
    if (!movie)
        return 0;
    uint64_t sink = 0;
    for (int i = 0; i < movie->m_trackCount; ++i) {
        const MovieTrack* t = &movie->m_tracks[i];
        const uint32_t samples = t->m_sampleCount < kMaxLookups ? t->m_sampleCount : kMaxLookups;
        for (uint32_t n = 0; n <= samples + 1; ++n) {
            sink += QTGetSampleOffset(t, n) + QTGetSampleSize(t, n) + QTGetCompositionOffset(t, n);
        }
        const uint32_t chunks = uint32_t(t->m_chunkOffsets.size() < kMaxLookups ? t->m_chunkOffsets.size() : kMaxLookups);
        for (uint32_t c = 0; c <= chunks + 1; ++c)
            sink += QTGetSamplesPerChunk(t, c);
        sink += uint64_t(QTGetFrameRate(t));
    }
    QTDump(movie);
    QTParseAtom(movie, 0);
    QTClose(movie);
    if (sink == 42)
        std::fputc(0, stdout);
    return 0;
}
