#include "output/output_writer.h"

#include "log/logger.h"
#include "output/caption_timing.h"
#include "output/leading_edits.h"
#include "output/sound_tail.h"
#include "output/single_chunk_tracks.h"
#include "output/trailing_chunks.h"
#include "output/timecode_track.h"
#include "output/payload_precopy.h"
#include "output/payload_span.h"
#include "output/picture_durations.h"
#include "output/sound_paced_video.h"
#include "output/sample_run_reader.h"
#include "output/sample_check.h"
#include "platform/calendar_time.h"
#include "platform/file.h"
#include "qt/atom_codecs.h"
#include "qt/movie_file.h"
#include "qt/movie_reader.h"
#include "qt/movie_writer.h"
#include "reference/audio_frame_duration.h"
#include "reference/audio_parameters.h"
#include "reference/config_bytes.h"
#include "reference/reference_info.h"
#include "reference/sound_codecs.h"
#include "reference/video_parameters.h"
#include "simcorr/simulated_corruption.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iomanip>

namespace {

// Samples are read back in runs of at most this many bytes; a recording's
// chunk of video fits, and each run is written to the movie in one call.
constexpr size_t kDumpBufferCapacity = 4 << 20;
// A movie needs some timescale; 600 is QuickTime's classic default and what
// players assume for a movie without one.
constexpr uint32_t kFallbackMovieTimescale = 600;

const ReferenceInfo* referenceMovie(const RepairState& state) {
    return state.m_reference && state.m_reference->isOpen() ? state.m_reference.get() : nullptr;
}

// total x percent / 100 without overflow for any percent the option admits.
uint64_t portionOf(uint64_t total, uint32_t percent) {
    const unsigned __int128 v = static_cast<unsigned __int128>(total) * percent / 100;
    return v > UINT64_MAX ? UINT64_MAX : uint64_t(v);
}

void openRawStream(RawStreamWriter& stream, const std::string& name, const char* what) {
    if (name.empty() || stream.isOpen())
        return;
    if (!stream.open(name))
        FLOG(LogLevel::Error) << "cannot create raw " << what << " output file " << name;
}

void writeRawVideo(RepairState& state, const uint8_t* data, uint32_t size) {
    if (!state.m_rawVideo.isOpen())
        return;
    const Fourcc codec = fourccFromText(state.m_video->m_codec);
    // The stream header comes from the reference when there is one, else from
    // the working parameters (which the reference filled in the first place).
    const ReferenceInfo* reference = referenceMovie(state);
    const H264Config* avc = &state.m_video->m_avc;
    const HEVCConfig* hevc = &state.m_video->m_hevc;
    const ESDescriptor* esds = &state.m_video->m_esds;
    if (reference && reference->videoTrack()) {
        avc = reference->videoAvcConfig();
        hevc = reference->videoHevcConfig();
        esds = reference->videoEsds();
    }
    state.m_rawVideo.writeVideoSample(codec, data, size, avc, hevc, esds);
}

// Into the track at once, or through the span that writes a run of them.
// False when the track did not take the sample.
bool addSample(MovieFile* movie, MovieTrack* track, PayloadSpan* span, const uint8_t* data, int64_t inputOffset,
               uint32_t size, uint32_t compositionOffset) {
    if (span)
        return span->add(track, data, inputOffset, size, compositionOffset);
    const uint32_t before = track ? track->m_sampleCount : 0;
    QTAddSamples(movie, track, data, size, compositionOffset);
    return track && track->m_sampleCount > before;
}

void addAudio(RepairState& state, int track, const uint8_t* data, uint32_t size, int64_t inputOffset,
              PayloadSpan* span) {
    MovieFile* movie = state.m_outputMovie;
    MovieTrack* output = track < movie->m_audioTrackCount ? movie->m_audioTracks[track] : nullptr;
    addSample(movie, output, span, data, inputOffset, size, 0);
    if (state.m_check)
        checkAudioSample(state, output, track, inputOffset);
}

// A further sound track of the reference is its own recording (another
// microphone, a commentary, another language): its codec, rate, channels and
// configuration are its own, not the first track's.
MovieTrack* addTrackLike(MovieFile* movie, const MovieTrack& source) {
    const std::string codec = source.m_codec == 0 ? std::string() : fourccString(source.m_codec);
    const uint32_t rate = source.m_audioSampleRate > 0 ? source.m_audioSampleRate : source.m_mediaTimescale;
    uint32_t duration = source.m_sampleDuration > 0 ? source.m_sampleDuration : kDefaultAudioSampleDuration;
    // Compressed frames last what the codec's frames last, as on the first
    // sound track: a recorder's table may jitter around it (1056 and 960 for
    // 1024), and its most common entry is then off.
    if (source.m_fixedSampleSize == 0)
        if (const uint32_t frame = audioFrameDuration(source, rate))
            duration = frame;
    MovieTrack* track = QTAddAudioTrack(movie, codec, duration, rate, source.m_audioSampleSize, source.m_audioChannels,
                                        source.m_fixedSampleSize);
    if (track && source.m_esds.m_rawLength > 0)
        QTCopyCodecConfig(track, source.m_esds.m_raw, source.m_esds.m_rawLength, nullptr, nullptr, nullptr);
    return track;
}

// A metadata track takes the description (a 'mebx' track's keys, say),
// handler and timing of the reference's track in the same place, so readers
// understand its samples.
void describeLikeReference(const RepairState& state, MovieTrack& track, int index) {
    const ReferenceInfo* reference = referenceMovie(state);
    const auto& tracks = reference ? reference->interleaveCycle().metadataTracks() : std::vector<InterleaveTrack>();
    if (index < 0 || size_t(index) >= tracks.size())
        return;
    const MovieTrack* source = reference->track(tracks[size_t(index)].trackIndex);
    if (!source)
        return;
    track.m_handlerType = source->m_handlerType;
    track.m_codec = source->m_codec;
    track.m_mediaTimescale = source->m_mediaTimescale;
    track.m_sampleDuration = source->m_sampleDuration;
    track.m_fixedSampleSize = source->m_fixedSampleSize;
    track.m_descriptionBody = source->m_descriptionBody;
}

}  // namespace

