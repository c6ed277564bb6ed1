// The atom scanner as the scan loop drives it: which positions it claims,
// the file start it keeps, and tables offered more than once.

#include "atomscan/atom_scanner.h"

#include "analysers/core/scan_info.h"
#include "output/repair_state.h"
#include "scan/scan_buffer.h"
#include "support/atom_builder.h"
#include "support/output_test_util.h"
#include "support/repair_run.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace testsupport;
using outtest::LogCapture;

namespace {

// Offers every position the way the driver does: the analyser's next
// candidate, then the position before it and the candidate itself.
void scanAll(AtomScanner& scanner, ScanBuffer& buffer) {
    const int32_t size = int32_t(buffer.fileSize());
    const uint8_t* data = buffer.get(0, size);
    ASSERT_EQ(buffer.available(), size);
    for (int32_t i = 0; i < size;) {
        const int32_t hit = i + scanner.findCandidate(i, data + i, size - i, size - i);
        if (hit >= size)
            break;
        for (int32_t k = std::max(hit - 1, 0); k <= hit; ++k) {
            if (scanner.check(k, data + k, size - k)) {
                EXPECT_FALSE(scanner.analyse(k, buffer)) << "the scanner never consumes";
                data = buffer.get(0, size);
            }
        }
        i = hit + 1;
    }
}

Bytes ftyp() { return atom("ftyp", concat({Bytes{'i', 's', 'o', 'm'}, u32s({0x200}), Bytes{'i', 's', 'o', 'm'}})); }

Bytes filler(size_t n) { return Bytes(n, 0x55); }

std::string writeInput(const std::string& test, const Bytes& bytes) {
    return writeScratch(test, "input.mp4", bytes);
}

}  // namespace

TEST(AtomScanner, ClaimsExactlyTheRecognisedTypesAtTheAtomStart) {
    RepairState state;
    ScanInfo info;
    AtomScanner scanner(&state, &info);
    EXPECT_TRUE(scanner.accepts());
    EXPECT_EQ(scanner.name(), "AtomScanner");
    for (const char* type : {"ftyp", "mdat", "ctts", "stsc", "stco", "co64", "stsz"}) {
        Bytes b = atom(type, {});
        EXPECT_TRUE(scanner.check(0, b.data(), int32_t(b.size()))) << type;
        // Only 8 bytes are needed and no more are read.
        EXPECT_TRUE(scanner.check(0, b.data(), 8)) << type;
        EXPECT_FALSE(scanner.check(0, b.data(), 7)) << type;
    }
    for (const char* type : {"moov", "trak", "stts", "stss", "Stsz", "sTsz", "free", "ftyP"}) {
        Bytes b = atom(type, {});
        EXPECT_FALSE(scanner.check(0, b.data(), int32_t(b.size()))) << type;
    }
}

// The fast skip must answer exactly as check would at every position.
TEST(AtomScanner, FindCandidateAgreesWithCheckEverywhere) {
    RepairState state;
    ScanInfo info;
    AtomScanner scanner(&state, &info);
    Bytes b = repairrun::noise(20000, 5);
    const char* planted[] = {"ftyp", "mdat", "ctts", "stsc", "stco", "co64", "stsz", "stts", "moov"};
    for (size_t i = 0; i < 9; ++i) {
        const Bytes a = atom(planted[i], u32s({1, 2}));
        std::copy(a.begin(), a.end(), b.begin() + long(1000 + i * 1777));
    }
    // Near the end only a few bytes remain.
    const Bytes tail = atom("stsz", {});
    std::copy(tail.begin(), tail.end(), b.end() - 8);
    const int32_t n = int32_t(b.size());
    for (int32_t from = 0; from < n; from += 97) {
        int32_t expected = n - from;
        for (int32_t i = from; i < n; ++i) {
            if (scanner.check(i, b.data() + i, n - i)) {
                expected = i - from;
                break;
            }
        }
        ASSERT_EQ(scanner.findCandidate(from, b.data() + from, n - from, n - from), expected) << from;
    }
}

