// How the console launcher writes a message on the standard error: the
// message's exact text, lines ending in "\r\n", and a line break added when
// the text does not end in one. No prefix.
#ifndef SUPPORT_CONSOLE_TEXT_H
#define SUPPORT_CONSOLE_TEXT_H

#include "support/wide_string.h"

WideString consoleLines(const WideString& text);

#endif
