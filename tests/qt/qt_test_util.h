#pragma once
// Copying a movie sample by sample through the container library's reader
// and writer.

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

// Reads every sample of src and writes it into dst with the writer: tracks,
// timescales, codec configuration, time-to-sample and edit lists copied.
// Samples are written in file order, so chunks keep their interleaving.
bool copyMovie(const std::string& src, const std::string& dst);

}  // namespace qttest