TEST(AtomScanner, FtypCloserThan1024BytesKeepsTheFirstAsFileStart) {
    LogCapture log;
    const std::string input = writeInput("AtomScannerFtypClose", concat({ftyp(), filler(500 - ftyp().size()), ftyp(), filler(4000)}));
    ScanBuffer buffer;
    ASSERT_TRUE(buffer.open(input));
    RepairState state;
    ScanInfo info;
    AtomScanner scanner(&state, &info);
    scanAll(scanner, buffer);
    EXPECT_EQ(scanner.fileStart(), 0);
    EXPECT_EQ(log.messages(LogLevel::Warning, "too many successive ftyp atoms - ftyp ignored").size(), 1u);
    EXPECT_TRUE(log.has(LogLevel::Info, "ftyp found at          0 - QT Filetype - 20b"));
    EXPECT_TRUE(log.has(LogLevel::Info, "ftyp found at        500 - QT Filetype - 20b"));
}

TEST(AtomScanner, FtypFurtherThan1024BytesMovesTheFileStart) {
    LogCapture log;
    const std::string input = writeInput("AtomScannerFtypFar", concat({ftyp(), filler(2000 - ftyp().size()), ftyp(), filler(4000)}));
    ScanBuffer buffer;
    ASSERT_TRUE(buffer.open(input));
    RepairState state;
    ScanInfo info;
    AtomScanner scanner(&state, &info);
    scanAll(scanner, buffer);
    EXPECT_EQ(scanner.fileStart(), 2000);
    EXPECT_TRUE(log.messages(LogLevel::Warning).empty());
}

// The scan offers a position again after a hit (and the window overlap offers
// the same bytes twice): each table must be taken once, or a second stsz
// would start a track of its own and the samples would come twice.
TEST(AtomScanner, TableOfferedTwiceIsRecordedOnce) {
    const std::string reference = testmedia::h264AacMp4();
    ASSERT_FALSE(reference.empty());
    const Bytes payload = repairrun::noise(600, 3);
    const Bytes head = concat({ftyp(), atom("mdat", payload)});
    const uint32_t media = uint32_t(ftyp().size() + 8);
    const Bytes tables = concat({
        fullAtom("stsz", 0, 0, u32s({0, 3, 100, 200, 300})),
        fullAtom("stsc", 0, 0, u32s({1, 1, 3, 1})),
        fullAtom("stco", 0, 0, u32s({1, media})),
    });
    const Bytes file = concat({head, tables, filler(64)});
    const std::string input = writeInput("AtomScannerTwice", file);

    auto state = outtest::stateFromReference(reference, "");
    state->m_inputFileName = input;
    const size_t before = state->m_samples.size();
    LogCapture log;
    ScanBuffer buffer;
    ASSERT_TRUE(buffer.open(input));
    ScanInfo info;
    info.qtReconstruction = true;
    AtomScanner scanner(state.get(), &info);
    for (const char* type : {"stsz", "stsc", "stco"}) {
        const int64_t at = int64_t(findType(file, type)) - 4;
        EXPECT_FALSE(scanner.analyse(at, buffer));
        EXPECT_FALSE(scanner.analyse(at, buffer));
        // An earlier position offered late is not taken either.
        EXPECT_FALSE(scanner.analyse(at - 1, buffer));
    }
    scanner.finish(buffer);
    EXPECT_EQ(log.messages(LogLevel::Info, "*** new").size(), 1u);
    EXPECT_EQ(log.messages(LogLevel::Info, "stsz        found at").size(), 1u);
    EXPECT_TRUE(log.messages(LogLevel::Error).empty());
    ASSERT_EQ(state->m_samples.size() - before, 3u);
    int64_t offset = media;
    for (size_t i = 0; i < 3; ++i) {
        const MediaSample& s = state->m_samples[before + i];
        EXPECT_TRUE(s.isVideo());
        EXPECT_EQ(s.offset, offset);
        EXPECT_EQ(s.size, int32_t(100 * (i + 1)));
        offset += s.size;
    }
}

