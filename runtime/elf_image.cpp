#include "runtime/elf_image.h"

#include "runtime/pe_image.h"

bool elfMachine(const uint8_t* data, size_t size, uint16_t& machine) {
    // e_ident (16 bytes), e_type and e_machine: the fields read lie in the
    // first 20 bytes of both the 32-bit and the 64-bit header.
    if (!data || size < 64) return false;
    if (data[0] != 0x7F || data[1] != 'E' || data[2] != 'L' || data[3] != 'F') return false;
    bool wide = data[4] == 2;
    if ((data[4] != 1 && !wide) || data[5] != 1) return false;  // class; little-endian only
    uint16_t type = static_cast<uint16_t>(data[16] | (data[17] << 8));
    if (type != 2 && type != 3) return false;  // an executable or a shared object
    uint16_t code = static_cast<uint16_t>(data[18] | (data[19] << 8));
    switch (code) {
        case 3: machine = wide ? uint16_t(0x7F03) : uint16_t(kMachineI386); break;
        case 62: machine = wide ? uint16_t(kMachineAmd64) : uint16_t(0x7F3E); break;  // x32 is no x64
        case 40: machine = wide ? uint16_t(0x7F28) : uint16_t(kMachineArm); break;
        case 183: machine = wide ? uint16_t(kMachineArm64) : uint16_t(0x7FB7); break;
        default: machine = static_cast<uint16_t>(0x7F00 | (code & 0xFF)); break;
    }
    return true;
}
