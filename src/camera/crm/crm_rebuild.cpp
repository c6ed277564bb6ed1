#include "camera/crm/crm_rebuild.h"

#include "camera/crm/crm_audio_partition.h"
#include "camera/crm/crm_moov_builder.h"
#include "camera/crm/crm_payload_location.h"
#include "camera/crm/crm_payload_scan.h"
#include "camera/crm/crm_track_builder.h"
#include "log/logger.h"
#include "output/repair_state.h"
#include "reference/reference_info.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace crm {

namespace {

constexpr uint64_t kCopyBlock = 0x800000;
// Media data this large or larger need a 64-bit mdat size.
constexpr uint64_t kLargeMdat = 0x80000000ull;
constexpr uint64_t kMaxFreePayload = 0xFFFFFFF7ull;

void writeAll(platform::File& out, const Bytes& bytes, const char* error) {
    if (!bytes.empty() && out.write(bytes.data(), bytes.size()) != bytes.size())
        throw std::runtime_error(error);
}

struct Mode {
    bool leading = false;
    bool tailFade = false;
    TrackChunks chunks;
    bool haveChunks = false;
};

Mode chooseMode(const RepairState& state, const CrmReference& ref, CrmPayloadScan& scan, bool wrapped,
                uint64_t payloadLength) {
    Mode mode;
    mode.leading = state.m_canonCrmLeading;
    const CrmRefTrack* video = ref.video();
    if (!mode.leading && state.m_canonCrmAutoSelected && video && !video->samplesPerChunk.empty() &&
        !scan.chunkSampleCounts.empty() && scan.chunkSampleCounts[0] != video->samplesPerChunk[0]) {
        FLOG(LogLevel::Notice) << "CanonCRM auto selected leading-damage mode: first video chunk samples="
                               << scan.chunkSampleCounts[0] << " expected=" << video->samplesPerChunk[0];
        mode.leading = true;
    }
    if (mode.leading) {
        dropLeadingPartialChunks(ref, scan.sampleSizes, scan.chunkSampleCounts, scan.chunkOffsets);
        scan.audioRuns = runsAroundChunks(scan.sampleSizes, scan.chunkSampleCounts, scan.chunkOffsets, payloadLength);
        mode.chunks = partitionRunsWithDonorLayout(ref, scan.audioRuns, scan.sampleSizes, scan.chunkSampleCounts);
        mode.haveChunks = true;
        FLOG(LogLevel::Notice) << "CanonCRM leading-damage audio chunks="
                               << (mode.chunks.empty() ? 0 : mode.chunks[0].size());
    } else if (wrapped) {
        mode.chunks = partitionRunsFromTail(ref, scan.audioRuns);
        mode.haveChunks = true;
        mode.tailFade = state.m_canonCrmTailFade;
        FLOG(LogLevel::Notice) << "CanonCRM wrapped container audio chunks="
                               << (mode.chunks.empty() ? 0 : mode.chunks[0].size());
    } else {
        mode.tailFade = state.m_canonCrmTailFade;
    }
    return mode;
}

bool rebuild(const RepairState& state) {
    if (!state.m_reference || !state.m_reference->isOpen())
        throw std::runtime_error("missing valid Canon CRM reference");
    if (state.m_inputFileName.empty() || state.m_requestedOutputName.empty())
        throw std::runtime_error("missing input or output filename");
    const CrmReference ref = loadCrmReference(state.m_referenceFileName);

    platform::File damaged;
    if (!damaged.open(state.m_inputFileName, platform::File::Mode::Read))
        throw std::runtime_error("damaged open failed");
    const uint64_t fileSize = uint64_t(std::max<int64_t>(damaged.size(), 0));
    const CrmPayloadLocation where = findCrmPayload(damaged, fileSize);
    damaged.close();
    const uint64_t payloadLength = fileSize - where.start;
    CrmPayloadScan scan = scanCrmPayload(state.m_inputFileName, where.start);

    Mode mode = chooseMode(state, ref, scan, where.wrapped, payloadLength);
    CrmTrackInput input;
    input.reference = &ref;
    input.scan = &scan;
    input.audioChunks = mode.haveChunks ? &mode.chunks : nullptr;
    input.runs = &scan.audioRuns;
    input.damagedFile = state.m_inputFileName;
    input.payloadStart = where.start;
    input.payloadLength = payloadLength;
    input.referenceFile = state.m_referenceFileName;
    input.tailFade = mode.tailFade;
    const std::vector<CrmTrackPlan> plans = buildCrmTracks(input);

    uint64_t appended = 0;
    for (const CrmTrackPlan& s : plans)
        appended += s.appended.size();
    const uint64_t header = payloadLength + appended + 8 < kLargeMdat ? 8 : 16;
    const uint64_t before = ref.ftyp.size() + ref.preMediaBoxes.size() + header;
    Bytes moov;
    for (int pass = 0; pass < 3; ++pass) {
        const size_t previous = moov.size();
        moov = buildCrmMoov(ref, plans, before + previous);
        if (moov.size() == previous)
            break;
    }
    Bytes freeBox;
    const uint64_t position = before + moov.size();
    if (position + 8 <= ref.mediaStart) {
        const uint64_t payload = std::min(ref.mediaStart - position - 8, kMaxFreePayload);
        freeBox = makeBox("free", Bytes(payload, 0));
        moov = buildCrmMoov(ref, plans, position + freeBox.size());
    }

    platform::File out;
    if (!out.open(state.m_requestedOutputName, platform::File::Mode::Write))
        throw std::runtime_error("output open failed");
    if (!damaged.open(state.m_inputFileName, platform::File::Mode::Read))
        throw std::runtime_error("damaged reopen failed");
    writeAll(out, ref.ftyp, "write failed");
    writeAll(out, moov, "write failed");
    writeAll(out, ref.preMediaBoxes, "write failed");
    writeAll(out, freeBox, "write failed");
    Bytes mdat;
    if (header == 8) {
        appendU32(mdat, uint32_t(payloadLength + appended + 8));
        mdat.insert(mdat.end(), {'m', 'd', 'a', 't'});
    } else {
        appendU32(mdat, 1);
        mdat.insert(mdat.end(), {'m', 'd', 'a', 't'});
        appendU64(mdat, payloadLength + appended + 16);
    }
    writeAll(out, mdat, "write header failed");
    copyRange(damaged, out, where.start, payloadLength);
    for (const CrmTrackPlan& s : plans)
        writeAll(out, s.appended, "copy write failed");
    writeAll(out, ref.postMediaBoxes, "write failed");
    if (!out.closeChecked())
        throw std::runtime_error("copy write failed");

    FLOG(LogLevel::Notice) << "CanonCRM rebuild complete: video_samples=" << scan.sampleSizes.size()
                           << " video_chunks=" << scan.chunkOffsets.size() << " audio_runs=" << scan.audioRuns.size()
                           << " tracks=" << plans.size() << " metadata_payload=" << appended;
    return true;
}

}  // namespace

void copyRange(platform::File& source, platform::File& destination, uint64_t offset, uint64_t length) {
    if (!source.seek(int64_t(offset)))
        throw std::runtime_error("copy seek failed");
    std::vector<uint8_t> block(size_t(std::min(length, kCopyBlock)));
    while (length > 0) {
        const size_t n = size_t(std::min<uint64_t>(length, block.size()));
        if (source.read(block.data(), n) != n)
            throw std::runtime_error("copy read failed");
        if (destination.write(block.data(), n) != n)
            throw std::runtime_error("copy write failed");
        length -= n;
    }
}

bool rebuildCanonCrm(const RepairState& state) {
    try {
        return rebuild(state);
    } catch (const std::exception& e) {
        FLOG(LogLevel::Warning) << "CanonCRM rebuild failed: " << e.what();
    }
    return false;
}

}  // namespace crm
