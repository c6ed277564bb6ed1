#pragma once
// Wall-clock seconds used to pace progress lines (at most one per second).

#include <ctime>

namespace platform {

inline std::time_t calendarTime() { return std::time(nullptr); }
inline double secondsBetween(std::time_t later, std::time_t earlier) { return std::difftime(later, earlier); }

}  // namespace platform
