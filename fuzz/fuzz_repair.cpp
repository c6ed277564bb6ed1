// A whole repair run on arbitrary input: the bytes become the damaged movie,
// repaired against one fixed intact reference exactly as the command line
// would do it (reference analysis, scan with every analyser the reference
// selects, clip writing, output verification when asked for).
//
//   FRAMEND_FUZZ_REF   the reference movie (required)
//   FRAMEND_FUZZ_ARGS  extra options, split at spaces (e.g. "-pcm -verout")
//   FRAMEND_FUZZ_DIR   where input and output live (default /dev/shm)
//
// The input and the repaired movie are files in a private folder, rewritten
// every run (the reader and the writer work on files); standard output, where
// the log goes, is sent to /dev/null and the verdict on standard error is
// dropped, so libFuzzer's own lines and sanitizer reports stay readable.

#include "app/framend.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Setup {
    std::string folder;
    std::string input;
    std::string output;
    std::vector<std::string> arguments;
};

// Swallows whatever the run writes to std::cerr.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c == EOF ? 0 : c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

Setup* setup = nullptr;

std::string environment(const char* name, const std::string& otherwise) {
    const char* value = std::getenv(name);
    return value && *value ? value : otherwise;
}

// The run may write further clips beside the output; none may pile up.
void emptyFolder(const std::string& folder, const std::string& keep) {
    DIR* d = ::opendir(folder.c_str());
    if (!d)
        return;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != ".." && folder + "/" + name != keep)
            ::unlink((folder + "/" + name).c_str());
    }
    ::closedir(d);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::string reference = environment("FRAMEND_FUZZ_REF", "");
    if (reference.empty() || ::access(reference.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "fuzz_repair: set FRAMEND_FUZZ_REF to a readable reference movie\n");
        std::exit(2);
    }
    setup = new Setup;
    std::string folder = environment("FRAMEND_FUZZ_DIR", "/dev/shm") + "/framend_fuzz_XXXXXX";
    if (!::mkdtemp(&folder[0])) {
        std::perror("fuzz_repair: mkdtemp");
        std::exit(2);
    }
    setup->folder = folder;
    // The extension of the reference, so that the run writes the same kind of movie.
    const size_t dot = reference.rfind('.');
    const std::string ext = dot == std::string::npos ? ".mov" : reference.substr(dot);
    setup->input = folder + "/input" + environment("FRAMEND_FUZZ_INPUT_EXT", ext);
    setup->output = folder + "/repaired" + ext;
    setup->arguments = {"framend", "-i", setup->input, "-ref", reference, "-o", setup->output};
    std::istringstream extra(environment("FRAMEND_FUZZ_ARGS", ""));
    for (std::string word; extra >> word;)
        setup->arguments.push_back(word);

    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
        std::fflush(stdout);
        ::dup2(null, 1);
        ::close(null);
    }
    static NullBuffer nothing;
    std::cerr.rdbuf(&nothing);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(setup->input.c_str(), "wb");
    if (!f)
        return 0;
    if (size)
        std::fwrite(data, 1, size, f);
    std::fclose(f);

    std::vector<char*> argv;
    for (std::string& a : setup->arguments)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    {
        Framend app;
        (void)app.run(int(argv.size() - 1), argv.data());
    }
    emptyFolder(setup->folder, setup->input);
    return 0;
}
