#pragma once
// Registers the program's whole option table, in the order the help listing shows it.

class OptionParser;

void registerFramendOptions(OptionParser& options);