namespace {

// The clip's movie file with its header, nothing more; null when the name is
// not set, not allowed or the file cannot be created.
MovieFile* createMovieFile(const RepairState& state) {
    if (state.m_outputBase.empty() || state.m_outputName.empty())
        return nullptr;
    // Clip names are made up during the run; none of them may hit an input.
    if (!outputNameAllowed(state.m_outputName, state.m_inputFileName, state.m_referenceFileName))
        return nullptr;
    const ReferenceInfo* reference = state.m_reference.get();
    const BrandRecord* brand = reference ? &reference->movieParameters().m_brand : nullptr;
    uint32_t timescale = reference ? reference->movieParameters().m_timescale : 0;
    if (timescale == 0)
        timescale = kFallbackMovieTimescale;
    return QTCreate(state.m_outputName, brand, timescale, 0);
}

// The movie the copier filled during the scan when it is this clip's; the
// copier is done with either way.
MovieFile* takePrecopiedMovie(RepairState& state, PrecopiedRun& run) {
    run = PrecopiedRun();
    if (!state.m_precopy)
        return nullptr;
    MovieFile* movie = state.m_precopy->movieName() == state.m_outputName
                           ? state.m_precopy->take(state.m_samples, run)
                           : nullptr;
    state.m_precopy.reset();
    uint64_t bytes = 0;
    for (const PrecopiedRun::Piece& p : run.pieces)
        bytes += p.length;
    FLOG(LogLevel::Debug) << "payload in place from the scan: " << bytes << " bytes in " << run.pieces.size()
                          << " pieces";
    return movie;
}

}  // namespace

void ensure_created(RepairState& state, PrecopiedRun* precopied) {
    if (state.m_outputBase.empty() || state.m_outputName.empty() || state.m_outputMovie)
        return;
    FLOG(LogLevel::Debug) << "ensure_created";
    PrecopiedRun run;
    MovieFile* movie = takePrecopiedMovie(state, run);
    if (!movie)
        movie = createMovieFile(state);
    if (!movie)
        return;
    if (precopied)
        *precopied = run;
    const ReferenceInfo* reference = state.m_reference.get();
    state.m_outputMovie = movie;
    state.m_lastWrittenName = state.m_outputName;
    movie->m_layoutMode = state.m_layoutMode;
    if (const MovieTrack* audio = reference ? reference->audioTrack(0) : nullptr) {
        if (audio->m_fixedSampleSize != 0) {
            state.m_audioSampleDuration = audio->m_sampleDuration;
            state.m_audioFixedSampleSize = audio->m_fixedSampleSize;
        } else if (const uint32_t duration = audioFrameDuration(*audio, state.m_audio->m_sampleRate)) {
            // Compressed frames last what the codec's frames last: 1024 or
            // 960 samples for AAC, 1152 for MPEG audio layer II/III. Never
            // one entry of the reference's table: phones give the first
            // AAC frame a longer duration than all the others.
            state.m_audioSampleDuration = duration;
        }
    }
    if (const MovieTrack* video = reference ? reference->videoTrack() : nullptr)
        std::memcpy(movie->m_videoMatrix, video->m_matrix, sizeof movie->m_videoMatrix);
}

