#include "qt/atom_io.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace qt {

namespace {

// The trace prefix and hex text share one buffer; a line never grows past it.
constexpr size_t kTraceBufferBytes = 2048;
// At most this many raw bytes of a field are shown in hex.
constexpr uint32_t kTraceHexBytes = 48;
// Value columns line up for atoms shallower than this.
constexpr int kTraceAlignDepth = 6;

char s_traceBuffer[kTraceBufferBytes];

bool tracing(const MovieFile* f, const char* label, uint32_t traceClass) {
    return label && (f->m_traceMask & traceClass) != 0;
}

// Appends to the shared buffer, stopping before it would pass its last byte.
void append(size_t& used, const char* text) {
    size_t n = std::strlen(text);
    if (used + n > kTraceBufferBytes - 1)
        n = kTraceBufferBytes - 1 - used;
    std::memcpy(s_traceBuffer + used, text, n);
    used += n;
    s_traceBuffer[used] = 0;
}

// Prints prefix, name column and alignment padding.
void traceHead(const MovieFile* f, const char* name) {
    size_t used = 0;
    s_traceBuffer[0] = 0;
    for (int i = 0; i < f->m_depth; ++i)
        append(used, "|  ");
    std::printf("%s%-11s ", s_traceBuffer, name);
    if (f->m_depth < kTraceAlignDepth) {
        used = 0;
        s_traceBuffer[0] = 0;
        for (int i = 0; i < kTraceAlignDepth - f->m_depth; ++i)
            append(used, "   ");
        std::printf("%s", s_traceBuffer);
    }
}

const char* hexText(const uint8_t* bytes, uint32_t count) {
    size_t used = 0;
    s_traceBuffer[0] = 0;
    char item[4];
    for (uint32_t i = 0; i < count && i < kTraceHexBytes; ++i) {
        std::snprintf(item, sizeof item, "%02X ", bytes[i]);
        append(used, item);
    }
    return s_traceBuffer;
}

// Moves count raw bytes in the file's direction. In mode 'r' the buffer is
// zeroed first so that a short read leaves defined data.
bool transfer(MovieFile* f, uint8_t* bytes, uint32_t count) {
    if (f->m_mode == 'w') {
        size_t n = f->m_file.write(bytes, count);
        f->m_position += n;
        return n == count;
    }
    std::memset(bytes, 0, count);
    size_t n = f->m_file.read(bytes, count);
    f->m_position += n;
    return n == count;
}

void putBigEndian(uint8_t* out, uint64_t value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        out[i] = uint8_t(value);
        value >>= 8;
    }
}

uint64_t getBigEndian(const uint8_t* in, int width) {
    uint64_t v = 0;
    for (int i = 0; i < width; ++i)
        v = (v << 8) | in[i];
    return v;
}

// Truncation toward zero that stays defined for values out of range.
int64_t truncateToInt64(double v) {
    if (!(v == v))
        return 0;
    if (v >= 9.2e18)
        return INT64_MAX;
    if (v <= -9.2e18)
        return INT64_MIN;
    return static_cast<int64_t>(v);
}

// The integer fields share their codec; width is 1, 2, 4 or 8 bytes.
bool rwInteger(MovieFile* f, uint64_t* value, int width, const char* primitive, const char* label,
               uint32_t traceClass) {
    const uint64_t at = f->m_position;
    uint8_t bytes[8];
    if (f->m_mode == 'w')
        putBigEndian(bytes, *value, width);
    const bool ok = transfer(f, bytes, uint32_t(width));
    if (f->m_mode != 'w')
        *value = getBigEndian(bytes, width);
    if (tracing(f, label, traceClass)) {
        traceHead(f, primitive);
        if (width == 8)
            std::printf("at %11.0f (%-17s): %10.0f  (%s)\n", double(at), label, double(*value),
                        hexText(bytes, 8));
        else
            std::printf("at %11.0f (%-16s): %10d  (%s)\n", double(at), label, int(uint32_t(*value)),
                        hexText(bytes, uint32_t(width)));
    }
    return ok;
}

void traceReal(MovieFile* f, const char* primitive, uint64_t at, const char* label, double value,
               const uint8_t* bytes, uint32_t width) {
    traceHead(f, primitive);
    std::printf("at %11.0f (%-16s): %10.3f  (%s)\n", double(at), label, value, hexText(bytes, width));
}

}  // namespace

bool rw(MovieFile* f, uint8_t* buffer, uint32_t count, const char* label, uint32_t traceClass) {
    const uint64_t at = f->m_position;
    const bool ok = transfer(f, buffer, count);
    if (tracing(f, label, traceClass)) {
        traceHead(f, "rw");
        std::printf("at %11.0f (%-16s):             (%s)\n", double(at), label, hexText(buffer, count));
    }
    return ok;
}

