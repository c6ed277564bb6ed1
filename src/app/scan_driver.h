#pragma once
// The repair run proper: prepares output names, log file, simulated damage,
// the input, the reference and the working parameters; chooses the analysers
// and walks the input with them; then writes and verifies the output.

#include <memory>
#include <string>

class Framend;
class ScanBuffer;
class StreamAnalyser;

class ScanDriver {
public:
    explicit ScanDriver(Framend& app) : m_app(app) {}
    // Exit code (app/exit_code.h): success after a run that recovered
    // samples; failure when the input cannot be opened, the simulated damage
    // cannot be set up, or an output name would overwrite the input or the
    // reference; no-analyser when the working video codec has no analyser in
    // this build; nothing-recovered when no sample was found. The closing
    // lines on standard error say what was written, or why not.
    int run(const std::string& inputFileName);

private:
    void prepareWorkingParameters();
    void fillScanInfo(ScanBuffer& input);
    void createAnalysers();
    void activateAnalysers(int64_t fileSize);
    int complete();
    // Prints why the run ends early and returns exitCode.
    int fail(int exitCode, const std::string& why);
    bool progress(double percent);

    Framend& m_app;
    // The video codec the run asked for whose analyser this build lacks.
    std::string m_missingAnalyserFor;
    std::string m_unknownVideoCodec;  // the reference's video codec when no analyser row names it
};