void create_video_track(RepairState& state) {
    MovieFile* movie = state.m_outputMovie;
    if (!movie)
        return;
    const VideoParameters& video = *state.m_video;
    FLOG(LogLevel::Debug) << "***" << video.m_codec;
    // Without a video codec (an audio-only recording) there is nothing a
    // video track could describe.
    if (video.m_codec.empty())
        return;
    MovieTrack* track =
        QTAddVideoTrack(movie, video.m_codec, video.m_timescale, double(video.m_fps), video.m_width, video.m_height);
    if (!track)
        return;
    QTCopyCodecConfig(track, video.m_rawEsds.empty() ? nullptr : video.m_rawEsds.data(),
                      uint32_t(video.m_rawEsds.size()), &video.m_avc, &video.m_hevc, &video.m_colour);
    // An HEVC recorder's description says more than the parsed fields keep
    // (parameter sets and SEI longer than a stored unit, colour, HDR, Dolby
    // Vision and layer boxes): the output takes the reference's as it is,
    // unless the parameter sets were rebuilt from the recording itself.
    const ReferenceInfo* reference = referenceMovie(state);
    const MovieTrack* source = reference ? reference->videoTrack() : nullptr;
    if (source)
        copyLeadingEmptyEdits(*source, reference->movieParameters().m_timescale, movie->m_movieTimescale, *track);
    if (source && source->m_codec == track->m_codec &&
        (track->m_codec == makeFourcc("hvc1") || track->m_codec == makeFourcc("hev1")) &&
        hevcConfigBytes(source->m_hevc) == hevcConfigBytes(video.m_hevc))
        track->m_descriptionBody = source->m_descriptionBody;
}

void create_audio_tracks(RepairState& state) {
    FLOG(LogLevel::Debug) << "create_audio_tracks";
    MovieFile* movie = state.m_outputMovie;
    if (!movie)
        return;
    const AudioParameters& audio = *state.m_audio;
    if (audio.m_codec.empty())
        return;
    const ReferenceInfo* reference = state.m_reference.get();
    if ((!reference || !reference->audioTrack(0)) && isLinearPcmCodec(audio.m_codec)) {
        // One sample is one sample frame: every channel's value, or the sound
        // would last as many times too long as it has channels.
        state.m_audioSampleDuration = 1;
        state.m_audioFixedSampleSize = std::max<uint32_t>(audio.m_channels, 1) * (audio.m_sampleSize / 8);
    }
    // An audio codec given on the command line asks for audio even when the
    // reference has no audio track to count.
    const uint32_t tracks = std::max<uint32_t>(audio.m_audioTracks, 1);
    for (uint32_t i = 0; i < tracks; ++i) {
        const MovieTrack* source = reference ? reference->audioTrack(int(i)) : nullptr;
        MovieTrack* track = i > 0 && source ? addTrackLike(movie, *source)
                                            : QTAddAudioTrack(movie, audio.m_codec, state.m_audioSampleDuration,
                                                              audio.m_sampleRate, audio.m_sampleSize, audio.m_channels,
                                                              state.m_audioFixedSampleSize);
        if (!track)
            break;
        if (i == 0 || !source)
            QTCopyCodecConfig(track, audio.m_rawEsds.empty() ? nullptr : audio.m_rawEsds.data(),
                              uint32_t(audio.m_rawEsds.size()), &audio.m_avc, &audio.m_hevc, nullptr);
        if (source) {
            track->m_endianness = source->m_endianness;
            track->m_lpcmFlags = source->m_lpcmFlags;
            track->m_extraAtom = source->m_extraAtom;
            // Keep the reference's start of presentation: the delay its
            // empty edits give the sound, and the priming samples AAC
            // encoders put in front that an edit list skips.
            if (track->m_editList.empty()) {
                const int delays = copyLeadingEmptyEdits(*source, reference->movieParameters().m_timescale,
                                                         movie->m_movieTimescale, *track);
                size_t first = 0;
                while (first < source->m_editList.size() && source->m_editList[first].m_mediaTime == -1)
                    ++first;
                const int32_t start = first < source->m_editList.size() ? source->m_editList[first].m_mediaTime : 0;
                if (start > 0 || delays > 0) {
                    EditListEntry e;
                    e.m_trackDuration = 0;  // filled with the movie's length when the movie is closed
                    e.m_mediaTime = std::max(start, 0);
                    e.m_mediaRate = 1.0;
                    track->m_editList.push_back(e);
                }
            }
        }
    }
}

