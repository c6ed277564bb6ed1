#pragma once
// Runs of raw AAC frames. Inside a movie AAC frames carry no sync word and
// no length, so the only way to tell where one ends is to decode it: FAAD2,
// set up with the reference's AudioSpecificConfig, reports the bytes each
// frame took.

#include "analysers/audio/aac_frame_screen.h"
#include "analysers/audio/frame_chain.h"

#include <bitset>
#include <cstdint>

class ScanBuffer;

// The reference's AAC configuration as the chains need it.
struct AacChainConfig {
    const uint8_t* decoderConfig = nullptr;  // AudioSpecificConfig bytes (esds)
    uint8_t decoderConfigLength = 0;
    // The values the first byte of the reference's frames takes. When any is
    // known, every frame after the first must begin with one of them: a cheap
    // stop long before the decoder would notice that it has run into video
    // data. Searches bounded by other means leave it empty, so that nothing
    // the decoder takes cleanly is cut.
    std::bitset<256> firstBytes;
};

// The first bytes an AAC frame of the recorder can begin with, from those
// the reference's frames begin with. A raw data block opens with a 3-bit
// element id and a 4-bit instance tag (a fill element's count); the eighth
// bit is the first of the element's content (the top bit of a channel's
// gain, say) and takes either value whatever the reference showed.
std::bitset<256> aacFrameFirstBytes(const std::bitset<256>& seen);

// What the decoder configuration alone tells of a recorder's frames, for
// when the reference's frames say nothing about sound (digital silence).
struct AacConfigLimits {
    // The first element of a frame with the configuration's channel layout:
    // a channel pair for stereo, the single (centre) channel for every other
    // standard layout, each with instance tag 0. Empty when a program config
    // element decides the layout.
    std::bitset<256> firstBytes;
    uint32_t channels = 0;  // 0: unknown
    // The decoder's input buffer holds 6144 bits per channel, and no frame
    // may be larger; 0 when the channel count is unknown.
    uint64_t maxFrameBytes = 0;
};
// `channels` (the sample description's count) stands in when the
// configuration leaves the layout to a program config element.
AacConfigLimits aacConfigLimits(const uint8_t* config, uint32_t size, uint32_t channels);

// One FAAD2 decoder set up with the reference's configuration, measuring
// frames. How many bytes an AAC frame takes follows from its own bits (the
// SBR and fill payloads carry their lengths), so a measure taken in one run
// holds for every run through the same position. What a decoder has read
// can still change how it takes the next frame (a program config element
// met in other data changes the channels it expects), so a run that starts
// somewhere new starts with a fresh decoder (restart).
class AacFrameMeter {
public:
    explicit AacFrameMeter(const AacChainConfig& config)
        : m_config(config), m_screen(config.decoderConfig, config.decoderConfigLength) {}
    ~AacFrameMeter() { close(); }
    AacFrameMeter(const AacFrameMeter&) = delete;
    AacFrameMeter& operator=(const AacFrameMeter&) = delete;

    // A decoder with float output without down-mixing that has read no
    // frame yet; false when FAAD2 rejects the configuration.
    bool restart();
    // Bytes the frame at `data` takes, at most `n`; 0 when the decoder
    // rejects it or it does not carry the configuration's channels.
    uint32_t frameLength(const uint8_t* data, uint32_t n);

private:
    void close();

    AacChainConfig m_config;
    // Bytes it rejects never reach the decoder, which stays unused.
    AacFrameScreen m_screen;
    void* m_handle = nullptr;
    bool m_used = true;  // has read a frame since it was set up
    unsigned char m_channels = 0;  // what the configuration decodes to
};

// A chain of AAC frames over `n` bytes of `data` (at file offset `offset`),
// decoded as far as asked and taken on later where it stopped, by the decoder
// that read its frames so far: asked for more, it decodes only the frames it
// has not, and they are those a fresh decode of the whole run gives. Opening
// a decoder builds its transform tables, which costs more than the few frames
// a chain is mostly asked for. `data` must outlive it.
class AacChainDecoder {
public:
    AacChainDecoder(const AacChainConfig& config, const uint8_t* data, int32_t n, int64_t offset)
        : m_config(config), m_meter(config), m_data(data), m_n(n), m_chain{offset} {}

    // Decodes on until the chain holds `maxFrames` frames or the run ends;
    // false (logged) when the decoder cannot be set up with the configuration.
    bool extend(size_t maxFrames);
    const FrameChain& chain() const { return m_chain; }
    // The run ended (bytes that are no frame, or the end of the data): no
    // call of extend adds a frame.
    bool ended() const { return m_ended; }

private:
    AacChainConfig m_config;
    AacFrameMeter m_meter;
    const uint8_t* m_data;
    int32_t m_n;
    int32_t m_pos = 0;
    FrameChain m_chain;
    bool m_opened = false;
    bool m_ended = false;
};

// Chain of AAC frames over `n` bytes of `data`, which lie at file offset
// `offset`. A new decoder is opened and closed for every chain, so no state
// leaks from one candidate run to the next. Returns the bytes covered, or -1
// (logged) when the decoder cannot be set up with the configuration. With
// `maxFrames` the chain stops after that many frames: the same first frames
// as the whole chain's, decoded over the same bytes.
int64_t aacFrameChain(const AacChainConfig& config, const uint8_t* data, int32_t n, int64_t offset,
                      FrameChain& chain, size_t maxFrames = kMaxFrameChainOffsets);

// The same over the input: reads min(count, kMaxFrameChainRead) bytes at
// `offset`.
int64_t aacFrameChain(const AacChainConfig& config, ScanBuffer& input, int64_t offset, int64_t count,
                      FrameChain& chain);
