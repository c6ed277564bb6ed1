#include "analysers/chunk/chunk_video_analyser.h"


#include "analysers/chunk/bounded_samples.h"
#include "analysers/chunk/chunk_search.h"
#include "analysers/chunk/cut_picture.h"
#include "analysers/core/top_level_atom.h"
#include "bitstream/common/byte_read.h"
#include "scan/scan_buffer.h"
#include "log/logger.h"
#include "output/repair_state.h"
#include "output/sample_collection.h"
#include "qt/movie_file.h"
#include "qt/movie_track.h"
#include "reference/audio_parameters.h"
#include "reference/reference_info.h"
#include "reference/reference_sample_bytes.h"
#include "reference/reference_sample_collector.h"
#include "reference/video_chunk_profiles.h"
#include "reference/video_parameters.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Learning looks at this many reference samples: plenty to see every layout
// a recorder uses, bounded for hour-long references.
constexpr size_t kMaxLearnSamples = 10000;
// Reference samples outside this range are damaged or not video frames.
constexpr int64_t kMinLearnSample = 6;
constexpr int64_t kMaxLearnSample = 64 * 1024 * 1024;
// Room for padding between two frames of one chunk, on top of the padding
// the reference shows after its video chunks, and its ceiling.
constexpr int64_t kGapSlack = 4096;
constexpr int64_t kMaxGapLimit = 65536;
// A read shorter than this cannot hold a NAL length, header and slice start.
constexpr int64_t kMinSearchRead = 9;
// When the previous chunk's end is unknown, the audio before a chunk is
// looked for this far (beyond one audio cycle and its padding) in front of it.
constexpr int64_t kAudioLookBack = 1024;
// Without frame size information the output is given a common size.
constexpr uint32_t kDefaultWidth = 640;
constexpr uint32_t kDefaultHeight = 480;

}  // namespace

namespace {

// How far behind the last chunk an atom that ends the media data is looked for.
constexpr int32_t kTrailingAtomSearch = 4 * 1024 * 1024;

// The first offset in [from, end) where a top-level atom begins (the
// movie's own index, free space, user data, or another recording), or end
// when there is none in the first few MiB.
int64_t nextTopLevelAtom(ScanBuffer& buffer, int64_t from, int64_t end) {
    if (from < 0 || end - from < 8)
        return end;
    const int32_t n = int32_t(std::min<int64_t>(end - from, kTrailingAtomSearch));
    ByteBlock block = buffer.readBlock(from, n);
    TopLevelAtom atom;
    if (findTopLevelAtom(block.data(), block.length(), from, buffer.fileSize(), block.length() - 1, atom))
        return std::min(atom.offset, end);
    return end;
}

}  // namespace

ChunkVideoAnalyser::ChunkVideoAnalyser(RepairState* repairState, ScanInfo* scanInfo, const std::string& logLabel)
    : AACAnalyser(repairState, scanInfo), m_label(logLabel), m_interleave(repairState, scanInfo, logLabel) {
    m_interleave.reset();
    m_interleave.setGapVideo(this);
}

bool ChunkVideoAnalyser::check(int64_t offset, const uint8_t*, int32_t) {
    return m_scannerEnabled && offset >= m_skipUntil;
}

int32_t ChunkVideoAnalyser::findCandidate(int64_t offset, const uint8_t*, int32_t count, int32_t) {
    if (!m_scannerEnabled || count <= 0)
        return std::max(count, 0);
    if (offset >= m_skipUntil)
        return 0;
    return int32_t(std::min<int64_t>(m_skipUntil - offset, count));
}

int64_t ChunkVideoAnalyser::gapLimit() const {
    const ReferenceInfo* ref = reference();
    const int64_t g1 = ref ? int64_t(ref->layout().m_videoChunksStopGap) : 0;
    return std::min(g1 + kGapSlack, kMaxGapLimit);
}

void ChunkVideoAnalyser::prepare() {
    m_scannerEnabled = false;
    m_skipUntil = 0;
    m_otherTrackRunBehind = 0;
    m_lastChunkEnd = -1;
    resetCodecState();
    m_interleave.reset();
    m_interleave.setAacChain(chainConfig());
    codec().clear();
    m_chunkProfiles.clear();

    ReferenceInfo* ref = m_repairState->m_reference.get();
    if (!accepts() || !configurationUsable())
        return;
    if (ref && ref->isOpen() && ref->videoSamples().empty())
        ref->collectSamples();
    learnSamples();
    learnChunks();
    learnOtherTrackPlacement();
    decideInterleavePhase();
    noteSkippedVideoTracks();
    FLOG(LogLevel::Info) << m_label << " reference interleave phase: "
                         << (m_audioBeforeVideo ? "audio-before-video" : "video-before-audio");
    m_scannerEnabled = !codec().empty() && !m_chunkProfiles.empty();
    if (m_scannerEnabled)
        FLOG(LogLevel::Notice) << m_label << " chunk scanner enabled";
    else
        FLOG(LogLevel::Notice) << m_label << " chunk scanner unavailable; legacy raw scan disabled";
    m_scanInfo->setFrameStart(0);
    m_scanInfo->setFrameEnd(0);
    if (m_scannerEnabled && !configureCompositionOrder())
        FLOG(LogLevel::Info) << m_label << " composition offsets from the reference (order count not followed)";
}

