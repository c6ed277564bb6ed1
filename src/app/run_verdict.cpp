#include "app/run_verdict.h"

#include "output/repair_state.h"
#include "qt/movie_reader.h"
#include "qt/qt_types.h"
#include "reference/audio_parameters.h"
#include "reference/video_parameters.h"

#include <cstdio>

namespace {

std::string seconds(uint64_t units, uint32_t timescale) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f s", timescale ? double(units) / double(timescale) : 0.0);
    return buf;
}

// "video avc1 1920x1080: 250 frames, 10.00 s"
std::string trackLine(const MovieTrack& t) {
    std::string line;
    const std::string codec = fourccText(t.m_codec);
    if (t.m_handlerType == makeFourcc("vide")) {
        line = "video " + codec;
        if (t.m_width && t.m_height)
            line += " " + std::to_string(t.m_width) + "x" + std::to_string(t.m_height);
        line += ": " + std::to_string(t.m_sampleCount) + " frames";
    } else if (t.m_handlerType == makeFourcc("soun")) {
        line = "audio " + codec;
        if (t.m_audioSampleRate)
            line += " " + std::to_string(t.m_audioSampleRate) + " Hz";
        // PCM is stored as one table entry per sound sample; what was found
        // and written are its chunks.
        const bool pcm = t.m_fixedSampleSize != 0 && t.m_sampleDuration == 1;
        const uint64_t blocks = pcm ? t.m_chunkOffsets.size() : t.m_sampleCount;
        line += ": " + std::to_string(blocks) + " blocks";
    } else {
        line = std::string(fourccText(t.m_handlerType)) + " " + codec + ": " + std::to_string(t.m_sampleCount) +
               (t.m_sampleCount == 1 ? " sample" : " samples");
    }
    return line + ", " + seconds(t.m_mediaDuration, t.m_mediaTimescale);
}

void printMovie(std::ostream& out, const std::string& name) {
    MovieFile* movie = QTOpen(name, 0, true);
    if (!movie) {
        out << "framend: wrote " << name << ", but it cannot be read back as a movie\n";
        return;
    }
    out << "framend: wrote " << name << "\n";
    for (int i = 0; i < movie->m_trackCount && i < kMaxTracks; ++i)
        out << "  " << trackLine(movie->m_tracks[i]) << "\n";
    QTClose(movie);
}

void printVerify(std::ostream& out, const VerifyCounts& v) {
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.1f", v.repairRate);
    out << "framend: -verify: " << v.videoMatches << " of " << v.videoFound << " video frames and "
        << v.audioMatches << " of " << v.audioFound
        << " audio blocks found sit where the reference's index has them (repair rate " << rate << ")\n";
}

void printVerout(std::ostream& out, const OutputVerifyResult& r, const std::string& file) {
    if (!r.checked) {
        out << "framend: -verout: no written movie could be checked\n";
        return;
    }
    const bool passed = r.containerPassed && r.formatPreserved == r.formatCompared && r.timingPassed == r.timingChecks;
    out << "framend: -verout: " << (passed ? "passed" : "FAILED") << " for " << file << " (" << r.readableSamples << " of "
        << r.totalSamples << " samples readable, " << r.formatPreserved << " of " << r.formatCompared
        << " format checks and " << r.timingPassed << " of " << r.timingChecks << " timing checks passed; video "
        << seconds(uint64_t(r.videoMs), 1000) << ", audio " << seconds(uint64_t(r.audioMs), 1000) << ")\n";
}

}  // namespace

void printVerdict(std::ostream& out, const RunVerdict& v) {
    for (const std::string& name : v.movies)
        printMovie(out, name);
    for (const auto& [name, bytes] : v.rawStreams)
        out << "framend: wrote " << name << " (" << bytes << " bytes)\n";
    if (v.movies.empty() && v.rawStreams.empty() && v.videoFound + v.audioFound > 0)
        out << "framend: found " << v.videoFound << " video frames and " << v.audioFound
            << " audio blocks; nothing was written (name an output with -o)\n";
    if (v.verify)
        printVerify(out, *v.verify);
    if (v.verout)
        printVerout(out, *v.verout, v.veroutFile);
    if (!v.failure.empty())
        out << "framend: " << v.failure << " (exit code " << v.exitCode << ")\n";
    out.flush();
}

std::string whyNothingWasFound(const RepairState& state, bool imported) {
    if (imported)
        return "the reference holds no samples to import";
    std::string formats;
    if (!state.m_video->m_codec.empty())
        formats = "video '" + state.m_video->m_codec + "'";
    if (!state.m_audio->m_codec.empty())
        formats += (formats.empty() ? "audio '" : " or audio '") + state.m_audio->m_codec + "'";
    if (!formats.empty())
        return "nothing in the input looked like the reference's " + formats +
               "; the reference must come from the same camera with the same settings";
    if (state.m_referenceIsInput)
        return "no reference was given and the input has no readable index to learn the formats from; "
               "name an intact recording from the same camera with -ref";
    return "the reference '" + state.m_referenceFileName +
           "' has no readable video or audio track; name an intact recording from the same camera with -ref";
}
