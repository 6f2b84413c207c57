// The C++ runtime's memory comes from the C library; the hooks themselves
// are in runtime_hooks.cpp.
#include <stdint.h>
#include <stdlib.h>

#include "support/runtime_hooks.h"
#include "support/wide_string.h"

void* runtimeAllocate(size_t size) {
    void* memory = malloc(size ? size : 1);
    if (!memory) fatalStop();
    return memory;
}

void runtimeRelease(void* memory) { free(memory); }

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
