#include "camera/crm/crm_moov_builder.h"

#include <algorithm>

namespace crm {

namespace {

Bytes fullBoxPayload() { return Bytes(4, 0); }

Bytes concat(std::initializer_list<const Bytes*> parts) {
    Bytes out;
    for (const Bytes* p : parts)
        out.insert(out.end(), p->begin(), p->end());
    return out;
}

Bytes sampleTable(const CrmTrackPlan& plan) {
    const CrmRefTrack& ref = *plan.reference;
    Bytes stts = fullBoxPayload();
    appendU32(stts, 1);
    appendU32(stts, uint32_t(std::min<uint64_t>(plan.sampleCount(), UINT32_MAX)));
    appendU32(stts, std::max<uint32_t>(ref.sampleDelta, 1));

    Bytes stscEntries;
    uint32_t entries = 0;
    for (size_t c = 0; c < plan.samplesPerChunk.size(); ++c) {
        if (c > 0 && plan.samplesPerChunk[c] == plan.samplesPerChunk[c - 1])
            continue;
        appendU32(stscEntries, uint32_t(c + 1));
        appendU32(stscEntries, plan.samplesPerChunk[c]);
        appendU32(stscEntries, 1);
        ++entries;
    }
    Bytes stsc = fullBoxPayload();
    appendU32(stsc, entries);
    stsc.insert(stsc.end(), stscEntries.begin(), stscEntries.end());

    Bytes stsz = fullBoxPayload();
    const uint64_t count = plan.sampleCount();
    bool same = plan.uniformSize != 0;
    uint32_t common = plan.uniformSize;
    if (!same && !plan.sampleSizes.empty()) {
        common = plan.sampleSizes[0];
        same = std::all_of(plan.sampleSizes.begin(), plan.sampleSizes.end(), [&](uint32_t s) { return s == common; });
    }
    appendU32(stsz, same ? common : 0);
    appendU32(stsz, uint32_t(std::min<uint64_t>(count, UINT32_MAX)));
    if (!same)
        for (uint32_t s : plan.sampleSizes)
            appendU32(stsz, s);
    const Bytes sttsBox = makeBox("stts", stts), stscBox = makeBox("stsc", stsc), stszBox = makeBox("stsz", stsz);
    return concat({&ref.stsd, &sttsBox, &stscBox, &stszBox});
}

Bytes chunkOffsetBox(const CrmTrackPlan& plan, uint64_t mediaOffset) {
    Bytes co64 = fullBoxPayload();
    appendU32(co64, uint32_t(plan.chunkOffsets.size()));
    for (uint64_t o : plan.chunkOffsets)
        appendU64(co64, o + mediaOffset);
    return makeBox("co64", co64);
}

uint64_t mediaDuration(const CrmTrackPlan& plan) {
    return plan.sampleCount() * std::max<uint32_t>(plan.reference->sampleDelta, 1);
}

}  // namespace

void setBoxDuration(Bytes& box, uint64_t duration, bool isTrackHeader) {
    if (box.size() < 9)
        return;
    const bool v1 = box[8] == 1;
    const size_t at = isTrackHeader ? (v1 ? 36 : 28) : (v1 ? 32 : 24);
    const size_t need = isTrackHeader ? (v1 ? 48 : 36) : (v1 ? 40 : 32);
    if (box.size() < need)
        return;
    if (v1) {
        for (int i = 0; i < 8; ++i)
            box[at + size_t(i)] = uint8_t(duration >> (56 - 8 * i));
    } else {
        const uint32_t d = uint32_t(std::min<uint64_t>(duration, UINT32_MAX));
        for (int i = 0; i < 4; ++i)
            box[at + size_t(i)] = uint8_t(d >> (24 - 8 * i));
    }
}

Bytes buildCrmMoov(const CrmReference& ref, const std::vector<CrmTrackPlan>& plans, uint64_t mediaOffset) {
    uint64_t movieDuration = 0;
    if (!plans.empty()) {
        const uint64_t media = mediaDuration(plans[0]);
        const uint32_t scale = plans[0].reference->timescale;
        movieDuration = scale ? uint64_t((unsigned __int128)media * ref.movieTimescale / scale) : media;
    }
    Bytes moov = ref.moovExtra;
    Bytes mvhd = ref.mvhd;
    setBoxDuration(mvhd, movieDuration, false);
    moov.insert(moov.end(), mvhd.begin(), mvhd.end());
    for (const CrmTrackPlan& plan : plans) {
        const CrmRefTrack& r = *plan.reference;
        Bytes stblPayload = sampleTable(plan);
        const Bytes co64 = chunkOffsetBox(plan, mediaOffset);
        stblPayload.insert(stblPayload.end(), co64.begin(), co64.end());
        const Bytes stbl = makeBox("stbl", stblPayload);
        const Bytes minf = makeBox("minf", concat({&r.mediaHeader, &r.dinf, &stbl}));
        Bytes mdhd = r.mdhd;
        setBoxDuration(mdhd, mediaDuration(plan), false);
        const Bytes mdia = makeBox("mdia", concat({&mdhd, &r.hdlr, &minf}));
        Bytes tkhd = r.tkhd;
        setBoxDuration(tkhd, movieDuration, true);
        const Bytes trak = makeBox("trak", concat({&tkhd, &mdia}));
        moov.insert(moov.end(), trak.begin(), trak.end());
    }
    return makeBox("moov", moov);
}

}  // namespace crm
