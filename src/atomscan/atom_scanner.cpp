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

// The second letter of every recognised type ('t', 'd' for mdat, 'o' for
// co64): a stretch of media data rarely shows one five bytes into a
// position, so one table lookup per byte skips almost everything.
struct SecondLetters {
    bool at[256] = {};
    constexpr SecondLetters() : at() { at[size_t('t')] = at[size_t('d')] = at[size_t('o')] = true; }
};
constexpr SecondLetters kSecondLetters;

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
        if (kSecondLetters.at[data[i + 5]] && check(offset + i, data + i, available - i))
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
