#pragma once
// Base of the parsed HEVC NAL units, and the two smallest units. A unit keeps
// its nal_unit_type and a text of the value problems met while parsing it
// (each message followed by "; ").

#include <cstdint>
#include <string>

namespace HEVC {

class NALUnit {
public:
    explicit NALUnit(uint8_t type) : nal_unit_type(type) {}
    virtual ~NALUnit() = default;
    virtual uint8_t getType() const { return nal_unit_type; }

    void addProblem(const std::string& message) { m_problems += message + "; "; }
    const std::string& problems() const { return m_problems; }
    bool hasProblems() const { return !m_problems.empty(); }

    uint8_t nal_unit_type;

private:
    std::string m_problems;
};

class AUD : public NALUnit {
public:
    AUD() : NALUnit(35) {}
    uint8_t pic_type = 0;
};

}  // namespace HEVC
