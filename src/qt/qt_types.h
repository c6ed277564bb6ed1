#pragma once
// Plain records shared by the movie reader and writer: fourccs, the ftyp brand
// record, codec configuration storage (avcC, hvcC, esds, colr, one opaque
// description atom) and the growable sample tables.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

// Four raw bytes in file order held in a 32-bit value, so comparing two of them
// (or one with makeFourcc("avc1")) compares bytes.
using Fourcc = uint32_t;

constexpr Fourcc makeFourcc(const char (&s)[5]) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return (Fourcc(uint8_t(s[0])) << 24) | (Fourcc(uint8_t(s[1])) << 16) | (Fourcc(uint8_t(s[2])) << 8) |
           Fourcc(uint8_t(s[3]));
#else
    return Fourcc(uint8_t(s[0])) | (Fourcc(uint8_t(s[1])) << 8) | (Fourcc(uint8_t(s[2])) << 16) |
           (Fourcc(uint8_t(s[3])) << 24);
#endif
}

// The first four bytes of a text (missing bytes are zero).
Fourcc fourccFromText(const std::string& text);
// "%c%c%c%c" into one shared static buffer: valid until the next call.
const char* fourccText(Fourcc fourcc);
// The fourcc as a four-character string (no shared buffer).
std::string fourccString(Fourcc fourcc);

// ftyp contents; also what QTCreate takes (92 bytes).
constexpr int kMaxCompatibleBrands = 20;
struct BrandRecord {
    Fourcc m_majorBrand = 0;
    uint32_t m_minorVersion = 0;
    int32_t m_compatibleCount = 0;  // at most kMaxCompatibleBrands
    Fourcc m_compatibleBrands[kMaxCompatibleBrands] = {};
};

// avcC. Sizes of the slots are fixed so that the record can be copied by value
// between a reference track, the working parameters and an output track. The
// large byte slots have no initializer: a MovieFile is allocated zeroed by the
// library, and only bytes within the stored lengths are ever read.
constexpr int kMaxParameterSets = 32;
constexpr int kMaxSpsBytes = 8192;
constexpr int kMaxPpsBytes = 4096;
// The SPS extension units of a High-profile record, kept whole as stored
// (count byte excluded); more than this is not a real encoder's.
constexpr int kMaxSpsExtBytes = 1024;
struct H264Config {
    uint8_t m_version = 0;           // configurationVersion
    uint8_t m_profile = 0;           // AVCProfileIndication
    uint8_t m_compatibility = 0;     // profile_compatibility
    uint8_t m_level = 0;             // AVCLevelIndication
    uint8_t m_lengthSizeByte = 0;    // reserved bits + lengthSizeMinusOne
    uint8_t m_spsCountByte = 0;      // reserved bits + numOfSequenceParameterSets (low 5 bits)
    uint16_t m_spsLength[kMaxParameterSets] = {};
    uint8_t m_sps[kMaxParameterSets][kMaxSpsBytes];  // only the first m_spsLength[i] bytes are defined
    uint8_t m_ppsCount = 0;          // numOfPictureParameterSets (as stored)
    uint16_t m_ppsLength[kMaxParameterSets] = {};
    uint8_t m_pps[kMaxParameterSets][kMaxPpsBytes];  // only the first m_ppsLength[i] bytes are defined
    // The High-profile tail (AVCProfileIndication 100, 110, 122, 144, 244):
    // chroma format and bit depths with their reserved bits, then the SPS
    // extension units. Older writers leave it out, and a record read
    // without it is written without it.
    bool m_hasHighTail = false;
    uint8_t m_chromaFormatByte = 0xFD;    // reserved bits + chroma_format
    uint8_t m_bitDepthLumaByte = 0xF8;    // reserved bits + bit_depth_luma_minus8
    uint8_t m_bitDepthChromaByte = 0xF8;  // reserved bits + bit_depth_chroma_minus8
    uint8_t m_spsExtCount = 0;            // numOfSequenceParameterSetExt
    uint16_t m_spsExtBytes = 0;           // length-prefixed units, as stored
    uint8_t m_spsExt[kMaxSpsExtBytes];    // only the first m_spsExtBytes bytes are defined

