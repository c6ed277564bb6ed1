#include "analysers/core/top_level_atom.h"

#include "bitstream/common/byte_read.h"

#include <algorithm>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int64_t kAtomHeader = 8;
constexpr int64_t kLargeAtomHeader = 16;
// A file type atom holds a major brand, a minor version and a handful of
// compatible brands; a larger "ftyp" is a chance match.
constexpr int64_t kMinFileType = 16;
constexpr int64_t kMaxFileType = 1024;

// Types a recorder writes at the top level of a movie file.
bool topLevelType(const uint8_t* t) {
    // Fragmented recordings add a fragment header in front of each piece of
    // media data, and segment and random-access indexes.
    static const char* const kTypes[] = {"moov", "mdat", "ftyp", "free", "skip", "wide", "udta",
                                         "uuid", "pnot", "moof", "mfra", "sidx", "styp"};
    for (const char* k : kTypes)
        if (std::memcmp(t, k, 4) == 0)
            return true;
    return false;
}

bool typeChar(uint8_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' || c == 0xA9;
}

bool typeName(const uint8_t* t) { return typeChar(t[0]) && typeChar(t[1]) && typeChar(t[2]) && typeChar(t[3]); }

// Does an atom header (or the end of the file) stand at `at`?
bool atomFollows(const uint8_t* data, int64_t n, int64_t dataOffset, int64_t fileSize, int64_t at) {
    if (dataOffset + at == fileSize)
        return true;
    if (at + kAtomHeader > n)
        return true;  // not read: the size check alone has to do
    const uint64_t size = bitstream::readBE32(data + at);
    return (size == 0 || size == 1 || size >= uint64_t(kAtomHeader)) && typeName(data + at + 4);
}

bool atomAt(const uint8_t* data, int64_t n, int64_t dataOffset, int64_t fileSize, int64_t i, TopLevelAtom& out) {
    const uint8_t* d = data + i;
    if (!topLevelType(d + 4))
        return false;
    out = TopLevelAtom();
    out.offset = dataOffset + i;
    std::memcpy(out.type, d + 4, 4);
    out.mediaData = std::memcmp(d + 4, "mdat", 4) == 0;
    out.fileType = std::memcmp(d + 4, "ftyp", 4) == 0;
    uint64_t size = bitstream::readBE32(d);
    if (size == 1) {
        if (i + kLargeAtomHeader > n)
            return false;
        size = (uint64_t(bitstream::readBE32(d + 8)) << 32) | bitstream::readBE32(d + 12);
        out.header = kLargeAtomHeader;
        if (size < uint64_t(kLargeAtomHeader))
            return false;
    } else if (size == 0) {
        size = uint64_t(fileSize - out.offset);  // reaches to the end of the file
    } else if (size < uint64_t(kAtomHeader)) {
        return false;
    }
    if (size > uint64_t(std::numeric_limits<int64_t>::max()))
        return false;
    out.size = int64_t(size);
    // The media data of a recording cut short claims more than the file holds.
    if (out.mediaData)
        return true;
    if (out.offset + out.size > fileSize)
        return false;
    if (out.fileType) {
        if (out.size < kMinFileType || out.size > kMaxFileType || (out.size - kAtomHeader) % 4 != 0)
            return false;
        if (i + kAtomHeader + 4 <= n && !typeName(d + kAtomHeader))
            return false;  // the major brand
    }
    return atomFollows(data, n, dataOffset, fileSize, i + out.size);
}

// The first letters of the types above; most bytes stop here.
constexpr char kTypeInitials[] = {'m', 'f', 's', 'w', 'u', 'p'};

bool typeInitial(uint8_t c) { return std::memchr(kTypeInitials, c, sizeof kTypeInitials) != nullptr; }

#if defined(__SSE2__)
// Which of the 16 bytes at p are type initials (bit k for p[k]). The gaps
// searched are audio, where about one byte in forty is one.
uint32_t typeInitialMask16(const uint8_t* p) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i hit = _mm_setzero_si128();
    for (const char c : kTypeInitials)
        hit = _mm_or_si128(hit, _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)));
    return uint32_t(_mm_movemask_epi8(hit));
}
#endif

}  // namespace

bool findTopLevelAtom(const uint8_t* data, int64_t n, int64_t dataOffset, int64_t fileSize, int64_t last,
                      TopLevelAtom& out) {
    if (!data)
        return false;
    // Positions i with i <= last and a whole header inside the data.
    const int64_t end = std::min(last + 1, n - kAtomHeader + 1);
    int64_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= end; i += 16) {
        for (uint32_t hits = typeInitialMask16(data + i + 4); hits; hits &= hits - 1)
            if (atomAt(data, n, dataOffset, fileSize, i + __builtin_ctz(hits), out))
                return true;
    }
#endif
    for (; i < end; ++i)
        if (typeInitial(data[i + 4]) && atomAt(data, n, dataOffset, fileSize, i, out))
            return true;
    return false;
}
