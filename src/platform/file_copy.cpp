#include "platform/file_copy.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <unistd.h>

namespace platform {

namespace {

// One copy_file_range call moves at most this much, so a huge range does not
// hold the files' locks for long.
constexpr uint64_t kKernelPiece = 64u << 20;
// The fallback's buffer.
constexpr size_t kBufferedPiece = 1u << 20;

uint64_t copyBuffered(int in, int64_t fromOffset, int out, int64_t toOffset, uint64_t count) {
    // Called for every run of samples: a buffer zeroed first would cost
    // as much as the copy itself, so it is left uninitialised (pread fills
    // what pwrite sends).
    const size_t capacity = size_t(std::min<uint64_t>(count, kBufferedPiece));
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[capacity]);
    uint64_t done = 0;
    while (done < count) {
        const size_t want = size_t(std::min<uint64_t>(count - done, capacity));
        const ssize_t got = ::pread(in, buffer.get(), want, off_t(fromOffset + int64_t(done)));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        size_t written = 0;
        while (written < size_t(got)) {
            const ssize_t w = ::pwrite(out, buffer.get() + written, size_t(got) - written,
                                       off_t(toOffset + int64_t(done + written)));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return done + written;
            written += size_t(w);
        }
        done += size_t(got);
    }
    return done;
}

}  // namespace

uint64_t copyRange(File& from, int64_t fromOffset, File& to, int64_t toOffset, uint64_t count) {
    if (!from.isOpen() || !to.isOpen() || fromOffset < 0 || toOffset < 0)
        return 0;
    const int in = ::fileno(from.handle());
    const int out = ::fileno(to.handle());
    uint64_t done = 0;
    while (done < count) {
        loff_t inPos = fromOffset + int64_t(done);
        loff_t outPos = toOffset + int64_t(done);
        const ssize_t n = ::copy_file_range(in, &inPos, out, &outPos, size_t(std::min(count - done, kKernelPiece)), 0);
        if (n > 0) {
            done += uint64_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            return done;  // the source ends here
        // Not between these files (other file systems on an old kernel, a
        // file system without support): copy the rest by hand.
        return done + copyBuffered(in, fromOffset + int64_t(done), out, toOffset + int64_t(done), count - done);
    }
    return done;
}

}  // namespace platform