    int spsCount() const { return m_spsCountByte & 0x1F; }
    // Bytes of the length in front of each NAL unit of a sample.
    unsigned lengthSize() const { return (m_lengthSizeByte & 3u) + 1; }
    // Empties the record without touching the parameter-set slots, so that a
    // reset costs nothing and unused slots never become resident memory.
    void clear() {
        m_version = m_profile = m_compatibility = m_level = m_lengthSizeByte = m_spsCountByte = m_ppsCount = 0;
        m_hasHighTail = false;
        m_chromaFormatByte = 0xFD;
        m_bitDepthLumaByte = m_bitDepthChromaByte = 0xF8;
        m_spsExtCount = 0;
        m_spsExtBytes = 0;
        std::memset(m_spsLength, 0, sizeof m_spsLength);
        std::memset(m_ppsLength, 0, sizeof m_ppsLength);
    }
    int ppsCount() const { return m_ppsCount < kMaxParameterSets ? m_ppsCount : kMaxParameterSets; }
    // Profiles whose record carries the High-profile tail.
    static bool profileHasHighTail(uint8_t profile) {
        return profile == 100 || profile == 110 || profile == 122 || profile == 144 || profile == 244;
    }
    // The tail of a record built from a sequence parameter set.
    void setHighTail(uint32_t chromaFormat, uint32_t bitDepthLumaMinus8, uint32_t bitDepthChromaMinus8) {
        m_hasHighTail = true;
        m_chromaFormatByte = uint8_t(0xFC | (chromaFormat & 3));
        m_bitDepthLumaByte = uint8_t(0xF8 | (bitDepthLumaMinus8 & 7));
        m_bitDepthChromaByte = uint8_t(0xF8 | (bitDepthChromaMinus8 & 7));
        m_spsExtCount = 0;
        m_spsExtBytes = 0;
    }
};

// hvcC header fields, then up to 7 arrays of up to 7 NAL units, each kept
// whole (an hvcC length is 16 bits).
constexpr int kMaxHevcArrays = 7;
constexpr int kMaxHevcNalus = 7;
struct HEVCNalArray {
    uint8_t m_nalType = 0;  // array_completeness, reserved, NAL_unit_type (low 6 bits)
    uint16_t m_nalCount = 0;
    uint16_t m_nalLength[kMaxHevcNalus] = {};
    std::vector<uint8_t> m_nal[kMaxHevcNalus];  // m_nal[i] holds m_nalLength[i] bytes
};
struct HEVCConfig {
    uint8_t m_version = 0;                 // configurationVersion
    uint8_t m_profileByte = 0;             // profile_space, tier_flag, profile_idc
    uint8_t m_profileCompatibility[4] = {};
    uint8_t m_constraints[6] = {};
    uint8_t m_level = 0;                   // general_level_idc
    uint8_t m_spatialSegmentation[2] = {}; // min_spatial_segmentation_idc
    uint8_t m_parallelismType = 0;
    uint8_t m_chromaFormat = 0;
    uint8_t m_lumaBitDepth = 0;            // bitDepthLumaMinus8 byte
    uint8_t m_chromaBitDepth = 0;          // bitDepthChromaMinus8 byte
    uint16_t m_avgFrameRate = 0;
    uint8_t m_lengthSizeByte = 0;          // constantFrameRate, numTemporalLayers, temporalIdNested, lengthSizeMinusOne
    uint8_t m_arrayCount = 0;              // at most kMaxHevcArrays
    HEVCNalArray m_arrays[kMaxHevcArrays];
};

// Parsed MPEG-4 ES descriptor plus the raw descriptor bytes it came from.
constexpr int kMaxEsdsBytes = 8192;
constexpr int kMaxEsdsCopyBytes = 8191;  // what a copy of the raw bytes may take
struct ESDescriptor {
    uint16_t m_esId = 0;
    uint8_t m_flags = 0;  // streamDependenceFlag, URL_Flag, OCRstreamFlag, streamPriority
    uint16_t m_dependsOnEsId = 0;
    char m_url[256] = {};  // NUL-terminated
    uint16_t m_ocrEsId = 0;
    uint8_t m_objectType = 0;
    uint8_t m_streamType = 0;
    uint8_t m_bufferSize[3] = {};
    uint32_t m_maxBitrate = 0;
    uint32_t m_avgBitrate = 0;
    uint8_t m_decoderInfoLength = 0;
    uint8_t m_decoderInfo[255] = {};  // DecoderSpecificInfo (AudioSpecificConfig for AAC)
    uint8_t m_slPredefined = 0;
    uint8_t m_slFlags = 0;
    uint32_t m_slTimestampResolution = 0;
    uint32_t m_slOcrResolution = 0;
    uint8_t m_slTimestampLength = 0;
    uint8_t m_slOcrLength = 0;
    uint8_t m_slAuLength = 0;
    uint8_t m_slInstantBitrateLength = 0;
    uint8_t m_slReserved[4] = {};
    uint32_t m_slTimescale = 0;
    uint16_t m_slAccessUnitDuration = 0;
    uint16_t m_slCompositionUnitDuration = 0;
    uint8_t m_slStartTimestamp[8] = {};
    uint8_t m_slStartCompositionTimestamp[8] = {};
    uint32_t m_rawLength = 0;  // bytes used in m_raw (0: no esds)
    uint8_t m_raw[kMaxEsdsBytes];  // only the first m_rawLength bytes are defined
};

