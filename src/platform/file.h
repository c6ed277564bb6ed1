#pragma once
// Binary file access with 64-bit offsets and UTF-8 names: the one place the
// program touches the C stdio API, so every subsystem gets large-file support
// and the "a directory is not a file" check for free.

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

class File {
public:
    enum class Mode { Read, Write, Update };  // "rb", "wb" (truncate), "r+b"

    File() = default;
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;

    // Opens a regular file. Directories and other non-regular files are
    // refused even though fopen would accept some of them.
    bool open(const std::string& utf8Name, Mode mode);
    void close();  // returns nothing: a failed close of a reader has nothing to report
    bool closeChecked();  // for writers: false when flushing or closing failed
    bool isOpen() const { return m_file != nullptr; }

    bool seek(int64_t offset);  // absolute
    bool seekEnd();
    int64_t tell() const;
    // Size by seeking to the end; the position is restored. -1 on failure.
    int64_t size();

    size_t read(void* dest, size_t count);
    // Seek and read in one call; returns the number of bytes read.
    size_t readAt(int64_t offset, void* dest, size_t count);
    // Like readAt, in one system call per read and without the stdio
    // buffer, but the position read() and write() use is left alone: for
    // readers that only ever read at offsets, where a seek and a buffered
    // read would be two or three calls and a copy.
    size_t pread(int64_t offset, void* dest, size_t count);
    size_t write(const void* src, size_t count);
    bool flush();
    // Cuts the file to `size` bytes (after a flush); false on failure.
    // Cutting to the current size gives back blocks reserved past the end.
    bool truncate(int64_t size);
    // Asks the file system to allocate the blocks of [offset, offset +
    // length) ahead of the writes that fill them, leaving the file's size
    // alone. Gigabytes written into blocks the file system has to find page
    // by page cost it about a third more system time than into blocks set
    // aside in a few calls. Only a hint: false where it is not supported or
    // the disk is full, and nothing else changes.
    bool reserve(int64_t offset, int64_t length);

    std::FILE* handle() const { return m_file; }
    const std::string& name() const { return m_name; }

private:
    std::FILE* m_file = nullptr;
    std::string m_name;
};

// Size of a named regular file, or -1 when it cannot be examined or is not a
// regular file.
int64_t fileSize(const std::string& utf8Name);
// Deletes a file; false when it could not be deleted.
bool removeFile(const std::string& utf8Name);

// True when both names refer to the same existing file (same device and
// inode), so "out.mov" and "./dir/../out.mov" or a hard link are caught.
// Names that do not exist yet are compared after making them absolute.
bool sameFile(const std::string& a, const std::string& b);

}  // namespace platform
