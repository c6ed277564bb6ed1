#include "atomscan/atom_track_builder.h"

#include "log/logger.h"
#include "qt/atom_readers.h"
#include "qt/movie_file.h"
#include "qt/movie_reader.h"
#include "reference/reference_info.h"

#include <algorithm>

namespace {

uint32_t typeBit(ScannedAtom kind) {
    switch (kind) {
    case ScannedAtom::Ctts: return 1;
    case ScannedAtom::Stsc: return 2;
    case ScannedAtom::Stco:
    case ScannedAtom::Co64: return 4;
    case ScannedAtom::Stsz: return 8;
    case ScannedAtom::Ftyp:
    case ScannedAtom::Mdat: break;
    }
    return 0;
}

}  // namespace

AtomTrackBuilder::~AtomTrackBuilder() { QTClose(m_movie); }

void AtomTrackBuilder::add(ScannedAtom kind, int64_t offset) {
    const uint32_t bit = typeBit(kind);
    if (!bit || m_exhausted || m_openFailed || offset < 0)
        return;
    if (!m_movie) {
        m_movie = QTOpen(m_inputFileName, 0, false);
        if (!m_movie) {
            m_openFailed = true;
            return;
        }
        if (!startTrack())
            return;
    } else if (m_typesSeen & bit) {
        if (!startTrack())
            return;
    }
    m_typesSeen |= bit;
    m_movie->m_currentTrack = m_track;
    // The scan sees the input through the simulated damage, the movie reads
    // the file itself: only an atom of the same type on both sides is parsed.
    qt::AtomHeader atom;
    if (qt::readAtomHeader(m_movie, uint64_t(offset), UINT64_MAX, &atom) &&
        atom.m_type == fourccFromText(scannedAtomType(kind))) {
        // The tables of a real movie never overlap, so together they are no
        // larger than the file; atoms nested in each other would otherwise
        // be read again for every track.
        const uint64_t bytes = atom.m_end - atom.m_start;
        if (bytes > m_movie->m_fileSize - std::min(m_tableBytes, m_movie->m_fileSize)) {
            FLOG(LogLevel::Error) << "table atoms overlap - " << scannedAtomType(kind) << " at " << offset
                                  << " ignored";
            return;
        }
        m_tableBytes += bytes;
        QTParseAtom(m_movie, uint64_t(offset));
    }
    if (parsedEmpty(kind))
        FLOG(LogLevel::Error) << "parse failed - invalid atom data";
}

bool AtomTrackBuilder::startTrack() {
    m_typesSeen = 0;
    const int number = m_movie->m_trackCount;
    const MovieFile* referenceMovie = m_reference ? m_reference->movie() : nullptr;
    if (!referenceMovie || number >= referenceMovie->m_trackCount || number >= kMaxTracks) {
        FLOG(LogLevel::Error) << "no such track";
        m_exhausted = true;
        return false;
    }
    const MovieTrack& source = referenceMovie->m_tracks[number];
    MovieTrack* t = addTrack(m_movie);
    if (!t) {
        m_exhausted = true;
        return false;
    }
    // What the table readers need to know of the track: its kind and, for a
    // fixed-size PCM table that counts single samples, the frame layout.
    t->m_handlerType = source.m_handlerType;
    t->m_codec = source.m_codec;
    t->m_audioChannels = source.m_audioChannels;
    t->m_audioSampleSize = source.m_audioSampleSize;
    t->m_audioSampleRate = source.m_audioSampleRate;
    t->m_mediaTimescale = source.m_mediaTimescale;
    if (t->m_handlerType == makeFourcc("vide")) {
        FLOG(LogLevel::Info) << "*** new video track ***";
        if (!m_movie->m_videoTrack)
            m_movie->m_videoTrack = t;
    } else if (t->m_handlerType == makeFourcc("soun")) {
        FLOG(LogLevel::Info) << "*** new audio track ***";
        m_movie->m_audioTracks[m_movie->m_audioTrackCount++] = t;
    } else {
        FLOG(LogLevel::Info) << "*** new unknown track type ***";
    }
    m_track = t;
    return true;
}

bool AtomTrackBuilder::parsedEmpty(ScannedAtom kind) const {
    switch (kind) {
    case ScannedAtom::Ctts: return m_track->m_compositionOffsets.empty();
    case ScannedAtom::Stsc: return m_track->m_sampleToChunk.empty();
    case ScannedAtom::Stco:
    case ScannedAtom::Co64: return m_track->m_chunkOffsets.empty();
    case ScannedAtom::Stsz: return m_track->m_sampleSizes.empty() && m_track->m_fixedSampleSize == 0;
    case ScannedAtom::Ftyp:
    case ScannedAtom::Mdat: break;
    }
    return false;
}
