#pragma once
// What the reference movie as a whole contributes to the repaired movie.

#include "qt/qt_types.h"

#include <cstdint>
#include <string>

struct MovieParameters {
    uint32_t m_timescale = 0;   // movie timescale (mvhd)
    uint32_t m_trackCount = 0;
    std::string m_fileName;
    BrandRecord m_brand;        // ftyp, written again by the output writer
};
