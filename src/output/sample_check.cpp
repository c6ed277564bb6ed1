#include "output/sample_check.h"

#include "log/logger.h"
#include "qt/movie_reader.h"
#include "qt/movie_track.h"
#include "reference/reference_info.h"

#include <cstdio>
#include <unistd.h>

void pauseForUser() {
    if (!::isatty(STDIN_FILENO))
        return;
    std::getchar();
}

void checkAudioSample(const RepairState& state, const MovieTrack* output, int referenceTrack, int64_t inputOffset) {
    const MovieTrack* reference = state.m_reference ? state.m_reference->audioTrack(referenceTrack) : nullptr;
    if (!reference) {
        FLOG(LogLevel::Error) << "*** CHECK: FAILED - no reffile!";
        return;
    }
    if (!output)
        return;
    const uint32_t n = output->m_sampleCount;
    const uint32_t size = QTGetSampleSize(output, n);
    if (QTGetSampleSize(reference, n) != size) {
        FLOG(LogLevel::Error) << "*** CHECK: INVALID SIZE sample=" << n << ", sz=" << size;
        pauseForUser();
        return;
    }
    if (int64_t(QTGetSampleOffset(reference, n)) != inputOffset) {
        FLOG(LogLevel::Error) << "*** CHECK: INVALID OFS sample=" << n << ", ofs=" << inputOffset;
        pauseForUser();
    }
    const uint32_t compositionOffset = QTGetCompositionOffset(output, n);
    if (QTGetCompositionOffset(reference, n) != compositionOffset) {
        FLOG(LogLevel::Error) << "*** CHECK: INVALID COMPOFS sample=" << n << ", compofs="
                              << int32_t(compositionOffset);
        pauseForUser();
    }
}
