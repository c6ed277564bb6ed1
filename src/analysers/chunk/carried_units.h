#pragma once
// Units a recorder repeats byte for byte inside its samples (parameter
// sets in front of a random-access picture), as the reference's samples
// carried them. Bytes equal to one of them are the recorder's own, never a
// chance match inside sound.

#include <cstddef>
#include <cstdint>
#include <vector>

class CarriedUnits {
public:
    // Keeps the `length` bytes of a unit (behind its length field).
    void remember(const uint8_t* unit, int64_t length);
    bool contains(const uint8_t* unit, int64_t length) const;

private:
    // A recorder repeats a handful; longer or further ones are not kept.
    static constexpr size_t kMaxUnits = 32;
    static constexpr int64_t kMaxUnitBytes = 4096;
    std::vector<std::vector<uint8_t>> m_units;
};
