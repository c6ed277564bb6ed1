// HEVC parsing on arbitrary bytes: the input as an Annex B stream, as one NAL
// unit, and as a length-prefixed sample walked with itself as an hvcC; the
// scan's sample profile learning from it and measuring it, with the
// parameter sets the Annex B walk found.

#include "analysers/hevc/hevc_sample_profile.h"
#include "bitstream/hevc/sample_units.h"
#include "bitstream/hevc/hevc_parser.h"
#include "bitstream/hevc/hevc_utils.h"
#include "bitstream/hevc/hvcc_units.h"
#include "log/logger.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {
class Sink : public HEVC::HevcParser::Consumer {
public:
    void onNalUnit(const std::shared_ptr<HEVC::NALUnit>& unit, uint8_t, int64_t, const std::string&) override {
        if (unit)
            (void)unit->problems().size();
    }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Logger* logger = [] {
        auto* l = new Logger();
        l->setLevel(LogLevel::Trace);
        return l;
    }();
    (void)logger;

    HEVC::HevcParser parser;
    Sink sink;
    parser.addConsumer(&sink);
    parser.process(data, size, 0);

    std::string error;
    HEVC::parseNalUnit(parser.parameterSets(), data, size, &error);

    unsigned lengthSize = 4;
    const auto units = HEVC::hvccUnits(data, size, &lengthSize);
    HEVC::HevcUtils utils;
    utils.seq_analyze(data, size, units, lengthSize);
    utils.seq_analyze(data, size, units, 4);
    utils.bestSps();

    HevcSampleProfile profile;
    profile.setParameterSets(parser.parameterSets());
    profile.learn(data, size);
    const int64_t n = int64_t(size);
    profile.measureSample(data, n);
    profile.measureBoundedSample(data, n);
    if (n > 0)
        profile.nextPlausibleStart(data, n, 0, n - 1);
    profile.parameterSetId(data, n);
    HEVC::SliceStart start;
    if (size <= 0xFFFFFFFFu)
        HEVC::readSliceStart(data, uint32_t(size), parser.parameterSets(), start);
    return 0;
}
