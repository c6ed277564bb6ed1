// A recording larger than 4 GiB: its samples beyond 2^32 must come back
// bit-exact at 64-bit chunk offsets, and the repair's memory must follow
// its tables, not the size of the input. The recording is a clip's media
// data written again and again behind one 64-bit mdat header, as a camera
// that never got to write its index leaves it; its packets are the clip's,
// repeated.
//
// Writes about 8.7 GB to the build folder (removed at the end) and takes
// minutes, so it runs only when asked for: ctest -C big -L big.

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testsupport::quote;

constexpr uint64_t kFourGiB = uint64_t(1) << 32;

struct Box {
    uint64_t offset = 0, header = 0, size = 0;
};

// The top-level box of the given type in a movie of ffmpeg's making.
Box topBox(const std::vector<uint8_t>& file, const char* type) {
    uint64_t pos = 0;
    while (pos + 8 <= file.size()) {
        uint64_t size = 0;
        for (int i = 0; i < 4; ++i)
            size = size << 8 | file[pos + i];
        uint64_t header = 8;
        if (size == 1 && pos + 16 <= file.size()) {
            size = 0;
            for (int i = 8; i < 16; ++i)
                size = size << 8 | file[pos + i];
            header = 16;
        }
        if (size < header)
            break;
        if (std::string(reinterpret_cast<const char*>(&file[pos + 4]), 4) == type)
            return {pos, header, size};
        pos += size;
    }
    return {};
}

// The clip's file type box, then one 64-bit mdat holding its media data
// `copies` times.
bool writeRepeated(const std::string& clip, int copies, const std::string& out) {
    const auto bytes = testsupport::readFile(clip);
    const Box ftyp = topBox(bytes, "ftyp"), mdat = topBox(bytes, "mdat");
    if (ftyp.size == 0 || mdat.size == 0)
        return false;
    const char* payload = reinterpret_cast<const char*>(bytes.data() + mdat.offset + mdat.header);
    const uint64_t payloadSize = mdat.size - mdat.header;
    std::ofstream f(out, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data() + ftyp.offset), std::streamsize(ftyp.size));
    const uint64_t total = 16 + payloadSize * uint64_t(copies);
    uint8_t header[16] = {0, 0, 0, 1, 'm', 'd', 'a', 't'};
    for (int i = 0; i < 8; ++i)
        header[8 + i] = uint8_t(total >> (56 - 8 * i));
    f.write(reinterpret_cast<const char*>(header), sizeof header);
    for (int i = 0; i < copies; ++i)
        f.write(payload, std::streamsize(payloadSize));
    return bool(f);
}

struct Repair {
    int exitCode = -1;
    long maxRssKiB = 0;
};

// framend as a child process, so its own peak memory can be read back.
Repair repair(const std::string& damaged, const std::string& reference, const std::string& out,
              const std::string& log) {
    Repair r;
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::FILE* sink = std::freopen(log.c_str(), "w", stdout);
        (void)sink;
        ::execl(FRAMEND_BINARY, FRAMEND_BINARY, "-i", damaged.c_str(), "-ref", reference.c_str(), "-o",
                out.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (pid > 0 && ::wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status)) {
        r.exitCode = WEXITSTATUS(status);
        r.maxRssKiB = usage.ru_maxrss;
    }
    return r;
}

// Packet checksums per stream without the timestamps, which go on growing
// from one copy to the next: "size md5" (side data, such as the first sound
// packet's priming to skip, may follow on the line).
std::vector<std::string> packetSums(const std::string& file, int stream) {
    std::vector<std::string> sums;
    for (const auto& line : testsupport::framemd5(file)) {
        std::vector<std::string> f;
        std::istringstream in(line);
        for (std::string field; std::getline(in, field, ',');)
            f.push_back(field.substr(field.find_first_not_of(' ')));
        if (f.size() >= 6 && std::stoi(f[0]) == stream)
            sums.push_back(f[4] + " " + f[5]);
    }
    return sums;
}

