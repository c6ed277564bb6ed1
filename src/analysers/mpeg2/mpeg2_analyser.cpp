#include "analysers/mpeg2/mpeg2_analyser.h"

#include "bitstream/mpeg2/mpeg2_headers.h"
#include "output/repair_state.h"
#include "reference/video_parameters.h"

void MPEG2Analyser::prepare() {
    m_groupPending = false;
    PictureRunAnalyser::prepare();
}

PictureRunAnalyser::Code MPEG2Analyser::classify(const uint8_t* p, int64_t n, Picture& picture) {
    const uint8_t code = p[3];
    if (mpeg2::isSlice(code) || code == mpeg2::kExtension || code == mpeg2::kUserData || code == mpeg2::kSequenceEnd)
        return Code::Other;
    if (code == mpeg2::kSequenceHeader) {
        // Another recording's sequence (a different picture size) is not ours.
        const VideoParameters& video = *m_repairState->m_video;
        mpeg2::SequenceSize size;
        if (!mpeg2::readSequenceSize(p, n, size))
            return Code::Foreign;
        if (video.m_width && video.m_height && (size.width != video.m_width || size.height != video.m_height))
            return Code::Foreign;
        return Code::OpensPicture;
    }
    if (code == mpeg2::kGroupOfPictures) {
        m_groupPending = true;
        return Code::OpensPicture;
    }
    if (code != mpeg2::kPictureStart)
        return Code::Foreign;
    mpeg2::PictureHeader header;
    if (!mpeg2::readPictureHeader(p, n, header))
        return Code::Foreign;
    picture.groupStart = m_groupPending;
    picture.order = header.temporalReference;
    picture.type = uint8_t(header.type);
    m_groupPending = false;
    return Code::Picture;
}

void MPEG2Analyser::displayOrder(const std::vector<Picture>& pictures, std::vector<int64_t>& display) const {
    std::vector<mpeg2::CodedPicture> coded(pictures.size());
    for (size_t k = 0; k < pictures.size(); ++k)
        coded[k] = {pictures[k].groupStart, pictures[k].order};
    mpeg2::displayIndices(coded.data(), int64_t(coded.size()), display.data());
}
