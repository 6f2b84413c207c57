// What the Linux platform services need from the entry point, and the text
// conversions of the Linux files.
#ifndef SUPPORT_PLATFORM_LINUX_H
#define SUPPORT_PLATFORM_LINUX_H

#include <stddef.h>

#include "support/wide_string.h"

namespace platform {

// The arguments after the program name, kept for argumentVector.
void setArguments(int argc, char** argv);

// Text in the locale's character set (setlocale(LC_ALL, "") first). Bytes
// that are no character there survive the round trip unchanged.
WideString fromNative(const char* text);
WideString fromNative(const char* text, size_t length);
NarrowString toNative(const WideString& text);

// A message on the standard error: its text, with a line break added when
// it has none.
void writeStandardError(const WideString& text);

}  // namespace platform

#endif
