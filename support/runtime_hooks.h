// The C++ runtime's memory hooks take their memory from the platform's own
// allocator (runtime_win32.cpp, runtime_linux.cpp); runtime_hooks.cpp holds
// what both executables define alike.
#ifndef SUPPORT_RUNTIME_HOOKS_H
#define SUPPORT_RUNTIME_HOOKS_H

#include <stddef.h>

// Never null: running out of memory stops the process.
void* runtimeAllocate(size_t size);
void runtimeRelease(void* memory);

#endif
