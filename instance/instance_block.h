// The single-instance block: the memory shared by the first instance of an
// executable and its later launches, its names, and the argument area.
#ifndef INSTANCE_INSTANCE_BLOCK_H
#define INSTANCE_INSTANCE_BLOCK_H

#include <stddef.h>
#include <stdint.h>

#include "support/wide_string.h"

// Layout, little-endian. The version comes first and is published last:
// a launch that finds another version (an update installed while the old
// one runs) runs as an ordinary launch. One request at a time: the
// requester writes its list, its thread and a number nobody can guess, then
// marks it posted; the first instance honours a message only when it
// carries that number and the request is still posted, and claims it.
enum : size_t {
    kInstanceBlockSize = 2092,
    kLayoutVersionOffset = 0,
    kListenerThreadIdOffset = 4,
    kProcessIdOffset = 8,
    kHandOverMessageOffset = 12,
    kRequestNumberOffset = 16,
    kRequesterThreadOffset = 20,
    kRequestStateOffset = 24,
    kArgumentAreaOffset = 32,
    kArgumentAreaSize = kInstanceBlockSize - kArgumentAreaOffset,
    // A writer uses (and first clears) only the area's first 1040 bytes.
    kArgumentWriteLimit = 1040,
};

// Odd, so that no thread has it as its id: a launch of the earlier layout,
// which reads the listener's id at offset 0, fails its post at once.
const uint32_t kInstanceLayoutVersion = 0x4C560201;

// The request's state: free, posted by a requester, claimed by the first
// instance (its list read and cleared).
enum : uint32_t { kRequestFree = 0, kRequestPosted = 1, kRequestClaimed = 2 };

// What a message from the first instance to a requester says (its second
// parameter): the list was claimed (the block is free for the next
// request), the list was taken for secondaryMain, the answer (the first
// parameter), a refusal (the program is shutting down)
// parameter), or that the main class has no secondaryMain.
enum : uint32_t { kReplyClaimed = 1, kReplyTaken = 2, kReplyAnswer = 3, kReplyRefused = 4, kReplyUnserved = 5 };

// The listener field of a first instance that let go of its role without
// running the program (it started its paired program instead): nothing
// handed to it is ever served. Thread ids are multiples of four, so no
// listener has this id.
const uint32_t kRetiredListener = 0xFFFFFFFF;
// The first instance's program asked for a restart: its block goes with its
// process, and the launches waiting for it set up again once it has ended,
// to hand over to the program's next run.
const uint32_t kRestartingListener = 0xFFFFFFFE;

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

// The later launch's working directory, in the area behind the list's 1040
// bytes: its units and a terminator. A folder too long for the room left
// (509 units) travels as an empty string.
void writeWorkingDirectory(uint8_t* area, const WideString& folder);
WideString readWorkingDirectory(const uint8_t* area);

// Reads the area back: strings end at a zero, two zeros in a row end the
// list, and a string still open at the end of the area is dropped. So no
// arguments read back as one empty string, and an empty argument after the
// first ends the list.
List<WideString> readArgumentArea(const uint8_t* area, size_t size);

#endif
