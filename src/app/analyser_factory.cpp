#include "app/analyser_factory.h"

#include "analysers/audio/aac_analyser.h"
#include "analysers/h264/avc1_analyser.h"
#include "analysers/core/mdat_analyser.h"

std::unique_ptr<StreamAnalyser> createAnalyser(const std::string& name, RepairState* state, ScanInfo* info) {
    if (name == "MDATAnalyser")
        return std::make_unique<MDATAnalyser>(state, info);
    if (name == "AACAnalyser")
        return std::make_unique<AACAnalyser>(state, info);
    if (name == "AVC1Analyser")
        return std::make_unique<AVC1Analyser>(state, info);
    return nullptr;
}
