#pragma once
// Gathers the sample tables found loose in the input into tracks of a movie
// record: a table type that the current track already has starts the next
// track, whose kind is the reference's track of the same number.

#include "atomscan/atom_signature.h"

#include <cstdint>
#include <string>
#include <utility>

struct MovieFile;
struct MovieTrack;
class ReferenceInfo;

class AtomTrackBuilder {
public:
    // Neither is owned; the reference may be null (then no track can start).
    AtomTrackBuilder(std::string inputFileName, const ReferenceInfo* reference)
        : m_inputFileName(std::move(inputFileName)), m_reference(reference) {}
    ~AtomTrackBuilder();
    AtomTrackBuilder(const AtomTrackBuilder&) = delete;
    AtomTrackBuilder& operator=(const AtomTrackBuilder&) = delete;

    // Parses the table atom at `offset` of the input into the current track,
    // starting a track first where needed.
    void add(ScannedAtom kind, int64_t offset);

    // The collected tracks; null until the first table was added.
    const MovieFile* movie() const { return m_movie; }

private:
    bool startTrack();
    bool parsedEmpty(ScannedAtom kind) const;

    std::string m_inputFileName;
    const ReferenceInfo* m_reference;
    MovieFile* m_movie = nullptr;  // owned; released with QTClose
    MovieTrack* m_track = nullptr;
    // Table types the current track has received (chunk offsets count once,
    // whether stco or co64).
    uint32_t m_typesSeen = 0;
    uint64_t m_tableBytes = 0;  // bytes of the table atoms parsed so far
    // No reference track is left for a further track: later tables are
    // dropped instead of being mixed into the last track.
    bool m_exhausted = false;
    bool m_openFailed = false;
};
