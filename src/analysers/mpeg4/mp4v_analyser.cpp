#include "analysers/mpeg4/mp4v_analyser.h"

#include "bitstream/mpeg4_visual/vop_header.h"
#include "output/repair_state.h"
#include "reference/video_parameters.h"

namespace {

constexpr uint8_t kFirstVideoObjectLayer = 0x20;

}  // namespace

void MP4VAnalyser::prepare() {
    m_needLayer = m_repairState->m_video->m_class != videoClass();
    m_layerSeen = false;
    PictureRunAnalyser::prepare();
}

PictureRunAnalyser::Code MP4VAnalyser::classify(const uint8_t* p, int64_t n, Picture& picture) {
    const uint8_t code = p[3];
    if (code >= kFirstVideoObjectLayer && code <= mpeg4v::kLastVideoObjectLayer)
        m_layerSeen = true;
    if (code == mpeg4v::kVop) {
        if (m_needLayer && !m_layerSeen)
            return Code::Foreign;
        mpeg4v::VopType type;
        if (!mpeg4v::readVopType(p, n, type))
            return Code::Foreign;
        picture.type = uint8_t(type);
        picture.groupStart = type == mpeg4v::VopType::Intra;
        // ffmpeg's muxer lists every I-VOP as a sync sample.
        picture.randomAccess = picture.groupStart;
        return Code::Picture;
    }
    if (mpeg4v::opensPicture(code))
        return Code::OpensPicture;
    return code == mpeg4v::kUserData ? Code::Other : Code::Foreign;
}

void MP4VAnalyser::displayOrder(const std::vector<Picture>& pictures, bool cutShort,
                                std::vector<int64_t>& display) const {
    std::vector<mpeg4v::VopType> types(pictures.size());
    for (size_t k = 0; k < pictures.size(); ++k)
        types[k] = mpeg4v::VopType(pictures[k].type);
    mpeg4v::displayIndices(types.data(), int64_t(types.size()), display.data(), cutShort);
}
