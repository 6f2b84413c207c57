/* Preloaded into a first instance by the single-instance tests: a launch's
 * new start held back on both sides of it, as on a loaded machine. The
 * ending run waits before it executes itself anew (launches come meanwhile),
 * and the new run waits before it takes its first lock. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

static int startedAgain;

__attribute__((constructor)) static void notice(void) { startedAgain = getenv("VEDA_LAUNCHER_AGAIN") != NULL; }

static void pause_ms(long ms) {
    struct timespec wait = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&wait, NULL);
}

int execve(const char* path, char* const arguments[], char* const environment[]) {
    int (*real)(const char*, char* const[], char* const[]) = dlsym(RTLD_NEXT, "execve");
    pause_ms(300);
    return real(path, arguments, environment);
}

int flock(int fd, int operation) {
    int (*real)(int, int) = dlsym(RTLD_NEXT, "flock");
    if (startedAgain) {
        startedAgain = 0;
        pause_ms(700);
    }
    return real(fd, operation);
}
