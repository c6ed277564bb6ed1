#include "reference/hevc_colour.h"

bool colourFromHevcConfig(const HEVCConfig& config, ColourInfo& colour) {
    (void)config;
    (void)colour;
    return false;  // HOOK: HEVC SPS parser not available yet
}
