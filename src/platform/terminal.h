#pragma once
// Whether the standard streams reach a terminal, and how wide it is.

#include <cstddef>

namespace platform {

bool standardOutputIsTerminal();
bool standardErrorIsTerminal();
// Columns of the terminal on standard error; 80 when it cannot be told.
size_t standardErrorColumns();

}  // namespace platform
