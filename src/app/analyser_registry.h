#pragma once
// Every analyser the program knows, in one table: its name, the video classes
// it serves, its role, the setting that brings it in and how to make it. The
// driver chooses, creates and activates analysers from this table alone, so a
// new analyser is its own file pair plus one row in analyser_registry.cpp.

#include "analysers/core/stream_analyser.h"
#include "analysers/core/video_classes.h"

#include <memory>
#include <string>
#include <vector>

class ClipSink;
struct RepairState;
struct ScanInfo;

enum class AnalyserRole {
    Container,  // atom structures of the movie itself
    Video,      // one video codec, chosen by the working video class
    Audio,      // an audio format, added by its own switch
    Camera,     // a camera's recording format, chosen by its recovery mode
};

// A run setting that brings an analyser into the choice.
enum class AnalyserSwitch {
    None,         // container: always; video: by class alone
    AtomScanner,  // -atomdump or QT reconstruction
    CanonCrm,     // the only analyser of the run
    SonyRsv,      // the only analyser of the run
    CanonRepi,    // takes the place of the video analyser serving the same classes
    Pcm,
    Aac,
    OwnClass,     // video: by class alone, and never one of the fallback set
};

// What every factory is given; a factory takes from it what its class needs.
struct AnalyserContext {
    RepairState* state = nullptr;
    ScanInfo* info = nullptr;
    ClipSink* clips = nullptr;  // where new clip detection asks for the next clip
};

using AnalyserFactory = std::unique_ptr<StreamAnalyser> (*)(const AnalyserContext&);

struct AnalyserRow {
    const char* name;
    AnalyserRole role;
    VideoClasses classes;   // the video classes it serves; none outside video and REPI
    AnalyserSwitch when;    // the setting that brings it in
    AnalyserFactory make;   // null: not part of this build yet
};

// The settings that decide the choice besides the video class.
struct AnalyserSettings {
    bool atomScanner = false;
    bool canonCrm = false;
    bool sonyRsv = false;
    bool qtReconstruction = false;
    bool canonRepi = false;
    bool pcm = false;
    bool aac = false;

    bool isOn(AnalyserSwitch s) const;
};

struct AnalyserChoice {
    std::vector<const AnalyserRow*> rows;  // in creation order
    // The video analysers were chosen at all (not in the Canon CRM, Sony RSV
    // or QT reconstruction modes).
    bool videoChosen = false;
    // The working video class named one video analyser; otherwise the
    // fallback set was taken.
    bool knownClass = false;
    // The row that serves the working video class (null with the fallback set
    // or no video choice).
    const AnalyserRow* videoRow = nullptr;
};

// The table as a range.
struct AnalyserRows {
    const AnalyserRow* first;
    const AnalyserRow* last;
    const AnalyserRow* begin() const { return first; }
    const AnalyserRow* end() const { return last; }
};

class AnalyserRegistry {
public:
    // Every row in creation order; the video analysers in the order of the
    // fallback set.
    static AnalyserRows rows();
    static const AnalyserRow* find(const std::string& name);
    // The analysers of one run, in creation order: the atom scanner; Canon
    // CRM or Sony RSV alone; otherwise new clip detection, PCM, the video
    // analyser of the class (or every video analyser when the class names
    // none) and AAC.
    static AnalyserChoice choose(const std::string& videoClass, const AnalyserSettings& settings);
    // Null when the row has no factory in this build.
    static std::unique_ptr<StreamAnalyser> create(const AnalyserRow& row, const AnalyserContext& context);
};