void ChunkVideoAnalyser::learnSamples() {
    const ReferenceInfo* ref = reference();
    if (!ref || ref->videoSamples().empty())
        return;
    if (!visitReferenceSamples(ref->movieParameters().m_fileName, ref->videoSamples(), kMaxLearnSamples,
                               kMinLearnSample, kMaxLearnSample,
                               [this](const uint8_t* data, int64_t size) { codec().learn(data, size); }))
        return;
    // A second video track in the same format (a preview, a proxy, a motion
    // photo's still stream) interleaves its pictures with the first one's.
    const MovieFile* movie = ref->movie();
    const MovieTrack* video = ref->videoTrack();
    for (int i = 0; movie && video && i < movie->m_trackCount && i < kMaxTracks; ++i) {
        const MovieTrack& t = movie->m_tracks[i];
        if (&t == video || t.m_handlerType != makeFourcc("vide") || t.m_codec != video->m_codec)
            continue;
        visitReferenceSamples(ref->movieParameters().m_fileName, collectTrackSamples(t, kMaxLearnSamples),
                              kMaxLearnSamples, kMinLearnSample, kMaxLearnSample,
                              [this](const uint8_t* data, int64_t size) { codec().learnOtherTrack(data, size); });
    }
    codec().finishLearning();
    logLearnedProfile();
}

void ChunkVideoAnalyser::learnChunks() {
    const ReferenceInfo* ref = reference();
    const MovieTrack* track = ref ? ref->videoTrack() : nullptr;
    if (!track)
        return;
    m_chunkProfiles = learnVideoChunkProfiles(
        *track, ref->videoSamples(), ref->movieParameters().m_fileName,
        [this](const uint8_t* data, int64_t size) { return codec().wholeSample(data, size); }, m_label);
}

void ChunkVideoAnalyser::learnOtherTrackPlacement() {
    // A recorder that writes a preview picture behind each main one (as
    // muxers interleaving by time do) leaves nothing in the pictures to tell
    // them apart by, when both use the same parameter set ids; their place does.
    constexpr double kAlways = 0.95;
    m_otherTrackRunBehind = 0;
    const ReferenceInfo* ref = reference();
    const MovieFile* movie = ref ? ref->movie() : nullptr;
    const MovieTrack* video = ref ? ref->videoTrack() : nullptr;
    if (!movie || !video || ref->videoSamples().empty())
        return;
    const std::vector<MediaSample>& ours = ref->videoSamples();
    std::vector<MediaSample> other;
    for (int i = 0; i < movie->m_trackCount && i < kMaxTracks; ++i) {
        const MovieTrack& t = movie->m_tracks[i];
        if (&t != video && t.m_handlerType == makeFourcc("vide") && t.m_codec == video->m_codec) {
            if (!other.empty())
                return;  // several such tracks: no one place
            other = collectTrackSamples(t, kMaxLearnSamples);
        }
    }
    if (other.empty())
        return;
    // Runs of samples that follow each other in the file, per track.
    std::vector<int64_t> ourRunEnds;
    for (size_t i = 0; i < ours.size() && i < kMaxLearnSamples; ++i) {
        const int64_t end = ours[i].offset + ours[i].size;
        if (i + 1 < ours.size() && ours[i + 1].offset == end)
            continue;
        ourRunEnds.push_back(end);
    }
    std::sort(ourRunEnds.begin(), ourRunEnds.end());
    size_t runs = 0, behindOurs = 0;
    uint32_t runLength = 0, firstRunLength = 0;
    bool sameLength = true;
    for (size_t i = 0; i < other.size(); ++i) {
        const bool continues = i > 0 && other[i].offset == other[i - 1].offset + other[i - 1].size;
        if (continues) {
            ++runLength;
            continue;
        }
        if (runs > 0) {
            firstRunLength = runs == 1 ? runLength : firstRunLength;
            sameLength = sameLength && runLength == firstRunLength;
        }
        ++runs;
        runLength = 1;
        behindOurs += std::binary_search(ourRunEnds.begin(), ourRunEnds.end(), other[i].offset) ? 1 : 0;
    }
    if (runs > 1)
        sameLength = sameLength && runLength == firstRunLength;
    else
        firstRunLength = runLength;
    // Each of our runs (bar the last few of a reference cut short) has one behind it.
    const double ofOurs = double(behindOurs) / double(ourRunEnds.size());
    if (!sameLength || double(behindOurs) < kAlways * double(runs) || ofOurs < kAlways)
        return;
    m_otherTrackRunBehind = firstRunLength;
    FLOG(LogLevel::Info) << m_label << " the reference's other video track puts " << firstRunLength
                         << " picture(s) right behind each of our chunks";
}

