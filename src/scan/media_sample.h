#pragma once
// One sample found in the input: where it is, how long, and what the output
// writer needs to place it in its track; and the list the scan collects them in.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

// Which track a sample goes to. Meta samples (timed metadata of camera
// formats) are written to a track of their own and never counted as audio.
enum class SampleKind : uint8_t { Audio = 0, Video = 1, Meta = 2 };

// Whether a video picture can be decoded without any picture in front of it
// (a random-access point), as far as the analyser that read its first units
// could tell. Unknown for sound, for intra-only codecs (every picture is
// one) and wherever nobody looked.
enum class SyncState : uint8_t { Unknown = 0, Sync = 1, NotSync = 2 };

struct MediaSample {
    int64_t offset = 0;  // file offset of the sample in the input
    int32_t size = 0;    // bytes; always below the input file size
    SampleKind kind = SampleKind::Audio;
    // Sits beside the kind in the bytes the alignment leaves: a sample stays
    // 24 bytes.
    SyncState sync = SyncState::Unknown;
    // Video: composition offset (0 when composition offsets are off).
    // Audio: whatever the reporting analyser passed (-1 from PCM and AAC).
    int32_t extra = 0;
    // Video: how long the picture is shown, in media units; 0 = the track's
    // typical frame duration.
    int32_t duration = 0;

    bool isVideo() const { return kind == SampleKind::Video; }
    bool isAudio() const { return kind == SampleKind::Audio; }
};
static_assert(sizeof(MediaSample) <= 24, "the sample list is what grows with the input");

// Found samples in the order they were reported, with a running count per
// kind. A long recording reports hundreds of thousands of them, so appending
// must stay constant time: geometric growth, and no allocation per sample.
// (The sample tables read from files grow in fixed steps instead, because
// their counts come from untrusted input; this list only grows by what the
// scan really found.) A sample's kind never changes once it is in the list,
// which keeps the counts right; its composition offset, duration and sync
// state may be rewritten.
class FoundSampleList {
public:
    FoundSampleList() = default;
    FoundSampleList(std::initializer_list<MediaSample> samples) {
        for (const MediaSample& s : samples)
            push_back(s);
    }

    // False when the sample cannot be stored (out of memory): a scan of a
    // huge input must not end in an exception.
    bool push_back(const MediaSample& sample) noexcept {
        try {
            m_samples.push_back(sample);
        } catch (...) {
            return false;
        }
        ++m_counts[size_t(sample.kind)];
        return true;
    }
    void clear() {
        m_samples.clear();
        m_counts = {};
    }

    size_t size() const { return m_samples.size(); }
    bool empty() const { return m_samples.empty(); }
    uint64_t count(SampleKind kind) const { return m_counts[size_t(kind)]; }
    const MediaSample& operator[](size_t i) const { return m_samples[i]; }
    const MediaSample& back() const { return m_samples.back(); }
    std::vector<MediaSample>::const_iterator begin() const { return m_samples.begin(); }
    std::vector<MediaSample>::const_iterator end() const { return m_samples.end(); }
    void setExtra(size_t i, int32_t extra) { m_samples[i].extra = extra; }
    void setDuration(size_t i, int32_t duration) { m_samples[i].duration = duration; }
    void setSync(size_t i, SyncState sync) { m_samples[i].sync = sync; }
    // Removes the last sample of the kind (copied to `removed` when given);
    // false when there is none.
    bool removeLast(SampleKind kind, MediaSample* removed = nullptr) {
        for (size_t i = m_samples.size(); i-- > 0;) {
            if (m_samples[i].kind != kind)
                continue;
            if (removed)
                *removed = m_samples[i];
            m_samples.erase(m_samples.begin() + long(i));
            --m_counts[size_t(kind)];
            return true;
        }
        return false;
    }

private:
    std::vector<MediaSample> m_samples;
    std::array<uint64_t, 3> m_counts{};
};
