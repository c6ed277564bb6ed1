#include "app/scan_driver.h"

#include "scan/scan_buffer.h"
#include "app/analyser_registry.h"
#include "analysers/core/scan_info.h"
#include "analysers/core/stream_analyser.h"
#include "app/auto_detection.h"
#include "app/clip_writer.h"
#include "app/entropy_map.h"
#include "app/exit_code.h"
#include "app/framend.h"
#include "app/progress_line.h"
#include "app/run_verdict.h"
#include "app/scan_loop.h"
#include "app/scan_range.h"
#include "camera/crm/crm_rebuild.h"
#include "log/log_file_sink.h"
#include "log/logger.h"
#include "output/output_verifier.h"
#include "output/output_writer.h"
#include "output/reference_verifier.h"
#include "output/repair_state.h"
#include "output/sample_collection.h"
#include "platform/file.h"
#include "qt/movie_file.h"
#include "reference/audio_parameters.h"
#include "reference/reference_info.h"
#include "reference/video_parameters.h"
#include "simcorr/simulated_corruption.h"

#include <algorithm>
#include <cctype>
#include <iostream>
#include <string>

namespace {

constexpr const char* kLogFileName = "framend.txt";
// Without any audio rate from command line, input or reference, assume what
// nearly every camera records.
constexpr uint32_t kFallbackSampleRate = 48000;

bool endsWithRsv(const std::string& name) {
    if (name.size() <= 3)
        return false;
    std::string tail = name.substr(name.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
    return tail == ".rsv";
}

bool referenceHasCompositionOffsets(const ReferenceInfo& ref) {
    const MovieTrack* video = ref.videoTrack();
    if (!video)
        return false;
    for (const auto& e : video->m_compositionOffsets)
        if (e.m_offset != 0)
            return true;
    return false;
}

// A fourcc typed on the command line: the trailing spaces of "raw " or
// "dvc " are easily left out, and shells drop them unless quoted.
std::string fourccText(std::string codec) {
    if (!codec.empty() && codec.size() < 4)
        codec.resize(4, ' ');
    return codec;
}

}  // namespace

bool ScanDriver::progress(double percent) {
    m_app.setProgressPercent(percent);
    m_app.onProgress();
    return m_app.cancelRequested();
}

void ScanDriver::prepareWorkingParameters() {
    OptionParser& o = m_app.options();
    RepairState& state = m_app.repairState();
    VideoParameters& video = *state.m_video;
    AudioParameters& audio = *state.m_audio;
    audio.m_codec = fourccText(o.getString("af", ""));
    audio.m_audioTracks = static_cast<uint32_t>(std::max(o.getInt("at", 0), 0));
    audio.m_sampleRate = static_cast<uint32_t>(std::max(o.getInt("ar", 0), 0));
    audio.m_channels = static_cast<uint32_t>(std::max(o.getInt("ac", 0), 0));
    audio.m_sampleSize = static_cast<uint32_t>(std::max(o.getInt("ab", 0), 0));
    video.m_codec = fourccText(o.getString("vf", ""));
    if (!video.m_codec.empty())
        video.m_class = videoClassForCodec(video.m_codec, 0);
    video.m_fps = std::max(o.getFloat("fps", 0.0f), 0.0f);
    video.m_width = static_cast<uint32_t>(std::max(o.getInt("fw", 0), 0));
    video.m_height = static_cast<uint32_t>(std::max(o.getInt("fh", 0), 0));
}

void ScanDriver::fillScanInfo(ScanBuffer& input) {
    OptionParser& o = m_app.options();
    ScanInfo& info = m_app.scanInfo();
    info.newClipDetection = o.isSet("nfd");
    info.pcmFilter = o.isSet("pcm");
    info.pcmStartAdjustment = o.getInt("pcmcut", 0);
    info.aacFilter = o.isSet("aac");
    info.noCompositionOffsets = false;
    info.autoDetection = o.isSet("auto");
    info.canonRepiMode = o.isSet("canonrepi");
    info.sonyRsvMode = o.isSet("sonyrsv");
    info.canonCrmMode = o.isSet("canoncrm") || o.isSet("canoncrmleading");
    info.canonCrmWrapped = false;
    info.singleNalPackets = o.isSet("single");
    info.strictFrameNumbers = o.isSet("strictfnc");
    info.qtReconstruction = o.isSet("qtrc");

    const int64_t size = input.fileSize();
    std::optional<int64_t> startOfs, stopOfs;
    if (o.isSet("startofs"))
        startOfs = o.getInt64("startofs", 0);
    if (o.isSet("stopofs"))
        stopOfs = o.getInt64("stopofs", 0);
    const ScanRange range = computeScanRange(size, o.getInt("start", 0), o.getInt("stop", 100), startOfs, stopOfs);
    info.currentOffset = range.start;
    info.stopOffset = range.stop;

    if (!o.isSet("sonyrsv") && endsWithRsv(m_app.inputFileName())) {
        info.sonyRsvMode = true;
        FLOG(LogLevel::Notice) << "auto selected Sony RSV recovery by input extension";
    }
}

void ScanDriver::createAnalysers() {
    RepairState& state = m_app.repairState();
    ScanInfo& info = m_app.scanInfo();
    AnalyserSettings settings;
    settings.atomScanner = m_app.options().isSet("atomdump") || info.qtReconstruction;
    settings.canonCrm = info.canonCrmMode;
    settings.sonyRsv = info.sonyRsvMode;
    settings.qtReconstruction = info.qtReconstruction;
    settings.canonRepi = info.canonRepiMode;
    settings.pcm = info.pcmFilter;
    settings.aac = info.aacFilter;
    const std::string& videoClass = state.m_video->m_class;
    const AnalyserChoice choice = AnalyserRegistry::choose(videoClass, settings);
    const AnalyserContext context{&state, &info, &m_app.clipWriter()};
    for (const AnalyserRow* row : choice.rows) {
        std::unique_ptr<StreamAnalyser> a = AnalyserRegistry::create(*row, context);
        if (a) {
            m_app.analysers().push_back(std::move(a));
            continue;
        }
        FLOG(LogLevel::Warning) << row->name << " is not available in this build; skipped";
        if (row == choice.videoRow)
            m_missingAnalyserFor = state.m_video->m_codec.empty() ? videoClass : state.m_video->m_codec;
    }
    if (choice.videoChosen) {
        if (choice.knownClass)
            FLOG(LogLevel::Notice) << "reference selected video analyser class: " << videoClass;
        else {
            FLOG(LogLevel::Notice) << "reference did not select a known video analyser; using fallback analyser set";
            m_unknownVideoCodec = state.m_video->m_codec;
        }
    }
}

void ScanDriver::activateAnalysers(int64_t fileSize) {
    ScanInfo& info = m_app.scanInfo();
    auto& active = m_app.activeAnalysers();
    active.clear();
    for (auto& a : m_app.analysers()) {
        if (a->accepts()) {
            FLOG(LogLevel::Notice) << "using analyser: " << a->name();
            active.push_back(a.get());
        }
    }
    FLOG(LogLevel::Notice) << "input size = " << fileSize;
    FLOG(LogLevel::Notice) << "start ofs  = " << info.currentOffset;
    FLOG(LogLevel::Notice) << " stop ofs  = " << info.stopOffset;
    FLOG(LogLevel::Notice) << "analyzers control range skips";
}

int ScanDriver::fail(int exitCode, const std::string& why) {
    RunVerdict verdict;
    verdict.exitCode = exitCode;
    verdict.failure = why;
    printVerdict(std::cerr, verdict);
    return exitCode;
}

int ScanDriver::complete() {
    OptionParser& o = m_app.options();
    RepairState& state = m_app.repairState();
    RunVerdict verdict;
    if (o.isSet("verify"))
        verdict.verify = verifyByReference(state);
    ClipWriter& clips = m_app.clipWriter();
    clips.finishLastClip();
    ReferenceInfo* ref = state.m_reference.get();
    if (ref && ref->isOpen() && ref->videoSamples().empty() && ref->audioSamples().empty())
        ref->collectSamples();
    if (o.isSet("verout")) {
        verdict.verout = verifyOutput(state);
        verdict.veroutFile = state.m_lastWrittenName;
    }
    FLOG(LogLevel::Info) << "scan end";
    // An atom dump that writes nothing is complete once the dump is logged,
    // like -dump, whatever the analysers beside it found.
    const bool dumpOnly = o.isSet("atomdump") && !m_app.scanInfo().qtReconstruction &&
                          state.m_requestedOutputName.empty() && state.m_rawVideoName.empty() &&
                          state.m_rawAudioName.empty();
    if (dumpOnly)
        return exit_code::kSuccess;
    // Scripts tell the outcome by the exit code; a person reads the verdict.
    verdict.movies = clips.moviesWritten();
    for (const RawStreamWriter* raw : {&state.m_rawVideo, &state.m_rawAudio})
        if (!raw->empty())
            verdict.rawStreams.emplace_back(raw == &state.m_rawVideo ? state.m_rawVideoName : state.m_rawAudioName,
                                            raw->bytesWritten());
    verdict.videoFound = clips.videoRecovered();
    verdict.audioFound = clips.audioRecovered();
    const bool nothing = clips.samplesRecovered() == 0;
    if (!m_missingAnalyserFor.empty()) {
        verdict.exitCode = exit_code::kNoAnalyser;
        verdict.failure = "no analyser in this build for video codec '" + m_missingAnalyserFor + "'; " +
                          (nothing ? "nothing was recovered" : "no video was recovered");
    } else if (nothing && !m_unknownVideoCodec.empty()) {
        // The fallback set looked for other codecs' pictures; saying that
        // nothing looked like this codec's would send the user hunting for
        // a better reference.
        verdict.exitCode = exit_code::kNoAnalyser;
        verdict.failure = "no analyser knows the reference's video codec '" + m_unknownVideoCodec +
                          "'; nothing was recovered";
    } else if (nothing) {
        verdict.exitCode = exit_code::kNothingRecovered;
        verdict.failure = "no samples were found; nothing was recovered: " + whyNothingWasFound(state, o.isSet("sim"));
    }
    printVerdict(std::cerr, verdict);
    return verdict.exitCode;
}

int ScanDriver::run(const std::string& inputFileName) {
    OptionParser& o = m_app.options();
    m_app.resetRunState();
    RepairState& state = m_app.repairState();
    ScanInfo& info = m_app.scanInfo();

    m_app.setInputFileName(inputFileName);
    simcorr::reset();
    setOutputNames(state, o.getString("o"), o.getString("oa"), o.getString("ov"));
    const std::string referenceName = o.getString("ref", inputFileName);
    m_app.setReferenceFileName(referenceName);

    // Nothing may be opened for writing over the files the repair reads.
    if (!checkOutputNames(state, inputFileName, referenceName))
        return fail(exit_code::kFailure, "an output name is the input or the reference file; nothing was written");
    if (o.isSet("log")) {
        if (!outputNameAllowed(kLogFileName, inputFileName, referenceName))
            return fail(exit_code::kFailure, std::string("the log file ") + kLogFileName +
                                                 " would overwrite the input or the reference; nothing was written");
        Logger& logger = m_app.logger();
        logger.addSink(new LogFileSink(kLogFileName, true), logger.level());
    }
    state.m_check = o.isSet("check");
    prepareWorkingParameters();
    info.referencePriority = o.isSet("refprio");

    if (o.isSet("simcorr") &&
        !simcorr::setup(inputFileName, static_cast<uint64_t>(o.getInt64("simcorr", 0)), o.getInt("corrlvl", 5)))
        return fail(exit_code::kFailure, "the simulated damage (-simcorr) could not be set up");

    ScanBuffer input;
    if (!input.open(inputFileName)) {
        FLOG(LogLevel::Fatal) << "error opening input file";
        return fail(exit_code::kFailure, "cannot open the input file '" + inputFileName + "'");
    }
    state.m_inputFileName = inputFileName;
    state.m_referenceFileName = referenceName;
    const bool referenceIsInput = referenceName == inputFileName;
    if (referenceIsInput)
        FLOG(LogLevel::Warning) << "using input file as reference!";
    info.referenceIsInput = referenceIsInput;
    state.m_referenceIsInput = referenceIsInput;

    state.m_reference = ReferenceInfo::build(referenceName, false);
    ReferenceInfo& ref = *state.m_reference;
    if (!ref.isOpen())
        FLOG(LogLevel::Warning) << "error opening reffile => poor repair results!";

    // Fill-if-unset: the command line (already in place) wins, then input and
    // reference in the order -refprio decides.
    {
        std::unique_ptr<ReferenceInfo> fromInput = ReferenceInfo::build(inputFileName, info.referencePriority);
        if (info.referencePriority) {
            state.m_video->mergeFrom(ref.video());
            state.m_audio->mergeFrom(ref.audio());
            state.m_video->mergeFrom(fromInput->video());
            state.m_audio->mergeFrom(fromInput->audio());
        } else {
            state.m_video->mergeFrom(fromInput->video());
            state.m_audio->mergeFrom(fromInput->audio());
            state.m_video->mergeFrom(ref.video());
            state.m_audio->mergeFrom(ref.audio());
        }
    }

    ref.analyseChunks();
    // Printed once the chunk layout exists, so its figures are the
    // reference's and not the zeros they start as.
    if (m_app.printReferenceParameters()) {
        FLOG(LogLevel::Notice) << "---------reffile parameters----------";
        ref.print();
        FLOG(LogLevel::Notice) << "---------reffile parameters complete-----";
    }
    if (o.isSet("verify") || o.isSet("sim"))
        ref.collectSamples();
    if (state.m_audio->m_sampleRate == 0)
        state.m_audio->m_sampleRate = kFallbackSampleRate;

    FLOG(LogLevel::Info) << "------------------------";
    state.m_video->print();
    state.m_audio->print();
    FLOG(LogLevel::Info) << "------------------------";

    reset_clip(state, true);

    if (o.isSet("entropy")) {
        runEntropyMap(inputFileName, o.getInt("entropy", 0), [this](double p) { return progress(p); });
        m_app.setCancelRequested(false);
    }

    info.resetCounters();
    fillScanInfo(input);
    if (info.autoDetection)
        runAutoDetection(input, state.m_video->m_class, info);

    bool noCtts = o.isSet("noctts");
    // The camera modes take each picture's offset from its order count, so a
    // reference without offsets says nothing about the recording's B-frames.
    const bool cameraOrder = info.sonyRsvMode || info.canonRepiMode;
    if (info.autoDetection && !cameraOrder && ref.videoTrack() && !referenceHasCompositionOffsets(ref)) {
        noCtts = true;
        FLOG(LogLevel::Notice) << "auto selected no-ctts output candidate";
    }
    info.noCompositionOffsets = noCtts;
    state.m_ignoreCompositionOffsets = noCtts;
    state.m_savePortion = static_cast<uint32_t>(std::clamp(o.getInt("save", 100), 0, 100));

    state.m_canonCrmAutoSelected = info.autoDetection && info.canonCrmMode;
    state.m_canonCrmLeading = o.isSet("canoncrmleading");
    state.m_canonCrmTailFade = !o.isSet("canoncrmnotailfade") && !o.isSet("canoncrmleading");

    if (info.canonCrmMode && o.isSet("o") && !referenceIsInput && ref.isOpen()) {
        FLOG(LogLevel::Notice) << "Canon CRM output container mode enabled";
        if (crm::rebuildCanonCrm(state)) {
            input.close();
            RunVerdict verdict;
            verdict.movies.push_back(state.m_requestedOutputName);
            printVerdict(std::cerr, verdict);
            return exit_code::kSuccess;
        }
        FLOG(LogLevel::Warning) << "Canon CRM output container mode failed; falling back to sample analyser";
    }

    if (o.isSet("sim")) {
        FLOG(LogLevel::Notice) << "simulating successful scan...";
        importReferenceSamples(state);
        input.close();
        return complete();
    }

    createAnalysers();
    activateAnalysers(input.fileSize());
    {
        const int64_t end = info.stopOffset != 0 ? std::min(info.stopOffset + 1, input.fileSize()) : input.fileSize();
        std::unique_ptr<ProgressLine> line = ProgressLine::forTerminal(m_app.logger(), info.currentOffset, end);
        const ClipWriter& clips = m_app.clipWriter();
        auto draw = [&] {
            if (line)
                line->show(info.currentOffset, clips.videoRecovered() + state.videoSampleCount(),
                           clips.audioRecovered() + state.audioSampleCount());
        };
        draw();
        // Each clip of a split recording is a movie of its own; the payload
        // copy follows the scan for a run of one clip only.
        state.m_precopyAllowed = !info.newClipDetection;
        runScanLoop(
            input, info, m_app.activeAnalysers(),
            [&](double percent) {
                draw();
                return progress(percent);
            },
            [&state] { precopyPayload(state); });
    }
    input.close();
    return complete();
}
