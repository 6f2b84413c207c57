// The runtime's printed output on Linux: the runtime and the launcher share
// one C library, so its streams are the launcher's too.
#include <stdarg.h>
#include <stdio.h>

#include "support/platform.h"

namespace platform {

void noteRuntimeLibrary(void*) {}

bool standardRuntimeStream(void* stream) {
    int number = fileno(static_cast<FILE*>(stream));
    return number == 1 || number == 2;
}

NarrowString formatRuntimeText(const char* format, va_list arguments) {
    va_list copy;
    va_copy(copy, arguments);
    char text[2048];
    int length = vsnprintf(text, sizeof text, format, copy);
    va_end(copy);
    if (length < 0) return NarrowString();
    if (static_cast<size_t>(length) < sizeof text) return NarrowString(text, static_cast<size_t>(length));
    // Longer than the buffer (a thread dump's line, say): whole.
    NarrowString whole(static_cast<size_t>(length) + 1, '\0');
    vsnprintf(&whole[0], whole.size(), format, arguments);
    whole.resize(static_cast<size_t>(length));
    return whole;
}

void writeRuntimeText(void* stream, const NarrowString& text) {
    // One C library for both: the runtime's stream is the launcher's too.
    FILE* file = static_cast<FILE*>(stream);
    fwrite(text.data(), 1, text.size(), file);
    fflush(file);
}

}  // namespace platform
