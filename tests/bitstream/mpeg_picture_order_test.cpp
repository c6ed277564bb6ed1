// Display order from MPEG-2 temporal references and from MPEG-4 Visual VOP
// types: the composition offsets of a repaired movie follow from them.

#include "bitstream/mpeg2/mpeg2_headers.h"
#include "bitstream/mpeg4_visual/vop_header.h"

#include <gtest/gtest.h>

#include <vector>

// An open group's leading B pictures take the display slots in front of its
// I picture, after the previous group's last picture; a stream that leaves
// out group headers counts on from the last one.
TEST(MpegPictureOrder, TemporalReferencesCountFromTheirGroup) {
    using P = mpeg2::CodedPicture;
    const std::vector<P> pictures = {{true, 0}, {false, 3}, {false, 1}, {false, 2},   // I P B B
                                     {true, 2}, {false, 0}, {false, 1}, {false, 5},   // open: I B B P
                                     {false, 3}, {false, 4}};
    std::vector<int64_t> display(pictures.size());
    mpeg2::displayIndices(pictures.data(), int64_t(pictures.size()), display.data());
    EXPECT_EQ(display, (std::vector<int64_t>{0, 3, 1, 2, 6, 4, 5, 9, 7, 8}));
}

// The last anchor of a cut recording lost its B-VOPs: it waits for as many
// as the one before it had. At the end of a whole stream it waits for none.
TEST(MpegPictureOrder, AnchorVopsWaitForTheirBVops) {
    using T = mpeg4v::VopType;
    const std::vector<T> types = {T::Intra, T::Predicted, T::Bidirectional, T::Bidirectional,
                                  T::Predicted, T::Bidirectional, T::Intra};
    std::vector<int64_t> display(types.size());
    mpeg4v::displayIndices(types.data(), int64_t(types.size()), display.data(), true);
    EXPECT_EQ(display, (std::vector<int64_t>{0, 3, 1, 2, 5, 4, 7}));
    mpeg4v::displayIndices(types.data(), int64_t(types.size()), display.data(), false);
    EXPECT_EQ(display.back(), 6);
}
