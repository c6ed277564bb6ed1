// Where the sound of a gap stops and the captions that close it begin.

#include "analysers/audio/pcm_gap_layout.h"
#include "qt/qt_types.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr int64_t kFrame = 4;     // 16-bit stereo
constexpr int64_t kPacket = 4096; // the muxer's 1,024-frame packets

void appendCaption(std::vector<uint8_t>& bytes, const std::string& text) {
    bytes.push_back(uint8_t(text.size() >> 8));
    bytes.push_back(uint8_t(text.size()));
    bytes.insert(bytes.end(), text.begin(), text.end());
}

// Three whole packets and a short last one of silence, then the closing
// caption chunk: a pause, a cue and the pause behind it.
std::vector<uint8_t> silenceThenCaptions(int64_t& soundBytes) {
    soundBytes = 3 * kPacket + 100 * kFrame;
    std::vector<uint8_t> bytes(size_t(soundBytes), 0);
    appendCaption(bytes, "");
    appendCaption(bytes, "reference 10");
    appendCaption(bytes, "");
    return bytes;
}

PcmGapLayout captionLayout(bool pauses, int64_t frame = kFrame) {
    return PcmGapLayout({PcmGapMetadataTrack{makeFourcc("text"), {}, 260, pauses}}, frame, kPacket);
}

}  // namespace

TEST(PcmGapLayout, RecordingEndsInShortPacketsAndACaptionChunk) {
    int64_t sound = 0;
    const std::vector<uint8_t> bytes = silenceThenCaptions(sound);
    const int64_t n = int64_t(bytes.size());

    // The cue's text shows the chunk although the sound in front is off
    // the packets' grid; a track that pauses opens it with its pause.
    std::vector<PcmGapPiece> pieces = captionLayout(true).split(bytes.data(), n, true);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].metadataTrack, -1);
    EXPECT_EQ(pieces[0].size, sound);
    EXPECT_EQ(pieces[1].metadataTrack, 0);
    EXPECT_EQ(pieces[1].offset, sound);
    EXPECT_EQ(pieces[1].size, n - sound);

    // Silence reads as empty samples: without pauses to go by, the chunk
    // is the shortest that shows the cue (16-bit mono sound may end
    // anywhere in front of it).
    pieces = captionLayout(false, 2).split(bytes.data(), n, true);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[1].offset, sound + 2);

}
