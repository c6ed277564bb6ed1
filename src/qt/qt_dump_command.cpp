#include "qt/qt_dump_command.h"

#include <iostream>

void dumpMovie(const std::string& fileName, unsigned traceMask) {
    (void)traceMask;
    std::cout << "dump of " << fileName << " not available yet" << std::endl;
}
