#pragma once
// Numeric log levels. A sink registered at level N receives messages of level <= N.

namespace LogLevel {
constexpr int None = 0;
constexpr int Fatal = 10;
constexpr int Error = 20;
constexpr int Warning = 30;
constexpr int Notice = 40;
constexpr int Info = 50;
constexpr int Debug = 60;
constexpr int Trace = 70;
constexpr int Max = 79;  // valid levels are 0 to 79

// "NONE", "FATAL", ... by level / 10; levels outside 0..79 are clamped.
const char* name(int level);
}  // namespace LogLevel
