#pragma once
// The per-run repair state: working parameters, the reference, the list of
// samples the analysers found, the clip and output names, and the files the
// output writer fills. The collection, output and verification operations
// (sample_collection.h, output_writer.h, ...) are free functions on it.

#include "scan/media_sample.h"
#include "output/raw_stream_writer.h"
#include "qt/qt_types.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct MovieFile;
class PayloadPrecopy;
class ReferenceInfo;
struct VideoParameters;
struct AudioParameters;

// AAC frames carry 1024 PCM samples each; the audio track is timed in those
// units unless the reference says otherwise (fixed-size PCM).
constexpr uint32_t kDefaultAudioSampleDuration = 1024;
constexpr uint32_t kDefaultSavePortion = 100;

struct RepairState {
    RepairState();
    // Completes an output movie that is still open and closes the raw streams.
    ~RepairState();
    RepairState(const RepairState&) = delete;
    RepairState& operator=(const RepairState&) = delete;

    // Working parameters: command line, input and reference merged. Heap
    // records, since the codec storage of each is several hundred KiB.
    std::unique_ptr<VideoParameters> m_video;
    std::unique_ptr<AudioParameters> m_audio;
    // The reference analysis (may be null before the driver builds it).
    std::unique_ptr<ReferenceInfo> m_reference;

    // Collection state of the current clip.
    FoundSampleList m_samples;
    uint64_t m_totalVideoSize = 0;
    uint64_t m_totalAudioSize = 0;
    bool m_ignoreCompositionOffsets = false;  // -noctts: video stored with offset 0
    uint32_t m_clipNumber = 0;

    // Output names. The first clip is written to the -o name; later clips
    // (-nfd) to base "_" clip "." extension, base and extension being the -o
    // name split at its last "." (without a dot, base "_" clip).
    std::string m_requestedOutputName;  // -o as given
    std::string m_outputBase;
    std::string m_outputExtension;
    std::string m_outputName;       // the current clip's file
    std::string m_lastWrittenName;  // the last movie actually created (for -verout)
    MovieFile* m_outputMovie = nullptr;  // owned; released with QTClose
    // The scan may start copying the payload into the clip's movie before
    // the writer runs (payload_precopy.h): the driver allows it for a run
    // of one clip; the copier lives until the clip's movie is created.
    bool m_precopyAllowed = false;
    std::unique_ptr<PayloadPrecopy> m_precopy;
    // Set by an analyser that keeps a thread of its own busy beside the
    // scan: the copier then gives way to the two where cores are few.
    bool m_scanHasHelper = false;

    // Raw elementary streams (-ov, -oa); opened on first write.
    std::string m_rawVideoName;
    std::string m_rawAudioName;
    RawStreamWriter m_rawVideo;
    RawStreamWriter m_rawAudio;

    uint32_t m_layoutMode = 0;  // copied into the output movie's layoutMode
    uint32_t m_audioSampleDuration = kDefaultAudioSampleDuration;
    uint32_t m_audioFixedSampleSize = 0;
    uint32_t m_savePortion = kDefaultSavePortion;  // -save, percent
    bool m_check = false;                          // -check
    bool m_referenceIsInput = false;
    bool m_samplesFromReference = false;  // the found samples are the reference's own (-sim)
    std::string m_inputFileName;
    std::string m_referenceFileName;

    // Canon CRM settings handed over by the driver.
    bool m_canonCrmAutoSelected = false;
    bool m_canonCrmLeading = false;
    bool m_canonCrmTailFade = true;

    uint64_t videoSampleCount() const;
    uint64_t audioSampleCount() const;
};

// Stores the -o, -oa and -ov names (empty: not given) and splits the movie
// name into base and extension. Opens nothing.
void setOutputNames(RepairState& state, const std::string& movie, const std::string& rawAudio,
                    const std::string& rawVideo);

// Base and extension of an output name split at its last "."; without a dot
// both are the whole name.
void splitOutputName(const std::string& name, std::string& base, std::string& extension);

// Refuses output names that resolve to the input or the reference file (-o,
// -ov and -oa; later clip names are checked when each is created), logging
// "output file ... is the input/reference file; refusing to overwrite it" at
// FATAL. Call before anything is opened for writing; false ends the run.
bool checkOutputNames(const RepairState& state, const std::string& input, const std::string& reference);

// One name of the above: true when it is empty or neither the input nor the
// reference; otherwise logs the refusal.
bool outputNameAllowed(const std::string& output, const std::string& input, const std::string& reference);
