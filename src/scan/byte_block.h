#pragma once
// Result of ScanBuffer::readBlock: an owned, zero-initialised byte array of
// the requested size, of which the first length() bytes came from the file.
// Analysers use it to read outside the scan window or to keep data across
// calls; it is movable and frees itself.

#include <cstdint>
#include <cstdlib>
#include <memory>

class ByteBlock {
public:
    ByteBlock() = default;
    // `capacity` zero bytes. calloc leaves untouched pages unmapped, so a
    // generous block over a short file costs only what was read into it.
    // An allocation failure gives an empty block rather than an exception.
    explicit ByteBlock(size_t capacity)
        : m_data(capacity ? static_cast<uint8_t*>(std::calloc(capacity, 1)) : nullptr),
          m_capacity(m_data ? capacity : 0) {}

    ByteBlock(ByteBlock&& other) noexcept
        : m_data(std::move(other.m_data)), m_capacity(other.m_capacity), m_length(other.m_length) {
        other.m_capacity = 0;
        other.m_length = 0;
    }
    ByteBlock& operator=(ByteBlock&& other) noexcept {
        if (this != &other) {
            m_data = std::move(other.m_data);
            m_capacity = other.m_capacity;
            m_length = other.m_length;
            other.m_capacity = 0;
            other.m_length = 0;
        }
        return *this;
    }
    ByteBlock(const ByteBlock&) = delete;
    ByteBlock& operator=(const ByteBlock&) = delete;

    uint8_t* data() { return m_data.get(); }
    const uint8_t* data() const { return m_data.get(); }
    // Bytes that hold file data; the rest up to capacity() stays zero.
    int32_t length() const { return m_length; }
    size_t capacity() const { return m_capacity; }
    bool empty() const { return m_length == 0; }
    // Index within capacity(); the caller checks the bound.
    uint8_t operator[](size_t i) const { return m_data[i]; }

    // Set by the reader after filling; kept within [0, capacity()].
    void setLength(int32_t length) {
        m_length = length < 0 ? 0 : uint64_t(length) > m_capacity ? int32_t(m_capacity) : length;
    }

private:
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<uint8_t[], Free> m_data;
    size_t m_capacity = 0;
    int32_t m_length = 0;
};
