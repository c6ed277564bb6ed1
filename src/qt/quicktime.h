#pragma once
// The container library in one include: records, reader, writer, field I/O.

#include "qt/atom_io.h"
#include "qt/movie_file.h"
#include "qt/movie_reader.h"
#include "qt/movie_track.h"
#include "qt/movie_writer.h"
#include "qt/qt_types.h"
