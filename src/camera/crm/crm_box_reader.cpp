#include "camera/crm/crm_box_reader.h"

#include <cstring>
#include <stdexcept>

namespace crm {

namespace {

// Boxes whose payload is a list of boxes; `meta` carries version and flags
// before its children.
bool isContainer(const std::string& type) {
    static const char* const kContainers[] = {"moov", "trak", "mdia", "minf", "stbl", "dinf", "edts", "udta", "meta"};
    for (const char* c : kContainers)
        if (type == c)
            return true;
    return false;
}

// Real movies nest containers five deep; a file that nests deeper is built to
// exhaust the stack.
constexpr int kMaxDepth = 16;
// A movie has a handful of boxes per level; a file that is a million tiny
// boxes is built to exhaust memory.
constexpr size_t kMaxBoxesPerLevel = 1 << 20;
// One box read into memory must fit a signed 32-bit size.
constexpr uint64_t kMaxCachedBox = 0x7fffffff;
// The largest payload a 32-bit box size can describe.
constexpr uint64_t kMax32BitPayload = 0xFFFFFFF7ull;

std::vector<BoxNode> parseLevel(platform::File& file, uint64_t start, uint64_t end, int depth) {
    std::vector<BoxNode> nodes;
    if (end < start + 8)
        return nodes;
    if (depth > kMaxDepth)
        throw std::runtime_error("invalid box");
    uint64_t pos = start;
    for (;;) {
        uint8_t head[16];
        readBytesAt(file, pos, head, 8);
        BoxNode node;
        node.type.assign(reinterpret_cast<const char*>(head + 4), 4);
        node.offset = pos;
        const uint32_t size32 = readU32(head);
        if (size32 == 1) {
            if (pos + 16 > end)
                throw std::runtime_error("invalid box");
            readBytesAt(file, pos, head, 16);
            node.size = readU64(head + 8);
            node.header = 16;
        } else {
            node.size = size32 == 0 ? end - pos : size32;
            node.header = 8;
        }
        if (node.size < node.header || node.size > end - pos)
            throw std::runtime_error("invalid box");
        if (isContainer(node.type)) {
            const uint64_t childStart = pos + node.header + (node.type == "meta" ? 4 : 0);
            if (childStart < pos + node.size)
                node.children = parseLevel(file, childStart, pos + node.size, depth + 1);
        }
        pos += node.size;
        if (nodes.size() >= kMaxBoxesPerLevel)
            throw std::runtime_error("invalid box");
        nodes.push_back(std::move(node));
        if (pos + 8 > end)
            break;
    }
    return nodes;
}

}  // namespace

std::vector<BoxNode> parseBoxes(platform::File& file, uint64_t start, uint64_t end) {
    return parseLevel(file, start, end, 0);
}

const BoxNode* findChild(const BoxNode& node, const char* type) {
    for (const BoxNode& c : node.children)
        if (c.type == type)
            return &c;
    return nullptr;
}

void readBytesAt(platform::File& file, uint64_t offset, void* buffer, size_t count) {
    if (offset > uint64_t(INT64_MAX) || file.readAt(int64_t(offset), buffer, count) != count)
        throw std::runtime_error("read failed");
}

Bytes readBoxBytes(platform::File& file, uint64_t offset, uint64_t size) {
    if (size > kMaxCachedBox)
        throw std::runtime_error("box too large to cache");
    Bytes bytes(size);
    if (size)
        readBytesAt(file, offset, bytes.data(), size);
    return bytes;
}

Bytes makeBox(const char* type, const Bytes& payload) {
    Bytes box;
    box.reserve(payload.size() + 16);
    if (payload.size() <= kMax32BitPayload) {
        appendU32(box, uint32_t(payload.size() + 8));
        box.insert(box.end(), type, type + 4);
    } else {
        appendU32(box, 1);
        box.insert(box.end(), type, type + 4);
        appendU64(box, payload.size() + 16);
    }
    box.insert(box.end(), payload.begin(), payload.end());
    return box;
}

void appendU32(Bytes& bytes, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.push_back(uint8_t(v >> shift));
}

void appendU64(Bytes& bytes, uint64_t v) {
    appendU32(bytes, uint32_t(v >> 32));
    appendU32(bytes, uint32_t(v));
}

uint32_t readU32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

uint64_t readU64(const uint8_t* p) { return uint64_t(readU32(p)) << 32 | readU32(p + 4); }

}  // namespace crm