void ChunkVideoAnalyser::noteSkippedVideoTracks() const {
    // A motion photo, or a recorder's main and preview streams: the output
    // has the first video track only.
    const ReferenceInfo* ref = reference();
    const MovieFile* movie = ref ? ref->movie() : nullptr;
    const MovieTrack* video = ref ? ref->videoTrack() : nullptr;
    if (!movie || !video)
        return;
    for (int i = 0; i < movie->m_trackCount && i < kMaxTracks; ++i) {
        const MovieTrack& t = movie->m_tracks[i];
        if (&t != video && t.m_handlerType == makeFourcc("vide"))
            FLOG(LogLevel::Notice) << m_label << " writes the reference's first video track only; skipped video track "
                                   << t.m_trackId << " (" << fourccString(t.m_codec) << " " << t.m_width << "x"
                                   << t.m_height << ")";
    }
}

void ChunkVideoAnalyser::decideInterleavePhase() {
    m_audioBeforeVideo = false;
    const ReferenceInfo* ref = reference();
    const MovieFile* movie = ref ? ref->movie() : nullptr;
    const MovieTrack* video = ref ? ref->videoTrack() : nullptr;
    if (!movie || !video || video->m_chunkOffsets.empty())
        return;
    // The sound tracks decide. A timecode or other one-off chunk written
    // ahead of the first picture says nothing about the interleave: taking
    // it as audio first would hold back every gap behind the wrong chunk.
    uint64_t sound = std::numeric_limits<uint64_t>::max();
    uint64_t others = sound;
    for (int i = 0; i < movie->m_trackCount && i < kMaxTracks; ++i) {
        const MovieTrack& t = movie->m_tracks[i];
        if (&t == video || t.m_chunkOffsets.empty())
            continue;
        if (t.m_handlerType == makeFourcc("soun"))
            sound = std::min(sound, t.m_chunkOffsets[0]);
        else if (t.m_chunkOffsets.size() > 1)
            others = std::min(others, t.m_chunkOffsets[0]);
    }
    if (sound != std::numeric_limits<uint64_t>::max())
        others = sound;
    m_audioBeforeVideo = others != std::numeric_limits<uint64_t>::max() && video->m_chunkOffsets[0] > others;
}

uint64_t ChunkVideoAnalyser::videoSamplesCollected() const { return m_repairState->videoSampleCount(); }

int32_t ChunkVideoAnalyser::referenceCompositionOffset(uint64_t index) const {
    const ReferenceInfo* ref = reference();
    if (!ref || index >= ref->videoSamples().size())
        return 0;
    return ref->videoSamples()[size_t(index)].extra;
}

namespace {

// A stretch between two audio runs holds a chunk's worth of pictures at
// most; longer ones are damage, which the chunk search has had its turn at.
constexpr int64_t kMaxStretch = 1 << 20;
constexpr size_t kMaxStretchSamples = 512;

}  // namespace

int64_t ChunkVideoAnalyser::samplesFrom(ScanBuffer& input, int64_t from, int64_t to) {
    if (!m_scannerEnabled || from < 0 || to <= from || to > input.fileSize())
        return 0;
    ByteBlock block = input.readBlock(from, int32_t(std::min(to - from, kMaxStretch)));
    return samplesAt(block.data(), block.length());
}

int64_t ChunkVideoAnalyser::samplesAt(const uint8_t* data, int64_t n) {
    if (!m_scannerEnabled || !data || n <= 0)
        return 0;
    return leadingBoundedSamples(codec(), data, std::min(n, kMaxStretch), kMaxStretchSamples);
}

int64_t ChunkVideoAnalyser::trailingSamplesStart(ScanBuffer& input, int64_t from, int64_t to) {
    // Pictures too small for the search come a few dozen bytes each; a run
    // of them in front of a chunk is short.
    constexpr int64_t kMaxTrailing = 64 * 1024;
    if (!m_scannerEnabled || from < 0 || to <= from || to > input.fileSize())
        return to;
    const int64_t start = std::max(from, to - kMaxTrailing);
    ByteBlock block = input.readBlock(start, int32_t(to - start));
    const int64_t n = block.length();
    if (n != to - start)
        return to;
    std::vector<int32_t> sizes;
    const LearnedSampleCodec& samples = codec();
    for (int64_t p = samples.nextBoundedUnit(block.data(), n, 0); p + 5 < n;
         p = samples.nextBoundedUnit(block.data(), n, p + 1)) {
        if (tileBoundedSamples(samples, block.data() + p, n - p, kMaxStretchSamples, sizes))
            return start + p;
    }
    return to;
}

