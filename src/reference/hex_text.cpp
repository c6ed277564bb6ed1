#include "reference/hex_text.h"

std::string hexText(const uint8_t* data, size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    if (!data)
        return text;
    const size_t shown = size < kHexTextMaxBytes ? size : kHexTextMaxBytes;
    for (size_t i = 0; i < shown; ++i) {
        const size_t need = i + 1 < shown ? 3 : 2;
        if (text.size() + need > kHexTextMaxChars)
            break;
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0x0F];
        if (i + 1 < shown)
            text += ',';
    }
    return text;
}
