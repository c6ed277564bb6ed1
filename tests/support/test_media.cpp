#include "support/test_media.h"

#include "support/atom_builder.h"
#include "support/test_support.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace testmedia {

using testsupport::number;

namespace {

const std::string kH264 = "-c:v libx264 -pix_fmt yuv420p -g 25 ";
const std::string kChunks = " -chunk_duration 500000";

}  // namespace

std::string captionCuesPath(int count, bool varied) {
    return std::string(FRAMEND_FIXTURE_DIR) + "/caption_cues" + std::to_string(count) + (varied ? "_varied" : "") +
           ".srt";
}

std::string captionCues(int count, bool varied) {
    // Written to a private name and renamed into place, so that test
    // programs running side by side never read half a file.
    const std::string path = captionCuesPath(count, varied);
    std::string text;
    for (int n = 0; n < count; ++n) {
        char cue[96];
        std::snprintf(cue, sizeof cue, "%d\n00:00:%02d,%03d --> 00:00:%02d,%03d\ncaption %s%d\n\n", n + 1, n * 400 / 1000,
                      n * 400 % 1000, (n * 400 + 300) / 1000, (n * 400 + 300) % 1000, varied ? &"..."[3 - n % 4] : "",
                      n + 1);
        text += cue;
    }
    const std::string tmp = path + "." + std::to_string(::getpid());
    testsupport::writeFile(tmp, std::vector<uint8_t>(text.begin(), text.end()));
    std::rename(tmp.c_str(), path.c_str());
    return path;
}

std::string movieArgs(const std::string& encodeArgs) {
    return "-f lavfi -i testsrc2=size=320x240:rate=25:duration=2 "
           "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=2 " +
           encodeArgs;
}

std::string movie(const std::string& name, const std::string& encodeArgs) {
    return testsupport::fixture(name, movieArgs(encodeArgs));
}

std::string h264AacMp4() { return movie("h264_aac.mp4", kH264 + "-c:a aac -ac 2" + kChunks); }

std::string h264PcmMov() { return movie("h264_pcm.mov", kH264 + "-c:a pcm_s16le -ac 2" + kChunks); }

std::string h264TwoPcmMov() {
    return movie("h264_2pcm.mov", "-map 0:v -map 1:a -map 1:a " + kH264 + "-c:a pcm_s16le" + kChunks);
}

std::string h264OnlyMov() { return movie("h264_only.mov", kH264 + "-an" + kChunks); }

std::string hevcAacMp4() {
    return movie("hevc_aac.mp4",
                 "-c:v libx265 -preset ultrafast -tag:v hvc1 -pix_fmt yuv420p -x265-params "
                 "log-level=error:colorprim=bt2020:transfer=smpte2084:colormatrix=bt2020nc:range=full "
                 "-c:a aac -ac 2");
}

std::string proresPcmMov() {
    return movie("prores_pcm.mov", "-c:v prores -profile:v 0 -pix_fmt yuv422p10le -c:a pcm_s16le -ac 2");
}

std::string dvPcmMov() {
    return testsupport::fixture("dv_pcm.mov",
                                "-f lavfi -i testsrc2=size=720x480:rate=30000/1001:duration=1 "
                                "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 "
                                "-c:v dvvideo -pix_fmt yuv411p -c:a pcm_s16le -ac 2");
}

std::string mjpegPcmMov() { return movie("mjpeg_pcm.mov", "-c:v mjpeg -c:a pcm_s16le -ac 2"); }

