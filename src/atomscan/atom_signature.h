#pragma once
// The atoms the atom scanner looks for: the file markers ftyp and mdat and
// the sample tables a rebuild needs, recognised from the bytes at an atom's
// start.

#include <cstdint>

enum class ScannedAtom { Ftyp, Mdat, Ctts, Stsc, Stco, Co64, Stsz };

// What is known of an atom from its first bytes.
struct AtomSignature {
    ScannedAtom kind = ScannedAtom::Ftyp;
    uint64_t size = 0;        // declared size (the 64-bit one when the 32-bit field is 1)
    uint32_t headerSize = 8;  // 16 with a 64-bit size
};

// The recognised type at `data` (size field at bytes 0-3, type at 4-7), or
// false. Reads at most `available` bytes and never more than 8: the size is
// not part of the test.
bool isScannedAtom(const uint8_t* data, int32_t available, ScannedAtom* kind);

// The type and size of the atom at `data`; false when it is not a recognised
// atom or its 64-bit size is not within `available`.
bool readAtomSignature(const uint8_t* data, int64_t available, AtomSignature* signature);

// "QT Filetype", "QT Sample Size", ...
const char* scannedAtomName(ScannedAtom kind);
// The four characters of the type.
const char* scannedAtomType(ScannedAtom kind);
