#include "analysers/core/stream_analyser.h"

#include "output/repair_state.h"
#include "reference/video_parameters.h"

bool StreamAnalyser::accepts() {
    if (m_videoClasses.empty())
        return true;
    const std::string workingClass = m_repairState && m_repairState->m_video ? m_repairState->m_video->m_class : "";
    return workingClass.empty() || m_videoClasses.contains(workingClass);
}