// A second stsz after stsz, stsc and stco starts the reference's second track.
TEST(AtomScanner, SecondTableOfAKindStartsTheReferencesNextTrack) {
    const std::string reference = testmedia::h264AacMp4();
    ASSERT_FALSE(reference.empty());
    const uint32_t media = uint32_t(ftyp().size() + 8);
    const Bytes track = concat({
        fullAtom("stsz", 0, 0, u32s({0, 2, 100, 50})),
        fullAtom("stsc", 0, 0, u32s({1, 1, 2, 1})),
        fullAtom("stco", 0, 0, u32s({1, media})),
    });
    const Bytes audio = concat({
        fullAtom("stsz", 0, 0, u32s({0, 2, 30, 20})),
        fullAtom("stsc", 0, 0, u32s({1, 1, 2, 1})),
        fullAtom("stco", 0, 0, u32s({1, media + 150})),
    });
    const Bytes third = fullAtom("stsz", 0, 0, u32s({0, 1, 7}));
    const Bytes file = concat({ftyp(), atom("mdat", repairrun::noise(200, 1)), track, audio, third, filler(64)});
    const std::string input = writeInput("AtomScannerNextTrack", file);
    auto state = outtest::stateFromReference(reference, "");
    state->m_inputFileName = input;
    const size_t before = state->m_samples.size();
    LogCapture log;
    ScanBuffer buffer;
    ASSERT_TRUE(buffer.open(input));
    ScanInfo info;
    info.qtReconstruction = true;
    AtomScanner scanner(state.get(), &info);
    scanAll(scanner, buffer);
    scanner.finish(buffer);
    EXPECT_TRUE(log.has(LogLevel::Info, "*** new video track ***"));
    EXPECT_TRUE(log.has(LogLevel::Info, "*** new audio track ***"));
    // The reference has two tracks: a third has no kind to take.
    EXPECT_TRUE(log.has(LogLevel::Error, "no such track"));
    ASSERT_EQ(state->m_samples.size() - before, 4u);
    // In file order: video 100, video 50, audio 30, audio 20.
    const int32_t sizes[] = {100, 50, 30, 20};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(state->m_samples[before + i].size, sizes[i]);
        EXPECT_EQ(state->m_samples[before + i].isVideo(), i < 2);
    }
}

// Without QT reconstruction the tables are only dumped.
TEST(AtomScanner, WithoutReconstructionNothingIsCollected) {
    const std::string reference = testmedia::h264AacMp4();
    ASSERT_FALSE(reference.empty());
    const uint32_t media = uint32_t(ftyp().size() + 8);
    const Bytes file = concat({ftyp(), atom("mdat", repairrun::noise(200, 1)),
                               fullAtom("stsz", 0, 0, u32s({0, 2, 100, 50})),
                               fullAtom("stsc", 0, 0, u32s({1, 1, 2, 1})), fullAtom("stco", 0, 0, u32s({1, media})),
                               filler(64)});
    const std::string input = writeInput("AtomScannerDumpOnly", file);
    auto state = outtest::stateFromReference(reference, "");
    state->m_inputFileName = input;
    const size_t before = state->m_samples.size();
    LogCapture log;
    ScanBuffer buffer;
    ASSERT_TRUE(buffer.open(input));
    ScanInfo info;
    AtomScanner scanner(state.get(), &info);
    scanAll(scanner, buffer);
    scanner.finish(buffer);
    EXPECT_EQ(state->m_samples.size(), before);
    EXPECT_TRUE(log.has(LogLevel::Info, "stsz version 0, uniform size 0, entries 2"));
    EXPECT_FALSE(log.contains("QT reconstruction"));
    EXPECT_FALSE(log.contains("*** new"));
}
