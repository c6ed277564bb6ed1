#pragma once
// The application object: owns the logger, the option table and everything a
// run needs, and turns a command line into usage, a movie dump or a repair scan.

#include "log/logger.h"
#include "options/option_parser.h"

#include <memory>
#include <string>
#include <vector>

class ClipWriter;
class StreamAnalyser;
struct RepairState;
struct ScanInfo;

class Framend {
public:
    Framend();
    virtual ~Framend();
    Framend(const Framend&) = delete;
    Framend& operator=(const Framend&) = delete;

    // Returns the process exit code.
    virtual int run(int argc, char** argv);
    // Called a few times a second by long loops; an embedding may show
    // progress here or set the cancel flag.
    virtual void onProgress() {}

    void printUsage();

    // -v value to log level: <=0 -> 50, 1 -> 20, 2..3 -> 30, 4 -> 40, 5..9 -> 60, >=10 -> 70.
    static int levelForVerbosity(int v);

    Logger& logger() { return m_logger; }
    OptionParser& options() { return m_options; }
    bool cancelRequested() const { return m_cancelRequested; }
    void setCancelRequested(bool c) { m_cancelRequested = c; }
    double progressPercent() const { return m_progressPercent; }
    void setProgressPercent(double p) { m_progressPercent = p; }
    bool printReferenceParameters() const { return m_printReferenceParameters; }
    const std::string& inputFileName() const { return m_inputFileName; }
    void setInputFileName(const std::string& n) { m_inputFileName = n; }
    const std::string& referenceFileName() const { return m_referenceFileName; }
    void setReferenceFileName(const std::string& n) { m_referenceFileName = n; }

    RepairState& repairState() { return *m_repairState; }
    ScanInfo& scanInfo() { return *m_scanInfo; }
    std::vector<std::unique_ptr<StreamAnalyser>>& analysers() { return m_analysers; }
    std::vector<StreamAnalyser*>& activeAnalysers() { return m_activeAnalysers; }
    ClipWriter& clipWriter() { return *m_clipWriter; }
    // A fresh repair state, clip writer and ScanInfo, no analysers, progress
    // 0: the start of every scan.
    void resetRunState();

private:
    bool m_cancelRequested = false;
    bool m_printReferenceParameters = false;
    std::vector<std::unique_ptr<StreamAnalyser>> m_analysers;
    std::vector<StreamAnalyser*> m_activeAnalysers;  // not owning
    Logger m_logger;
    std::string m_inputFileName;
    std::string m_referenceFileName;
    OptionParser m_options;
    std::unique_ptr<RepairState> m_repairState;
    std::unique_ptr<ClipWriter> m_clipWriter;  // writes the clips of m_repairState
    std::unique_ptr<ScanInfo> m_scanInfo;
    double m_progressPercent = 0.0;
};
