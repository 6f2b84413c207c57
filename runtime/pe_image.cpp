#include "runtime/pe_image.h"

static uint32_t read16(const uint8_t* p) { return p[0] | (p[1] << 8); }

static uint32_t read32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool imageMachine(const uint8_t* data, size_t size, uint16_t& machine) {
    const size_t kHeaderOffsetField = 0x3C;
    const size_t kFileHeaderSize = 20;
    if (!data || size < kHeaderOffsetField + 4) return false;
    if (data[0] != 'M' || data[1] != 'Z') return false;
    uint32_t offset = read32(data + kHeaderOffsetField);
    // Signature plus the whole file header must lie inside the file.
    if (offset > size || size - offset < 4 + kFileHeaderSize) return false;
    if (read32(data + offset) != 0x00004550) return false;
    machine = static_cast<uint16_t>(read16(data + offset + 4));
    return true;
}
