#include "platform/thread_priority.h"

#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

void yieldToOtherThreads() {
#if defined(__linux__) && defined(SYS_gettid)
    // On Linux a nice value belongs to a thread: this one's weight drops
    // against the scan's, so a core the two share goes mostly to the scan.
    constexpr int kNice = 10;
    const id_t self = id_t(::syscall(SYS_gettid));
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, self);  // -1 is a valid value
    if (errno == 0)
        (void)::setpriority(PRIO_PROCESS, self, now + kNice);
#endif
}

}  // namespace platform
