#pragma once
// One registered command-line option and its parsed value.

#include <cstdint>
#include <string>

enum class OptionKind { Flag = 0, String = 1, Int = 2, Float = 3, Int64 = 4 };

struct Option {
    OptionKind kind = OptionKind::Flag;
    std::string name;            // word after the dash, case-sensitive
    std::string valueText;       // parameter exactly as given
    std::string help;
    std::string parameterName;   // shown in brackets in the help listing
    std::string group;           // "hidden" is never listed
    int32_t intValue = 0;
    int64_t int64Value = 0;
    float floatValue = 0.0f;
    bool set = false;
};
