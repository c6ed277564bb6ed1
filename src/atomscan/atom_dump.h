#pragma once
// The atom dump: what a sample table atom found in the input says, at INFO,
// with at most its first ten entries.

#include "atomscan/atom_signature.h"

#include <cstddef>
#include <cstdint>

// Entries shown per table; the rest is marked "[...]".
constexpr uint32_t kDumpedTableEntries = 10;
// Bytes of a table atom the dump needs at most: a 16-byte header, version and
// flags, two words and ten entries of at most 12 bytes.
constexpr int32_t kTableDumpBytes = 16 + 4 + 8 + kDumpedTableEntries * 12;

// Logs the table atom found at `offset`. `bytes` holds the first `length`
// bytes of the atom as read from the input (fewer than its size near the end
// of the file); nothing past them or past the atom's size is read.
// `ordinal` numbers the stsc atoms found so far.
void dumpTableAtom(const AtomSignature& atom, int64_t offset, const uint8_t* bytes, size_t length, uint32_t ordinal);
