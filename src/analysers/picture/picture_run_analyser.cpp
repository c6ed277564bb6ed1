#include "analysers/picture/picture_run_analyser.h"

#include "analysers/core/top_level_atom.h"
#include "bitstream/common/byte_read.h"
#include "log/logger.h"
#include "output/repair_state.h"
#include "output/sample_collection.h"
#include "reference/audio_parameters.h"
#include "reference/reference_info.h"
#include "reference/video_parameters.h"
#include "scan/byte_block.h"
#include "scan/scan_buffer.h"

#include <algorithm>
#include <cstring>

namespace {

// Header bytes a codec needs to classify a start code.
constexpr int32_t kHeaderBytes = 16;
// How far behind the last picture the movie's own atoms are looked for.
constexpr int32_t kTrailingAtomSearch = 4 * 1024 * 1024;
// How far in front of the first picture the media data atom's header is
// looked for (the audio a recording begins with may lie between them).
// The most bytes between two headers in front of one picture (quantiser
// matrices, user data).
constexpr int64_t kMaxHeaderGap = 4096;
constexpr int64_t kMediaDataHeaderSearch = 256 * 1024;

// The first top-level atom in [from, end), or -1.
int64_t topLevelAtomAfter(ScanBuffer& buffer, int64_t from, int64_t end) {
    if (from < 0 || end - from < 8)
        return -1;
    const int32_t n = int32_t(std::min<int64_t>(end - from, kTrailingAtomSearch));
    ByteBlock block = buffer.readBlock(from, n);
    TopLevelAtom atom;
    if (findTopLevelAtom(block.data(), block.length(), from, buffer.fileSize(), block.length() - 1, atom))
        return atom.offset;
    return -1;
}

// Where the media data atom that holds `first` says it ends; -1 when its
// header is not found close in front or gives no size (a recorder that
// stopped early leaves 0 there). Some recorders nest an 'mdat' of size 0
// behind a 'wide' atom inside the one that gives the size: the search goes
// on in front of a header that holds no end behind `first`.
int64_t mediaDataEnd(ScanBuffer& buffer, int64_t first) {
    const int64_t from = std::max<int64_t>(first - kMediaDataHeaderSearch, 0);
    ByteBlock block = buffer.readBlock(from, int32_t(first - from));
    const uint8_t* d = block.data();
    for (int64_t q = block.length() - 4; q >= 4; --q) {
        if (std::memcmp(d + q, "mdat", 4) != 0)
            continue;
        uint64_t size = bitstream::readBE32(d + q - 4);
        if (size == 1 && q + 12 <= block.length())
            size = bitstream::readBE64(d + q + 4);
        const int64_t atom = from + q - 4;
        if (size > 16 && size < uint64_t(INT64_MAX - atom) && atom + int64_t(size) > first)
            return atom + int64_t(size);
    }
    return -1;
}

}  // namespace

PictureRunAnalyser::PictureRunAnalyser(RepairState* repairState, ScanInfo* scanInfo, std::string logLabel)
    : StreamAnalyser(repairState, scanInfo), m_label(std::move(logLabel)), m_audio(repairState) {}

bool PictureRunAnalyser::check(int64_t, const uint8_t* data, int32_t available) {
    return available >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 1;
}

int32_t PictureRunAnalyser::findCandidate(int64_t, const uint8_t* data, int32_t count, int32_t available) {
    int32_t i = 0;
    const int32_t end = std::min(count + 2, available);
    while (i < count && i + 2 < end) {
        const void* hit = std::memchr(data + i + 2, 1, size_t(end - (i + 2)));
        if (!hit)
            return count;
        const int32_t j = int32_t(static_cast<const uint8_t*>(hit) - data) - 2;
        if (j >= count)
            return count;
        if (j >= 0 && data[j] == 0 && data[j + 1] == 0 && available - j >= 4)
            return j;
        i = j + 1;
    }
    return count;
}

