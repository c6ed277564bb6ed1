#include "qt/fragment_reader.h"

#include <unordered_map>

#include "qt/atom_codecs.h"
#include "qt/atom_io.h"
#include "qt/atom_readers.h"

namespace qt {

namespace {

// tfhd flags.
constexpr uint32_t kBaseDataOffset = 0x000001;
constexpr uint32_t kDescriptionIndex = 0x000002;
constexpr uint32_t kDefaultDuration = 0x000008;
constexpr uint32_t kDefaultSize = 0x000010;
constexpr uint32_t kDefaultFlags = 0x000020;
constexpr uint32_t kBaseIsMoof = 0x020000;
// trun flags.
constexpr uint32_t kDataOffset = 0x000001;
constexpr uint32_t kFirstSampleFlags = 0x000004;
constexpr uint32_t kSampleDuration = 0x000100;
constexpr uint32_t kSampleSize = 0x000200;
constexpr uint32_t kSampleFlags = 0x000400;
constexpr uint32_t kSampleComposition = 0x000800;

// Per-track sample defaults: from 'trex', overridden per fragment by 'tfhd'.
struct SampleDefaults {
    uint32_t m_description = 1;
    uint32_t m_duration = 0;
    uint32_t m_size = 0;
};

// Where one track fragment's runs put their data, and with which defaults.
struct TrackFragment {
    MovieTrack* m_track = nullptr;
    SampleDefaults m_defaults;
    uint64_t m_base = 0;     // what the runs' data offsets count from
    uint64_t m_dataEnd = 0;  // end of the previous run's data: where a run without an offset starts
};

bool readFlags(MovieFile* f, uint8_t* version, uint32_t* flags) {
    return rwFullHeader(f, version, flags, "frag.version", "frag.flags");
}

MovieTrack* trackWithId(MovieFile* f, uint32_t id) {
    for (int i = 0; i < f->m_trackCount && i < kMaxTracks; ++i)
        if (f->m_tracks[i].m_trackId == id)
            return &f->m_tracks[i];
    return nullptr;
}

// Calls visit(header) for each child atom of [from, end).
template <typename Visit>
void forEachChild(MovieFile* f, uint64_t from, uint64_t end, Visit visit) {
    AtomHeader atom;
    for (uint64_t at = from; readAtomHeader(f, at, end, &atom); at = atom.m_end)
        visit(atom);
}

// The 'trex' defaults of each track; false when the moov declares no fragments.
bool readTrackDefaults(MovieFile* f, std::unordered_map<uint32_t, SampleDefaults>* defaults) {
    bool fragmented = false;
    // The moov's header is 8 bytes, or 16 with a 64-bit size.
    AtomHeader moov;
    const auto moovAt = [&](uint64_t header) {
        return f->m_moovOffset >= header && readAtomHeader(f, f->m_moovOffset - header, f->m_fileSize, &moov) &&
               moov.m_type == makeFourcc("moov") && moov.payload() == f->m_moovOffset;
    };
    if (!moovAt(8) && !moovAt(16))
        return false;
    forEachChild(f, moov.payload(), moov.m_end, [&](const AtomHeader& mvex) {
        if (mvex.m_type != makeFourcc("mvex"))
            return;
        fragmented = true;
        forEachChild(f, mvex.payload(), mvex.m_end, [&](const AtomHeader& trex) {
            uint8_t version = 0;
            uint32_t flags = 0, trackId = 0;
            SampleDefaults d;
            if (trex.m_type != makeFourcc("trex") || !seekTo(f, trex.payload()) || trex.m_end - trex.payload() < 24 ||
                !readFlags(f, &version, &flags) || !rw32be(f, &trackId, "trex.trackid", kTraceAtoms) ||
                !rw32be(f, &d.m_description, "trex.description", kTraceAtoms) ||
                !rw32be(f, &d.m_duration, "trex.duration", kTraceAtoms) ||
                !rw32be(f, &d.m_size, "trex.size", kTraceAtoms))
                return;
            (*defaults)[trackId] = d;
        });
    });
    return fragmented;
}

bool readTfhd(MovieFile* f, const AtomHeader& atom, uint64_t moofStart, uint64_t previousDataEnd,
              const std::unordered_map<uint32_t, SampleDefaults>& defaults, TrackFragment* out) {
    uint8_t version = 0;
    uint32_t flags = 0, trackId = 0;
    if (!seekTo(f, atom.payload()) || !readFlags(f, &version, &flags) ||
        !rw32be(f, &trackId, "tfhd.trackid", kTraceAtoms))
        return false;
    out->m_track = trackWithId(f, trackId);
    const auto found = defaults.find(trackId);
    out->m_defaults = found != defaults.end() ? found->second : SampleDefaults{};
    // Without an explicit base, the first track fragment starts at the moof
    // and each later one where the previous one's data ended.
    out->m_base = (flags & kBaseIsMoof) || previousDataEnd == 0 ? moofStart : previousDataEnd;
    uint32_t skipped = 0;
    if ((flags & kBaseDataOffset) && !rw64be(f, &out->m_base, "tfhd.base", kTraceAtoms))
        return false;
    out->m_dataEnd = out->m_base;
    if (flags & kDescriptionIndex)
        rw32be(f, &out->m_defaults.m_description, "tfhd.description", kTraceAtoms);
    if (flags & kDefaultDuration)
        rw32be(f, &out->m_defaults.m_duration, "tfhd.duration", kTraceAtoms);
    if (flags & kDefaultSize)
        rw32be(f, &out->m_defaults.m_size, "tfhd.size", kTraceAtoms);
    if (flags & kDefaultFlags)
        rw32be(f, &skipped, "tfhd.flags", kTraceAtoms);
    return f->m_position <= atom.m_end;
}

void appendComposition(MovieTrack* t, uint32_t offset) {
    if (!t->m_compositionOffsets.empty() && t->m_compositionOffsets.back().m_offset == offset)
        ++t->m_compositionOffsets.back().m_sampleCount;
    else
        t->m_compositionOffsets.push_back({1, offset});
}

// One track run: a chunk of samples.
void readTrun(MovieFile* f, const AtomHeader& atom, TrackFragment* frag) {
    MovieTrack* t = frag->m_track;
    uint8_t version = 0;
    uint32_t flags = 0, count = 0;
    if (!t || !seekTo(f, atom.payload()) || !readFlags(f, &version, &flags) ||
        !rw32be(f, &count, "trun.count", kTraceAtoms))
        return;
    uint64_t dataStart = frag->m_dataEnd;
    if (flags & kDataOffset) {
        uint32_t offset = 0;
        if (!rw32be(f, &offset, "trun.dataoffset", kTraceAtoms))
            return;
        dataStart = frag->m_base + uint64_t(int64_t(int32_t(offset)));
    }
    uint32_t skipped = 0;
    if ((flags & kFirstSampleFlags) && !rw32be(f, &skipped, "trun.firstflags", kTraceAtoms))
        return;
    const uint32_t fields = ((flags & kSampleDuration) ? 4 : 0) + ((flags & kSampleSize) ? 4 : 0) +
                            ((flags & kSampleFlags) ? 4 : 0) + ((flags & kSampleComposition) ? 4 : 0);
    const uint64_t room = f->m_position <= atom.m_end ? atom.m_end - f->m_position : 0;
    // A count the atom cannot hold, or runs of one default size that would
    // reach past the end of the file, are not believed.
    if (count == 0 || dataStart >= f->m_fileSize || (fields && uint64_t(count) * fields > room))
        return;
    if (!fields && (frag->m_defaults.m_size == 0 ||
                    uint64_t(count) * frag->m_defaults.m_size > f->m_fileSize - dataStart))
        return;
    const uint32_t chunk = uint32_t(t->m_chunkOffsets.size() + 1);
    uint64_t at = dataStart;
    uint32_t added = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t duration = frag->m_defaults.m_duration, size = frag->m_defaults.m_size, composition = 0;
        if (((flags & kSampleDuration) && !rw32be(f, &duration, "trun.duration", kTraceTables)) ||
            ((flags & kSampleSize) && !rw32be(f, &size, "trun.size", kTraceTables)) ||
            ((flags & kSampleFlags) && !rw32be(f, &skipped, "trun.flags", kTraceTables)) ||
            ((flags & kSampleComposition) && !rw32be(f, &composition, "trun.composition", kTraceTables)))
            break;
        if (size == 0 || at + size > f->m_fileSize || !t->m_sampleSizes.push_back(size))
            break;
        at += size;
        appendSampleDuration(t->m_timeToSample, duration);
        appendComposition(t, composition);
        ++added;
    }
    frag->m_dataEnd = at;
    if (added == 0 || !t->m_chunkOffsets.push_back(dataStart))
        return;
    const SampleToChunkEntry& last = t->m_sampleToChunk.empty() ? SampleToChunkEntry{} : t->m_sampleToChunk.back();
    if (last.m_samplesPerChunk != added || last.m_descriptionId != frag->m_defaults.m_description)
        t->m_sampleToChunk.push_back({chunk, added, frag->m_defaults.m_description});
    t->m_sampleCount += added;
}

void readMoof(MovieFile* f, const AtomHeader& moof, const std::unordered_map<uint32_t, SampleDefaults>& defaults) {
    uint64_t previousDataEnd = 0;
    forEachChild(f, moof.payload(), moof.m_end, [&](const AtomHeader& traf) {
        if (traf.m_type != makeFourcc("traf"))
            return;
        TrackFragment frag;
        bool haveHeader = false;
        forEachChild(f, traf.payload(), traf.m_end, [&](const AtomHeader& child) {
            if (child.m_type == makeFourcc("tfhd"))
                haveHeader = readTfhd(f, child, moof.m_start, previousDataEnd, defaults, &frag);
            else if (child.m_type == makeFourcc("trun") && haveHeader)
                readTrun(f, child, &frag);
        });
        previousDataEnd = frag.m_dataEnd;
    });
}

// The duration most samples have, the media duration when the moov left it
// empty, and no composition table when every offset is zero.
void finishTrack(MovieFile* f, MovieTrack* t) {
    const uint64_t total = totalSampleDuration(t->m_timeToSample);
    t->m_sampleDuration = typicalSampleDuration(t->m_timeToSample);
    if (t->m_mediaDuration == 0)
        t->m_mediaDuration = total > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(total);
    if (t->m_trackDuration == 0 && t->m_mediaTimescale && f->m_movieTimescale) {
        const uint64_t movieUnits = total * f->m_movieTimescale / t->m_mediaTimescale;
        t->m_trackDuration = movieUnits > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(movieUnits);
    }
    bool anyOffset = false;
    for (const CompositionOffsetEntry& e : t->m_compositionOffsets)
        anyOffset = anyOffset || e.m_offset != 0;
    if (!anyOffset)
        t->m_compositionOffsets.clear();
}

}  // namespace

void readMovieFragments(MovieFile* f) {
    std::unordered_map<uint32_t, SampleDefaults> defaults;
    if (!f || !f->m_moovOffset || !readTrackDefaults(f, &defaults))
        return;
    // Samples the moov itself lists come first; their composition offsets,
    // if any, cover them and the fragments' continue behind.
    for (int i = 0; i < f->m_trackCount && i < kMaxTracks; ++i) {
        MovieTrack& t = f->m_tracks[i];
        if (!t.m_compositionOffsets.empty() || t.m_sampleCount == 0)
            continue;
        // The moov's samples had no offsets: give them zeros so that the
        // fragments' offsets line up with their own samples.
        t.m_compositionOffsets.push_back({t.m_sampleCount, 0});
    }
    forEachChild(f, 0, f->m_fileSize, [&](const AtomHeader& atom) {
        if (atom.m_type == makeFourcc("moof"))
            readMoof(f, atom, defaults);
    });
    for (int i = 0; i < f->m_trackCount && i < kMaxTracks; ++i)
        finishTrack(f, &f->m_tracks[i]);
}

}  // namespace qt
