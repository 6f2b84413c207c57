// Reading the processor type of an ELF library from its bytes.
#ifndef RUNTIME_ELF_IMAGE_H
#define RUNTIME_ELF_IMAGE_H

#include <stddef.h>
#include <stdint.h>

// True with the processor as one of the kMachine codes of runtime/pe_image.h
// (x86 for 32-bit x86, x64 for 64-bit x86-64, arm, arm64; any other
// processor as 0x7F00 plus its 8-bit ELF code, so it matches nothing the
// launcher loads) when the bytes start with a whole ELF header of a
// little-endian shared object or executable.
bool elfMachine(const uint8_t* data, size_t size, uint16_t& machine);

#endif
