#pragma once
// What the analysers of start-code video (MPEG-2, MPEG-4 Visual) share. A
// coded picture begins at a start code (with the headers in front of it)
// and runs up to the next picture, less the audio the recorder wrote behind
// it, which is found backwards from that next picture (TrailingAudio). Each
// picture is emitted when the next one is met; the last one at the end of
// the input when the audio behind it, or the end of the media data, shows
// that it is whole. Composition offsets follow from the display order that
// the codec's headers tell, once all pictures are known; each picture's sync
// state from what its header says.

#include "analysers/core/stream_analyser.h"
#include "analysers/picture/trailing_audio.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class PictureRunAnalyser : public StreamAnalyser {
public:
    PictureRunAnalyser(RepairState* repairState, ScanInfo* scanInfo, std::string logLabel);

    bool check(int64_t offset, const uint8_t* data, int32_t available) override;
    int32_t findCandidate(int64_t offset, const uint8_t* data, int32_t count, int32_t available) override;
    bool analyse(int64_t offset, ScanBuffer& buffer) override;
    void finish(ScanBuffer& buffer) override;
    void prepare() override;

protected:
    // What a start code means to the codec.
    enum class Code {
        Other,           // inside a picture or beside it: nothing changes
        OpensPicture,    // a header that a picture carries in front of it
        Picture,         // the picture's own start code
        Foreign,         // not this stream (a sequence of another size, say)
    };
    struct Picture {
        bool groupStart = false;  // a group of pictures (or an intra picture) begins here
        uint32_t order = 0;       // the codec's display-order field
        uint8_t type = 0;         // the codec's picture type
        bool randomAccess = false;  // a decoder may start here: the output lists it as a sync sample
    };
    // `p` holds `n` bytes from the start code prefix on. For a picture, fills
    // `picture` from its header.
    virtual Code classify(const uint8_t* p, int64_t n, Picture& picture) = 0;
    // Display index of each emitted picture, in decode order; `cutShort`:
    // the input may end inside the stream.
    virtual void displayOrder(const std::vector<Picture>& pictures, bool cutShort,
                              std::vector<int64_t>& display) const = 0;
    // Can a picture whose last start code is at `p` (`n` bytes) be whole?
    // False when that code shows that the picture's data stops short.
    virtual bool lastCodeMayEndPicture(const uint8_t* p, int64_t n) const {
        (void)p;
        (void)n;
        return true;
    }
    // The video class to set when the working parameters have none yet.
    virtual const char* videoClass() const = 0;

private:
    // The next picture begins at one of `starts` (its headers' start codes
    // and its own, in file order): the current one ends in front of it.
    // Returns where the next one begins.
    int64_t closePicture(ScanBuffer& buffer, const std::vector<int64_t>& starts);
    // The audio a recording begins with, in front of its first picture,
    // which begins at one of `starts`; returns where.
    int64_t takeLeadingAudio(ScanBuffer& buffer, const std::vector<int64_t>& starts);
    bool audioTakenElsewhere() const;
    void emitPicture(ScanBuffer& buffer, int64_t offset, int64_t size, const FrameChain& audio);
    // Composition offsets (unless switched off) and sync states of the emitted pictures.
    void applyPictureOrder();

    std::string m_label;
    TrailingAudio m_audio;
    int64_t m_lastCode = -1;       // the last start code looked at (a repeated offer is ignored)
    std::vector<int64_t> m_headers;  // headers met since the current picture's data began
    int64_t m_lastHeaderCode = -1;
    int64_t m_pictureStart = -1;   // the picture being collected
    int64_t m_lastCodeInPicture = -1;
    Picture m_current;
    int64_t m_lastAudioEnd = -1;   // where the audio emitted last ends
    int64_t m_mediaDataEnd = -1;   // where the media data atom says it ends (-1: unknown)
    bool m_endsWhole = false;      // the media data ends inside the input
    uint64_t m_index = 0;          // pictures met before the current one (the pattern's index)
    std::vector<Picture> m_emitted;
    std::vector<std::pair<size_t, int64_t>> m_sampleIndex;  // each emitted picture's place in the list, offset
};
