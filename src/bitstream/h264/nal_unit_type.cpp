#include "bitstream/h264/nal_unit_type.h"

namespace H264 {

const char* nalUnitTypeName(uint8_t type) {
    switch (type) {
    case UNSPECIFIED: return "UNSPECIFIED";
    case CODED_SLICE_NON_IDR: return "CODED_SLICE_NON_IDR";
    case CODED_SLICE_DATA_PARTITION_A: return "CODED_SLICE_DATA_PARTITION_A";
    case CODED_SLICE_DATA_PARTITION_B: return "CODED_SLICE_DATA_PARTITION_B";
    case CODED_SLICE_DATA_PARTITION_C: return "CODED_SLICE_DATA_PARTITION_C";
    case CODED_SLICE_IDR: return "CODED_SLICE_IDR";
    case SEI: return "SEI";
    case SPS: return "SPS";
    case PPS: return "PPS";
    case AUD: return "AUD";
    case END_OF_SEQUENCE: return "END_OF_SEQUENCE";
    case END_OF_STREAM: return "END_OF_STREAM";
    case FILLER: return "FILLER";
    case SPS_EXT: return "SPS_EXT";
    case CODED_SLICE_AUX: return "CODED_SLICE_AUX";
    default: return nullptr;
    }
}

}  // namespace H264