uint64_t lastVideoPacketPosition(const std::string& file) {
    const auto r = testsupport::runCommand("ffprobe -v error -select_streams v:0 -show_entries packet=pos -of csv=p=0 " +
                                           quote(file));
    uint64_t last = 0;
    std::istringstream in(r.output);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line != "N/A")
            last = std::max<uint64_t>(last, std::stoull(line));
    return last;
}

// 4 s of 1080p H.264 with B-frames and grain, about 1.2 MB a frame, and AAC.
std::string clip(const std::string& name, const char* video, int tone, int seconds) {
    return testsupport::fixture(
        name, std::string("-f lavfi -i ") + video + "=s=1920x1080:r=25 -f lavfi -i sine=f=" + std::to_string(tone) +
                  ":r=48000 -t " + std::to_string(seconds) +
                  " -vf noise=alls=20:allf=t -c:v libx264 -preset veryfast -crf 12 -bf 2 -g 50 -pix_fmt yuv420p"
                  " -c:a aac -b:a 128k");
}

// The movies go when the test ends, passed or not; the logs stay for a look
// at a failure.
struct RemovedAtEnd {
    std::vector<std::string> files;
    ~RemovedAtEnd() {
        std::error_code ignored;
        for (const auto& f : files)
            std::filesystem::remove(f, ignored);
    }
};

TEST(OverFourGiB, SamplesBeyondFourGiBComeBackBitExactWithMemoryBoundedByTheTables) {
    const std::string source = clip("big_clip.mp4", "testsrc2", 440, 4);
    const std::string reference = clip("big_reference.mp4", "mandelbrot", 880, 2);
    ASSERT_FALSE(source.empty());
    ASSERT_FALSE(reference.empty());
    const auto clipSize = std::filesystem::file_size(source);
    const int copies = int(kFourGiB / clipSize) + 2;
    const std::string dir = testsupport::scratchDir("over_4gib");
    const std::string damaged = dir + "/damaged.mp4", repaired = dir + "/repaired.mp4";
    const RemovedAtEnd cleanup{{dir + "/one.mp4", dir + "/one.out.mp4", damaged, repaired}};

    // One copy first: what the repair needs when the input is small.
    ASSERT_TRUE(writeRepeated(source, 1, dir + "/one.mp4"));
    const Repair small = repair(dir + "/one.mp4", reference, dir + "/one.out.mp4", dir + "/one.log");
    ASSERT_EQ(small.exitCode, 0);

    ASSERT_TRUE(writeRepeated(source, copies, damaged));
    ASSERT_GT(std::filesystem::file_size(damaged), kFourGiB + clipSize);
    const Repair big = repair(damaged, reference, repaired, dir + "/repaired.log");
    std::filesystem::remove(damaged);
    EXPECT_EQ(big.exitCode, 0);
    ASSERT_TRUE(std::filesystem::exists(repaired));
    EXPECT_GT(std::filesystem::file_size(repaired), kFourGiB);
    // Samples placed beyond 4 GiB: only a 64-bit chunk offset table can say where.
    EXPECT_GT(lastVideoPacketPosition(repaired), kFourGiB);

    for (int stream : {0, 1}) {
        const auto one = packetSums(source, stream);
        ASSERT_FALSE(one.empty()) << "stream " << stream;
        std::vector<std::string> want;
        for (int i = 0; i < copies; ++i)
            want.insert(want.end(), one.begin(), one.end());
        const auto got = packetSums(repaired, stream);
        EXPECT_EQ(got.size(), want.size()) << "stream " << stream;
        EXPECT_TRUE(got == want) << "stream " << stream << ": packets differ from the clip's, repeated";
    }
    // Tables for ~3,500 frames and ~6,500 sound blocks against tens of
    // megabytes of buffers: a repair that held the media data would need
    // gigabytes.
    EXPECT_LT(big.maxRssKiB, small.maxRssKiB + 64 * 1024)
        << "peak memory " << big.maxRssKiB << " KiB, " << small.maxRssKiB << " KiB for one copy";
}

}  // namespace
