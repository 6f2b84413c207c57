// Memory and failure hooks of the C++ runtime for the shipped executables.
// The launcher never throws: running out of memory, or a length or index out
// of range inside the standard containers, stops the process at once. Defining
// these here also keeps the runtime's exception and demangling machinery out
// of the executable, which keeps it small.
#include <windows.h>

#include <new>

#include "support/wide_string.h"

static void* allocate(size_t size) {
    void* memory = HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
    if (!memory) fatalStop();
    return memory;
}

static void release(void* memory) {
    if (memory) HeapFree(GetProcessHeap(), 0, memory);
}

void* operator new(size_t size) { return allocate(size); }
void* operator new[](size_t size) { return allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* memory) noexcept { release(memory); }
void operator delete[](void* memory) noexcept { release(memory); }
void operator delete(void* memory, size_t) noexcept { release(memory); }
void operator delete[](void* memory, size_t) noexcept { release(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { release(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { release(memory); }

namespace std {
void __throw_bad_alloc() { fatalStop(); }
void __throw_bad_array_new_length() { fatalStop(); }
void __throw_length_error(const char*) { fatalStop(); }
void __throw_logic_error(const char*) { fatalStop(); }
void __throw_out_of_range(const char*) { fatalStop(); }
void __throw_out_of_range_fmt(const char*, ...) { fatalStop(); }
void __throw_invalid_argument(const char*) { fatalStop(); }
}  // namespace std

extern "C" void __cxa_pure_virtual() { fatalStop(); }
