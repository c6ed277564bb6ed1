#pragma once
// Opening movies through the container library's reader, and what it found.

#include <cstdint>
#include <memory>
#include <string>

struct MovieFile;

namespace qttest {

// A movie opened for reading, closed when the handle goes.
struct Closer {
    void operator()(MovieFile* m) const;
};
using Movie = std::unique_ptr<MovieFile, Closer>;
Movie open(const std::string& file, uint32_t traceMask = 0);

// What the reader found, in one line: mdat and moov offsets, movie
// timescale, and per track handler, codec, sample count and table lengths
// (sizes, chunk offsets, sample-to-chunk, time-to-sample).
std::string summary(const MovieFile* m);

// Every table the reader kept holds no more entries than the file has bytes
// for, and a variable-size track counts no more samples than it has sizes
// (a table or count taken from a lying header fails here).
void expectTablesWithinFile(const MovieFile* m, uint64_t fileSize);

}  // namespace qttest
