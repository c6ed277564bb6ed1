#include "analysers/mpeg2/mpeg2_analyser.h"

#include "bitstream/mpeg2/mpeg2_headers.h"
#include "output/repair_state.h"
#include "reference/reference_info.h"
#include "reference/video_parameters.h"

#include <algorithm>

void MPEG2Analyser::prepare() {
    m_groupPending = false;
    m_lastSliceRow = 0;
    m_sequenceSeen = false;
    m_groupClosed = false;
    const ReferenceInfo* reference = m_repairState->m_reference.get();
    m_quickTime = reference && reference->isOpen() &&
                  reference->movieParameters().m_brand.m_majorBrand == makeFourcc("qt  ");
    PictureRunAnalyser::prepare();
}

PictureRunAnalyser::Code MPEG2Analyser::classify(const uint8_t* p, int64_t n, Picture& picture) {
    const uint8_t code = p[3];
    if (mpeg2::isSlice(code)) {
        // Slices follow the rows down the picture; a code out of that order
        // or below its last row is chance bytes in other data (PCM of a
        // quiet sound holds many).
        const uint32_t height = m_repairState->m_video->m_height;
        const uint32_t rows = height ? std::max((height + 15) / 16, 2 * ((height + 31) / 32)) : 0;
        if (code < m_lastSliceRow || (rows && rows <= mpeg2::kMaxPlainSliceRows && code > rows))
            return Code::Foreign;
        m_lastSliceRow = code;
        return Code::Other;
    }
    if (code == mpeg2::kExtension || code == mpeg2::kUserData || code == mpeg2::kSequenceEnd)
        return Code::Other;
    if (code == mpeg2::kSequenceHeader) {
        // Another recording's sequence (a different picture size) is not ours.
        const VideoParameters& video = *m_repairState->m_video;
        mpeg2::SequenceSize size;
        if (!mpeg2::readSequenceSize(p, n, size))
            return Code::Foreign;
        if (video.m_width && video.m_height && (size.width != video.m_width || size.height != video.m_height))
            return Code::Foreign;
        m_sequenceSeen = true;
        return Code::OpensPicture;
    }
    if (code == mpeg2::kGroupOfPictures) {
        m_groupPending = true;
        // closed_gop follows the 25 bits of the time code.
        m_groupClosed = n > 7 && (p[7] & 0x40) != 0;
        return Code::OpensPicture;
    }
    // Pictures count from the first sequence header on: without one no
    // decoder can show them, and picture start codes are short enough to
    // turn up in any other data (a stream of another codec, say).
    if (code != mpeg2::kPictureStart || !m_sequenceSeen)
        return Code::Foreign;
    mpeg2::PictureHeader header;
    if (!mpeg2::readPictureHeader(p, n, header))
        return Code::Foreign;
    picture.groupStart = m_groupPending;
    m_lastSliceRow = 0;
    picture.order = header.temporalReference;
    picture.type = uint8_t(header.type);
    // ffmpeg's MP4 muxer lists every I picture as a sync sample; its
    // QuickTime muxer only one that opens a closed group or is shown first
    // in its group (the others it calls partial sync samples): the B
    // pictures behind an open group's I picture need the group in front.
    picture.randomAccess = header.type == mpeg2::PictureType::Intra &&
                           (!m_quickTime || header.temporalReference == 0 || (m_groupPending && m_groupClosed));
    m_groupPending = false;
    return Code::Picture;
}

void MPEG2Analyser::displayOrder(const std::vector<Picture>& pictures, bool, std::vector<int64_t>& display) const {
    std::vector<mpeg2::CodedPicture> coded(pictures.size());
    for (size_t k = 0; k < pictures.size(); ++k)
        coded[k] = {pictures[k].groupStart, pictures[k].order};
    mpeg2::displayIndices(coded.data(), int64_t(coded.size()), display.data());
}

bool MPEG2Analyser::lastCodeMayEndPicture(const uint8_t* p, int64_t n) const {
    const uint32_t height = m_repairState->m_video->m_height;
    if (!mpeg2::isStartCode(p, n) || !mpeg2::isSlice(p[3]) || height == 0)
        return true;
    // Taller pictures carry the row's high bits in the slice header; their
    // last row is not told by the code alone.
    if (height > mpeg2::kMaxPlainSliceRows * 16)
        return true;
    // An interlaced sequence counts its rows in pairs.
    return p[3] == (height + 15) / 16 || p[3] == 2 * ((height + 31) / 32);
}
