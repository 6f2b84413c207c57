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

WideString machineName(uint16_t machine) {
    switch (machine) {
        case kMachineI386: return u"x86";
        case kMachineArm: return u"arm";
        case kMachineAmd64: return u"x64";
        case kMachineArm64: return u"arm64";
    }
    static const char16_t kDigits[] = u"0123456789abcdef";
    char16_t text[] = u"0x0000";
    for (int i = 0; i < 4; ++i) text[5 - i] = kDigits[(machine >> (4 * i)) & 0xF];
    return WideString(text);
}
