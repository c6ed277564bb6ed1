#pragma once
// -dump: open a movie, print its summary, close it.

#include <string>

void dumpMovie(const std::string& fileName, unsigned traceMask);
