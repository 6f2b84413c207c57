// The C++ runtime's memory comes from the process heap; the hooks themselves
// are in runtime_hooks.cpp.
#include <windows.h>

#include "support/runtime_hooks.h"
#include "support/wide_string.h"

void* runtimeAllocate(size_t size) {
    void* memory = HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
    if (!memory) fatalStop();
    return memory;
}

void runtimeRelease(void* memory) {
    if (memory) HeapFree(GetProcessHeap(), 0, memory);
}
