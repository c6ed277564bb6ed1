#pragma once
// The few fields of MPEG-2 video headers that tell where a coded picture
// begins and how it is shown: the sequence header's picture size, the
// picture header's temporal reference and coding type, and a slice's row.
// Every reader takes the bytes from the start code prefix 00 00 01 on.

#include <cstdint>

namespace mpeg2 {

// Start code values (the byte after 00 00 01).
constexpr uint8_t kPictureStart = 0x00;
constexpr uint8_t kLastSliceStart = 0xAF;
constexpr uint8_t kUserData = 0xB2;
constexpr uint8_t kSequenceHeader = 0xB3;
constexpr uint8_t kExtension = 0xB5;
constexpr uint8_t kSequenceEnd = 0xB7;
constexpr uint8_t kGroupOfPictures = 0xB8;

// A slice start code gives its macroblock row (from 1) for pictures of up
// to this many rows.
constexpr uint32_t kMaxPlainSliceRows = 175;

inline bool isStartCode(const uint8_t* p, int64_t n) { return n >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 1; }
inline bool isSlice(uint8_t code) { return code >= 0x01 && code <= kLastSliceStart; }

struct SequenceSize {
    uint32_t width = 0, height = 0;
};
// horizontal_size_value (12 bits), vertical_size_value (12 bits); false
// when the bytes are short, no sequence header or a size of 0.
bool readSequenceSize(const uint8_t* p, int64_t n, SequenceSize& out);

enum class PictureType : uint8_t { Intra = 1, Predicted = 2, Bidirectional = 3, DcIntra = 4 };
struct PictureHeader {
    uint32_t temporalReference = 0;  // display position within the group of pictures
    PictureType type = PictureType::Intra;
};
// temporal_reference (10 bits), picture_coding_type (3 bits); false when
// the bytes are short, no picture header or a reserved coding type.
bool readPictureHeader(const uint8_t* p, int64_t n, PictureHeader& out);

// Display position of each picture of a stream in decode order: a group of
// pictures takes the display slots from the count of pictures decoded before
// its header on, in the order of their temporal references (an open group's
// leading B pictures included). `pictures[k].groupStart` says that picture k follows
// a group of pictures header.
struct CodedPicture {
    bool groupStart = false;
    uint32_t temporalReference = 0;
};
void displayIndices(const CodedPicture* pictures, int64_t count, int64_t* display);

}  // namespace mpeg2
