#pragma once
// The movie box of a rebuilt CRM movie: the reference's boxes with durations
// fitted to what was recovered, and fresh sample tables.

#include "camera/crm/crm_track_plan.h"

#include <vector>

namespace crm {

// `mediaOffset` is the file offset of the first byte of media data; chunk
// offsets are written relative to the file.
Bytes buildCrmMoov(const CrmReference& ref, const std::vector<CrmTrackPlan>& plans, uint64_t mediaOffset);

// Writes `duration` into a raw mvhd or mdhd box (isTrackHeader false) or
// tkhd box, where its version puts the field.
void setBoxDuration(Bytes& box, uint64_t duration, bool isTrackHeader);

}  // namespace crm
