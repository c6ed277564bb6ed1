#include "atomscan/atom_signature.h"

#include <cstring>

namespace {

struct AtomType {
    char type[5];
    ScannedAtom kind;
    const char* name;
};

// co64 stands beside stco: a file over 4 GiB has no stco, only co64.
constexpr AtomType kTypes[] = {
    {"ftyp", ScannedAtom::Ftyp, "QT Filetype"},
    {"mdat", ScannedAtom::Mdat, "QT Movie Data"},
    {"ctts", ScannedAtom::Ctts, "QT Composition offset list"},
    {"stsc", ScannedAtom::Stsc, "QT Sample Sample-to-chunk"},
    {"stco", ScannedAtom::Stco, "QT Sample Chunk offset"},
    {"co64", ScannedAtom::Co64, "QT Sample Chunk offset 64"},
    {"stsz", ScannedAtom::Stsz, "QT Sample Size"},
};

bool lower(uint8_t c) { return c >= 'a' && c <= 'z'; }
bool typeCharacter(uint8_t c) { return c >= '0' && c <= 'z'; }

const AtomType& entry(ScannedAtom kind) {
    for (const AtomType& t : kTypes)
        if (t.kind == kind)
            return t;
    return kTypes[0];
}

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

}  // namespace

bool isScannedAtom(const uint8_t* data, int32_t available, ScannedAtom* kind) {
    if (available < 8)
        return false;
    const uint8_t* type = data + 4;
    if (!lower(type[0]) || !lower(type[1]) || !typeCharacter(type[2]) || !typeCharacter(type[3]))
        return false;
    for (const AtomType& t : kTypes) {
        if (std::memcmp(type, t.type, 4) == 0) {
            *kind = t.kind;
            return true;
        }
    }
    return false;
}

bool readAtomSignature(const uint8_t* data, int64_t available, AtomSignature* signature) {
    ScannedAtom kind;
    if (!isScannedAtom(data, available > 8 ? 8 : int32_t(available), &kind))
        return false;
    signature->kind = kind;
    signature->size = be32(data);
    signature->headerSize = 8;
    if (signature->size == 1) {
        if (available < 16)
            return false;
        signature->size = uint64_t(be32(data + 8)) << 32 | be32(data + 12);
        signature->headerSize = 16;
    }
    return true;
}

const char* scannedAtomName(ScannedAtom kind) { return entry(kind).name; }

const char* scannedAtomType(ScannedAtom kind) { return entry(kind).type; }

