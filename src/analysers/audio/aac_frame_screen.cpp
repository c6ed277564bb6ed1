#include "analysers/audio/aac_frame_screen.h"

#include "bitstream/common/bit_reader.h"

namespace {

// Raw data block element ids.
constexpr uint32_t kSingleChannel = 0, kChannelPair = 1, kLfe = 3, kDataStream = 4, kFill = 6;
// Fill element extension types: SBR data outside a channel element is an
// error to the decoder; dynamic range and data elements are read field by
// field, every other type is skipped by its count.
constexpr uint32_t kExtDataElement = 2, kExtDynamicRange = 11, kExtSbr = 13, kExtSbrCrc = 14;
constexpr uint32_t kEightShort = 2;
constexpr uint32_t kReservedCodebook = 12;
// The decoder's limits on sections of one window group.
constexpr uint32_t kMaxLongSections = 51, kMaxShortSections = 8 * 15;
// Elements looked at before the screen gives up (fill and data elements in
// front of the first channel).
constexpr int kMaxElements = 8;
// Scale factor bands per sampling frequency index (96 kHz to 8 kHz).
constexpr uint8_t kLongBands[12] = {41, 41, 47, 49, 49, 51, 47, 47, 43, 43, 43, 40};
constexpr uint8_t kShortBands[12] = {12, 12, 12, 14, 14, 14, 15, 15, 15, 15, 15, 15};

enum class Verdict { Reject, Maybe, Go };

struct IcsInfo {
    bool shortWindows = false;
    uint32_t maxSfb = 0;
    uint32_t groups = 1;
};

}  // namespace

AacFrameScreen::AacFrameScreen(const uint8_t* config, uint32_t size) {
    if (!config || size < 2)
        return;
    bitstream::BitReader r(config, size);
    const uint32_t objectType = r.readBits(5);
    const uint32_t rateIndex = r.readBits(4);
    const uint32_t channels = r.readBits(4);
    const uint32_t shortFrames = r.readBits(1);
    if (objectType != 2 || rateIndex >= 12 || channels == 0 || channels > 7 || shortFrames != 0 || !r.ok())
        return;
    // dependsOnCoreCoder and extensionFlag must be clear for plain LC; what
    // may follow is only the extension that says no SBR is present.
    if (r.readBits(2) != 0)
        return;
    if (size > 2) {
        r.byteAlign();
        if (size != 5 || r.readBits(11) != 0x2b7 || r.readBits(5) != 5 || r.readBits(1) != 0 || !r.ok())
            return;
    }
    m_longBands = kLongBands[rateIndex];
    m_shortBands = kShortBands[rateIndex];
    m_active = true;
}

namespace {

// ics_info: Reject on what the decoder refuses, Maybe when prediction data
// follows (its length the screen does not follow).
Verdict readIcsInfo(bitstream::BitReader& r, uint32_t longBands, uint32_t shortBands, IcsInfo& ics) {
    if (r.readBit() != 0)  // reserved
        return Verdict::Reject;
    const uint32_t sequence = r.readBits(2);
    r.readBits(1);  // window shape
    ics.shortWindows = sequence == kEightShort;
    ics.groups = 1;
    if (ics.shortWindows) {
        ics.maxSfb = r.readBits(4);
        const uint32_t grouping = r.readBits(7);
        for (int bit = 6; bit >= 0; --bit)
            if (((grouping >> bit) & 1) == 0)
                ++ics.groups;
        return ics.maxSfb > shortBands ? Verdict::Reject : Verdict::Go;
    }
    ics.maxSfb = r.readBits(6);
    if (ics.maxSfb > longBands)
        return Verdict::Reject;
    return r.readBit() != 0 ? Verdict::Maybe : Verdict::Go;  // predictor data present
}

// section_data: every window group's sections must cover exactly max_sfb bands.
Verdict readSections(bitstream::BitReader& r, const IcsInfo& ics) {
    const unsigned bits = ics.shortWindows ? 3 : 5;
    const uint32_t escape = (1u << bits) - 1;
    const uint32_t maxSections = ics.shortWindows ? kMaxShortSections : kMaxLongSections;
    for (uint32_t g = 0; g < ics.groups; ++g) {
        uint32_t k = 0;
        for (uint32_t i = 0; k < ics.maxSfb; ++i) {
            if (!r.ok())
                return Verdict::Maybe;
            if (r.readBits(4) == kReservedCodebook)
                return Verdict::Reject;
            // The decoder adds the length up in 16 bits: a run of escapes
            // long enough wraps it around, and so must it here.
            uint16_t length = 0;
            uint32_t increment = r.readBits(bits);
            while (increment == escape && r.ok()) {
                length = uint16_t(length + increment);
                increment = r.readBits(bits);
            }
            length = uint16_t(length + increment);
            if (k + length > maxSections || i >= maxSections)
                return Verdict::Reject;
            k += length;
        }
        if (k != ics.maxSfb)
            return Verdict::Reject;
    }
    return Verdict::Go;
}

}  // namespace

bool AacFrameScreen::rejects(const uint8_t* data, uint64_t n) const {
    if (!m_active || n < 3)
        return false;
    // The decoder skips an ID3v1 tag whole.
    if (n >= 128 && data[0] == 'T' && data[1] == 'A' && data[2] == 'G')
        return false;
    bitstream::BitReader r(data, n);
    // Past the end the decoder reads zeros where this reader stops: only a
    // verdict reached on bytes that are there counts.
    auto rejected = [&r](Verdict v) { return v == Verdict::Reject && r.ok(); };
    for (int element = 0; element < kMaxElements; ++element) {
        const uint32_t id = r.readBits(3);
        if (!r.ok())
            return false;
        if (id == kFill) {
            uint32_t count = r.readBits(4);
            if (count == 15)
                count += r.readBits(8) - 1;
            if (count == 0)
                continue;
            const uint32_t type = r.peekBits(4);
            if (!r.ok() || type == kExtDataElement || type == kExtDynamicRange)
                return false;
            if (type == kExtSbr || type == kExtSbrCrc)
                return true;
            r.skipBits(8 * uint64_t(count));  // type, nibble, count - 1 bytes
            continue;
        }
        if (id == kDataStream) {
            r.readBits(4);  // tag
            const bool aligned = r.readFlag();
            uint32_t count = r.readBits(8);
            if (count == 255)
                count += r.readBits(8);
            if (aligned)
                r.byteAlign();
            r.skipBits(8 * uint64_t(count));
            continue;
        }
        if (id != kSingleChannel && id != kLfe && id != kChannelPair)
            return false;
        r.readBits(4);  // tag
        IcsInfo ics;
        if (id == kChannelPair && r.readFlag()) {  // common window
            const Verdict info = readIcsInfo(r, m_longBands, m_shortBands, ics);
            if (info != Verdict::Go)
                return rejected(info);
            const uint32_t msMask = r.readBits(2);
            if (msMask == 3)
                return r.ok();
            if (msMask == 1)
                r.skipBits(uint64_t(ics.groups) * ics.maxSfb);
            r.readBits(8);  // global gain
        } else {
            r.readBits(8);  // global gain
            const Verdict info = readIcsInfo(r, m_longBands, m_shortBands, ics);
            if (info != Verdict::Go)
                return rejected(info);
        }
        return rejected(readSections(r, ics));
    }
    return false;
}
