#include "camera/repi/repi_recording.h"

#include <algorithm>

namespace repitest {

namespace {

void put32le(Bytes& b, uint32_t v) {
    for (int s = 0; s < 32; s += 8)
        b.push_back(uint8_t(v >> s));
}

Bytes header(const char* kind, uint32_t size, uint32_t count) {
    Bytes b = {'r', 'e', 'p', 'i'};
    put32le(b, size);
    b.insert(b.end(), kind, kind + 4);
    put32le(b, 0x01020304);
    put32le(b, count);
    return b;
}

Bytes pcmBlock(size_t index) {
    Bytes b(46080);
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = uint8_t((i * 31 + index * 101) >> 3);
    return b;
}

void append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

}  // namespace

RepiRecording makeRepi(const std::vector<Bytes>& units, size_t perRecord, size_t extraAudio, size_t audioPerRecord) {
    RepiRecording r;
    Bytes& f = r.file;
    auto timecode = [&f] {
        Bytes t = header("tmcd", 68, 1);
        t.resize(68, 0x11);
        append(f, t);
    };
    auto audio = [&] {
        r.audio.push_back(pcmBlock(r.audio.size()));
        append(f, header("lpcm", 46080 + 20, 0));
        append(f, r.audio.back());
    };
    for (size_t first = 0; first < units.size(); first += perRecord) {
        timecode();
        const size_t n = std::min(perRecord, units.size() - first);
        r.videoRecords.push_back(f.size());
        append(f, header("vide", 0, uint32_t(n)));
        for (size_t i = first; i < first + n; ++i)
            put32le(f, uint32_t(units[i].size()));
        for (size_t i = first; i < first + n; ++i) {
            append(f, units[i]);
            r.samples.push_back(units[i]);
        }
        for (size_t a = 0; a < audioPerRecord; ++a)
            audio();
    }
    for (size_t i = 0; i < extraAudio; ++i)
        audio();
    timecode();
    return r;
}

}  // namespace repitest
