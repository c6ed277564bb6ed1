#include "qt/qt_dump_command.h"

#include "qt/movie_reader.h"

void dumpMovie(const std::string& fileName, unsigned traceMask) {
    MovieFile* movie = QTOpen(fileName, traceMask, true);
    if (!movie)
        return;
    QTDump(movie);
    QTClose(movie);
}
