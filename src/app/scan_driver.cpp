#include "app/scan_driver.h"

#include "app/framend.h"
#include "log/log_file_sink.h"
#include "log/logger.h"
#include "platform/file.h"

int ScanDriver::run(const std::string& inputFileName) {
    OptionParser& options = m_app.options();
    m_app.setProgressPercent(0.0);
    m_app.setInputFileName(inputFileName);
    if (options.isSet("log")) {
        Logger& logger = m_app.logger();
        logger.addSink(new LogFileSink("framend.txt", true), logger.level());
    }
    platform::File input;
    if (!input.open(inputFileName, platform::File::Mode::Read)) {
        FLOG(LogLevel::Fatal) << "error opening input file";
        return 1;
    }
    FLOG(LogLevel::Notice) << "scan driver not available yet: nothing is scanned";
    return 0;
}
