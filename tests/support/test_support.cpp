#include "support/test_support.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace testsupport {

std::string ffprobe(const std::string& file, const std::string& args) {
    return runCommand("ffprobe -v error " + args + " " + quote(file)).output;
}

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

CommandResult runCommand(const std::string& command, bool mergeStderr) {
    CommandResult r;
    const std::string full = command + (mergeStderr ? " 2>&1" : "");
    FILE* p = ::popen(full.c_str(), "r");
    if (!p)
        return r;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        r.output.append(buf, n);
    const int status = ::pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    return r;
}

CommandResult runFramend(const std::string& arguments, bool mergeStderr) {
    return runCommand(std::string(FRAMEND_BINARY) + " " + arguments, mergeStderr);
}

static bool haveFfmpeg() {
    static const bool have = runCommand("command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null").exitCode == 0;
    return have;
}

std::string fixture(const std::string& name, const std::string& ffmpegArgs) {
    const std::string dir = FRAMEND_FIXTURE_DIR;
    std::filesystem::create_directories(dir);
    // The arguments are part of the cache key: a fixture whose recipe changed
    // is made again instead of silently reusing the old file.
    char key[17];
    std::snprintf(key, sizeof key, "%016zx", std::hash<std::string>{}(ffmpegArgs));
    const std::string path = dir + "/" + key + "-" + name;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && st.st_size > 0)
        return path;
    if (!haveFfmpeg())
        throw std::runtime_error("no ffmpeg and ffprobe to make " + name);
    // The extension picks the muxer, so keep it on the temporary name.
    const auto dot = name.rfind('.');
    const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
    const std::string tmp = dir + "/tmp." + std::to_string(::getpid()) + "." + key + name + ext;
    const auto r = runCommand("ffmpeg -nostdin -hide_banner -loglevel error -y " + ffmpegArgs + " " + quote(tmp), true);
    if (r.exitCode != 0) {
        std::remove(tmp.c_str());
        throw std::runtime_error("ffmpeg could not make " + name + ": " + r.output);
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0)
        throw std::runtime_error("cannot keep fixture " + path);
    return path;
}

std::string scratchDir(const std::string& testName) {
    const std::string dir = std::string(FRAMEND_FIXTURE_DIR) + "/../scratch/" + testName;
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    std::filesystem::create_directories(dir);
    return dir;
}

std::string writeScratch(const std::string& testName, const std::string& fileName,
                         const std::vector<uint8_t>& bytes) {
    const std::string path = scratchDir(testName) + "/" + fileName;
    writeFile(path, bytes);
    return path;
}

std::vector<std::string> framemd5(const std::string& file, const std::string& inputArgs, const std::string& outputArgs) {
    // Damaged inputs make the parser complain about every packet; only the lines count.
    const auto r = runCommand("ffmpeg -nostdin -hide_banner -loglevel fatal " + inputArgs + " -i " + quote(file) + " " +
                              outputArgs + " -c copy -f framemd5 -");
    std::vector<std::string> out;
    for (const std::string& line : lines(r.output))
        if (!line.empty() && line[0] != '#')
            out.push_back(line);
    return out;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

std::vector<std::string> fields(const std::string& line, char separator) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string f; std::getline(in, f, separator);)
        out.push_back(f.substr(std::min(f.find_first_not_of(' '), f.size())));
    return out;
}

int64_t number(const std::string& s) {
    if (s.empty() || s.find_first_not_of("-0123456789") != std::string::npos)
        return -1;
    return std::stoll(s);
}

std::vector<uint8_t> streamBytes(const std::string& file, const std::string& map, const char* format,
                                 bool ignoreEditList) {
    // A name of this process's own: tests that run side by side read the
    // same fixture's stream, and one read another's half-written file.
    const std::string raw = file + "." + std::to_string(::getpid()) + "." + format;
    runCommand(std::string("ffmpeg -nostdin -v error -y ") + (ignoreEditList ? "-ignore_editlist 1 " : "") + "-i " +
               quote(file) + " -map " + map + " -c copy -f " + format + " " + quote(raw));
    std::vector<uint8_t> bytes = readFile(raw);
    std::remove(raw.c_str());
    return bytes;
}

std::string testNameOf(std::string fileName) {
    for (char& ch : fileName)
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return fileName;
}

std::vector<uint8_t> readFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool writeFile(const std::string& name, const std::vector<uint8_t>& data) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out);
}

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
        if (e.is_regular_file(ec) && e.path().filename().string()[0] != '.')
            files.push_back(e.path().filename().string());
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace testsupport
