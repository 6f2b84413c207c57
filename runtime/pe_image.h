// Reading the processor type of an executable image from its bytes.
#ifndef RUNTIME_PE_IMAGE_H
#define RUNTIME_PE_IMAGE_H

#include <stddef.h>
#include <stdint.h>

enum : uint16_t {
    kMachineI386 = 0x014C,
    kMachineAmd64 = 0x8664,
};

// True with the machine field when the bytes hold a valid image ("MZ", the
// NT header offset inside the file, "PE\0\0" and a whole file header).
// Every offset is checked against size.
bool imageMachine(const uint8_t* data, size_t size, uint16_t& machine);

#endif
