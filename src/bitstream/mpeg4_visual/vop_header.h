#pragma once
// The start codes of MPEG-4 Visual (ISO/IEC 14496-2) that frame a coded
// picture (VOP) and the one field of the VOP header that decides the order
// in which pictures are shown.

#include <cstdint>

namespace mpeg4v {

constexpr uint8_t kLastVideoObjectLayer = 0x2F;  // 00-1F video object, 20-2F video object layer
constexpr uint8_t kVisualObjectSequence = 0xB0;
constexpr uint8_t kUserData = 0xB2;
constexpr uint8_t kGroupOfVop = 0xB3;
constexpr uint8_t kVisualObject = 0xB5;
constexpr uint8_t kVop = 0xB6;

// Headers that open a new coded picture in front of its VOP.
inline bool opensPicture(uint8_t code) {
    return code <= kLastVideoObjectLayer || code == kVisualObjectSequence || code == kGroupOfVop ||
           code == kVisualObject;
}

enum class VopType : uint8_t { Intra = 0, Predicted = 1, Bidirectional = 2, Sprite = 3 };
// vop_coding_type (2 bits) of the VOP whose start code is at `p`; false
// when the bytes are short or hold no VOP start code.
bool readVopType(const uint8_t* p, int64_t n, VopType& out);

// Display position of each VOP in decode order: a B-VOP is shown at once,
// an I-, P- or S-VOP only after the B-VOPs that follow it (in a stream
// `cutShort`, the last one after as many as came in front of it).
void displayIndices(const VopType* types, int64_t count, int64_t* display, bool cutShort);

}  // namespace mpeg4v
