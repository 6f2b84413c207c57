// The single-instance block: the memory shared by the first instance of an
// executable and its later launches, its names, and the argument area.
#ifndef INSTANCE_INSTANCE_BLOCK_H
#define INSTANCE_INSTANCE_BLOCK_H

#include <stddef.h>
#include <stdint.h>

#include "support/wide_string.h"

// Layout, little-endian. Other builds of the launcher share it, so it stays
// as it is: three header fields, then the argument area to the block's end.
enum : size_t {
    kInstanceBlockSize = 2092,
    kListenerThreadIdOffset = 0,
    kProcessIdOffset = 4,
    kHandOverMessageOffset = 8,
    kArgumentAreaOffset = 12,
    kArgumentAreaSize = kInstanceBlockSize - kArgumentAreaOffset,
    // A writer uses (and first clears) only the area's first 1040 bytes.
    kArgumentWriteLimit = 1040,
};

// The listener field of a first instance that let go of its role without
// running the program (it started its paired program instead): nothing
// handed to it is ever served. Thread ids are multiples of four, so no
// listener has this id.
const uint32_t kRetiredListener = 0xFFFFFFFF;

// The executable's full path with every backslash turned into an underscore.
WideString instanceName(const WideString& modulePath);
WideString instanceEventName(const WideString& name);  // the main-started event
WideString instanceMutexName(const WideString& name);  // serialises second instances

// Kernel object names hold at most MAX_PATH - 1 characters and registered
// message names 255; a longer module path cannot name the objects.
bool instanceNamesFit(const WideString& name);

// Bytes the arguments take in the area: each with its terminator, and a final zero.
size_t argumentAreaBytes(const List<WideString>& arguments);
bool argumentsFit(const List<WideString>& arguments);

// Clears the first 1040 bytes and writes the arguments; false (nothing
// written) when they do not fit.
bool writeArgumentArea(uint8_t* area, const List<WideString>& arguments);

// Reads the area back: strings end at a zero, two zeros in a row end the
// list, and a string still open at the end of the area is dropped. So no
// arguments read back as one empty string, and an empty argument after the
// first ends the list.
List<WideString> readArgumentArea(const uint8_t* area, size_t size);

#endif
