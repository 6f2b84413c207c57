// Memory and failure hooks of the C++ runtime for the shipped executables.
// The launcher never throws: running out of memory, or a length or index out
// of range inside the standard containers, stops the process at once. Defining
// these here also keeps the runtime's exception and demangling machinery out
// of the executable, which keeps it small.
#include <new>

#include "support/runtime_hooks.h"
#include "support/wide_string.h"

void* operator new(size_t size) { return runtimeAllocate(size); }
void* operator new[](size_t size) { return runtimeAllocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return runtimeAllocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return runtimeAllocate(size); }
void operator delete(void* memory) noexcept { runtimeRelease(memory); }
void operator delete[](void* memory) noexcept { runtimeRelease(memory); }
void operator delete(void* memory, size_t) noexcept { runtimeRelease(memory); }
void operator delete[](void* memory, size_t) noexcept { runtimeRelease(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { runtimeRelease(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { runtimeRelease(memory); }

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