bool rw8(MovieFile* f, uint8_t* value, const char* label, uint32_t traceClass) {
    uint64_t v = *value;
    const bool ok = rwInteger(f, &v, 1, "rw8", label, traceClass);
    *value = uint8_t(v);
    return ok;
}

bool rw16be(MovieFile* f, uint16_t* value, const char* label, uint32_t traceClass) {
    uint64_t v = *value;
    const bool ok = rwInteger(f, &v, 2, "rw16be", label, traceClass);
    *value = uint16_t(v);
    return ok;
}

bool rw32be(MovieFile* f, uint32_t* value, const char* label, uint32_t traceClass) {
    uint64_t v = *value;
    const bool ok = rwInteger(f, &v, 4, "rw32be", label, traceClass);
    *value = uint32_t(v);
    return ok;
}

bool rw64be(MovieFile* f, uint64_t* value, const char* label, uint32_t traceClass) {
    return rwInteger(f, value, 8, "rw64be", label, traceClass);
}

bool rwfix16(MovieFile* f, double* value, const char* label, uint32_t traceClass) {
    const uint64_t at = f->m_position;
    uint8_t bytes[2];
    if (f->m_mode == 'w')
        putBigEndian(bytes, uint16_t(truncateToInt64(*value * 256.0)), 2);
    const bool ok = transfer(f, bytes, 2);
    if (f->m_mode != 'w')
        *value = double(getBigEndian(bytes, 2)) / 256.0;
    if (tracing(f, label, traceClass))
        traceReal(f, "rwfix16", at, label, *value, bytes, 2);
    return ok;
}

bool rwfix32(MovieFile* f, double* value, const char* label, uint32_t traceClass) {
    const uint64_t at = f->m_position;
    uint8_t bytes[4];
    if (f->m_mode == 'w')
        putBigEndian(bytes, uint32_t(uint64_t(truncateToInt64(*value * 65536.0))), 4);
    const bool ok = transfer(f, bytes, 4);
    if (f->m_mode != 'w')
        *value = double(getBigEndian(bytes, 4)) / 65536.0;
    if (tracing(f, label, traceClass))
        traceReal(f, "rwfix32", at, label, *value, bytes, 4);
    return ok;
}

bool rw64float(MovieFile* f, double* value, const char* label, uint32_t traceClass) {
    const uint64_t at = f->m_position;
    uint8_t bytes[8];
    if (f->m_mode == 'w') {
        uint64_t bits;
        std::memcpy(&bits, value, 8);
        putBigEndian(bytes, bits, 8);
    }
    const bool ok = transfer(f, bytes, 8);
    if (f->m_mode != 'w') {
        const uint64_t bits = getBigEndian(bytes, 8);
        std::memcpy(value, &bits, 8);
    }
    if (tracing(f, label, traceClass))
        traceReal(f, "rw64float", at, label, *value, bytes, 8);
    return ok;
}

int32_t readdescrsz(MovieFile* f, const char* label, uint32_t traceClass) {
    const uint64_t at = f->m_position;
    int32_t length = 0;
    for (int i = 0; i < 4; ++i) {
        uint8_t b = 0;
        if (!transfer(f, &b, 1))
            break;
        length = (length << 7) | (b & 0x7F);
        if (!(b & 0x80))
            break;
    }
    if (tracing(f, label, traceClass)) {
        traceHead(f, "readdescrsz");
        std::printf("at %11.0f (%-16s): %10d\n", double(at), label, length);
    }
    return length;
}

bool rwfourcc(MovieFile* f, Fourcc* value, const char* label, uint32_t traceClass) {
    uint8_t bytes[4];
    std::memcpy(bytes, value, 4);
    const bool ok = rw(f, bytes, 4, label, traceClass);
    std::memcpy(value, bytes, 4);
    return ok;
}

void traceFourcc(MovieFile* f, Fourcc fourcc) {
    if (!(f->m_traceMask & kTraceAtoms))
        return;
    const uint8_t* b = reinterpret_cast<const uint8_t*>(&fourcc);
    char name[16];
    std::snprintf(name, sizeof name, "[%c%c%c%c]", b[0], b[1], b[2], b[3]);
    traceHead(f, name);
    std::printf("\n");
}

bool seekTo(MovieFile* f, uint64_t offset) {
    f->m_position = offset;
    if (offset > uint64_t(INT64_MAX))
        return false;
    return f->m_file.seek(int64_t(offset));
}

bool patchSize(MovieFile* f, uint64_t atomStart, bool size64, const char* label) {
    const uint64_t here = f->m_position;
    const uint64_t size = here - atomStart;
    bool ok;
    if (size64) {
        uint64_t v = size;
        ok = seekTo(f, atomStart + 8) && rw64be(f, &v, label, kTraceAtoms);
    } else {
        uint32_t v = uint32_t(size);
        ok = seekTo(f, atomStart) && rw32be(f, &v, label, kTraceAtoms);
    }
    return seekTo(f, here) && ok;
}

}  // namespace qt
