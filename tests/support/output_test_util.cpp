#include "support/output_test_util.h"

#include "output/sample_collection.h"
#include "reference/audio_parameters.h"
#include "reference/reference_info.h"
#include "reference/video_parameters.h"

namespace outtest {

std::unique_ptr<RepairState> stateFromReference(const std::string& reference, const std::string& output) {
    auto state = std::make_unique<RepairState>();
    state->m_reference = ReferenceInfo::build(reference, false);
    state->m_reference->analyseChunks();
    state->m_reference->collectSamples();
    state->m_video->mergeFrom(state->m_reference->video());
    state->m_audio->mergeFrom(state->m_reference->audio());
    state->m_inputFileName = reference;
    state->m_referenceFileName = reference;
    state->m_referenceIsInput = true;
    setOutputNames(*state, output, "", "");
    reset_clip(*state, true);
    return state;
}

}  // namespace outtest
