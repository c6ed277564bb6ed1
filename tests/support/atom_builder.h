#pragma once
// Big-endian byte building for hand-made QuickTime/MP4 input: atoms whose
// sizes may be made to lie, full atoms, tables of 32-bit values.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, uint16_t v);
void put32(Bytes& b, uint32_t v);
void put64(Bytes& b, uint64_t v);
void putType(Bytes& b, const char* type);
Bytes u32s(const std::vector<uint32_t>& values);
Bytes concat(std::initializer_list<Bytes> parts);

uint32_t be32(const uint8_t* p);
uint64_t be64(const uint8_t* p);
void setBe32(uint8_t* p, uint32_t v);
void setBe64(uint8_t* p, uint64_t v);

// size + type + payload; a claimed size replaces the true one.
Bytes atom(const char* type, const Bytes& payload, std::optional<uint32_t> claimedSize = std::nullopt);
// size 1 + type + 64-bit size + payload.
Bytes atom64(const char* type, const Bytes& payload, std::optional<uint64_t> claimedSize = std::nullopt);
// size + type + version/flags + payload.
Bytes fullAtom(const char* type, uint8_t version, uint32_t flags, const Bytes& payload);

// Offset of the first occurrence of the fourcc at or after `from`, or npos.
size_t findType(const Bytes& bytes, const char* type, size_t from = 0);

// moov, trak, mdia, minf and stbl: the atoms a walk of the index descends into.
bool isContainer(const std::string& type);
// One atom met in the walk of the movie's container tree.
struct AtomSpan {
    std::string type;
    size_t start = 0;
    size_t size = 0;
};
// Every atom of the file, containers in front of their children; the walk
// of a level stops at a size that does not fit it.
std::vector<AtomSpan> atomTree(const Bytes& file);
// Every chunk offset of the file (stco and co64) replaced by to(offset).
void mapChunkOffsets(Bytes& file, const std::function<uint64_t(uint64_t)>& to);

}  // namespace testsupport
