// The console launcher's standard error and console control events.
#ifndef SUPPORT_CONSOLE_WIN32_H
#define SUPPORT_CONSOLE_WIN32_H

#include "support/wide_string.h"

// Writes text on the standard error as it stands: UTF-16 to a console (so
// non-ASCII paths and class names read correctly), UTF-8 to a file or pipe.
void writeStandardError(const WideString& text);

#endif