bool ChunkVideoAnalyser::sampleInside(ScanBuffer& input, int64_t from, int64_t to) {
    // Only a gap with a picture strictly inside is worth decoding its audio
    // twice for.
    if (!m_scannerEnabled || from < 0 || to - from > kMaxStretch || to > input.fileSize())
        return false;
    ByteBlock block = input.readBlock(from, int32_t(to - from));
    const int64_t n = block.length();
    const LearnedSampleCodec& samples = codec();
    for (int64_t p = samples.nextBoundedUnit(block.data(), n, 1); p + 5 < n;
         p = samples.nextBoundedUnit(block.data(), n, p + 1)) {
        const int64_t size = leadingBoundedSamples(samples, block.data() + p, n - p, kMaxStretchSamples);
        if (size > 0 && p + size < n)
            return true;
    }
    return false;
}

bool ChunkVideoAnalyser::tileStretch(ScanBuffer& input, int64_t from, int64_t to, ByteBlock& block,
                               std::vector<int32_t>& sizes) {
    if (!m_scannerEnabled || from < 0 || to <= from || to - from > kMaxStretch || to > input.fileSize())
        return false;
    block = input.readBlock(from, int32_t(to - from));
    return block.length() == to - from &&
           tileBoundedSamples(codec(), block.data(), block.length(), kMaxStretchSamples, sizes);
}

int64_t ChunkVideoAnalyser::passOtherTrackSamples(ScanBuffer& input, int64_t from, int64_t to) {
    if (!m_scannerEnabled || from < 1 || to <= from || to > input.fileSize())
        return from;
    ByteBlock block = input.readBlock(from, int32_t(std::min(to - from, kMaxStretch)));
    int64_t p = 0;
    for (size_t k = 0; k < kMaxStretchSamples; ++k) {
        const int64_t size = codec().measureOtherTrackSample(block.data() + p, block.length() - p);
        if (size <= 0)
            break;
        FLOG(LogLevel::Info) << m_label << " other video track sample skipped ofs=" << from + p << " len=" << size;
        p += size;
    }
    return from + p;
}

bool ChunkVideoAnalyser::passOtherTrackRun(ScanBuffer& input, int64_t from, int64_t to) {
    if (codec().tellsOtherTrackApart() || to <= from || to > input.fileSize())
        return false;
    ByteBlock block = input.readBlock(from, int32_t(std::min(to - from, kMaxStretch)));
    const int64_t n = block.length();
    int64_t p = 0;
    for (uint32_t k = 0; k < m_otherTrackRunBehind; ++k) {
        int64_t size = codec().measureSample(block.data() + p, n - p);
        if (size <= 0)
            size = codec().measureBoundedSample(block.data() + p, n - p);
        if (size <= 0)
            return false;
        p += size;
    }
    FLOG(LogLevel::Info) << m_label << " other video track samples skipped ofs=" << from << " len=" << p
                         << " count=" << m_otherTrackRunBehind;
    m_skipUntil = from + p;
    m_scanInfo->currentOffset = m_skipUntil;
    m_scanInfo->setGapStart(uint64_t(m_skipUntil));
    return true;
}

bool ChunkVideoAnalyser::samplesFill(ScanBuffer& input, int64_t from, int64_t to) {
    ByteBlock block;
    std::vector<int32_t> sizes;
    return tileStretch(input, from, to, block, sizes);
}

int64_t ChunkVideoAnalyser::emitSamplesFilling(ScanBuffer& input, int64_t from, int64_t to) {
    ByteBlock block;
    std::vector<int32_t> sizes;
    if (!tileStretch(input, from, to, block, sizes))
        return 0;
    int64_t offset = from;
    for (const int32_t size : sizes) {
        noteParameterSet(codec().parameterSetId(block.data() + (offset - from), size));
        const int32_t compositionOffset = referenceCompositionOffset(videoSamplesCollected());
        addVideoSample(input, offset, size, compositionOffset);
        FLOG(LogLevel::Info) << m_label << " Gap_Sample ofs=" << offset << "  size=" << size
                             << "  compofs= " << compositionOffset;
        m_interleave.countVideoSample();
        offset += size;
    }
    completeParameterSets();
    return int64_t(sizes.size());
}

