// Single instance over a local socket (the Linux build): where the socket of
// an executable's first instance lives, and the messages on it.
#ifndef INSTANCE_INSTANCE_SOCKET_H
#define INSTANCE_INSTANCE_SOCKET_H

#include <stddef.h>
#include <stdint.h>

#include "support/wide_string.h"

// A socket path holds at most this many bytes before its terminator.
const size_t kSocketPathLimit = 107;

// The socket's file name: a hash of the executable's real path (its bytes as
// the system has them) and the Product Code, so that copies in other folders
// and other products never meet. The lock file is the same name with ".lock".
NarrowString instanceSocketName(const NarrowString& executable, const WideString& productCode);
NarrowString instanceLockName(const NarrowString& socketName);

// The folder that holds the socket and its lock: one per user, whatever the
// session's variables say (a launch from cron or su has no runtime folder,
// and two folders would make two first instances). root is the system's
// root, or for the tests the folder that stands in for it. Empty when the
// socket's path would not fit.
NarrowString instanceFolder(const NarrowString& root, uint32_t userId, const NarrowString& socketName);

// A second instance's request: "VSI1", the byte count of the rest, the
// argument count, then each argument as its count of UTF-16 units and the
// units, then the launch's working directory the same way (a request of an
// earlier version ends after the list), all little-endian. A request beyond
// the limit is not sent.
const uint32_t kHandOverMagic = 0x31495356;  // "VSI1"
const size_t kHandOverHeaderBytes = 8;
const size_t kHandOverPayloadLimit = 65536;
bool encodeHandOverRequest(const List<WideString>& arguments, const WideString& workingDirectory,
                           NarrowString& request);
// The payload's byte count from the header; false when it is no request.
bool handOverPayloadBytes(const uint8_t* header, size_t& bytes);
// False unless the payload holds exactly a well-formed list (and folder).
bool decodeHandOverPayload(const uint8_t* payload, size_t bytes, List<WideString>& arguments,
                           WideString& workingDirectory);

// The first instance's replies: one byte once a worker is attached to the
// virtual machine (from then on the hand-over is the first instance's), then
// the answer as 4 bytes, little-endian. A connection that ends before the
// first byte was never taken: the second instance tries again.
const uint8_t kHandOverTaken = 'T';
void encodeAnswer(int32_t answer, uint8_t* bytes);
int32_t decodeAnswer(const uint8_t* bytes);

#endif
