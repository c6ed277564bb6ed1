#pragma once
// Where the CRM media payload of a damaged file starts: the file itself when
// it has no mdat, the mdat payload, or the mdat nested inside the outer mdat
// when the camera's file was wrapped into another container.

#include "platform/file.h"

#include <cstdint>

namespace crm {

struct CrmPayloadLocation {
    uint64_t start = 0;
    bool wrapped = false;
};

// Parses the file's top level; a box that lies throws "invalid box", a
// wrapped file without a nested mdat "wrapped Canon CRM media payload not found".
CrmPayloadLocation findCrmPayload(platform::File& file, uint64_t fileSize);

}  // namespace crm
