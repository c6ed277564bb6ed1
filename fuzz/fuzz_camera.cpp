// The Sony RSV and Canon REPI structure parsers on arbitrary bytes: KLV
// group lengths at every key, access units of both codecs, parameter-set
// side data and the decoder configurations built from what was found, and
// REPI record headers with their size tables.

#include "camera/repi/repi_record.h"
#include "camera/rsv/klv_group.h"
#include "camera/rsv/rsv_access_units.h"
#include "camera/rsv/rsv_parameter_sets.h"
#include "log/logger.h"

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Logger* logger = [] {
        auto* l = new Logger();
        l->setLevel(LogLevel::Trace);
        return l;
    }();
    (void)logger;

    for (size_t i = 0; i < size; ++i) {
        (void)rsv::isRtmdHeader(data + i, size - i);
        if (rsv::isGroupKey(data + i, size - i))
            (void)rsv::groupEnd(data + i, size - i, i, size);
        if (repi::recordKind(data + i, size - i) == repi::Kind::Video && size - i >= repi::kHeaderBytes) {
            const uint32_t n = repi::videoSampleCount(data + i);
            if (n && size - i - repi::kHeaderBytes >= 4ull * n)
                (void)repi::videoSampleSizes(data + i + repi::kHeaderBytes, n, i, size);
        }
    }
    rsv::ParameterSetLists lists;
    rsv::collectSideData(data, size, lists);
    for (bool hevc : {false, true}) {
        for (const rsv::AccessUnit& u : rsv::accessUnits(data, size, 0, hevc))
            rsv::collectUnits(data + u.start, size_t(u.end - u.start), hevc, lists);
    }
    auto avc = std::make_unique<H264Config>();
    (void)rsv::buildAvcConfig(lists, *avc);
    auto hevc = std::make_unique<HEVCConfig>();
    (void)rsv::buildHevcConfig(lists, *hevc);
    return 0;
}
