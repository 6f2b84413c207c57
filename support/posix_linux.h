// The system calls that the Linux platform and the host build (which runs on
// Linux in place of Windows for the tests) make alike. Paths arrive in the
// system's own form; each platform file converts its own.
#ifndef SUPPORT_POSIX_LINUX_H
#define SUPPORT_POSIX_LINUX_H

#include <stddef.h>
#include <stdint.h>

namespace posix {

// Runs body on a new thread with this stack size (0: the system's default)
// and waits for it; 0, or the error number of a thread that did not start.
int runJoinedThread(size_t stackSize, uint32_t (*body)(void*), void* argument, uint32_t& result);

// Opens an existing file and takes its lock without waiting; handle is the
// descriptor when the file opened (-1 otherwise), held whether the lock is
// this process's.
void lockExclusive(const char* path, intptr_t& handle, bool& held);

// The status change time in nanoseconds; 0 when the file cannot be read.
uint64_t changeStamp(const char* path);

// The start-up cache's checks of its own folder and files (platform.h):
// 0 missing, 1 this user's own, 2 anything else.
int ownership(const char* path, bool folder);
// A folder only this user may use: 0, EEXIST, or another error number.
int makePrivateFolder(const char* path);
bool freeSpace(const char* folder, uint64_t& bytes);

}  // namespace posix

#endif
