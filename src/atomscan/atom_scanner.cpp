#include "atomscan/atom_scanner.h"

#include "atomscan/atom_dump.h"
#include "atomscan/atom_signature.h"
#include "atomscan/table_reconstruction.h"
#include "log/logger.h"
#include "output/repair_state.h"
#include "reference/reference_info.h"
#include "scan/scan_buffer.h"

#include <algorithm>
#include <iomanip>

namespace {

// Bytes 4 and 5 of every recognised type: the position four bytes ahead of
// an atom's start that a stretch of media data must show before the whole
// test is worth making.
bool typeStart(uint8_t first, uint8_t second) {
    switch (first) {
    case 'f': return second == 't';
    case 'm': return second == 'd';
    case 'c': return second == 't' || second == 'o';
    case 's': return second == 't';
    default: return false;
    }
}

void logMarker(const char* lead, const AtomSignature& atom, int64_t offset) {
    FLOG(LogLevel::Info) << lead << std::setw(10) << offset << " - " << scannedAtomName(atom.kind) << " - "
                         << atom.size << "b";
}

}  // namespace

bool AtomScanner::check(int64_t, const uint8_t* data, int32_t available) {
    ScannedAtom kind;
    return isScannedAtom(data, available, &kind);
}

int32_t AtomScanner::findCandidate(int64_t offset, const uint8_t* data, int32_t count, int32_t available) {
    const int32_t end = std::min(count, available - 7);
    for (int32_t i = 0; i < end; ++i)
        if (typeStart(data[i + 4], data[i + 5]) && check(offset + i, data + i, available - i))
            return i;
    return count;
}

bool AtomScanner::analyse(int64_t offset, ScanBuffer& buffer) {
    if (offset <= m_lastInspected)
        return false;
    m_lastInspected = offset;
    const ByteBlock block = buffer.readBlock(offset, kTableDumpBytes);
    AtomSignature atom;
    if (!readAtomSignature(block.data(), int64_t(block.length()), &atom))
        return false;
    switch (atom.kind) {
    case ScannedAtom::Ftyp:
        logMarker("ftyp found at ", atom, offset);
        takeFtyp(offset);
        return false;
    case ScannedAtom::Mdat:
        logMarker("mdat found at ", atom, offset);
        return false;
    default: break;
    }
    if (atom.kind == ScannedAtom::Stsc)
        ++m_stscFound;
    dumpTableAtom(atom, offset, block.data(), block.length(), m_stscFound);
    if (!m_scanInfo || !m_scanInfo->qtReconstruction || !m_repairState)
        return false;
    if (!m_tracks)
        m_tracks = std::make_unique<AtomTrackBuilder>(m_repairState->m_inputFileName, m_repairState->m_reference.get());
    m_tracks->add(atom.kind, offset);
    return false;
}

void AtomScanner::takeFtyp(int64_t offset) {
    if (m_fileStart < 0 || offset - m_fileStart > kFtypMinDistance || m_fileStart - offset > kFtypMinDistance)
        m_fileStart = offset;
    else
        FLOG(LogLevel::Warning) << "too many successive ftyp atoms - ftyp ignored";
}

void AtomScanner::finish(ScanBuffer& buffer) {
    if (!m_scanInfo || !m_scanInfo->qtReconstruction || !m_repairState)
        return;
    reconstructFromTables(m_tracks ? m_tracks->movie() : nullptr, m_fileStart, *m_repairState, buffer);
    m_tracks.reset();
}
