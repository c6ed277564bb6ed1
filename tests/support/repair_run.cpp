#include "support/repair_run.h"

#include "support/atom_builder.h"
#include "support/test_media.h"
#include "support/test_support.h"

#include <algorithm>
#include <cstdlib>
#include <regex>

namespace repairrun {

Bytes withoutIndex(const std::string& file, double keep) {
    Bytes d = testsupport::readFile(file);
    size_t payload = 0, payloadSize = 0;
    for (const testsupport::AtomSpan& a : testsupport::atomTree(d)) {
        const size_t header = testsupport::be32(&d[a.start]) == 1 ? 16 : 8;
        if (a.type == "mdat" && a.size >= header) {
            payload = a.start + header;
            payloadSize = a.size - header;
        }
        if (a.type == "moov") {
            d.resize(keep < 1 ? payload + payloadSize * size_t(keep * 1000 + 0.5) / 1000 : a.start);
            break;
        }
    }
    return d;
}

std::string decodeErrors(const std::string& file) {
    const std::string text =
        testsupport::runCommand("ffmpeg -nostdin -v error -i " + testsupport::quote(file) + " -f null - 2>&1").output;
    return std::regex_replace(text, std::regex("0x[0-9a-f]+"), "");
}

Bytes withoutFileType(const std::string& file) {
    Bytes d = testsupport::readFile(file);
    if (d.size() < 8 || !std::equal(d.begin() + 4, d.begin() + 8, "ftyp"))
        return d;
    const size_t n = testsupport::be32(d.data());
    d.erase(d.begin(), d.begin() + long(std::min(n, d.size())));
    testsupport::mapChunkOffsets(d, [n](uint64_t v) { return v - n; });
    return d;
}

Bytes noise(size_t size, uint32_t seed) {
    Bytes b(size);
    for (auto& v : b) {
        seed = seed * 1664525u + 1013904223u;
        v = uint8_t(seed >> 24);
    }
    return b;
}

namespace {

// Seconds per tick of each stream.
std::vector<double> timeBases(const std::string& file) {
    std::vector<double> out;
    for (const std::string& line : testsupport::lines(testsupport::ffprobe(file, "-show_entries stream=time_base -of csv=p=0"))) {
        const size_t slash = line.find('/');
        const double den = slash == std::string::npos ? 0 : std::atof(line.c_str() + slash + 1);
        out.push_back(den > 0 ? std::atof(line.c_str()) / den : 0);
    }
    return out;
}

}  // namespace

std::vector<std::string> checksums(const std::string& file, int stream) {
    std::vector<std::string> out;
    for (const Packet& p : packets(file))
        if (p.stream == stream)
            out.push_back(p.md5);
    return out;
}

std::vector<std::string> mappedChecksums(const std::string& file, const std::string& map) {
    std::vector<std::string> out;
    for (const std::string& line : testsupport::framemd5(file, "", "-map 0:" + map))
        out.push_back(line.substr(line.find_first_not_of(' ', line.rfind(',') + 1)));
    return out;
}

std::map<int, size_t> packetCounts(const std::string& file) {
    std::map<int, size_t> n;
    for (const Packet& p : packets(file))
        ++n[p.stream];
    return n;
}

std::vector<Packet> packets(const std::string& file) {
    std::vector<Packet> out;
    const std::vector<double> tick = timeBases(file);
    auto tickOf = [&](int stream) { return stream >= 0 && size_t(stream) < tick.size() ? tick[size_t(stream)] : 0.0; };
    for (const std::string& line : testsupport::framemd5(file, "-ignore_editlist 1")) {
        const std::vector<std::string> f = testsupport::fields(line);
        if (f.size() < 6)
            continue;
        const int stream = std::atoi(f[0].c_str());
        out.push_back({stream, std::atoll(f[1].c_str()), std::atoll(f[2].c_str()),
                       double(std::atoll(f[3].c_str())) * tickOf(stream), f[5]});
    }
    // A packet lasts until the next one of its stream is decoded (ffmpeg's
    // own duration field follows the stream's nominal rate); the last keeps it.
    for (size_t i = 0; i < out.size(); ++i) {
        for (size_t j = i + 1; j < out.size(); ++j) {
            if (out[j].stream == out[i].stream) {
                out[i].seconds = double(out[j].dts - out[i].dts) * tickOf(out[i].stream);
                break;
            }
        }
    }
    return out;
}

namespace {

std::vector<Packet> ofStream(const std::vector<Packet>& all, int stream) {
    std::vector<Packet> out;
    std::copy_if(all.begin(), all.end(), std::back_inserter(out), [&](const Packet& p) { return p.stream == stream; });
    return out;
}

// Whether each packet of the stream still has its bytes in the damaged file
// (damage never moves data).
std::vector<bool> surviving(const std::vector<testmedia::Packet>& probed, const Bytes& original, const Bytes& damaged,
                            int stream) {
    std::vector<bool> out;
    for (const auto& p : probed)
        if (p.stream == stream)
            out.push_back(p.pos >= 0 && size_t(p.pos + p.size) <= damaged.size() &&
                          std::equal(original.begin() + p.pos, original.begin() + p.pos + p.size,
                                     damaged.begin() + p.pos));
    return out;
}

// Whether each sample of the first track of the handler is a sync sample,
// from its stss (none: every one is).
std::vector<bool> syncSamples(const std::string& file, const char* handler) {
    const Bytes d = testsupport::readFile(file);
    size_t samples = 0;
    std::vector<uint32_t> listed;
    bool wanted = false, done = false, table = false;
    for (const testsupport::AtomSpan& a : testsupport::atomTree(d)) {
        if (a.type == "trak") {
            done = done || wanted;
            wanted = false;
        } else if (done) {
            continue;
        } else if (a.type == "hdlr" && a.size >= 20) {
            // A QuickTime track's data handler ('alis') follows its media handler.
            wanted = wanted || std::equal(d.begin() + long(a.start) + 16, d.begin() + long(a.start) + 20, handler);
        } else if (a.type == "stsz" && a.size >= 20 && wanted) {
            samples = testsupport::be32(&d[a.start + 16]);
        } else if (a.type == "stss" && a.size >= 16 && wanted) {
            table = true;
            const size_t count = std::min<size_t>(testsupport::be32(&d[a.start + 12]), (a.size - 16) / 4);
            for (size_t i = 0; i < count; ++i)
                listed.push_back(testsupport::be32(&d[a.start + 16 + 4 * i]));
        }
    }
    std::vector<bool> out(samples, !table);
    for (const uint32_t n : listed)
        if (n >= 1 && n <= samples)
            out[n - 1] = true;
    return out;
}

bool syncAt(const std::vector<bool>& sync, size_t i) { return i >= sync.size() || sync[i]; }

Recall recall(const std::vector<Packet>& original, const std::vector<bool>& alive, const std::vector<Packet>& repaired,
              const std::vector<bool>& originalSync = {}, const std::vector<bool>& repairedSync = {}) {
    Recall r;
    size_t j = 0;
    for (size_t i = 0; i < original.size(); ++i) {
        if (i < alive.size() && !alive[i])
            continue;
        ++r.alive;
        size_t k = j;
        while (k < repaired.size() && repaired[k].md5 != original[i].md5)
            ++k;
        if (k == repaired.size())
            continue;
        ++r.recovered;
        r.syncs += syncAt(originalSync, i);
        r.syncAgreed += syncAt(originalSync, i) == syncAt(repairedSync, k);
        r.lasted += original[i].seconds;
        if (repaired[k].pts - repaired[k].dts == original[i].pts - original[i].dts)
            ++r.inPresentationOrder;
        j = k + 1;
    }
    for (const Packet& p : repaired)
        r.repaired += p.seconds;
    return r;
}

}  // namespace

std::ostream& operator<<(std::ostream& os, const Recall& r) {
    return os << r.recovered << "/" << r.alive << " packets, " << r.repaired << " s for " << r.lasted << " s";
}

Outcome run(const std::string& arguments, const std::string& dir) {
    const std::string err = dir + "/stderr.txt";
    const auto r = testsupport::runFramend(arguments + " 2>" + testsupport::quote(err));
    const Bytes errors = testsupport::readFile(err);
    Outcome out;
    out.exitCode = r.exitCode;
    out.log = r.output;
    out.errors.assign(errors.begin(), errors.end());
    return out;
}

Outcome repairBytes(const std::string& test, const std::string& reference, const Bytes& damaged,
                    const std::string& input, const std::string& options, const std::string& output) {
    using testsupport::quote;
    const std::string dir = testsupport::scratchDir(test);
    testsupport::writeFile(dir + "/" + input, damaged);
    const std::string withReference = reference.empty() ? "" : " -ref " + quote(reference);
    Outcome out = run("-i " + quote(dir + "/" + input) + withReference + " -o " + quote(dir + "/" + output) + " " +
                          options, dir);
    out.repaired = dir + "/" + output;
    return out;
}

Outcome repair(const std::string& test, const std::string& reference, const Bytes& damaged,
               const std::string& options, std::string original) {
    if (original.empty())
        original = reference;
    const std::string ext = original.substr(original.rfind('.'));
    // Later clips are numbered; the first keeps the name.
    Outcome out = repairBytes(test, reference, damaged, "broken" + ext, options, "repaired" + ext);
    const auto before = packets(original);
    const auto fixed = packets(out.repaired);
    const auto probed = testmedia::probePackets(original);
    const Bytes bytes = testsupport::readFile(original);
    out.video = recall(ofStream(before, 0), surviving(probed, bytes, damaged, 0), ofStream(fixed, 0),
                       syncSamples(original, "vide"), syncSamples(out.repaired, "vide"));
    out.audio = recall(ofStream(before, 1), surviving(probed, bytes, damaged, 1), ofStream(fixed, 1));
    return out;
}

Outcome expectRepaired(const Case& c) {
    const auto made = [](const Recording& r) {
        return r.args.empty() ? std::string(FRAMEND_SOURCE_DIR) + "/tests/" + r.file : testsupport::fixture(r.file, r.args);
    };
    std::string original = made(c.original);
    if (c.checks & NoFileType)
        original = testsupport::writeScratch(c.name + "_orig", "noftyp.mov", withoutFileType(original));
    const std::string reference = c.reference.file.empty() ? original : made(c.reference);
    const Outcome o = repair(c.name, c.checks & NoReference ? "" : reference, withoutIndex(original, c.keep),
                             c.options, original);
    EXPECT_EQ(o.exitCode, 0) << o.log;
    if (c.videoPackets) {
        EXPECT_EQ(o.video.alive, c.videoPackets);
    }
    EXPECT_GE(o.video.percent(), c.minVideo) << o.video;
    EXPECT_GE(o.audio.percent(), c.minAudio) << o.audio;
    if (c.checks & Order) {
        EXPECT_EQ(o.video.inPresentationOrder, o.video.recovered);
    }
    if (c.checks & Sync) {
        EXPECT_EQ(o.video.syncAgreed, o.video.recovered) << o.video.syncs << " sync samples in the original";
    }
    if (c.checks & Counts) {
        EXPECT_EQ(packetCounts(o.repaired), packetCounts(original));
    }
    if (c.checks & Clean) {
        EXPECT_EQ(decodeErrors(o.repaired), "");
    }
    if (c.checks & Timed) {
        EXPECT_TRUE(o.video.timed()) << o.video;
    }
    if (c.checks & SoundTimed) {
        EXPECT_TRUE(o.audio.timed()) << o.audio;
    }
    if (c.checks & SoundExact) {
        EXPECT_EQ(checksums(o.repaired, 1), checksums(original, 1));
    }
    if (c.checks & TracksExact) {
        const auto streams = testmedia::probeStreams(original);
        for (size_t s = 1; s < streams.size(); ++s) {
            if (streams[s].at("codec_type") != "audio")
                continue;
            auto want = mappedChecksums(original, std::to_string(s)), got = mappedChecksums(o.repaired, std::to_string(s));
            std::sort(want.begin(), want.end());
            std::sort(got.begin(), got.end());
            EXPECT_FALSE(want.empty()) << "sound stream " << s;
            EXPECT_TRUE(std::includes(got.begin(), got.end(), want.begin(), want.end())) << "sound stream " << s;
        }
    }
    if (c.checks & Identical) {
        EXPECT_EQ(testsupport::framemd5(o.repaired), testsupport::framemd5(original));
    }
    return o;
}

}  // namespace repairrun
