// Starting the launch again on Linux: the process executes itself anew, so
// that whatever started it keeps waiting for the same process.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "support/platform.h"
#include "support/platform_linux.h"

extern char** environ;

namespace platform {

const bool kRestartInPlace = true;

namespace {
// The environment's entries and the working directory at the start: the
// launch changes both (the runtime's folders, "Change Directory"). The
// entries' texts stay valid: the C library never frees them.
List<char*> startEntries;
NarrowString startFolderPath;
// The executable's path: after an update the new file is started, not the
// replaced one the process still runs.
NarrowString startProgramPath;
// The descriptors the process was started with (a starter may hand some
// on purpose), and its signal mask: a new start gets them as they were.
List<int> startDescriptors;
sigset_t startMask;
bool startMaskKnown = false;

List<int> openDescriptors() {
    List<int> open;
    if (DIR* folder = opendir("/proc/self/fd")) {
        int own = dirfd(folder);
        while (struct dirent* entry = readdir(folder)) {
            if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
            int fd = atoi(entry->d_name);
            if (fd != own) open.push_back(fd);
        }
        closedir(folder);
    }
    return open;
}

List<char*>& startEnvironment() { return startEntries; }
NarrowString& startFolder() { return startFolderPath; }
NarrowString& startProgram() { return startProgramPath; }
}  // namespace

uint64_t monotonicMilliseconds() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

void rememberStart() {
    startDescriptors = openDescriptors();
    startMaskKnown = pthread_sigmask(SIG_SETMASK, nullptr, &startMask) == 0;
    for (char** entry = environ; entry && *entry; ++entry) startEnvironment().push_back(*entry);
    char* folder = getcwd(nullptr, 0);
    if (folder) startFolder() = folder;
    free(folder);
    char program[4096];
    ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
    if (length > 0) startProgram().assign(program, static_cast<size_t>(length));
}

uint32_t startingProcessId() { return static_cast<uint32_t>(getpid()); }

bool startAgain(const WideString& variable, const WideString& value, intptr_t kept) {
    char** arguments = startArguments();
    if (!arguments || !arguments[0]) return false;
    NarrowString mark = toNative(variable) + "=" + toNative(value);
    NarrowString prefix = toNative(variable) + "=";
    List<char*> environment;
    for (char* entry : startEnvironment())
        if (strncmp(entry, prefix.c_str(), prefix.size()) != 0) environment.push_back(entry);
    environment.push_back(&mark[0]);
    environment.push_back(nullptr);

    // The runtime's and the launcher's descriptors stay behind (a jar held
    // open); those the process started with, and the one the new start
    // takes over, go on.
    for (int fd : openDescriptors()) {
        bool atStart = false;
        for (int given : startDescriptors) atStart = atStart || given == fd;
        if (fd > 2 && fd != kept && !atStart) fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    // The runtime's threads block signals the new runtime expects to receive.
    sigset_t mask;
    if (!startMaskKnown) sigemptyset(&mask);
    pthread_sigmask(SIG_SETMASK, startMaskKnown ? &startMask : &mask, nullptr);
    if (!startFolder().empty() && chdir(startFolder().c_str()) != 0) return false;
    // What the runtime wrote through the C library's buffers is not lost.
    fflush(nullptr);
    execve(startProgram().empty() ? "/proc/self/exe" : startProgram().c_str(), arguments, environment.data());
    return false;
}

void* createRestartSignal(uint64_t&) { return nullptr; }
void raiseRestartSignal(uint64_t) {}
bool superviseRun(const WideString&, const WideString&, void*, void (*)(void*), void*, int32_t&, bool&) {
    return false;
}

}  // namespace platform
