#pragma once
// The repair run proper: prepares output names, log file, simulated damage,
// the input, the reference and the working parameters; chooses the analysers
// and walks the input with them; then writes and verifies the output.

#include <memory>
#include <string>
#include <vector>

class Framend;
class ScanBuffer;
class StreamAnalyser;

class ScanDriver {
public:
    explicit ScanDriver(Framend& app) : m_app(app) {}
    // Exit code: 0 after a completed run; 1 when the input cannot be opened,
    // the simulated damage cannot be set up, or an output name would
    // overwrite the input or the reference.
    int run(const std::string& inputFileName);

    // The analyser names chosen for a working video class and the mode flags,
    // in creation order. Exposed for testing.
    struct Choice {
        bool atomScanner = false;
        bool canonCrm = false;
        bool sonyRsv = false;
        bool qtReconstruction = false;
        bool canonRepi = false;
        bool pcm = false;
        bool aac = false;
    };
    static std::vector<std::string> chooseAnalysers(const std::string& videoClass, const Choice& choice,
                                                    bool* knownClass = nullptr);

private:
    void prepareWorkingParameters();
    void fillScanInfo(ScanBuffer& input);
    void createAnalysers();
    void activateAnalysers(int64_t fileSize);
    int complete();
    bool progress(double percent);

    Framend& m_app;
};
