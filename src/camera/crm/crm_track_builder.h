#pragma once
// Assembles the tracks of a rebuilt CRM movie: the observed video, the audio
// (repaired and appended, or left in the payload), and the reference's
// timecode and metadata samples repeated for each recovered video chunk.

#include "camera/crm/crm_audio_partition.h"
#include "camera/crm/crm_payload_scan.h"
#include "camera/crm/crm_track_plan.h"

#include <string>
#include <vector>

namespace crm {

struct CrmTrackInput {
    const CrmReference* reference = nullptr;
    const CrmPayloadScan* scan = nullptr;
    // Per audio track chunk lists to repair and append; null: the runs are
    // split evenly and the audio stays in the payload.
    const TrackChunks* audioChunks = nullptr;
    const std::vector<AudioRun>* runs = nullptr;
    std::string damagedFile;
    uint64_t payloadStart = 0;
    uint64_t payloadLength = 0;
    std::string referenceFile;
    bool tailFade = false;
};

// Tracks with at least one sample; the video track first.
std::vector<CrmTrackPlan> buildCrmTracks(const CrmTrackInput& input);

// Payload-only audio: each run split evenly over the tracks.
void splitRunsEvenly(const std::vector<AudioRun>& runs, std::vector<CrmTrackPlan>& audioTracks);

}  // namespace crm