namespace {

// `sync`: what the analyser that found the picture said of it.
void videoSample(RepairState& state, const uint8_t* data, int64_t inputOffset, uint32_t size,
                 int32_t compositionOffset, PayloadSpan* span, SyncState sync = SyncState::Unknown) {
    MovieFile* movie = state.m_outputMovie;
    if (!movie)
        return;
    FLOG(LogLevel::Trace) << "dump_video_samples";
    if (addSample(movie, movie->m_videoTrack, span, data, inputOffset, size, uint32_t(compositionOffset)) &&
        sync != SyncState::Unknown)
        QTMarkLastSampleSync(movie->m_videoTrack, sync == SyncState::Sync);
}

void audioSample(RepairState& state, const uint8_t* data, uint32_t size, int64_t inputOffset, int32_t audioWord,
                 PayloadSpan* span) {
    FLOG(LogLevel::Trace) << "dump_audio_samples";
    MovieFile* movie = state.m_outputMovie;
    if (!movie)
        return;
    const int tracks = movie->m_audioTrackCount;
    if (tracks < 2) {
        addAudio(state, 0, data, size, inputOffset, span);
        return;
    }
    if (audioWord >= 0 && audioWord < tracks) {
        addAudio(state, audioWord, data, size, inputOffset, span);
        return;
    }
    // One interleave cycle: a chunk of each track in turn.
    const uint32_t chunk = state.m_reference ? state.m_reference->layout().m_audioChunkSize : 0;
    uint32_t done = 0;
    for (int t = 0; t < tracks && done < size; ++t) {
        const uint32_t n = chunk == 0 ? size - done : std::min(size - done, chunk);
        addAudio(state, t, data ? data + done : nullptr, n, inputOffset + done, span);
        done += n;
    }
}

void metaSample(RepairState& state, const uint8_t* data, int64_t inputOffset, uint32_t size, int index,
                PayloadSpan* span) {
    MovieFile* movie = state.m_outputMovie;
    if (!movie || index < 0 || index >= kMaxTracks)
        return;
    const bool created = movie->m_metaTracks[index] != nullptr;
    MovieTrack* track = QTGetMetaTrack(movie, index);
    if (track && !created)
        describeLikeReference(state, *track, index);
    addSample(movie, track, span, data, inputOffset, size, 0);
}

// The metadata the recorder wrote behind its last picture and sound, and
// one-sample tracks between two chunks. A track of one chunk gets a slot
// behind the interleaved ones.
void writeTrailingSamples(RepairState& state, const std::vector<TrailingSample>& samples) {
    MovieFile* movie = state.m_outputMovie;
    const ReferenceInfo* reference = referenceMovie(state);
    if (!movie || !reference)
        return;
    platform::File input;
    if (samples.empty() || !input.open(state.m_inputFileName, platform::File::Mode::Read))
        return;
    const int interleaved = int(reference->interleaveCycle().metadataTracks().size());
    std::vector<const MovieTrack*> single;
    std::vector<uint8_t> data;
    for (const TrailingSample& s : samples) {
        data.resize(s.size);
        if (input.readAt(s.offset, data.data(), s.size) != s.size)
            return;
        if (s.metadataIndex >= 0) {
            metaSample(state, data.data(), s.offset, s.size, s.metadataIndex, nullptr);
            continue;
        }
        const auto known = std::find(single.begin(), single.end(), s.source);
        const int slot = interleaved + int(known - single.begin());
        if (known == single.end())
            single.push_back(s.source);
        if (slot >= kMaxTracks)
            continue;
        const bool created = movie->m_metaTracks[slot] != nullptr;
        MovieTrack* track = QTGetMetaTrack(movie, slot);
        if (!track)
            continue;
        if (!created) {
            track->m_handlerType = s.source->m_handlerType;
            track->m_codec = s.source->m_codec;
            track->m_mediaTimescale = s.source->m_mediaTimescale;
            track->m_sampleDuration = s.source->m_sampleDuration;
            track->m_descriptionBody = s.source->m_descriptionBody;
            track->m_width = s.source->m_width;
            track->m_height = s.source->m_height;
        }
        // Such a track's few samples last what the reference's did, one by
        // one: a motion photo's still holds the whole clip, the ones behind
        // it nothing.
        const uint32_t duration =
            qt::sampleDurationAt(s.source->m_timeToSample, track->m_sampleCount, s.source->m_sampleDuration);
        track->m_sampleDuration = duration;
        const bool added = addSample(movie, track, nullptr, data.data(), s.offset, s.size, 0);
        track->m_sampleDuration = s.source->m_sampleDuration;
        if (added)
            qt::appendSampleDuration(track->m_timeToSample, duration);
    }
    FLOG(LogLevel::Notice) << "metadata of tracks outside the interleave: " << samples.size() << " samples";
}

}  // namespace

