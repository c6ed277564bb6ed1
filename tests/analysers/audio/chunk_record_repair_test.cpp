// Recorders that write a record of their own in front of every chunk (a
// GoPro writes 16 bytes, "GP", the chunk's size and more): the bytes
// between the chunks belong to no track, and the sound between two video
// chunks stands behind one.

#include "support/atom_builder.h"
#include "support/repair_run.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

using testsupport::Bytes;

// `file` with a 16-byte record in front of each of its chunks, the chunk
// offsets moved with them.
Bytes withChunkRecords(const std::string& file) {
    Bytes d = testsupport::readFile(file);
    std::vector<uint64_t> chunks;
    testsupport::mapChunkOffsets(d, [&](uint64_t v) {
        chunks.push_back(v);
        return v;
    });
    std::sort(chunks.begin(), chunks.end());
    chunks.erase(std::unique(chunks.begin(), chunks.end()), chunks.end());
    const size_t type = testsupport::findType(d, "mdat");
    if (chunks.empty() || type == std::string::npos || type < 4)
        return {};
    const size_t header = type - 4, end = header + testsupport::be32(&d[header]);
    Bytes out(d.begin(), d.begin() + long(chunks.front()));
    std::map<uint64_t, uint64_t> moved;
    for (size_t k = 0; k < chunks.size(); ++k) {
        const uint64_t next = k + 1 < chunks.size() ? chunks[k + 1] : end;
        const Bytes record = testsupport::concat({{'G', 'P', 4, 0}, testsupport::u32s({uint32_t(next - chunks[k]), 1024, 0})});
        out.insert(out.end(), record.begin(), record.end());
        moved[chunks[k]] = out.size();
        out.insert(out.end(), d.begin() + long(chunks[k]), d.begin() + long(next));
    }
    testsupport::setBe32(&out[header], uint32_t(out.size() - header));
    out.insert(out.end(), d.begin() + long(end), d.end());
    testsupport::mapChunkOffsets(out, [&](uint64_t v) { return moved.count(v) ? moved[v] : v; });
    return out;
}

std::string recording(const std::string& test, const std::string& name, const char* scene, int seconds) {
    const std::string made = testsupport::fixture(
        name, "-f lavfi -i " + std::string(scene) + "=size=320x240:rate=30 -f lavfi -i sine=f=440:r=48000 -i " +
                  testsupport::quote(testmedia::captionCues(12, true)) +
                  " -map 0:v -map 1:a -map 2:s -t " + std::to_string(seconds) +
                  " -c:v libx264 -pix_fmt yuv420p -c:a aac -c:s mov_text -chunk_duration 500000");
    return testsupport::writeScratch(test + "." + name, name, withChunkRecords(made));
}

}  // namespace

// Captions make every gap one that several tracks share: its sound was
// looked for only where the gap begins, in front of the record, and 94 of
// 283 frames were lost.
TEST(ChunkRecordRepair, SoundBehindEachChunksRecordComesBack) {
    const std::string test = "ChunkRecordRepair";
    const std::string original = recording(test, "records.mov", "testsrc2", 6);
    const std::string reference = recording(test, "records_ref.mov", "mandelbrot", 3);
    ASSERT_NE(testsupport::ffprobe(original, "-show_entries stream=codec_name -of csv=p=0"), "");
    const repairrun::Outcome o = repairrun::repair(test, reference, repairrun::withoutIndex(original), "", original);
    ASSERT_EQ(o.exitCode, 0) << o.errors;
    EXPECT_EQ(o.video.recovered, o.video.alive);
    EXPECT_EQ(repairrun::mappedChecksums(o.repaired, "a"), repairrun::mappedChecksums(original, "a"));
    EXPECT_EQ(repairrun::decodeErrors(o.repaired), "");
}
