// The atom scanner as the scan loop drives it: the file start it keeps, and
// tables offered more than once (the positions it claims are judged by the
// reconstructions, which miss tables when any is skipped).

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
#include <memory>

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

// The scanner over one input file as the scan loop sets it up; with a
// reference the state holds its tracks and the tables are collected.
struct ScanRun {
    ScanRun(const std::string& test, const Bytes& file, const std::string& reference = "")
        : state(reference.empty() ? std::make_unique<RepairState>() : outtest::stateFromReference(reference, "")) {
        const std::string input = writeScratch(test, "input.mp4", file);
        state->m_inputFileName = input;
        before = state->m_samples.size();
        opened = buffer.open(input);
        info.qtReconstruction = !reference.empty();
        scanner = std::make_unique<AtomScanner>(state.get(), &info);
    }
    std::unique_ptr<RepairState> state;
    LogCapture log;  // after the state: the reference's own loading is not the scan's
    size_t before = 0;
    bool opened = false;
    ScanBuffer buffer;
    ScanInfo info;
    std::unique_ptr<AtomScanner> scanner;
};

}  // namespace

// A second ftyp within 1024 bytes of the first is ignored; further on it
// moves the file start.
TEST(AtomScanner, FtypFurtherThan1024BytesMovesTheFileStart) {
    for (const size_t second : {500, 2000}) {
        ScanRun run("AtomScannerFtyp" + std::to_string(second),
                    concat({ftyp(), filler(second - ftyp().size()), ftyp(), filler(4000)}));
        ASSERT_TRUE(run.opened);
        scanAll(*run.scanner, run.buffer);
        const bool close = second < 1024;
        EXPECT_EQ(run.scanner->fileStart(), close ? 0 : int64_t(second));
        EXPECT_EQ(run.log.messages(LogLevel::Warning).size(), close ? 1u : 0u);
        EXPECT_EQ(run.log.messages(LogLevel::Warning, "too many successive ftyp atoms - ftyp ignored").size(), close ? 1u : 0u);
        EXPECT_TRUE(run.log.has(LogLevel::Info, "ftyp found at        500 - QT Filetype - 20b") == close);
    }
}

// The scan offers a position again after a hit (and the window overlap offers
// the same bytes twice): each table must be taken once, or a second stsz
// would start a track of its own and the samples would come twice.
TEST(AtomScanner, TableOfferedTwiceIsRecordedOnce) {
    const std::string reference = testmedia::h264AacMp4();
    const uint32_t media = uint32_t(ftyp().size() + 8);
    const Bytes file = concat({ftyp(), atom("mdat", repairrun::noise(600, 3)),
                               fullAtom("stsz", 0, 0, u32s({0, 3, 100, 200, 300})),
                               fullAtom("stsc", 0, 0, u32s({1, 1, 3, 1})), fullAtom("stco", 0, 0, u32s({1, media})),
                               filler(64)});
    ScanRun run("AtomScannerTwice", file, reference);
    ASSERT_TRUE(run.opened);
    for (const char* type : {"stsz", "stsc", "stco"}) {
        const int64_t at = int64_t(findType(file, type)) - 4;
        EXPECT_FALSE(run.scanner->analyse(at, run.buffer));
        EXPECT_FALSE(run.scanner->analyse(at, run.buffer));
        // An earlier position offered late is not taken either.
        EXPECT_FALSE(run.scanner->analyse(at - 1, run.buffer));
    }
    run.scanner->finish(run.buffer);
    EXPECT_EQ(run.log.messages(LogLevel::Info, "*** new").size(), 1u);
    EXPECT_EQ(run.log.messages(LogLevel::Info, "stsz        found at").size(), 1u);
    EXPECT_TRUE(run.log.messages(LogLevel::Error).empty());
    ASSERT_EQ(run.state->m_samples.size() - run.before, 3u);
    int64_t offset = media;
    for (size_t i = 0; i < 3; ++i) {
        const MediaSample& s = run.state->m_samples[run.before + i];
        EXPECT_TRUE(s.isVideo());
        EXPECT_EQ(s.offset, offset);
        EXPECT_EQ(s.size, int32_t(100 * (i + 1)));
        offset += s.size;
    }
}
