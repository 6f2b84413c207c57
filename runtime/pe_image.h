// Reading the processor type of an executable image from its bytes.
#ifndef RUNTIME_PE_IMAGE_H
#define RUNTIME_PE_IMAGE_H

#include <stddef.h>
#include <stdint.h>

#include "support/wide_string.h"

enum : uint16_t {
    kMachineI386 = 0x014C,
    kMachineArm = 0x01C4,
    kMachineAmd64 = 0x8664,
    kMachineArm64 = 0xAA64,
};

// The processor this build runs on, and that of its paired program.
#if defined(_WIN64) || defined(__x86_64__)
const uint16_t kBuildMachine = kMachineAmd64;
const uint16_t kPartnerMachine = kMachineI386;
#else
const uint16_t kBuildMachine = kMachineI386;
const uint16_t kPartnerMachine = kMachineAmd64;
#endif

// True with the machine field when the bytes hold a valid image ("MZ", the
// NT header offset inside the file, "PE\0\0" and a whole file header).
// Every offset is checked against size.
bool imageMachine(const uint8_t* data, size_t size, uint16_t& machine);

// "x86", "x64", "arm", "arm64", or the number in hexadecimal ("0x0200").
WideString machineName(uint16_t machine);

#endif
