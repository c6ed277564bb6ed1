#include "camera/rsv/rsv_recording.h"

#include "bitstream/common/nal_span.h"
#include "reference/reference_info.h"
#include "reference/reference_chunk_layout.h"
#include "support/atom_builder.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <algorithm>
#include <string>

namespace rsvtest {

namespace {

using testsupport::put32;

const std::string kSource = "-f lavfi -i testsrc2=size=320x240:rate=25:duration=1 ";
const std::string kTone = "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 ";

std::string videoArgs(bool hevc) {
    return hevc ? "-c:v libx265 -preset ultrafast -pix_fmt yuv420p -x265-params log-level=error:aud=1 "
                : "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -x264-params aud=1:bframes=2 ";
}

void append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

Bytes rtmdHeader(uint32_t counter, size_t size) {
    Bytes b = {0x00, 0x1C, 0x01, 0x00};
    put32(b, counter);
    append(b, {0xF0, 0x01, 0x00, 0x10});
    while (b.size() < size)
        b.push_back(uint8_t(0x40 + b.size() % 32));
    return b;
}

Bytes klvGroup(uint8_t item, const Bytes& length, size_t valueSize) {
    Bytes b = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x53, 0x01, 0x01, 0x0C, 0x02, 0x01, 0x01, 0x01, item, 0x00, 0x00};
    append(b, length);
    for (size_t i = 0; i < valueSize; ++i)
        b.push_back(uint8_t(0x20 + (i * 7 + item) % 90));
    return b;
}

Bytes sideData(const Bytes& unit) {
    const uint32_t n = uint32_t(unit.size());
    Bytes b = {0x00, 0x10, 0x02, 0x00, 1, 2, 3, 4, 5, 6, 7, 8};
    append(b, {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24), 0x00, uint8_t(n + 4), 0x02, 0x01});
    append(b, unit);
    return b;
}

}  // namespace

Encoded encode(bool hevc, bool scalingLists) {
    Encoded e;
    std::string args = videoArgs(hevc);
    if (scalingLists)
        args.insert(args.find("aud=1") + 5, ":scaling-list=" + testmedia::x265ScalingLists());
    e.elementary = testsupport::fixture(scalingLists ? "rsv_video_lists.hevc" : hevc ? "rsv_video.hevc" : "rsv_video.h264",
                                        kSource + args + "-an");
    const Bytes stream = testsupport::readFile(e.elementary);
    for (const bitstream::NalSpan& n : bitstream::splitAnnexB(stream.data(), stream.size())) {
        const Bytes nal(stream.begin() + long(n.offset), stream.begin() + long(n.offset + n.size));
        if (nal.empty())
            continue;
        const bool delimiter = hevc ? ((nal[0] >> 1) & 0x3F) == 35 : (nal[0] & 0x1F) == 9;
        if (delimiter || e.units.empty())
            e.units.emplace_back();
        put32(e.units.back(), uint32_t(nal.size()));
        append(e.units.back(), nal);
        if ((hevc ? ((nal[0] >> 1) & 0x3F) == 33 : (nal[0] & 0x1F) == 7) && e.sps.empty())
            e.sps = nal;
        if (!hevc && (nal[0] & 0x1F) == 8 && e.pps.empty())
            e.pps = nal;
    }
    return e;
}

std::string referenceMovie(bool hevc) {
    // The H.264 reference has no B-frames: neither its composition offsets
    // nor its parameter sets fit the recording.
    const std::string video = hevc ? videoArgs(true) + "-tag:v hvc1 "
                                   : "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -x264-params bframes=0 ";
    return testsupport::fixture(hevc ? "rsv_ref_hevc.mov" : "rsv_ref_h264.mov",
                                kSource + kTone + video + "-c:a pcm_s16le -ac 2");
}

uint32_t referenceAudioBlock(const std::string& reference) {
    const auto ref = ReferenceInfo::build(reference, false);
    ref->analyseChunks();
    return ref->layout().m_audioChunksSizeAll;
}

Bytes concat(const std::vector<Bytes>& parts, size_t from, size_t to) {
    Bytes b;
    for (size_t i = from; i < std::min(to, parts.size()); ++i)
        append(b, parts[i]);
    return b;
}

RsvRecording makeRsv(const Encoded& video, Layout layout, uint32_t audioBlock, size_t unitsPerGroup, uint32_t bigGroup) {
    RsvRecording r;
    r.units = video.units;
    Bytes& f = r.file;
    uint32_t counter = 0;
    for (size_t first = 0, g = 0; first < video.units.size(); first += unitsPerGroup, ++g) {
        r.groupStarts.push_back(f.size());
        r.firstUnit.push_back(first);
        if (layout == Layout::Klv) {
            append(f, rtmdHeader(counter++, 28));
            append(f, klvGroup(1, {0x10}, 0x10));
            append(f, klvGroup(2, {0x82, 0x00, 0x40}, 0x40));
            append(f, klvGroup(3, {0x81, 0x21}, 0x21));
            if (bigGroup)
                append(f, klvGroup(4, {0x83, uint8_t(bigGroup >> 16), uint8_t(bigGroup >> 8), uint8_t(bigGroup)}, bigGroup));
            if (!video.sps.empty()) {
                append(f, sideData(video.sps));
                append(f, sideData(video.pps));
            }
        } else {
            for (int p = 0; p < 3; ++p)
                append(f, rtmdHeader(counter++, 1024));
        }
        append(f, concat(video.units, first, first + unitsPerGroup));
        if (layout == Layout::Klv)
            f.insert(f.end(), 100 + 37 * (g % 3), 0x00);  // padding in front of the audio
        Bytes block(audioBlock);
        for (size_t i = 0; i < block.size(); i += 2) {
            // A quiet start, as recordings have, then a changing pattern.
            const uint16_t v = i < 8 ? 0 : uint16_t((i * 2654435761u + g * 977) >> 7);
            block[i] = uint8_t(v);
            if (i + 1 < block.size())
                block[i + 1] = uint8_t(v >> 8);
        }
        append(f, block);
        r.audio.push_back(block);
    }
    // The camera had begun the next run when it stopped.
    if (layout == Layout::Klv)
        append(f, rtmdHeader(counter, 28));
    return r;
}

}  // namespace rsvtest
