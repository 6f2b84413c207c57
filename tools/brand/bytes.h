// Little-endian byte buffers for the packaging tool's image and resource
// readers and writers. Readers check every offset before they call these.
#ifndef TOOLS_BRAND_BYTES_H
#define TOOLS_BRAND_BYTES_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// True when [offset, offset + length) lies inside a buffer of size bytes
// (written so that no sum can overflow).
inline bool insideBuffer(size_t size, uint64_t offset, uint64_t length) {
    return offset <= size && length <= size - offset;
}

inline uint16_t read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void write16(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}
inline void write32(uint8_t* p, uint32_t value) {
    write16(p, value & 0xFFFF);
    write16(p + 2, value >> 16);
}

inline void append16(Bytes& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}
inline void append32(Bytes& out, uint32_t value) {
    append16(out, value & 0xFFFF);
    append16(out, value >> 16);
}
inline void appendUtf16(Bytes& out, const std::u16string& text) {
    for (char16_t unit : text) append16(out, unit);
}
// Pads with zero bytes up to the next multiple of alignment.
inline void padTo(Bytes& out, size_t alignment) {
    while (out.size() % alignment) out.push_back(0);
}

inline uint64_t alignUp(uint64_t value, uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

#endif
