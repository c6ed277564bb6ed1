#include "qt/qt_types.h"

Fourcc fourccFromText(const std::string& text) {
    uint8_t bytes[4] = {0, 0, 0, 0};
    std::memcpy(bytes, text.data(), text.size() < 4 ? text.size() : 4);
    Fourcc f;
    std::memcpy(&f, bytes, 4);
    return f;
}

const char* fourccText(Fourcc fourcc) {
    static char s_text[5];
    std::memcpy(s_text, &fourcc, 4);
    s_text[4] = 0;
    return s_text;
}

std::string fourccString(Fourcc fourcc) {
    char s[4];
    std::memcpy(s, &fourcc, 4);
    return std::string(s, 4);
}
