#pragma once
// Top-level atoms met while walking media data: the index or free space a
// recorder writes behind its media, or the start of another recording
// joined to this one (its file type and media data atoms). Neither holds
// samples of the recording in front of it.

#include <cstdint>

struct TopLevelAtom {
    int64_t offset = -1;  // file offset of the size field
    int64_t size = 0;     // whole atom; for media data it may reach past the end of a cut file
    int64_t header = 8;   // 16 with a 64-bit size
    char type[4] = {0, 0, 0, 0};
    bool mediaData = false;  // mdat: its payload holds samples, so only the header is passed over
    bool fileType = false;   // ftyp: a recording begins here
};

// The first top-level atom that starts in data[0 .. last] (`data` holds `n`
// bytes from file offset `dataOffset` of a file of `fileSize` bytes). An
// atom counts when its type is one a recorder writes at the top level, its
// size fits the file and, where the bytes are there, another atom header
// (or the end of the file) follows it: four bytes of a type name in chance
// media data are not enough.
bool findTopLevelAtom(const uint8_t* data, int64_t n, int64_t dataOffset, int64_t fileSize, int64_t last,
                      TopLevelAtom& out);
