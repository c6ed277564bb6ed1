#include "atomscan/atom_dump.h"

#include "log/logger.h"

#include <algorithm>
#include <iomanip>
#include <sstream>
#include <string>

namespace {

// Big-endian reads over the bytes of one atom; a read past the end gives 0
// and marks the cursor failed.
class AtomCursor {
public:
    AtomCursor(const uint8_t* bytes, size_t length, size_t at) : m_bytes(bytes), m_length(length), m_at(at) {}
    uint32_t u32() {
        if (m_at + 4 > m_length) {
            m_failed = true;
            return 0;
        }
        const uint8_t* p = m_bytes + m_at;
        m_at += 4;
        return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    }
    uint64_t u64() {
        const uint64_t high = u32();
        return high << 32 | u32();
    }
    void skip(size_t n) { m_at += n; }
    uint8_t u8() {
        if (m_at + 1 > m_length) {
            m_failed = true;
            return 0;
        }
        return m_bytes[m_at++];
    }
    bool failed() const { return m_failed; }
    size_t left() const { return m_at < m_length ? m_length - m_at : 0; }

private:
    const uint8_t* m_bytes;
    size_t m_length;
    size_t m_at;
    bool m_failed = false;
};

// Entries to show: as many as claimed, found in the bytes at hand, and no
// more than the dump's limit.
uint32_t shownEntries(uint32_t claimed, const AtomCursor& c, size_t entryBytes) {
    const uint64_t present = std::min<uint64_t>(claimed, c.left() / entryBytes);
    return uint32_t(std::min<uint64_t>(present, kDumpedTableEntries));
}

std::string foundAt(const std::string& lead, const AtomSignature& atom, int64_t offset) {
    std::ostringstream s;
    s << lead << " " << std::setw(10) << offset << " - " << scannedAtomName(atom.kind) << " - " << atom.size << "b";
    return s.str();
}

void dumpStsz(AtomCursor& c, const AtomSignature& atom, int64_t offset) {
    FLOG(LogLevel::Info) << foundAt("stsz        found at", atom, offset);
    const uint8_t version = c.u8();
    c.skip(3);  // flags
    const uint32_t uniform = c.u32();
    const uint32_t entries = c.u32();
    if (c.failed())
        return;
    FLOG(LogLevel::Info) << "stsz version " << int(version) << ", uniform size " << uniform << ", entries " << entries;
    if (uniform != 0)
        return;
    const uint32_t shown = shownEntries(entries, c, 4);
    for (uint32_t i = 0; i < shown; ++i)
        FLOG(LogLevel::Info) << "stsz ENTRY - sample size#" << (i + 1) << ": " << c.u32();
    if (entries > shown)
        FLOG(LogLevel::Info) << "stsz ENTRY - [...]";
}

void dumpStsc(AtomCursor& c, const AtomSignature& atom, int64_t offset, uint32_t ordinal) {
    const std::string number = std::to_string(ordinal);
    FLOG(LogLevel::Info) << foundAt("stsc [" + number + "] found at", atom, offset);
    const uint8_t version = c.u8();
    c.skip(3);  // flags
    const uint32_t entries = c.u32();
    if (c.failed())
        return;
    FLOG(LogLevel::Info) << "stsc [" << number << "] version " << int(version) << ", entries " << entries;
    const uint32_t shown = shownEntries(entries, c, 12);
    for (uint32_t i = 0; i < shown; ++i) {
        const uint32_t firstChunk = c.u32();
        const uint32_t perChunk = c.u32();
        const uint32_t description = c.u32();
        FLOG(LogLevel::Info) << "stsc ENTRY - first chunk " << firstChunk << ",  samples per chunk " << perChunk
                             << ",  sample desc id " << description;
    }
    if (entries > shown)
        FLOG(LogLevel::Info) << "stsc ENTRY - [...]";
}

void dumpChunkOffsets(AtomCursor& c, const AtomSignature& atom, int64_t offset) {
    const bool wide = atom.kind == ScannedAtom::Co64;
    const std::string type = scannedAtomType(atom.kind);
    FLOG(LogLevel::Info) << foundAt(type + "        found at", atom, offset);
    const uint8_t version = c.u8();
    c.skip(3);  // flags
    const uint32_t entries = c.u32();
    if (c.failed())
        return;
    FLOG(LogLevel::Info) << type << " version " << int(version) << ", entries " << entries;
    const uint32_t shown = shownEntries(entries, c, wide ? 8 : 4);
    for (uint32_t i = 0; i < shown; ++i)
        FLOG(LogLevel::Info) << type << " ENTRY - offset#" << (i + 1) << ": " << (wide ? c.u64() : c.u32());
    if (entries > shown)
        FLOG(LogLevel::Info) << type << " ENTRY - [...]";
}

void dumpCtts(AtomCursor& c, const AtomSignature& atom, int64_t offset) {
    FLOG(LogLevel::Info) << foundAt("ctts        found at", atom, offset);
    const uint8_t version = c.u8();
    c.skip(3);  // flags
    const uint32_t entries = c.u32();
    if (c.failed())
        return;
    FLOG(LogLevel::Info) << "ctts entries " << entries;
    const uint32_t shown = shownEntries(entries, c, 8);
    for (uint32_t i = 0; i < shown; ++i) {
        const uint32_t count = c.u32();
        const uint32_t compositionOffset = c.u32();
        // Version 1 offsets are signed.
        if (version == 1)
            FLOG(LogLevel::Info) << "ctts ENTRY entry#" << (i + 1) << ": " << count << "->"
                                 << int32_t(compositionOffset);
        else
            FLOG(LogLevel::Info) << "ctts ENTRY entry#" << (i + 1) << ": " << count << "->" << compositionOffset;
    }
    if (entries > shown)
        FLOG(LogLevel::Info) << "ctts ENTRY - [...]";
}

}  // namespace

void dumpTableAtom(const AtomSignature& atom, int64_t offset, const uint8_t* bytes, size_t length, uint32_t ordinal) {
    if (!logEnabled(LogLevel::Info))
        return;
    // Never read past the atom's own end, whatever follows it.
    const size_t usable = size_t(std::min<uint64_t>(length, atom.size));
    AtomCursor c(bytes, usable, atom.headerSize);
    switch (atom.kind) {
    case ScannedAtom::Stsz: dumpStsz(c, atom, offset); break;
    case ScannedAtom::Stsc: dumpStsc(c, atom, offset, ordinal); break;
    case ScannedAtom::Stco:
    case ScannedAtom::Co64: dumpChunkOffsets(c, atom, offset); break;
    case ScannedAtom::Ctts: dumpCtts(c, atom, offset); break;
    case ScannedAtom::Ftyp:
    case ScannedAtom::Mdat: break;
    }
}
