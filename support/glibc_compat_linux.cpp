// Lets the executable run on C libraries older than the build machine's.
// The start-up code of current C libraries calls __libc_start_main in a
// version older libraries lack, and hands it no constructor function, which
// older ones need in order to run the program's constructors. This
// definition takes that call (the program's own symbol wins) and passes it
// on to the oldest version, with a constructor function of its own; current
// libraries take that function as a program of the old kind.
#include <stddef.h>

extern "C" {

typedef int (*MainFunction)(int, char**, char**);
typedef void (*InitFunction)(int, char**, char**);
typedef void (*PlainFunction)();

int startMainOldest(MainFunction main, int argc, char** argv, InitFunction init, PlainFunction fini,
                    PlainFunction rtldFini, void* stackEnd);
__asm__(".symver startMainOldest, __libc_start_main@GLIBC_2.2.5");

// From the linker and the start files (crti.o).
extern InitFunction __init_array_start[] __attribute__((visibility("hidden")));
extern InitFunction __init_array_end[] __attribute__((visibility("hidden")));
void _init();

static void runConstructors(int argc, char** argv, char** environment) {
    _init();
    size_t count = static_cast<size_t>(__init_array_end - __init_array_start);
    for (size_t i = 0; i < count; ++i) __init_array_start[i](argc, argv, environment);
}

__attribute__((visibility("hidden"))) int __libc_start_main(MainFunction main, int argc, char** argv,
                                                            InitFunction init, PlainFunction fini,
                                                            PlainFunction rtldFini, void* stackEnd) {
    return startMainOldest(main, argc, argv, init ? init : runConstructors, fini, rtldFini, stackEnd);
}
}

// lstat and fstat are exported functions since glibc 2.33; older libraries
// have only the versioned calls behind them (version 1 on x86-64), which
// current libraries still export under their old symbol version.
struct stat;
extern "C" {
int lstatOldest(int version, const char* path, struct stat* info);
__asm__(".symver lstatOldest, __lxstat@GLIBC_2.2.5");
int fstatOldest(int version, int fd, struct stat* info);
__asm__(".symver fstatOldest, __fxstat@GLIBC_2.2.5");

__attribute__((visibility("hidden"))) int lstat(const char* path, struct stat* info) {
    return lstatOldest(1, path, info);
}
__attribute__((visibility("hidden"))) int fstat(int fd, struct stat* info) { return fstatOldest(1, fd, info); }
}
