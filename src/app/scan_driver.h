#pragma once
// The repair run proper: prepares the input, reference and parameters, runs
// the analysers over the input and writes the output.

#include <string>

class Framend;

class ScanDriver {
public:
    explicit ScanDriver(Framend& app) : m_app(app) {}
    // Exit code: 0 after a completed run, 1 when the input cannot be opened.
    int run(const std::string& inputFileName);

private:
    Framend& m_app;
};
