#include "support/posix_linux.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "support/platform.h"

namespace posix {

namespace {
struct ThreadStart {
    uint32_t (*body)(void*);
    void* argument;
    uint32_t result;
};

void* threadStart(void* parameter) {
    ThreadStart* start = static_cast<ThreadStart*>(parameter);
    start->result = start->body(start->argument);
    return nullptr;
}
}  // namespace

int runJoinedThread(size_t stackSize, uint32_t (*body)(void*), void* argument, uint32_t& result) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    if (stackSize) pthread_attr_setstacksize(&attributes, stackSize < 65536 ? 65536 : stackSize);
    ThreadStart start{body, argument, 1};
    pthread_t thread;
    int failed = pthread_create(&thread, &attributes, threadStart, &start);
    pthread_attr_destroy(&attributes);
    if (failed) return failed;
    pthread_join(thread, nullptr);
    result = start.result;
    return 0;
}

void lockExclusive(const char* path, intptr_t& handle, bool& held) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    handle = fd;
    held = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
}

uint64_t changeStamp(const char* path) {
    // The system call itself: the C library's stat functions carry newer
    // symbol versions than the oldest library the Linux launcher runs on.
    struct stat info;
    if (syscall(SYS_newfstatat, AT_FDCWD, path, &info, 0) != 0) return 0;
    return static_cast<uint64_t>(info.st_ctim.tv_sec) * 1000000000u + static_cast<uint64_t>(info.st_ctim.tv_nsec);
}

int ownership(const char* path, bool folder) {
    struct stat info;
    // The link itself, not what it points to.
    if (syscall(SYS_newfstatat, AT_FDCWD, path, &info, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT || errno == ENOTDIR ? 0 : 2;
    if (info.st_uid != geteuid()) return 2;
    // Files are safe in a folder nobody else may write to, whatever their
    // own mode (the umask may give the group write access).
    if (folder) return S_ISDIR(info.st_mode) && (info.st_mode & 022) == 0 ? 1 : 2;
    return S_ISREG(info.st_mode) ? 1 : 2;
}

int makePrivateFolder(const char* path) { return mkdir(path, 0700) == 0 ? 0 : errno; }

bool freeSpace(const char* folder, uint64_t& bytes) {
    struct statvfs volume;
    if (statvfs(folder, &volume) != 0) return false;
    bytes = static_cast<uint64_t>(volume.f_bavail) * volume.f_frsize;
    return true;
}

}  // namespace posix

namespace platform {

void ExclusiveFile::release() {
    if (handle_ >= 0) close(static_cast<int>(handle_));
    handle_ = -1;
    held_ = false;
}

void sleepMilliseconds(uint32_t milliseconds) {
    struct timespec span = {static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&span, &span) != 0 && errno == EINTR) {
    }
}

void exitNow(int32_t code) { _exit(code); }

bool processRunning(uint32_t id) { return kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM; }

}  // namespace platform