bool ChunkVideoAnalyser::analyse(int64_t offset, ScanBuffer& buffer) {
    if (!m_scannerEnabled)
        return false;
    const ReferenceInfo* ref = reference();
    int64_t end = buffer.fileSize();
    if (m_scanInfo->stopOffset > 0)
        end = std::min(end, m_scanInfo->stopOffset + 1);
    if (offset >= end)
        return false;

    const int64_t g1 = ref ? int64_t(ref->layout().m_videoChunksStopGap) : 0;
    const int64_t g2 = ref ? int64_t(ref->layout().m_audioChunksSizeAll) : 0;
    const ChunkSearchSpan span = chunkSearchSpan(m_chunkProfiles, g1, g2);
    const int64_t window = span.window;
    const int64_t want = std::min(span.read, end - offset);
    if (want < kMinSearchRead)
        return false;

    if (m_otherTrackRunBehind > 0 && offset == m_lastChunkEnd && passOtherTrackRun(buffer, offset, end))
        return false;

    int64_t n = 0;
    ByteBlock block;
    const uint8_t* data = readSearchBytes(buffer, offset, want, block, n);
    if (!data || n < kMinSearchRead)
        return false;
    int64_t range = std::min(n, window);

    ChunkCandidate chunk;
    const ChunkSearch search(codec(), m_chunkProfiles, gapLimit(), m_label);
    codec().setSearchWindow(data, n, offset);
    int64_t skipped = search.search(data, n, range, chunk);
    uint32_t fewest = UINT32_MAX;
    for (const ChunkProfile& p : m_chunkProfiles)
        fewest = std::min(fewest, p.samples);
    const bool lonePictures = skipped >= 0 && fewest == 1 && chunk.samples.size() == 1;
    // Where a recorder writes its pictures one by one between sound frames,
    // a chance "picture" in a frame may run on across the real ones behind
    // it (one of 40 KB had swallowed a dozen); a real picture rarely holds
    // the start of another. Only one that does is held against the sound.
    bool holdsPicture = false;
    if (lonePictures && codec().lengthSize() != 2) {
        ChunkCandidate inner;
        holdsPicture = search.search(data + skipped + 1, n - skipped - 1, chunk.size - 1, inner) >= 0;
    }
    codec().setSearchWindow(nullptr, 0, 0);
    // Media data ends at a top-level atom: the recording's index or free
    // space, or, in files joined one behind the other, the next recording.
    // No chunk starts in front of one that lies before the candidate (the
    // search takes the first start), so the scan stops there, and the next
    // recording's atoms are met (and new clip detection can see them)
    // before its first chunk is taken.
    TopLevelAtom atom;
    const int64_t atomLast = (skipped >= 0 ? skipped : range) - 1;
    if (atomLast >= 0 && findTopLevelAtom(data, n, offset, buffer.fileSize(), atomLast, atom)) {
        if (atom.offset == offset) {
            passAtom(atom, buffer);
            return false;
        }
        skipped = -1;
        range = atom.offset - offset;
    }
    data = nullptr;  // emission reads the input and may move the window
    if (skipped < 0) {
        if (range > 0) {
            m_skipUntil = offset + range;
            m_scanInfo->currentOffset = m_skipUntil;
            FLOG(LogLevel::Debug) << m_label << " chunk scan no chunk, skipping searched range ofs=" << offset
                                  << " until=" << m_skipUntil;
        }
        return false;
    }
    chunk.offset = offset + skipped;
    FLOG(LogLevel::Debug) << m_label << " chunk candidate ofs=" << chunk.offset << " size=" << chunk.size
                          << " samples=" << chunk.samples.size() << " scan_from=" << offset << " skipped=" << skipped;

    // With the stand-alone audio analysers (-aac, -pcm) the audio in front of
    // the chunk is theirs: step back and let the driver offer them those
    // bytes; the chunk is taken when the scan reaches it.
    if ((m_scanInfo->aacFilter || m_scanInfo->pcmRuns) && skipped > 0) {
        m_skipUntil = chunk.offset;
        return false;
    }
    // Inside a run of MPEG audio frames a chance "slice" is no frame.
    const int64_t gapStart = int64_t(m_scanInfo->gapStart());
    if (gapStart > 0 && m_interleave.mpegAudioSpans(buffer, gapStart, chunk.offset)) {
        m_skipUntil = chunk.offset + 1;
        FLOG(LogLevel::Debug) << m_label << " chunk candidate ofs=" << chunk.offset << " lies inside MPEG audio";
        return false;
    }
    // Where any two bytes pass for a unit's length, a "picture" that a run
    // of sound frames from the gap's start reads across is the inside of a
    // frame; behind four-byte lengths, one that holds another picture, when
    // the run ends where a picture begins.
    const bool twoByteLengths = codec().lengthSize() == 2;
    if (gapStart > 0 && (twoByteLengths || holdsPicture) &&
        insideSoundFrames(buffer, gapStart, chunk.offset, !twoByteLengths)) {
        m_skipUntil = chunk.offset + 1;
        FLOG(LogLevel::Debug) << m_label << " chunk candidate ofs=" << chunk.offset << " lies inside sound frames";
        return false;
    }
    // Shorter than any of the reference's chunks, behind sound that it cuts
    // out of its packets: a chance match in the sound.
    // Within a cycle of the end it may stand behind the last flush.
    // Where the reference writes pictures one by one (a muxer interleaving
    // by time), every picture stands behind whole packets, however little
    // sound lies in front of it.
    const int64_t flush = ref && ref->interleaveCycle().largestLaterSoundGap() > 0
                              ? int64_t(std::min<uint64_t>(ref->interleaveCycle().largestLaterSoundGap(), INT32_MAX))
                              : g2;
    const bool lastFlush = chunk.offset + chunk.size + flush >= end;
    int64_t amidAt = 0, amidLength = 0;
    if (gapStart > 0 && (chunk.samples.size() < fewest || lonePictures) &&
        m_interleave.pcmCutByChance(buffer, gapStart, chunk.offset, lastFlush, lonePictures) &&
        !m_interleave.pictureAmidPcm(buffer, gapStart, chunk.offset, amidAt, amidLength)) {
        m_skipUntil = chunk.offset + 1;
        FLOG(LogLevel::Debug) << m_label << " chunk candidate ofs=" << chunk.offset << " cuts a sound packet";
        return false;
    }
    // Where any two bytes pass for a unit's length, chance pictures turn up
    // in sound of any kind: one that stands inside the first chunk of PCM
    // behind the last pictures, or that cuts a packet of sound where the
    // reference writes its pictures one by one between whole packets, is no
    // picture of the recorder's, unless the media data ends with it.
    if (gapStart > 0 && codec().lengthSize() == 2 && chunk.offset + chunk.size < end &&
        ((chunk.samples.size() < fewest && m_interleave.insidePcmChunk(gapStart, chunk.offset)) ||
         (lonePictures && m_interleave.notWholePcmPackets(gapStart, chunk.offset)))) {
        m_skipUntil = chunk.offset + 1;
        FLOG(LogLevel::Debug) << m_label << " chunk candidate ofs=" << chunk.offset << " lies inside PCM";
        return false;
    }
    // A recorder names the same parameter sets in all its pictures: a lone
    // picture between sound frames that names another is a chance match in
    // the sound.
    if (gapStart > 0 && (chunk.samples.size() < fewest || lonePictures) &&
        std::any_of(chunk.samples.begin(), chunk.samples.end(),
                    [&](const ChunkCandidate::Sample& s) { return strangeParameterSet(s.ppsId); })) {
        m_skipUntil = chunk.offset + 1;
        FLOG(LogLevel::Debug) << m_label << " chunk candidate ofs=" << chunk.offset << " names a strange parameter set";
        return false;
    }
    for (const ChunkCandidate::Sample& s : chunk.samples)
        noteParameterSet(s.ppsId);
    if (gapStart > 0 && m_interleave.prefetches(buffer))
        m_interleave.prefetchBehindChunk(buffer, gapStart, chunk.offset,
                                         samplesRunEnd(buffer, chunk.offset + chunk.size));
    return emitChunk(chunk, buffer);
}

