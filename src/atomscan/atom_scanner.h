#pragma once
// Finds the file markers (ftyp, mdat) and the sample tables (stsz, stsc,
// stco, co64, ctts) wherever they lie in the input and logs them (-atomdump).
// With QT reconstruction it gathers the tables into tracks of the
// reference's kinds and at the end of the scan turns them into samples, so a
// movie whose headers were damaged while its tables survived comes back
// exactly, without guessing frame boundaries.

#include "analysers/core/stream_analyser.h"
#include "atomscan/atom_track_builder.h"

#include <cstdint>
#include <memory>

// Two ftyp atoms closer than this belong to one damaged start, not to a new
// recording: the first one stays the file start.
constexpr int64_t kFtypMinDistance = 1024;

class AtomScanner : public StreamAnalyser {
public:
    AtomScanner(RepairState* state, ScanInfo* info) : StreamAnalyser(state, info) {}

    // True at the start of a recognised atom; reads at most 8 bytes.
    bool check(int64_t offset, const uint8_t* data, int32_t available) override;
    int32_t findCandidate(int64_t offset, const uint8_t* data, int32_t count, int32_t available) override;
    // Logs the atom and, with QT reconstruction, hands a table to the track
    // builder. Never consumes: the scan goes on at the next position.
    bool analyse(int64_t offset, ScanBuffer& buffer) override;
    // With QT reconstruction, turns the collected tables into samples.
    void finish(ScanBuffer& buffer) override;
    bool accepts() override { return true; }
    std::string name() const override { return "AtomScanner"; }

    // The offset of the accepted ftyp, -1 while none was seen.
    int64_t fileStart() const { return m_fileStart; }

private:
    void takeFtyp(int64_t offset);

    int64_t m_fileStart = -1;
    // The scan offers the position before a hit again, so one position can
    // come twice: an atom at or before this one was handled already, and a
    // table taken twice would start a track of its own.
    int64_t m_lastInspected = -1;
    uint32_t m_stscFound = 0;
    std::unique_ptr<AtomTrackBuilder> m_tracks;  // QT reconstruction only
};
