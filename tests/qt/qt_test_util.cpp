#include "qt_test_util.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

#include "qt/quicktime.h"
#include "support/test_support.h"

namespace qttest {

std::string sourceFixture(const std::string& name, const std::string& encodeArgs) {
    return testsupport::fixture(name,
                                "-f lavfi -i testsrc2=size=320x240:rate=25:duration=2 "
                                "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=2 " +
                                    encodeArgs);
}

namespace {

struct ChunkRef {
    int track;
    uint32_t chunk;  // from 1
    uint64_t offset;
    uint32_t firstSample;
    uint32_t samples;
};

}  // namespace

bool copyMovie(const std::string& srcName, const std::string& dstName) {
    MovieFile* src = QTOpen(srcName, 0, true);
    if (!src)
        return false;
    MovieFile* dst = QTCreate(dstName, &src->m_brand, src->m_movieTimescale, 0);
    if (!dst) {
        QTClose(src);
        return false;
    }
    MovieTrack* out[kMaxTracks] = {};
    std::vector<ChunkRef> chunks;
    for (int i = 0; i < src->m_trackCount; ++i) {
        const MovieTrack& t = src->m_tracks[i];
        if (t.m_handlerType == makeFourcc("vide")) {
            out[i] = QTAddVideoTrack(dst, fourccString(t.m_codec), t.m_mediaTimescale, QTGetFrameRate(&t),
                                     t.m_width, t.m_height);
            out[i]->m_sampleDuration = t.m_sampleDuration;
        } else if (t.m_handlerType == makeFourcc("soun")) {
            out[i] = QTAddAudioTrack(dst, fourccString(t.m_codec), t.m_sampleDuration, t.m_mediaTimescale,
                                     t.m_audioSampleSize, t.m_audioChannels, t.m_fixedSampleSize);
            out[i]->m_endianness = t.m_endianness;
            out[i]->m_lpcmFlags = t.m_lpcmFlags;
            out[i]->m_extraAtom = t.m_extraAtom;
        } else {
            continue;
        }
        QTCopyCodecConfig(out[i], t.m_esds.m_raw, t.m_esds.m_rawLength, &t.m_avc, &t.m_hevc, &t.m_colour);
        out[i]->m_timeToSample = t.m_timeToSample;
        out[i]->m_editList = t.m_editList;
        uint32_t first = 1;
        for (uint32_t c = 1; c <= t.m_chunkOffsets.size(); ++c) {
            const uint32_t n = QTGetSamplesPerChunk(&t, c);
            chunks.push_back({i, c, t.m_chunkOffsets[c - 1], first, n});
            first += n;
        }
    }
    std::stable_sort(chunks.begin(), chunks.end(),
                     [](const ChunkRef& a, const ChunkRef& b) { return a.offset < b.offset; });
    bool ok = true;
    std::vector<uint8_t> buffer;
    for (const ChunkRef& c : chunks) {
        const MovieTrack& t = src->m_tracks[c.track];
        if (t.m_fixedSampleSize) {
            // A fixed-size chunk goes in one call, as a run of samples.
            buffer.resize(size_t(c.samples) * t.m_fixedSampleSize);
            ok = ok && src->m_file.readAt(int64_t(c.offset), buffer.data(), buffer.size()) == buffer.size();
            ok = ok && QTAddSamples(dst, out[c.track], buffer.data(), uint32_t(buffer.size()), 0);
            continue;
        }
        for (uint32_t s = c.firstSample; s < c.firstSample + c.samples; ++s) {
            const uint64_t offset = QTGetSampleOffset(&t, s);
            buffer.resize(QTGetSampleSize(&t, s));
            ok = ok && offset != 0 && !buffer.empty();
            ok = ok && src->m_file.readAt(int64_t(offset), buffer.data(), buffer.size()) == buffer.size();
            ok = ok && QTAddSamples(dst, out[c.track], buffer.data(), uint32_t(buffer.size()),
                                    QTGetCompositionOffset(&t, s));
        }
    }
    ok = QTClose(dst) && ok;
    QTClose(src);
    return ok;
}

void put16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}

void put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 3; i >= 0; --i)
        b.push_back(uint8_t(v >> (8 * i)));
}

void put64(std::vector<uint8_t>& b, uint64_t v) {
    for (int i = 7; i >= 0; --i)
        b.push_back(uint8_t(v >> (8 * i)));
}

void putType(std::vector<uint8_t>& b, const char* type) { b.insert(b.end(), type, type + 4); }

std::vector<uint8_t> atom(const char* type, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> b;
    put32(b, uint32_t(payload.size() + 8));
    putType(b, type);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

std::vector<uint8_t> fullAtom(const char* type, uint8_t version, uint32_t flags, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> p;
    put32(p, (uint32_t(version) << 24) | (flags & 0xFFFFFF));
    p.insert(p.end(), payload.begin(), payload.end());
    return atom(type, p);
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> b;
    for (const auto& p : parts)
        b.insert(b.end(), p.begin(), p.end());
    return b;
}

std::string writeScratch(const std::string& test, const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = testsupport::scratchDir(test) + "/" + name;
    testsupport::writeFile(path, bytes);
    return path;
}

std::string captureStdout(void (*fn)(void*), void* arg) {
    std::fflush(stdout);
    char path[] = "/tmp/qt_stdout_XXXXXX";
    const int fd = ::mkstemp(path);
    const int saved = ::dup(1);
    ::dup2(fd, 1);
    fn(arg);
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    ::close(fd);
    std::vector<uint8_t> bytes = testsupport::readFile(path);
    std::remove(path);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace qttest