int64_t ChunkVideoAnalyser::samplesRunEnd(ScanBuffer& input, int64_t from) {
    // Only the bytes the window holds: moving it would move where the scan's
    // next window starts.
    const int64_t held = input.windowOffset() + input.windowLength() - from;
    if (from < input.windowOffset() || held < kMinSearchRead)
        return from;
    const uint8_t* data = input.get(from, int32_t(held));
    LearnedSampleCodec& samples = codec();
    samples.setSearchWindow(data, held, from);
    int64_t pos = 0;
    while (pos < held && samples.continuesAt(data + pos, held - pos)) {
        const int64_t size = samples.measureSample(data + pos, held - pos);
        if (size <= 0 || size > held - pos)
            break;
        pos += size;
    }
    samples.setSearchWindow(nullptr, 0, 0);
    return from + pos;
}

bool ChunkVideoAnalyser::emitChunk(const ChunkCandidate& chunk, ScanBuffer& buffer) {
    VideoParameters& video = *m_repairState->m_video;
    AudioParameters& audio = *m_repairState->m_audio;
    video.m_codec = outputCodec();
    // A reference without sound says the recorder writes none: an audio
    // track would stay empty (and without channels no player can set it up).
    const ReferenceInfo* ref = reference();
    if (audio.m_codec.empty() && (!ref || ref->audioTrack(0)))
        audio.m_codec = "mp4a";
    if (video.m_width == 0)
        video.m_width = kDefaultWidth;
    if (video.m_height == 0)
        video.m_height = kDefaultHeight;
    m_interleave.updateFrameSizeRange();

    int64_t gapStart = int64_t(m_scanInfo->gapStart());
    unsigned gapFlags = AudioInterleave::GapPlain;
    if (gapStart < 1 || gapStart > chunk.offset) {
        gapFlags = AudioInterleave::GapStartGuessed;
        const int64_t g2 = ref ? int64_t(ref->layout().m_audioChunksSizeAll) : 0;
        const int64_t g3 = ref ? int64_t(ref->layout().m_audioChunksStopGap) : 0;
        gapStart = std::max<int64_t>(chunk.offset - (g2 + g3 + kAudioLookBack), 0);
    }

    if (gapFlags == AudioInterleave::GapPlain)
        gapStart = passOtherTrackSamples(buffer, gapStart, chunk.offset);
    int64_t deferredStart = -1, deferredEnd = -1;
    int64_t previousEnd = gapStart;
    uint32_t emitted = 0;
    int64_t resume = chunk.offset + chunk.size;
    for (size_t i = 0; i < chunk.samples.size(); ++i) {
        const ChunkCandidate::Sample& s = chunk.samples[i];
        const int64_t sampleOffset = chunk.offset + s.start;
        if (s.size <= 0 || sampleOffset + s.size > buffer.fileSize())
            return false;
        if (sampleOffset > previousEnd) {
            if (i == 0) {
                if (!m_audioBeforeVideo) {
                    m_interleave.fillGap(buffer, previousEnd, sampleOffset, gapFlags);
                } else {
                    // Pictures too small for the search may end the chunk
                    // in front: they go out now, ahead of this chunk, and
                    // only the rest of the gap waits.
                    const int64_t lead = gapFlags == AudioInterleave::GapPlain
                                             ? samplesFrom(buffer, previousEnd, sampleOffset)
                                             : 0;
                    if (lead > 0 && emitSamplesFilling(buffer, previousEnd, previousEnd + lead) > 0)
                        previousEnd += lead;
                }
                if (m_audioBeforeVideo && previousEnd < sampleOffset) {
                    deferredStart = previousEnd;
                    deferredEnd = sampleOffset;
                    // And those in front of this chunk, behind the audio,
                    // after any amid the audio (in file order).
                    if (gapFlags == AudioInterleave::GapPlain) {
                        const int64_t trailing = trailingSamplesStart(buffer, previousEnd, sampleOffset);
                        if (sampleInside(buffer, previousEnd, trailing))
                            m_interleave.emitPicturesAmidAudio(buffer, previousEnd, trailing);
                        if (trailing < sampleOffset && emitSamplesFilling(buffer, trailing, sampleOffset) > 0)
                            deferredEnd = trailing;
                    }
                    FLOG(LogLevel::Info) << m_label << " deferred pre-video audio gap start=" << deferredStart
                                         << " end=" << deferredEnd << " video_samples=" << videoSamplesCollected();
                }
            } else {
                FLOG(LogLevel::Info) << m_label << " terminating chunk candidate at internal media gap start="
                                     << previousEnd
                                     << " end=" << sampleOffset << " emitted_samples=" << emitted
                                     << " chunk_ofs=" << chunk.offset;
                // The deferred audio belongs to the frames already emitted,
                // so it goes first.
                if (deferredStart >= 0)
                    m_interleave.fillGap(buffer, deferredStart, deferredEnd,
                                         gapFlags | AudioInterleave::GapBehindVideo);
                deferredStart = -1;
                m_interleave.fillGap(buffer, previousEnd, sampleOffset);
                resume = sampleOffset;
                break;
            }
        }
        const int32_t compositionOffset = referenceCompositionOffset(videoSamplesCollected());
        addVideoSample(buffer, sampleOffset, s.size, compositionOffset);
        FLOG(LogLevel::Info) << m_label << " Chunk_Sample ofs=" << sampleOffset << "  size=" << s.size
                             << "  chunk_ofs=" << chunk.offset << "  compofs= " << compositionOffset;
        m_interleave.countVideoSample();
        ++emitted;
        previousEnd = sampleOffset + s.size;
    }
    if (deferredStart >= 0)
        m_interleave.fillGap(buffer, deferredStart, deferredEnd, gapFlags | AudioInterleave::GapBehindVideo);
    completeParameterSets();
    m_interleave.prefetchGap(buffer, resume);
    m_lastChunkEnd = resume;
    m_scanInfo->setGapStart(uint64_t(resume));
    m_scanInfo->currentOffset = resume;
    m_skipUntil = resume;
    return true;
}

