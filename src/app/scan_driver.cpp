#include "app/scan_driver.h"

#include "app/framend.h"
#include "log/logger.h"
#include "platform/file.h"

int ScanDriver::run(const std::string& inputFileName) {
    m_app.setProgressPercent(0.0);
    m_app.setInputFileName(inputFileName);
    platform::File input;
    if (!input.open(inputFileName, platform::File::Mode::Read)) {
        FLOG(LogLevel::Fatal) << "error opening input file";
        return 1;
    }
    FLOG(LogLevel::Notice) << "scan driver not available yet: nothing is scanned";
    return 0;
}
