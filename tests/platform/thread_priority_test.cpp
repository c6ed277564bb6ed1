// The copier lowers its own priority; the scan's thread (here the test's
// main thread) must keep its own.

#include "platform/thread_priority.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

namespace {

int nice(long tid) { return ::getpriority(PRIO_PROCESS, id_t(tid)); }

}  // namespace

TEST(PlatformThreadPriority, LowersOnlyTheCallingThread) {
    const long self = ::syscall(SYS_gettid);
    const int before = nice(self);
    int helperBefore = 0, helperAfter = 0;
    std::thread helper([&] {
        const long tid = ::syscall(SYS_gettid);
        helperBefore = nice(tid);
        platform::yieldToOtherThreads();
        helperAfter = nice(tid);
    });
    helper.join();
    EXPECT_EQ(nice(self), before);
    EXPECT_EQ(helperAfter, std::min(helperBefore + 10, 19));  // 19 is the lowest priority
}
