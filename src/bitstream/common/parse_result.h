#pragma once
// Outcome of parsing one parameter set or header: malformed data is kept apart
// from valid syntax the program does not handle.

namespace bitstream {

enum class ParseResult {
    Ok,
    Malformed,   // out of data, or a value outside its allowed range
    Unsupported  // well-formed, but uses syntax the parser does not read
};

}  // namespace bitstream
