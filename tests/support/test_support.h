#pragma once
// Helpers shared by the test programs: running commands and the framend
// binary, and media fixtures made by ffmpeg and cached in the build folder.

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct CommandResult {
    int exitCode = -1;
    std::string output;  // standard output (and standard error when merged)
};

// Runs a shell command; captures standard output, and standard error too when
// mergeStderr is set.
CommandResult runCommand(const std::string& command, bool mergeStderr = false);

// Runs the framend binary with the given argument string (already quoted).
CommandResult runFramend(const std::string& arguments, bool mergeStderr = false);

std::string quote(const std::string& s);

// What `ffprobe -v error <args> <file>` prints on standard output.
std::string ffprobe(const std::string& file, const std::string& args);

// A movie made by ffmpeg from the given encoding arguments (everything after
// the inputs; the lavfi test sources are added by the caller in ffmpegArgs).
// Cached by name and recipe in the fixture folder; made atomically, so parallel test
// programs can ask for the same one. Throws when it cannot be made (no ffmpeg,
// a recipe ffmpeg refuses): GoogleTest fails the test there and stops it.
std::string fixture(const std::string& name, const std::string& ffmpegArgs);

// A fresh scratch folder for one test (under the build folder).
std::string scratchDir(const std::string& testName);
// Writes bytes to a file in a fresh scratch folder; returns its name.
std::string writeScratch(const std::string& testName, const std::string& fileName,
                         const std::vector<uint8_t>& bytes);

// Packet checksums per stream: "stream_index, dts, pts, duration, size, md5"
// lines; inputArgs are ffmpeg options for the input (such as -ignore_editlist 1),
// outputArgs for the output (such as -map 0:1).
std::vector<std::string> framemd5(const std::string& file, const std::string& inputArgs = "",
                                  const std::string& outputArgs = "");

// The packets of the streams `map` selects ("0:a:1"), concatenated as the raw
// muxer `format` writes them ("data", "s24be"); with `ignoreEditList` the
// packets an edit list hides count too.
std::vector<uint8_t> streamBytes(const std::string& file, const std::string& map, const char* format,
                                 bool ignoreEditList = false);
// A fixture file name as a GoogleTest parameter name (letters, digits, '_').
std::string testNameOf(std::string fileName);

// The text's lines, without their ends.
std::vector<std::string> lines(const std::string& text);
// A line's fields between the separators, leading blanks dropped (a
// trailing empty field is none).
std::vector<std::string> fields(const std::string& line, char separator = ',');
// A field's integer; -1 for anything but digits (N/A, empty, a side-data line).
int64_t number(const std::string& field);
std::vector<uint8_t> readFile(const std::string& name);
bool writeFile(const std::string& name, const std::vector<uint8_t>& data);

// The names of the regular files in dir, sorted; none when dir cannot be read.
std::vector<std::string> filesIn(const std::string& dir);

}  // namespace testsupport
