#pragma once
// The reader's per-atom handlers, picked by fourcc from one table, and the set
// of container atoms whose children the walk descends into.

#include "qt/atom_codecs.h"

namespace qt {

// Called with the atom's header already read; the position is at the payload.
using AtomHandler = void (*)(MovieFile* f, const AtomHeader& atom);

AtomHandler findAtomHandler(Fourcc type);
bool isContainerAtom(Fourcc type);

// Reads the header of the atom at start, bounded by limit (the parent's end).
// False when no valid header is there (failed read, size 0, size smaller than
// its header): the walk of that level ends.
bool readAtomHeader(MovieFile* f, uint64_t start, uint64_t limit, AtomHeader* atom);

}  // namespace qt