void PictureRunAnalyser::prepare() {
    m_lastCode = -1;
    m_headers.clear();
    m_lastHeaderCode = -1;
    m_pictureStart = -1;
    m_lastCodeInPicture = -1;
    m_lastAudioEnd = -1;
    m_mediaDataEnd = -1;
    m_endsWhole = false;
    m_index = 0;
    m_emitted.clear();
    m_sampleIndex.clear();
    m_audio.prepare();
}

bool PictureRunAnalyser::analyse(int64_t offset, ScanBuffer& buffer) {
    if (offset <= m_lastCode)
        return false;
    m_lastCode = offset;
    const uint8_t* p = buffer.get(offset, kHeaderBytes);
    const int64_t n = std::min<int64_t>(buffer.available(), kHeaderBytes);
    if (!p || n < 4)
        return false;
    Picture picture;
    switch (classify(p, n, picture)) {
    case Code::Foreign:
        break;
    case Code::Other:
        if (m_headers.empty() && m_pictureStart >= 0)
            m_lastCodeInPicture = offset;
        else if (!m_headers.empty() && offset - m_lastHeaderCode > kMaxHeaderGap)
            m_headers.clear();
        m_lastHeaderCode = offset;
        break;
    case Code::OpensPicture:
        // Headers come one behind the other; one far from the next is
        // chance bytes in other data.
        if (!m_headers.empty() && offset - m_lastHeaderCode > kMaxHeaderGap)
            m_headers.clear();
        m_headers.push_back(offset);
        m_lastHeaderCode = offset;
        break;
    case Code::Picture: {
        if (!m_headers.empty() && offset - m_lastHeaderCode > kMaxHeaderGap)
            m_headers.clear();
        m_headers.push_back(offset);
        int64_t start = m_headers.front();
        if (m_pictureStart >= 0)
            start = closePicture(buffer, m_headers);
        else if (m_index == 0) {
            m_mediaDataEnd = mediaDataEnd(buffer, start);
            start = takeLeadingAudio(buffer, m_headers);
        }
        m_headers.clear();
        m_pictureStart = start;
        m_lastCodeInPicture = offset;
        m_current = picture;
        break;
    }
    }
    return false;
}

int64_t PictureRunAnalyser::closePicture(ScanBuffer& buffer, const std::vector<int64_t>& starts) {
    const int64_t start = m_pictureStart;
    // The audio begins behind the picture's last start code.
    const int64_t from = std::max(m_lastCodeInPicture + 4, start + 4);
    // The next picture begins at the first of its headers that audio ends
    // at: a header-like code inside the audio is no header.
    FrameChain audio;
    for (const int64_t next : starts) {
        if (m_audio.find(buffer, from, next, m_index, m_lastAudioEnd, audio)) {
            emitPicture(buffer, start, audio.front() - start, audio);
            return next;
        }
    }
    audio.clear();
    emitPicture(buffer, start, starts.front() - start, audio);
    return starts.front();
}

int64_t PictureRunAnalyser::takeLeadingAudio(ScanBuffer& buffer, const std::vector<int64_t>& starts) {
    // As behind a picture: the first of the headers that the audio ends at.
    FrameChain audio;
    for (const int64_t first : starts) {
        if (m_audio.findBefore(buffer, 0, first, audio)) {
            if (!audioTakenElsewhere())
                m_audio.emit(buffer, audio, m_label);
            m_lastAudioEnd = audio.back();
            return first;
        }
    }
    return starts.front();
}

bool PictureRunAnalyser::audioTakenElsewhere() const {
    // The stand-alone audio analysers take the audio themselves.
    return m_audio.kind() == TrailingAudio::Kind::Pcm ? m_scanInfo->pcmRuns : m_scanInfo->aacFilter;
}

