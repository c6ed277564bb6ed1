#pragma once
// A test with a fresh scratch folder of its own, a log of everything, and no
// simulated damage left over from another test or left behind for the next.

#include "simcorr/simulated_corruption.h"
#include "support/log_capture.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace testsupport {

class ScratchTest : public ::testing::Test {
protected:
    void SetUp() override {
        simcorr::reset();
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = scratchDir(std::string(test->test_suite_name()) + "_" + test->name());
    }
    void TearDown() override { simcorr::reset(); }

    std::string write(const std::string& name, const std::vector<uint8_t>& data) {
        const std::string path = m_dir + "/" + name;
        EXPECT_TRUE(writeFile(path, data));
        return path;
    }

    LogCapture m_log{LogLevel::Trace};
    std::string m_dir;
};

}  // namespace testsupport
