#pragma once
// Where the input's media data ends, as its own header says. A recorder
// writes the size when it finishes, so a header whose end lies within the
// file tells that the recording's last bytes are all there, and a sample
// the reference keeps at the very end of its media data stands that far
// behind the last chunk.

#include <cstdint>
#include <string>

struct MediaDataExtent {
    int64_t end = -1;        // first byte behind the media data atom
    int64_t fileSize = -1;
    bool whole() const { return end > 0 && end <= fileSize; }
};

// The top-level media data atom of `input` holding file offset `offset`;
// false when the top-level atoms cannot be walked to one.
bool findMediaDataExtent(const std::string& input, int64_t offset, MediaDataExtent& out);
