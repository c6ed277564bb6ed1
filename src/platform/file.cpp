#include "platform/file.h"

#include <cerrno>
#include <fcntl.h>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

static_assert(sizeof(off_t) == 8, "64-bit file offsets are required");

namespace platform {

File::~File() { close(); }

File::File(File&& other) noexcept : m_file(other.m_file), m_name(std::move(other.m_name)) {
    other.m_file = nullptr;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        m_file = other.m_file;
        m_name = std::move(other.m_name);
        other.m_file = nullptr;
    }
    return *this;
}

bool File::open(const std::string& utf8Name, Mode mode) {
    close();
    if (utf8Name.empty())
        return false;
    // Linux names are byte strings; UTF-8 arguments pass through unchanged.
    const char* m = mode == Mode::Read ? "rb" : mode == Mode::Write ? "wb" : "r+b";
    if (mode != Mode::Write) {
        struct stat st {};
        if (::stat(utf8Name.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return false;
    } else {
        struct stat st {};
        if (::stat(utf8Name.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return false;
    }
    m_file = std::fopen(utf8Name.c_str(), m);
    if (!m_file)
        return false;
    m_name = utf8Name;
    return true;
}

void File::close() {
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}

bool File::closeChecked() {
    if (!m_file)
        return true;
    bool ok = std::fflush(m_file) == 0;
    ok = std::fclose(m_file) == 0 && ok;
    m_file = nullptr;
    return ok;
}

bool File::seek(int64_t offset) {
    return m_file && offset >= 0 && ::fseeko(m_file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool File::seekEnd() { return m_file && ::fseeko(m_file, 0, SEEK_END) == 0; }

int64_t File::tell() const { return m_file ? static_cast<int64_t>(::ftello(m_file)) : -1; }

int64_t File::size() {
    if (!m_file)
        return -1;
    const int64_t here = tell();
    if (!seekEnd())
        return -1;
    const int64_t end = tell();
    if (here >= 0)
        seek(here);
    return end;
}

size_t File::read(void* dest, size_t count) {
    if (!m_file || count == 0)
        return 0;
    return std::fread(dest, 1, count, m_file);
}

size_t File::readAt(int64_t offset, void* dest, size_t count) {
    if (!seek(offset))
        return 0;
    return read(dest, count);
}

size_t File::pread(int64_t offset, void* dest, size_t count) {
    if (!m_file || offset < 0 || count == 0)
        return 0;
    const int fd = ::fileno(m_file);
    size_t got = 0;
    while (got < count) {
        const ssize_t n = ::pread(fd, static_cast<char*>(dest) + got, count - got, off_t(offset) + off_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += size_t(n);
    }
    return got;
}

size_t File::write(const void* src, size_t count) {
    if (!m_file || count == 0)
        return 0;
    return std::fwrite(src, 1, count, m_file);
}

bool File::flush() { return m_file && std::fflush(m_file) == 0; }

bool File::reserve(int64_t offset, int64_t length) {
#ifdef FALLOC_FL_KEEP_SIZE
    return m_file && offset >= 0 && length > 0 &&
           ::fallocate(::fileno(m_file), FALLOC_FL_KEEP_SIZE, off_t(offset), off_t(length)) == 0;
#else
    (void)offset;
    (void)length;
    return false;
#endif
}

bool File::truncate(int64_t size) {
    return flush() && size >= 0 && ::ftruncate(::fileno(m_file), off_t(size)) == 0;
}

bool removeFile(const std::string& utf8Name) { return ::unlink(utf8Name.c_str()) == 0; }

int64_t fileSize(const std::string& utf8Name) {
    struct stat st {};
    if (utf8Name.empty() || ::stat(utf8Name.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<int64_t>(st.st_size);
}

static std::string absoluteName(const std::string& name) {
    if (!name.empty() && name[0] == '/')
        return name;
    char cwd[PATH_MAX];
    if (!::getcwd(cwd, sizeof cwd))
        return name;
    return std::string(cwd) + "/" + name;
}

// The folder part resolved through symlinks and "..", the last component kept.
static std::string resolvedName(const std::string& absName) {
    const auto slash = absName.rfind('/');
    const std::string dir = absName.substr(0, slash == 0 ? 1 : slash);
    const std::string base = absName.substr(slash + 1);
    char buf[PATH_MAX];
    const char* r = ::realpath(dir.c_str(), buf);
    return std::string(r ? r : dir.c_str()) + "/" + base;
}

bool sameFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty())
        return false;
    struct stat sa {}, sb {};
    const bool ea = ::stat(a.c_str(), &sa) == 0;
    const bool eb = ::stat(b.c_str(), &sb) == 0;
    if (ea && eb)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    if (ea != eb)
        return false;
    // Neither exists yet: compare the resolved folders and the final names.
    return resolvedName(absoluteName(a)) == resolvedName(absoluteName(b));
}

}  // namespace platform