void dump_video_samples(RepairState& state, const uint8_t* data, uint32_t size, int32_t compositionOffset) {
    videoSample(state, data, -1, size, compositionOffset, nullptr);
}

void dump_audio_samples(RepairState& state, const uint8_t* data, uint32_t size, int64_t inputOffset,
                        int32_t audioWord) {
    audioSample(state, data, size, inputOffset, audioWord, nullptr);
}

void dump_meta_samples(RepairState& state, const uint8_t* data, uint32_t size) {
    metaSample(state, data, -1, size, 0, nullptr);
}

namespace {

double videoSeconds(const RepairState& state, uint64_t samples) {
    const MovieTrack* video = state.m_outputMovie ? state.m_outputMovie->m_videoTrack : nullptr;
    if (!video || video->m_mediaTimescale == 0)
        return 0;
    return double(samples) * video->m_sampleDuration / video->m_mediaTimescale;
}

// The reference's first caption track among its metadata tracks; -1: none.
int captionIndex(const ReferenceInfo& reference) {
    const auto& tracks = reference.interleaveCycle().metadataTracks();
    for (size_t i = 0; i < tracks.size() && i < size_t(kMaxTracks); ++i)
        if (tracks[i].codec == makeFourcc("tx3g") || tracks[i].codec == makeFourcc("text"))
            return int(i);
    return -1;
}

// Only a caption track's samples lack a rhythm of their own; other timed
// metadata keeps the reference's sample duration.
void timeCaptions(RepairState& state, const CaptionTiming& captions, int index, const InterleaveTrack* reference) {
    MovieFile* movie = state.m_outputMovie;
    MovieTrack* track = movie && index >= 0 ? movie->m_metaTracks[index] : nullptr;
    // A clip dumped in several passes has samples this pass did not see.
    if (!track || (track->m_codec != makeFourcc("tx3g") && track->m_codec != makeFourcc("text")) ||
        track->m_mediaTimescale == 0 || track->m_sampleCount != captions.sampleCount())
        return;
    track->m_timeToSample.clear();
    uint64_t duration = 0;
    for (const TimeToSampleEntry& e : captions.table(track->m_mediaTimescale, track->m_sampleDuration,
                                                             reference ? reference->pauseSeconds : 0,
                                                             reference ? reference->cueSeconds : 0)) {
        track->m_timeToSample.push_back(e);
        duration += uint64_t(e.m_sampleCount) * e.m_duration;
    }
    track->m_mediaDuration = uint32_t(std::min<uint64_t>(duration, UINT32_MAX));
    const double movieUnits = std::floor(double(duration) * movie->m_movieTimescale / track->m_mediaTimescale);
    track->m_trackDuration = movieUnits >= double(UINT32_MAX) ? UINT32_MAX : uint32_t(movieUnits);
}

}  // namespace

