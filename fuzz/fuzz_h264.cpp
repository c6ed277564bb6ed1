// H.264 NAL parsing on arbitrary bytes: NALDEC, the parameter set and slice
// header parsers, and the NALDATA sample walk.

#include "bitstream/h264/nal_data.h"
#include "bitstream/h264/nal_decoder.h"
#include "bitstream/h264/picture_parameter_set.h"
#include "bitstream/h264/sequence_parameter_set.h"
#include "bitstream/h264/slice_header.h"
#include "log/logger.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A logger without sinks: messages are composed (so that code runs) and dropped.
    static Logger* logger = [] {
        auto* l = new Logger();
        l->setLevel(LogLevel::Trace);
        return l;
    }();
    (void)logger;

    H264::NalDecoderState state;
    H264::NALDEC(state, data, size);

    std::string problem;
    H264::SequenceParameterSet sps;
    const bool spsOk = H264::parseSequenceParameterSet(data, size, sps, problem) == bitstream::ParseResult::Ok;
    if (spsOk) {
        (void)sps.width();
        (void)sps.height();
        (void)sps.frameRate();
    }
    H264::PictureParameterSet pps;
    const bool ppsOk = H264::parsePictureParameterSet(data, size, pps, problem, spsOk ? &sps : nullptr) ==
                       bitstream::ParseResult::Ok;
    H264::SliceHeaderStart start;
    H264::readSliceHeaderStart(data, size, start);
    if (size > 1) {
        bitstream::BitReader r(data + 1, size - 1, bitstream::Emulation::Drop);
        H264::SliceHeader sh;
        H264::parseSliceHeader(r, data[0] & 0x1F, H264::SliceContext::from(sps, pps), sh, problem);
    }
    (void)ppsOk;

    // The same bytes as a sample of length-prefixed units, with themselves as
    // the reference's parameter sets.
    H264::NalData nd;
    H264::NalData::ParameterSets ref{data, size, data, size};
    nd.seq_analyze(data, size, ref);
    return 0;
}
