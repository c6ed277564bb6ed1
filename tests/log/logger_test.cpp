#include "log/log_file_sink.h"
#include "log/logger.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <iomanip>

namespace {

// Records what reaches it, and counts its own destruction.
class RecordingSink : public LogSink {
public:
    explicit RecordingSink(std::vector<std::string>* lines, int* deaths = nullptr) : m_lines(lines), m_deaths(deaths) {}
    ~RecordingSink() override {
        if (m_deaths)
            ++*m_deaths;
    }
    void write(int level, const std::string& message) override {
        m_lines->push_back(std::to_string(level) + ":" + message);
    }

private:
    std::vector<std::string>* m_lines;
    int* m_deaths;
};

}  // namespace

// A message reaches every sink whose level is at or above its own.
TEST(Logger, SinksFilterByTheirOwnLevel) {
    Logger logger;
    std::vector<std::string> at60, at40, at30;
    logger.addSink(new RecordingSink(&at30), 30);
    logger.addSink(new RecordingSink(&at40), 40);
    logger.addSink(new RecordingSink(&at60), 60);
    logger.log(50, "fifty");
    logger.log(40, "forty");
    logger.log(30, "thirty");
    EXPECT_EQ(at60, (std::vector<std::string>{"50:fifty", "40:forty", "30:thirty"}));
    EXPECT_EQ(at40, (std::vector<std::string>{"40:forty", "30:thirty"}));
    EXPECT_EQ(at30, (std::vector<std::string>{"30:thirty"}));
}

TEST(Logger, GatesCompositionByItsOwnLevel) {
    Logger logger;
    std::vector<std::string> lines;
    logger.addSink(new RecordingSink(&lines), 70);
    logger.setLevel(LogLevel::Error);
    int composed = 0;
    auto expensive = [&composed] {
        ++composed;
        return "text";
    };
    FLOG(LogLevel::Notice) << expensive();
    EXPECT_EQ(composed, 0);
    FLOG(LogLevel::Error) << expensive() << ' ' << 42;
    EXPECT_EQ(composed, 1);
    EXPECT_EQ(lines, (std::vector<std::string>{"20:text 42"}));
}

// Lines share a stream per thread: none sees another's text or format, not
// even a line composed while another is.
TEST(Logger, EachLineStartsAfresh) {
    Logger logger;
    std::vector<std::string> lines;
    logger.addSink(new RecordingSink(&lines), 70);
    auto logsToo = [] {
        FLOG(LogLevel::Info) << "inner " << 255;
        return 7;
    };
    FLOG(LogLevel::Info) << std::hex << std::setw(4) << std::setfill('0') << 255 << std::fixed
                         << std::setprecision(1) << 2.25;
    FLOG(LogLevel::Info) << "outer " << logsToo() << ' ' << 255 << ' ' << 2.25;
    FLOG(LogLevel::Info) << 10 << ' ' << 0.5;
    EXPECT_EQ(lines, (std::vector<std::string>{"50:00ff2.2", "50:inner 255", "50:outer 7 255 2.25", "50:10 0.5"}));
}

TEST(Logger, RemoveUnlinksWithoutDeletingAndClearDeletes) {
    int deaths = 0;
    std::vector<std::string> lines;
    auto* kept = new RecordingSink(&lines, &deaths);
    {
        Logger logger;
        logger.addSink(kept, 50);
        EXPECT_TRUE(logger.removeSink(kept));
        EXPECT_FALSE(logger.removeSink(kept));
        logger.log(10, "gone");
        EXPECT_TRUE(lines.empty());
        logger.addSink(new RecordingSink(&lines, &deaths), 50);
        logger.clearSinks();
        EXPECT_EQ(deaths, 1);
        logger.addSink(new RecordingSink(&lines, &deaths), 50);
    }
    EXPECT_EQ(deaths, 2);  // the destructor deletes what is still registered
    EXPECT_EQ(Logger::instance(), nullptr);
    delete kept;
}

TEST(Logger, FileSinkLinesAreOnDiskAsSoonAsWritten) {
    const std::string old = "old content that must be truncated\n";
    const std::string name = testsupport::writeScratch("FileSinkFlush", "log.txt", {old.begin(), old.end()});
    Logger logger;
    logger.addSink(new LogFileSink(name, true), 50);
    logger.log(50, "first");
    // Read back while the sink is still open: flushed lines are already there.
    const std::vector<uint8_t> got = testsupport::readFile(name);
    EXPECT_EQ(std::string(got.begin(), got.end()), "[INFO] first\n");
}