// Scaling lists in the encoder's text format, coefficients spread over the
// whole range so that each costs one to two bytes in the SPS.
std::string x265ScalingLists() {
    // Every test process asks for the file when it builds its recipes (its
    // name is part of them), and processes run side by side. Kept with the
    // fixtures and replaced whole by a rename, never removed: a reader never
    // meets it missing or half written (a scratch folder emptied by one
    // process while another's x265 opened the file failed a clean build).
    const std::string path = std::string(FRAMEND_FIXTURE_DIR) + "/x265_scaling_lists.txt";
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && st.st_size > 0)
        return path;
    std::string text;
    uint32_t value = 7;
    for (const char* size : {"4X4", "8X8", "16X16", "32X32"})
        for (const char* kind : {"INTRA", "INTER"})
            for (const char* comp : {"LUMA", "CHROMAU", "CHROMAV"}) {
                if (std::string(size) == "32X32" && std::string(comp) != "LUMA")
                    continue;
                const std::string name = std::string(kind) + size + "_" + comp;
                text += name + " =\n";
                for (int i = 0; i < (std::string(size) == "4X4" ? 16 : 64); ++i) {
                    value = (value * 73 + 41) % 247;
                    text += std::to_string(4 + value) + (i % 8 == 7 ? ",\n" : ",");
                }
                if (std::string(size) == "16X16" || std::string(size) == "32X32")
                    text += name + "_DC =\n" + std::to_string(4 + value % 200) + ",\n";
            }
    std::filesystem::create_directories(FRAMEND_FIXTURE_DIR);
    const std::string partial = path + ".part" + std::to_string(::getpid());
    if (!testsupport::writeFile(partial, {text.begin(), text.end()}) || std::rename(partial.c_str(), path.c_str()) != 0)
        throw std::runtime_error("cannot keep " + path);
    return path;
}

std::vector<Cue> shownCues(const std::string& file) {
    std::vector<Cue> out;
    bool text = false;
    const std::string srt = testsupport::runCommand("ffmpeg -nostdin -v error -i " + testsupport::quote(file) +
                                                    " -map 0:s -f srt -").output;
    for (const std::string& line : testsupport::lines(srt)) {
        int h = 0, m = 0, s = 0, ms = 0;
        if (std::sscanf(line.c_str(), "%d:%d:%d,%d -->", &h, &m, &s, &ms) == 4) {
            out.push_back({h * 3600.0 + m * 60.0 + s + ms / 1000.0, ""});
            text = true;
        } else if (text && !line.empty()) {
            out.back().text = line;
            text = false;
        }
    }
    return out;
}

std::vector<Packet> probePackets(const std::string& file) {
    // csv fields come in ffprobe's own order: stream_index, pts, dts, duration, size, pos.
    std::vector<Packet> packets;
    for (const std::string& line : testsupport::lines(
             testsupport::ffprobe(file, "-show_entries packet=stream_index,pts,dts,duration,size,pos -of csv=p=0"))) {
        std::vector<std::string> v = testsupport::fields(line);
        v.resize(6);
        if (number(v[0]) >= 0)
            packets.push_back(
                Packet{int(number(v[0])), number(v[1]), number(v[2]), number(v[4]), number(v[5]), number(v[3])});
    }
    return packets;
}

std::vector<Run> fileOrderRuns(std::vector<Packet> packets) {
    std::sort(packets.begin(), packets.end(), [](const Packet& a, const Packet& b) { return a.pos < b.pos; });
    std::vector<Run> runs;
    for (const Packet& p : packets) {
        if (runs.empty() || runs.back().stream != p.stream || runs.back().start + runs.back().bytes != p.pos)
            runs.push_back(Run{p.stream, p.pos, 0, 0});
        runs.back().bytes += p.size;
        ++runs.back().packets;
    }
    return runs;
}

std::vector<std::map<std::string, std::string>> probeStreams(const std::string& file) {
    std::vector<std::map<std::string, std::string>> streams;
    for (const std::string& line : testsupport::lines(testsupport::ffprobe(file, "-show_streams"))) {
        if (line == "[STREAM]")
            streams.emplace_back();
        const auto eq = line.find('=');
        if (eq != std::string::npos && !streams.empty())
            streams.back()[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return streams;
}

std::string patchedCopy(const std::string& source, const std::string& name, const std::string& fourcc,
                        size_t relative, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> data = testsupport::readFile(source);
    const size_t found = testsupport::findType(data, fourcc.c_str());
    if (found == std::string::npos || found + relative + bytes.size() > data.size())
        throw std::runtime_error("no room for the patch at " + fourcc + " in " + source);
    std::copy(bytes.begin(), bytes.end(), data.begin() + long(found + relative));
    const std::string path = testsupport::scratchDir("patched_" + name) + "/" + name;
    if (!testsupport::writeFile(path, data))
        throw std::runtime_error("cannot write " + path);
    return path;
}

}  // namespace testmedia
