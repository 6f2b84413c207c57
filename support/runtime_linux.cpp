// Memory and failure hooks of the C++ runtime for the shipped executables.
// The launcher never throws: running out of memory, or a length or index out
// of range inside the standard containers, stops the process at once. Defining
// these here also keeps the runtime's exception and demangling machinery out
// of the executable, which keeps it small.
#include <stdint.h>
#include <stdlib.h>

#include <new>

#include "support/wide_string.h"

static void* allocate(size_t size) {
    void* memory = malloc(size ? size : 1);
    if (!memory) fatalStop();
    return memory;
}

static void release(void* memory) {
    free(memory);
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

// Function-local statics are made once under one lock. The C++ runtime's own
// version of these brings its exception machinery, and with it symbols of
// newer C libraries than the launcher asks for.
#include <pthread.h>

static pthread_mutex_t staticsLock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

extern "C" int __cxa_guard_acquire(uint64_t* guard) {
    char* done = reinterpret_cast<char*>(guard);
    if (__atomic_load_n(done, __ATOMIC_ACQUIRE)) return 0;
    pthread_mutex_lock(&staticsLock);
    if (*done) {
        pthread_mutex_unlock(&staticsLock);
        return 0;
    }
    return 1;
}

extern "C" void __cxa_guard_release(uint64_t* guard) {
    __atomic_store_n(reinterpret_cast<char*>(guard), 1, __ATOMIC_RELEASE);
    pthread_mutex_unlock(&staticsLock);
}

extern "C" void __cxa_guard_abort(uint64_t*) { pthread_mutex_unlock(&staticsLock); }