void ChunkVideoAnalyser::addVideoSample(ScanBuffer& input, int64_t offset, int32_t size, int32_t compositionOffset) {
    add_video_samples(*m_repairState, input, offset, size, compositionOffset);
    if (!m_scanInfo->noCompositionOffsets)
        noteEmittedSample(input, offset, size);
}

void ChunkVideoAnalyser::passAtom(const TopLevelAtom& atom, ScanBuffer& buffer) {
    // The audio behind the last chunk ends where the media data does.
    const int64_t gapStart = int64_t(m_scanInfo->gapStart());
    if (gapStart > 0 && gapStart < atom.offset)
        m_interleave.fillGap(buffer, gapStart, atom.offset, AudioInterleave::GapAtEnd);
    // Media data is entered (its payload holds the samples); any other atom
    // holds none and is passed whole.
    const int64_t skip = atom.mediaData ? atom.header : atom.size;
    m_skipUntil = std::min(atom.offset + skip, buffer.fileSize());
    // The next audio gap opens behind the atom: a recording's first audio
    // may stand in front of its first video chunk. A timecode sample the
    // reference keeps at the start of its media data is not part of it (as
    // sound it would shift every sample frame of a PCM chunk).
    const ReferenceInfo* ref = reference();
    const int64_t lead = atom.mediaData && ref ? int64_t(ref->layout().m_mediaDataLead) : 0;
    m_scanInfo->setGapStart(uint64_t(std::min(m_skipUntil + lead, atom.offset + atom.size)));
    if (atom.mediaData)
        m_interleave.setMediaDataStart(int64_t(m_scanInfo->gapStart()));
    // Behind the media data another recording may follow, and new clip
    // detection then writes this one's clip before the scan goes on: its
    // frames get their order counts now.
    if (m_scanInfo->newClipDetection && !atom.mediaData && m_repairState->videoSampleCount() > 0)
        applyCompositionOrder(buffer);
    FLOG(LogLevel::Debug) << m_label << " top-level atom " << std::string(atom.type, 4) << " at " << atom.offset
                          << " size=" << atom.size << " scan resumes at " << m_skipUntil;
}