// colr.
struct ColourInfo {
    uint8_t m_present = 0;
    Fourcc m_type = 0;  // 'nclx', 'nclc', ...
    uint16_t m_primaries = 0;
    uint16_t m_transfer = 0;
    uint16_t m_matrix = 0;
    uint8_t m_fullRange = 0;  // the byte as stored (0x80 = full range)
    uint8_t m_fullRangePresent = 0;
};

// One opaque description atom ('damr'), header included.
constexpr int kMaxExtraAtomBytes = 32768;
struct ExtraAtom {
    uint32_t m_size = 0;  // 0: none
    uint8_t m_data[kMaxExtraAtomBytes];  // only the first m_size bytes are defined
};

struct SampleToChunkEntry {
    uint32_t m_firstChunk = 0;
    uint32_t m_samplesPerChunk = 0;
    uint32_t m_descriptionId = 0;
};

struct TimeToSampleEntry {
    uint32_t m_sampleCount = 0;
    uint32_t m_duration = 0;
};

struct CompositionOffsetEntry {
    uint32_t m_sampleCount = 0;
    uint32_t m_offset = 0;  // signed in ctts version 1: cast to int32_t
};

struct EditListEntry {
    uint32_t m_trackDuration = 0;
    int32_t m_mediaTime = 0;
    double m_mediaRate = 0;
};

// Tables grow by this many entries at a time: one allocation per thousand
// samples, and never more room than a thousand entries beyond what was read.
constexpr size_t kTableGrowStep = 1000;

// A growable array of plain entries. The capacity grows in fixed steps (never
// from a count read from a file) and realloc lets large tables move cheaply.
template <typename T>
class GrowableTable {
    static_assert(std::is_trivially_copyable<T>::value, "plain entries only");

public:
    GrowableTable() = default;
    ~GrowableTable() { std::free(m_data); }
    GrowableTable(const GrowableTable& other) { assign(other.m_data, other.m_count); }
    GrowableTable& operator=(const GrowableTable& other) {
        if (this != &other) {
            clear();
            assign(other.m_data, other.m_count);
        }
        return *this;
    }
    GrowableTable(GrowableTable&& other) noexcept
        : m_data(other.m_data), m_count(other.m_count), m_capacity(other.m_capacity) {
        other.m_data = nullptr;
        other.m_count = other.m_capacity = 0;
    }
    GrowableTable& operator=(GrowableTable&& other) noexcept {
        if (this != &other) {
            std::free(m_data);
            m_data = other.m_data;
            m_count = other.m_count;
            m_capacity = other.m_capacity;
            other.m_data = nullptr;
            other.m_count = other.m_capacity = 0;
        }
        return *this;
    }

    size_t size() const { return m_count; }
    size_t capacity() const { return m_capacity; }
    bool empty() const { return m_count == 0; }
    T* data() { return m_data; }
    const T* data() const { return m_data; }
    T& operator[](size_t i) { return m_data[i]; }
    const T& operator[](size_t i) const { return m_data[i]; }
    T& back() { return m_data[m_count - 1]; }
    const T& back() const { return m_data[m_count - 1]; }
    T* begin() { return m_data; }
    T* end() { return m_data + m_count; }
    const T* begin() const { return m_data; }
    const T* end() const { return m_data + m_count; }

    // False (and nothing appended) when memory runs out.
    bool push_back(const T& value) {
        if (m_count == m_capacity && !grow()) return false;
        m_data[m_count++] = value;
        return true;
    }
    void clear() {
        std::free(m_data);
        m_data = nullptr;
        m_count = m_capacity = 0;
    }

private:
    bool grow() {
        size_t capacity = m_capacity + kTableGrowStep;
        void* p = std::realloc(m_data, capacity * sizeof(T));
        if (!p) return false;
        m_data = static_cast<T*>(p);
        m_capacity = capacity;
        return true;
    }
    // Copies in one allocation, rounded up to whole steps like the growth.
    void assign(const T* data, size_t count) {
        if (count == 0)
            return;
        const size_t capacity = (count + kTableGrowStep - 1) / kTableGrowStep * kTableGrowStep;
        void* p = std::malloc(capacity * sizeof(T));
        if (!p)
            return;
        std::memcpy(p, data, count * sizeof(T));
        m_data = static_cast<T*>(p);
        m_count = count;
        m_capacity = capacity;
    }

    T* m_data = nullptr;
    size_t m_count = 0;
    size_t m_capacity = 0;
};