void precopyPayload(RepairState& state) {
    if (!state.m_precopy) {
        if (!state.m_precopyAllowed || state.m_samples.empty())
            return;
        // Only when the writer would copy every sample's bytes from the input
        // into one movie: what it does otherwise (raw streams, checks, damage
        // simulated on the bytes read, part of the samples) is not a copy.
        state.m_precopyAllowed = false;
        if (state.m_outputMovie || !state.m_rawVideoName.empty() || !state.m_rawAudioName.empty() || state.m_check ||
            state.m_savePortion < 100 || simcorr::damages(state.m_inputFileName))
            return;
        MovieFile* movie = createMovieFile(state);
        if (!movie)
            return;
        state.m_precopy = std::make_unique<PayloadPrecopy>(movie, state.m_inputFileName);
    }
    if (state.m_scanHasHelper)
        state.m_precopy->giveWayToScan();
    state.m_precopy->follow(state.m_samples);
}

void dumpSamples(RepairState& state) {
    if (state.m_samples.empty()) {
        state.m_precopy.reset();
        FLOG(LogLevel::Notice) << "nothing to dump";
        return;
    }
    FLOG(LogLevel::Notice) << "dumping " << state.m_savePortion << "% of " << state.m_outputName << "...";
    PrecopiedRun precopied;
    ensure_created(state, &precopied);
    // A movie of an earlier dump of this clip already has its tracks.
    if (state.m_outputMovie && state.m_outputMovie->m_trackCount == 0) {
        create_video_track(state);
        create_audio_tracks(state);
        paceVideoBySound(state);
    }
    openRawStream(state.m_rawVideo, state.m_rawVideoName, "video");
    openRawStream(state.m_rawAudio, state.m_rawAudioName, "audio");

    const uint64_t videoLimit = portionOf(state.m_totalVideoSize, state.m_savePortion);
    const uint64_t audioLimit = portionOf(state.m_totalAudioSize, state.m_savePortion);
    FLOG(LogLevel::Notice) << "dumping total video size: " << videoLimit;
    FLOG(LogLevel::Notice) << "dumping total audio size: " << audioLimit;

    const bool haveDestination = state.m_outputMovie || state.m_rawVideo.isOpen() || state.m_rawAudio.isOpen();
    SampleRunReader input(kDumpBufferCapacity);
    if (haveDestination && !input.open(state.m_inputFileName)) {
        FLOG(LogLevel::Error) << "dump: cannot read the input file " << state.m_inputFileName;
        return;
    }

    const uint64_t total = state.m_totalVideoSize + state.m_totalAudioSize;
    uint64_t videoWritten = 0;
    uint64_t audioWritten = 0;
    CaptionTiming captions(state.m_samples);
    int64_t metaEnd = -1;
    const ReferenceInfo* reference = referenceMovie(state);
    const int captionTrack = reference ? captionIndex(*reference) : -1;
    const InterleaveTrack* captionReference =
        captionTrack >= 0 ? &reference->interleaveCycle().metadataTracks()[size_t(captionTrack)] : nullptr;
    const double captionLag = captionReference ? captionReference->chunkLagSeconds : 0;
    bool portionReached = false;
    std::time_t lastProgress = platform::calendarTime();
    // Samples that follow each other in the input and in the list are copied
    // with one read and one write; the span is written out before the bytes
    // it points to are replaced. When the movie is all the bytes go to, and
    // they are the file's own (no simulated damage), they go from file to
    // file without being read here at all.
    platform::File source;
    if (state.m_outputMovie && !state.m_rawVideo.isOpen() && !state.m_rawAudio.isOpen() && !state.m_check &&
        !simcorr::damages(state.m_inputFileName))
        source.open(state.m_inputFileName, platform::File::Mode::Read);
    PayloadSpan span(state.m_outputMovie, source.isOpen() ? &source : nullptr, precopied);
    const FoundSampleList& samples = state.m_samples;
    int64_t trailingFrom = -1;
    const std::vector<TrailingSample> trailing = trailingSamples(state, trailingFrom);
    for (size_t i = 0; i < samples.size(); ++i) {
        const MediaSample& sample = samples[i];
        if (trailingFrom >= 0 && sample.offset >= trailingFrom)
            continue;
        // The whole recording's caption chunks may follow its last sound.
        if (videoWritten >= videoLimit && audioWritten >= audioLimit &&
            (sample.kind != SampleKind::Meta || state.m_savePortion < 100)) {
            portionReached = true;
            break;
        }
        if (!haveDestination)
            break;
        const uint32_t size = sample.size > 0 ? uint32_t(sample.size) : 0;
        // A larger sample, or one the file ends inside, is read into its own
        // zero-filled block.
        const uint8_t* data = nullptr;
        ByteBlock block;
        const bool copied = source.isOpen() && size > 0 && input.wholeInFile(sample);
        if (!copied && !input.holds(sample)) {
            span.flush();
            if (!input.load(samples, i) && size > 0) {
                block = input.readBlock(sample);
                if (block.capacity() < size) {
                    FLOG(LogLevel::Error) << "dump: cannot hold a sample of " << size << " bytes";
                    continue;
                }
                data = block.data();
            }
        }
        if (!copied && !data && input.holds(sample))
            data = input.data(sample);
        if (sample.isVideo()) {
            if (videoWritten < videoLimit) {
                videoSample(state, data, sample.offset, size, sample.extra, &span, sample.sync);
                writeRawVideo(state, data, size);
                videoWritten += size;
            }
        } else if (sample.kind == SampleKind::Meta) {
            // Metadata is neither sound nor part of the audio totals; each
            // of the reference's metadata tracks has its own.
            metaSample(state, data, sample.offset, size, sample.extra, &span);
            if (sample.extra == captionTrack) {
                const double seconds = videoSeconds(state, captions.videoBefore(sample.offset));
                captions.add(seconds - captionLag, sample.offset == metaEnd, size <= 2);
                metaEnd = sample.offset + size;
            }
        } else {
            if (audioWritten >= audioLimit)
                continue;
            audioSample(state, data, size, sample.offset, sample.extra, &span);
            state.m_rawAudio.writeRaw(data, size);
            audioWritten += size;
        }
        // The block goes with this iteration.
        if (block.capacity() > 0)
            span.flush();
        if (logEnabled(LogLevel::Info)) {
            const std::time_t now = platform::calendarTime();
            if (platform::secondsBetween(now, lastProgress) >= 1.0) {
                const uint64_t written = videoWritten + audioWritten;
                FLOG(LogLevel::Info) << "progress ofs=" << std::setw(12) << written << " - "
                                     << (total ? written * 100 / total : 100) << "%";
                lastProgress = now;
            }
        }
    }
    span.flush();
    // One-sample tracks between two chunks: a timecode has its own track
    // rules, the others are written as those behind the last chunk.
    std::vector<TrailingSample> placed = singleChunkSamples(state);
    const auto timecodes = std::stable_partition(placed.begin(), placed.end(), [](const TrailingSample& s) {
        return s.source->m_handlerType != makeFourcc("tmcd");
    });
    std::vector<TrailingSample> metadata(placed.begin(), timecodes);
    metadata.insert(metadata.begin(), trailing.begin(), trailing.end());
    writeTrailingSamples(state, metadata);
    if (portionReached)
        FLOG(LogLevel::Notice) << "save portion reached";
    applyPictureDurations(state);
    preserveReferenceTiming(state);
    addTimecodeTrack(state, timecodes == placed.end() ? nullptr : &*timecodes);
    trimSoundTails(state);
    timeCaptions(state, captions, captionTrack, captionReference);
    FLOG(LogLevel::Notice) << "dump completed";
}

void preserveReferenceTiming(RepairState& state) {
    MovieFile* movie = state.m_outputMovie;
    const ReferenceInfo* reference = referenceMovie(state);
    if (!state.m_samplesFromReference || !movie || !movie->m_videoTrack || !reference || !reference->videoTrack())
        return;
    MovieTrack& output = *movie->m_videoTrack;
    const MovieTrack& source = *reference->videoTrack();
    if (source.m_timeToSample.empty() || source.m_sampleCount != output.m_sampleCount)
        return;
    output.m_timeToSample = source.m_timeToSample;
    const uint64_t duration = qt::totalSampleDuration(output.m_timeToSample);
    output.m_mediaDuration = uint32_t(duration);
    if (output.m_mediaTimescale != 0) {
        const double movieUnits =
            std::floor(double(duration) * movie->m_movieTimescale / output.m_mediaTimescale + 0.5);
        const uint32_t converted = movieUnits >= double(UINT32_MAX) ? UINT32_MAX : uint32_t(movieUnits);
        output.m_trackDuration = converted;
        movie->m_movieDuration = converted;
    }
    FLOG(LogLevel::Notice) << "preserved reference video timing table: entries=" << output.m_timeToSample.size()
                           << " duration=" << duration;
}
