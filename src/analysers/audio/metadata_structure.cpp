#include "analysers/audio/metadata_structure.h"

#include <algorithm>
#include <iterator>

namespace {

// A chunk is followed for at most this many units: far more than any
// recorder writes between two video chunks.
constexpr size_t kMaxUnits = 4096;
// KLV keys are four characters of upper case letters and digits.
bool klvKeyChar(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

std::vector<int64_t> mebxEnds(const std::vector<uint32_t>& keys, const uint8_t* data, int64_t n) {
    std::vector<int64_t> ends;
    int64_t pos = 0;
    while (pos + 8 <= n && ends.size() < kMaxUnits) {
        const uint32_t size = be32(data + pos);
        const uint32_t key = be32(data + pos + 4);
        if (size < 8 || pos + int64_t(size) > n || std::find(keys.begin(), keys.end(), key) == keys.end())
            break;
        pos += size;
        ends.push_back(pos);
    }
    return ends;
}

std::vector<int64_t> gpmdEnds(const uint8_t* data, int64_t n) {
    std::vector<int64_t> ends;
    int64_t pos = 0;
    while (pos + 8 <= n && ends.size() < kMaxUnits) {
        const uint8_t* k = data + pos;
        if (!klvKeyChar(k[0]) || !klvKeyChar(k[1]) || !klvKeyChar(k[2]) || !klvKeyChar(k[3]))
            break;
        const int64_t payload = int64_t(k[5]) * (int64_t(k[6]) << 8 | k[7]);
        const int64_t length = 8 + ((payload + 3) & ~int64_t(3));
        if (pos + length > n)
            break;
        pos += length;
        ends.push_back(pos);
    }
    return ends;
}

// The modifier boxes a 3GPP timed-text sample may carry after its text.
bool textModifierBox(uint32_t type) {
    static constexpr Fourcc kTypes[] = {makeFourcc("styl"), makeFourcc("hlit"), makeFourcc("hclr"),
                                         makeFourcc("krok"), makeFourcc("dlay"), makeFourcc("href"),
                                         makeFourcc("tbox"), makeFourcc("blnk"), makeFourcc("twrp")};
    return std::find(std::begin(kTypes), std::end(kTypes), type) != std::end(kTypes);
}

// Caption text is UTF-8 (or UTF-16 opened by its byte order mark) without
// control characters but line breaks and tabs: sound frames or picture
// slices that a length prefix seems to frame are not.
bool captionText(const uint8_t* text, int64_t n) {
    if (n >= 2 && ((text[0] == 0xFE && text[1] == 0xFF) || (text[0] == 0xFF && text[1] == 0xFE)))
        return n % 2 == 0;
    int64_t i = 0;
    while (i < n) {
        const uint8_t c = text[i];
        if (c < 0x80) {
            if (c < 0x20 && c != '\n' && c != '\r' && c != '\t')
                return false;
            ++i;
            continue;
        }
        const int follow = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (follow < 0 || c == 0xC0 || c == 0xC1 || i + follow >= n)
            return false;
        for (int k = 1; k <= follow; ++k)
            if ((text[i + k] & 0xC0) != 0x80)
                return false;
        i += 1 + follow;
    }
    return true;
}

// A timed-text sample: a 16-bit text length, the text, then modifier boxes.
std::vector<int64_t> textEnds(const uint8_t* data, int64_t n) {
    std::vector<int64_t> ends;
    int64_t pos = 0;
    while (pos + 2 <= n && ends.size() < kMaxUnits) {
        const int64_t length = int64_t(data[pos]) << 8 | data[pos + 1];
        if (pos + 2 + length > n || !captionText(data + pos + 2, length))
            break;
        pos += 2 + length;
        while (pos + 8 <= n) {
            const uint32_t size = be32(data + pos);
            if (size < 8 || pos + int64_t(size) > n || !textModifierBox(be32(data + pos + 4)))
                break;
            pos += size;
        }
        ends.push_back(pos);
    }
    return ends;
}

}  // namespace

bool metadataStructureDecides(Fourcc codec) { return codec == makeFourcc("tx3g") || codec == makeFourcc("text"); }

bool metadataStructureOpens(Fourcc codec, const std::vector<uint32_t>& keys) {
    return codec == makeFourcc("gpmd") || (codec == makeFourcc("mebx") && !keys.empty()) ||
           metadataStructureDecides(codec);
}

std::vector<int64_t> metadataUnitEnds(Fourcc codec, const std::vector<uint32_t>& keys, const uint8_t* data,
                                      int64_t n) {
    if (codec == makeFourcc("mebx") && !keys.empty())
        return mebxEnds(keys, data, n);
    if (codec == makeFourcc("gpmd"))
        return gpmdEnds(data, n);
    if (metadataStructureDecides(codec))
        return textEnds(data, n);
    return {};
}