void ChunkVideoAnalyser::finish(ScanBuffer& buffer) {
    // The audio behind the last video chunk belongs to it as much as any
    // other gap's audio to its chunk; without this the last interleave
    // cycle's audio would be lost.
    if (!m_scannerEnabled || m_scanInfo->gapStart() == 0)
        return;
    int64_t end = buffer.fileSize();
    if (m_scanInfo->stopOffset > 0)
        end = std::min(end, m_scanInfo->stopOffset + 1);
    // The media data may be followed by the movie's own atoms (an index that
    // survived, free space, user data): they are not audio.
    end = nextTopLevelAtom(buffer, int64_t(m_scanInfo->gapStart()), end);
    const int64_t start = passOtherTrackSamples(buffer, int64_t(m_scanInfo->gapStart()), end);
    m_interleave.fillGap(buffer, start, cutPictureAtEnd(buffer, start, end), AudioInterleave::GapAtEnd);
    applyCompositionOrder(buffer);
}

bool ChunkVideoAnalyser::insideSoundFrames(ScanBuffer& buffer, int64_t from, int64_t at, bool pictureBehind) {
    // A picture that a lone frame would read across is sound only where
    // the frame ends in front of a picture: a single chance frame over other
    // data is not rare enough to give up a picture for. This far behind it
    // is read for that picture.
    constexpr int64_t kPictureRead = 256 * 1024;
    size_t frames = 0;
    int64_t end = m_interleave.aacRunAcross(buffer, from, at, frames);
    if (end < 0)
        end = m_interleave.mpegRunAcross(buffer, from, at, frames);
    if (end < 0)
        return false;
    if (frames >= 2 && !pictureBehind)
        return true;
    const ByteBlock block = buffer.readBlock(end, int32_t(std::min(kPictureRead, buffer.fileSize() - end)));
    return block.length() > 0 && codec().measureSample(block.data(), block.length()) > 0;
}

int64_t ChunkVideoAnalyser::cutPictureAtEnd(ScanBuffer& buffer, int64_t from, int64_t end) {
    // A picture the cut left is the last thing in the input; it is looked
    // for this far in front of the end.
    constexpr int64_t kSearch = 4 * 1024 * 1024;
    // A cut unit may declare this much more than the reference's largest
    // picture (another scene, another bit rate), and at least kMinBound.
    constexpr int64_t kSizeFactor = 4;
    constexpr int64_t kMinBound = 1024 * 1024;
    const ReferenceInfo* ref = reference();
    // Media data whose atom ends with the input was not cut.
    if (end != buffer.fileSize() || end <= from || !ref || AudioInterleave::mediaDataEndsAt(buffer, end, false))
        return end;
    int64_t largest = 0;
    for (const MediaSample& s : ref->videoSamples())
        largest = std::max<int64_t>(largest, s.size);
    const int64_t at = std::max(from, end - kSearch);
    ByteBlock block = buffer.readBlock(at, int32_t(end - at));
    if (block.length() != end - at)
        return end;
    // Behind sound that it would cut out of its packets, or inside sound
    // frames where any two bytes pass for a length, a "picture" is a chance
    // match inside the sound: the search goes on behind it.
    auto inSound = [&](int64_t start) {
        return m_interleave.pcmCutByChance(buffer, from, start, false, false) ||
               (codec().lengthSize() == 2 && insideSoundFrames(buffer, from, start));
    };
    int64_t cut = at;
    do {
        cut += cutPictureStart(codec(), block.data() + (cut - at), end - cut, std::max(kSizeFactor * largest, kMinBound));
    } while (cut < end && inSound(cut) && ++cut < end);
    if (cut < end)
        FLOG(LogLevel::Info) << m_label << " picture cut by the end of the input at " << cut << " len=" << end - cut;
    return cut;
}

void ChunkVideoAnalyser::applyCompositionOrder(ScanBuffer& buffer) {
    // The frames' own order counts, where they can be read, say when each is
    // shown; the reference's offsets stand only where they cannot. With
    // composition offsets switched off (-noctts) the frames keep offset 0,
    // but the same reading still tells the random-access pictures.
    const bool offsets = !m_scanInfo->noCompositionOffsets;
    const double duration = m_interleave.timing().frameDuration;
    const size_t rewritten =
        applyPictureOrder(buffer, m_repairState->m_samples, int64_t(std::llround(duration)), offsets);
    FLOG(LogLevel::Info) << m_label << " composition offsets from picture order counts: " << rewritten << " samples";
}
