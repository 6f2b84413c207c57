// The tools run as child processes (POSIX spawn; the program's own
// descriptors are closed on exec, so the child gets only its pipe).
#include "tools/package/run_program.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Closes a descriptor when it goes out of scope.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) close(fd);
    }
};

bool isProgram(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string findProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) return isProgram(name) ? name : std::string();
    const char* path = getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        size_t end = folders.find(':', start);
        std::string folder = folders.substr(start, end == std::string::npos ? end : end - start);
        std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        if (isProgram(candidate)) return candidate;
        if (end == std::string::npos) return std::string();
        start = end + 1;
    }
}

int runProgram(const std::vector<std::string>& arguments, std::string* output, bool errorsToo) {
    std::string program = findProgram(arguments[0]);
    if (program.empty()) return -1;
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    Descriptor readEnd, writeEnd;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return -1;
        readEnd.fd = fds[0];
        writeEnd.fd = fds[1];
        posix_spawn_file_actions_adddup2(&actions, writeEnd.fd, 1);
        if (errorsToo) posix_spawn_file_actions_adddup2(&actions, writeEnd.fd, 2);
    }
    pid_t child;
    int started = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) return -1;
    if (output) {
        close(writeEnd.fd);
        writeEnd.fd = -1;
        char buffer[4096];
        ssize_t got;
        while ((got = read(readEnd.fd, buffer, sizeof buffer)) != 0) {
            if (got > 0) output->append(buffer, static_cast<size_t>(got));
            else if (errno != EINTR) break;
        }
    }
    int status;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
