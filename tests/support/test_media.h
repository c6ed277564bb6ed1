#pragma once
// Movies made by ffmpeg and shared by the test programs (cached in the build
// folder, so each is made once), and ffprobe's view of them.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testmedia {

// 2 s of 320x240 25 fps test pattern plus a 48 kHz tone, encoded with the
// given arguments (everything after the two lavfi inputs).
std::string movie(const std::string& name, const std::string& encodeArgs);
// The ffmpeg arguments movie() uses.
std::string movieArgs(const std::string& encodeArgs);

// H.264 with GOP 25 and B-frames (so composition offsets), chunks of about
// 0.5 s, and:
std::string h264AacMp4();     // stereo AAC in .mp4
std::string h264PcmMov();     // 16-bit PCM in .mov (fixed sample size)
std::string h264TwoPcmMov();  // the same PCM twice: V A1 A2 cycles
std::string h264OnlyMov();    // no audio
// HEVC ('hvc1', parameter sets only in the hvcC, BT.2020 PQ full range
// signalled in the SPS only) with AAC, .mp4.
std::string hevcAacMp4();
// ProRes 422 Proxy with 16-bit PCM, .mov.
std::string proresPcmMov();
// 1 s of DV25 (720x480) with 16-bit PCM, .mov.
std::string dvPcmMov();
// Motion JPEG with 16-bit PCM, .mov.
std::string mjpegPcmMov();
// A subtitle file of `count` cues, one every 0.4 s for 0.3 s ("caption N";
// `varied`: with 0 to 3 dots in front of N, so that some cue chunks and the
// pauses before them are whole PCM frames long), for ffmpeg to mux as a
// timed-text track (-c:s mov_text).
std::string captionCues(int count, bool varied = false);
// Where captionCues(count, varied) puts its file.
std::string captionCuesPath(int count, bool varied = false);
// A file of scaling lists for libx265 (-x265-params scaling-list=FILE)
// whose coefficients cost one to two bytes each: an SPS of about 1.6 KB.
std::string x265ScalingLists();

// The caption track's cues as a player shows them: when each starts, in
// seconds, and its text.
struct Cue {
    double start = 0;
    std::string text;
};
std::vector<Cue> shownCues(const std::string& file);

struct Packet {
    int stream = -1;
    int64_t pts = 0;
    int64_t dts = 0;
    int64_t size = 0;
    int64_t pos = -1;
    int64_t duration = 0;
};
// ffprobe's packets in demux order.
std::vector<Packet> probePackets(const std::string& file);

// Consecutive packets of one stream in file order: what a muxer writes as one chunk.
struct Run {
    int stream = -1;
    int64_t start = 0;
    int64_t bytes = 0;
    int packets = 0;
};
std::vector<Run> fileOrderRuns(std::vector<Packet> packets);

// ffprobe -show_streams: one key -> value map per stream.
std::vector<std::map<std::string, std::string>> probeStreams(const std::string& file);

// Copies a file into the scratch folder and overwrites bytes at the offset
// relative to the first occurrence of the fourcc. Throws (failing the test)
// when the fourcc or room for the bytes is missing.
std::string patchedCopy(const std::string& source, const std::string& name, const std::string& fourcc,
                        size_t relative, const std::vector<uint8_t>& bytes);

}  // namespace testmedia
