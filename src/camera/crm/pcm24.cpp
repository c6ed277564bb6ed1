#include "camera/crm/pcm24.h"

#include <cmath>

namespace crm {

double rmsDbfs(const uint8_t* p, size_t count) {
    if (count == 0)
        return -300.0;
    double sum = 0;
    for (size_t i = 0; i < count; ++i) {
        const double v = pcmValue(p + kPcmBytes * i);
        sum += v * v;
    }
    if (sum <= 0)
        return -300.0;
    return 20.0 * std::log10(std::sqrt(sum / double(count)) / 8388608.0);
}

double signChangeShare(const uint8_t* p, size_t count, uint32_t channels) {
    if (count == 0 || channels == 0)
        return 0;
    size_t changes = 0;
    for (size_t i = channels; i < count; ++i)
        if ((pcmValue(p + kPcmBytes * i) < 0) != (pcmValue(p + kPcmBytes * (i - channels)) < 0))
            ++changes;
    return double(changes) / double(count);
}

}  // namespace crm
