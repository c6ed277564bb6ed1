#include "simcorr/simulated_corruption.h"

#include "log/logger.h"
#include "platform/file.h"

#include <algorithm>

namespace simcorr {

namespace {

CorruptionState g_state;

// Smallest atom header: 32-bit size and fourcc.
constexpr uint64_t kHeaderSize = 8;
// Header with the 64-bit size that follows a 32-bit size of 1.
constexpr uint64_t kLargeHeaderSize = 16;

uint32_t be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

uint64_t be64(const uint8_t* p) { return uint64_t(be32(p)) << 32 | be32(p + 4); }

// Size class of one block, drawn from r1 (0..99): many tiny hits, fewer
// medium ones and rare large holes, all growing with the level.
uint64_t blockSize(uint64_t r1, uint64_t r2, uint64_t L) {
    if (r1 < 65 - 3 * L)
        return 1 + r2 % (24 * L + 16);
    if (r1 < 90 - L)
        return 24 * L + 17 + r2 % (2048 * L + 512);
    if (r1 > 97)
        return 12288 * L + 4097 + r2 % (65536 * L + 32768);
    return 2048 * L + 513 + r2 % (12288 * L + 4096);
}

}  // namespace

const CorruptionState& state() { return g_state; }

void reset() {
    g_state.active = false;
    g_state.fileName.clear();
    g_state.seed = 0;
    g_state.blocks.clear();
}

std::optional<MdatRange> findMdat(const std::string& fileName) {
    platform::File file;
    if (!file.open(fileName, platform::File::Mode::Read))
        return std::nullopt;
    const int64_t signedSize = file.size();
    if (signedSize < int64_t(kHeaderSize))
        return std::nullopt;
    const uint64_t fileSize = uint64_t(signedSize);

    // Every accepted atom is at least its header long, so pos grows on each
    // step and the walk ends after at most fileSize / 8 atoms.
    uint64_t pos = 0;
    while (fileSize - pos >= kHeaderSize) {
        uint8_t header[kLargeHeaderSize];
        if (file.readAt(int64_t(pos), header, kHeaderSize) != kHeaderSize)
            return std::nullopt;
        const uint64_t left = fileSize - pos;
        uint64_t size = be32(header);
        uint64_t headerSize = kHeaderSize;
        if (size == 1) {
            if (left < kLargeHeaderSize ||
                file.readAt(int64_t(pos + kHeaderSize), header + kHeaderSize, 8) != 8)
                return std::nullopt;
            size = be64(header + kHeaderSize);
            headerSize = kLargeHeaderSize;
        } else if (size == 0) {
            size = left;  // reaches to the end of the file
        }
        if (size < headerSize || size > left)
            return std::nullopt;
        if (std::equal(header + 4, header + 8, "mdat"))
            return MdatRange{pos + headerSize, pos + size};
        pos += size;
    }
    return std::nullopt;
}

bool setup(const std::string& inputFileName, uint64_t seed, int level) {
    const auto mdat = findMdat(inputFileName);
    if (!mdat) {
        FLOG(LogLevel::Error) << "simcorr failed: mdat atom not found";
        reset();
        return false;
    }
    if (mdat->end <= mdat->start) {
        FLOG(LogLevel::Error) << "simcorr failed: empty mdat atom";
        reset();
        return false;
    }

    const uint64_t L = uint64_t(std::clamp(level, kMinLevel, kMaxLevel));
    const uint64_t n = mdat->end - mdat->start;
    g_state.active = true;
    g_state.fileName = inputFileName;
    g_state.seed = seed;
    g_state.blocks.clear();

    // About one block per 14..59 MiB of payload on top of a level-dependent
    // base, capped so a huge file does not get an unbounded block list.
    uint64_t count = n / (0x4000000 - L * 0x500000) + L + 2;
    count = std::min<uint64_t>(count, 8 * L + 8);

    const uint64_t total = L * n;
    const uint64_t largest = total / 200;
    uint64_t s = seed;
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t r1 = mix(s + G) % 100;
        const uint64_t r2 = mix(s + 2 * G);
        uint64_t size = total < 400 ? 1 : std::min({blockSize(r1, r2, L), largest, n});
        CorruptionBlock block;
        if (size < n) {
            block.offset = mdat->start + mix(s + 3 * G) % (n - size);
            s += 4 * G;
        } else {
            block.offset = mdat->start;
            s += 3 * G;
        }
        block.size = uint32_t(size);  // at most a few hundred KiB by construction
        block.seed = mix(s);
        g_state.blocks.push_back(block);
    }
    // Stable, so blocks at the same offset keep their planning order and the
    // overlay stays identical from run to run.
    std::stable_sort(g_state.blocks.begin(), g_state.blocks.end(),
                     [](const CorruptionBlock& a, const CorruptionBlock& b) { return a.offset < b.offset; });

    FLOG(LogLevel::Notice) << "simcorr enabled: seed=" << seed << " mdat=" << mdat->start << "-" << mdat->end
                           << " corrlvl=" << L << " blocks=" << g_state.blocks.size();
    for (size_t k = 0; k < g_state.blocks.size(); ++k) {
        const CorruptionBlock& b = g_state.blocks[k];
        FLOG(LogLevel::Info) << "simcorr block " << k << " offset=" << b.offset << " size=" << b.size
                             << " seed=" << b.seed;
    }
    return true;
}

bool damages(const std::string& fileName) {
    return g_state.active && !g_state.blocks.empty() && fileName == g_state.fileName;
}

void apply(uint8_t* buffer, const std::string& fileName, int64_t fileOffset, size_t count) {
    if (!g_state.active || count == 0 || !buffer || fileOffset < 0 || fileName != g_state.fileName)
        return;
    const uint64_t begin = uint64_t(fileOffset);
    const uint64_t end = begin + count;
    for (const CorruptionBlock& b : g_state.blocks) {
        if (b.offset >= end)
            break;  // sorted: no later block can overlap
        const uint64_t lo = std::max(begin, b.offset);
        const uint64_t hi = std::min(end, b.offset + b.size);
        for (uint64_t q = lo; q < hi; ++q)
            buffer[q - begin] = uint8_t(mix((q - b.offset) * G + b.seed + G));
    }
}

}  // namespace simcorr
