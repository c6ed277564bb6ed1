#pragma once
// The comma-separated hexadecimal form the reference fingerprint and the
// reference log lines use for byte strings: "01,02,03".

#include <cstddef>
#include <cstdint>
#include <string>

// Only the start of a long byte string is shown: enough to tell two codec
// configurations apart without flooding the log.
constexpr size_t kHexTextMaxBytes = 512;
// The text never grows past this many characters (the fingerprint fields are
// short by design; 512 bytes need 1535 characters).
constexpr size_t kHexTextMaxChars = 2047;

// Each byte as "%02X," except the last, which has no comma. At most
// kHexTextMaxBytes bytes are shown and the text stops before passing
// kHexTextMaxChars characters.
std::string hexText(const uint8_t* data, size_t size);
