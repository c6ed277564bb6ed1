#pragma once
// Movies written in fragments (an initial moov with 'mvex', then moof + mdat
// pairs: OBS, browsers, some phones and action cameras) keep their sample
// tables in each fragment's 'trun' atoms instead of the moov. Reading them
// into the ordinary tables lets such a movie serve as a reference like any
// other.

#include "qt/movie_file.h"

namespace qt {

// Appends the samples of every 'moof' in the file to the tracks of the moov
// already read, when that moov declares fragments ('mvex'). Each track run
// becomes one chunk. Samples that would lie outside the file are not added,
// and a run whose counts or sizes cannot be true is dropped: a hostile file
// costs at most one table entry per byte of the file.
void readMovieFragments(MovieFile* f);

}  // namespace qt
