#pragma once
// A small box reader of its own for the Canon CRM rebuild: lists the box tree
// of a file, reads boxes raw, and builds boxes for output. Every failure is a
// std::runtime_error with a short fixed text; the rebuild catches and logs it.

#include "platform/file.h"

#include <cstdint>
#include <string>
#include <vector>

namespace crm {

using Bytes = std::vector<uint8_t>;

struct BoxNode {
    std::string type;
    uint64_t offset = 0;  // of the box header
    uint64_t size = 0;    // header included
    uint64_t header = 8;  // 8, or 16 with a 64-bit size
    std::vector<BoxNode> children;  // only for the container types
};

// The boxes lying between two file offsets, container children included.
std::vector<BoxNode> parseBoxes(platform::File& file, uint64_t start, uint64_t end);
// The first child of that type, or null.
const BoxNode* findChild(const BoxNode& node, const char* type);
// The raw bytes of a range.
Bytes readBoxBytes(platform::File& file, uint64_t offset, uint64_t size);
// Exactly `count` bytes at `offset`, or "read failed".
void readBytesAt(platform::File& file, uint64_t offset, void* buffer, size_t count);

// A complete box around a payload (64-bit size when the payload needs it).
Bytes makeBox(const char* type, const Bytes& payload);
void appendU32(Bytes& bytes, uint32_t value);
void appendU64(Bytes& bytes, uint64_t value);
uint32_t readU32(const uint8_t* p);
uint64_t readU64(const uint8_t* p);

}  // namespace crm
