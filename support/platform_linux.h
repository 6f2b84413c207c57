// What the Linux platform services need from the entry point, and the text
// conversions of the Linux files.
#ifndef SUPPORT_PLATFORM_LINUX_H
#define SUPPORT_PLATFORM_LINUX_H

#include <pthread.h>
#include <stddef.h>
#include <unistd.h>

#include "support/wide_string.h"

namespace platform {

// The arguments after the program name, kept for argumentVector.
void setArguments(int argc, char** argv);
// The whole argument vector as the process received it (for a new start).
char** startArguments();

// Text in the locale's character set (setlocale(LC_ALL, "") first). Bytes
// that are no character there survive the round trip unchanged.
WideString fromNative(const char* text);
WideString fromNative(const char* text, size_t length);
NarrowString toNative(const WideString& text);

// The memory limit of the control group this process runs in (0 when none
// is set), read below a file-system root ("" for the system's own).
uint64_t controlGroupLimit(const char* root);
// The length of the UTF-8 sequence at p (well-formed, no overlong form, no
// surrogate), or 0 when none starts there.
size_t utf8Sequence(const unsigned char* p, size_t available);

// A message on the standard error: its text, with a line break added when
// it has none.
void writeStandardError(const WideString& text);

// A file descriptor closed when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (fd_ >= 0) close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// An event that stays set once set, for any number of waiting threads: the
// main-started event behind signalEvent. It lives as long as the process,
// so that a thread still waiting at the teardown waits on valid memory.
class OnceEvent {
public:
    void set();
    void wait();

private:
    pthread_mutex_t mutex_ = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t changed_ = PTHREAD_COND_INITIALIZER;
    bool set_ = false;
};

}  // namespace platform

#endif