void PictureRunAnalyser::emitPicture(ScanBuffer& buffer, int64_t offset, int64_t size, const FrameChain& audio) {
    ++m_index;
    if (size <= 0 || size > INT32_MAX)
        return;
    VideoParameters& video = *m_repairState->m_video;
    if (video.m_codec.empty())
        video.m_codec = videoClass();
    if (add_video_samples(*m_repairState, buffer, offset, int32_t(size), 0)) {
        m_sampleIndex.emplace_back(m_repairState->m_samples.size() - 1, offset);
        m_emitted.push_back(m_current);
    }
    FLOG(LogLevel::Info) << m_label << " at " << offset << "  size=" << size << "  type=" << int(m_current.type)
                         << "  order=" << m_current.order;
    m_scanInfo->setFrameStart(uint64_t(offset));
    m_scanInfo->setFrameEnd(audio.empty() ? 0 : uint64_t(audio.front() - 1));
    if (audio.empty())
        return;
    if (!audioTakenElsewhere())
        m_audio.emit(buffer, audio, m_label);
    m_lastAudioEnd = audio.back();
}

void PictureRunAnalyser::finish(ScanBuffer& buffer) {
    if (m_pictureStart >= 0) {
        int64_t end = buffer.fileSize();
        if (m_scanInfo->stopOffset > 0)
            end = std::min(end, m_scanInfo->stopOffset + 1);
        // The media data ends whole where another atom follows it or where
        // its header says; then so does its last picture. Otherwise the input
        // may stop inside the last picture, which is whole only when the
        // audio the recorder wrote behind it is there.
        const int64_t atom = topLevelAtomAfter(buffer, m_pictureStart + 4, end);
        const bool whole = atom >= 0 || (m_mediaDataEnd > m_pictureStart && m_mediaDataEnd <= end);
        m_endsWhole = whole;
        if (atom >= 0)
            end = atom;
        else if (whole)
            end = m_mediaDataEnd;
        FrameChain audio;
        const int64_t from = std::max(m_lastCodeInPicture + 4, m_pictureStart + 4);
        uint8_t code[kHeaderBytes] = {};
        const int64_t codeBytes = int64_t(buffer.read(code, m_lastCodeInPicture, sizeof code));
        if (!whole && !lastCodeMayEndPicture(code, codeBytes))
            FLOG(LogLevel::Info) << m_label << " last picture at " << m_pictureStart
                                 << " dropped: its data stops short";
        else if (m_audio.findAtEnd(buffer, from, end, m_index, m_lastAudioEnd, !whole, audio))
            emitPicture(buffer, m_pictureStart, audio.front() - m_pictureStart, audio);
        else if (whole)
            closePicture(buffer, {end});
        else
            FLOG(LogLevel::Info) << m_label << " last picture at " << m_pictureStart
                                 << " dropped: the input may end inside it";
        m_pictureStart = -1;
    }
    applyPictureOrder();
}

void PictureRunAnalyser::applyPictureOrder() {
    FoundSampleList& samples = m_repairState->m_samples;
    // New clip detection may have written and emptied the list since.
    const auto place = [&](size_t k) {
        const auto [i, offset] = m_sampleIndex[k];
        return i < samples.size() && samples[i].isVideo() && samples[i].offset == offset ? i : SIZE_MAX;
    };
    for (size_t k = 0; k < m_emitted.size(); ++k)
        if (const size_t i = place(k); i != SIZE_MAX)
            samples.setSync(i, m_emitted[k].randomAccess ? SyncState::Sync : SyncState::NotSync);
    if (m_scanInfo->noCompositionOffsets || m_repairState->m_ignoreCompositionOffsets || m_emitted.empty())
        return;
    std::vector<int64_t> display(m_emitted.size(), 0);
    displayOrder(m_emitted, !m_endsWhole, display);
    // Players show nothing before the first decoded picture: the offsets
    // are shifted so that none is negative.
    int64_t delay = 0;
    for (size_t k = 0; k < display.size(); ++k)
        delay = std::max(delay, int64_t(k) - display[k]);
    const int64_t duration = std::max<int64_t>(m_repairState->m_video->m_sampleDuration, 1);
    for (size_t k = 0; k < display.size(); ++k) {
        const size_t i = place(k);
        if (i == SIZE_MAX)
            continue;
        const int64_t composition = (display[k] - int64_t(k) + delay) * duration;
        if (composition >= 0 && composition <= INT32_MAX)
            samples.setExtra(i, int32_t(composition));
    }
}
