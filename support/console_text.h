// How the console launcher writes a message on the standard error: the
// message's exact text, lines ending in "\r\n", and a line break added when
// the text does not end in one. No prefix.
#ifndef SUPPORT_CONSOLE_TEXT_H
#define SUPPORT_CONSOLE_TEXT_H

#include <stdint.h>

#include "support/wide_string.h"

WideString consoleLines(const WideString& text);

// The console's control events, numbered as the system numbers them.
enum ConsoleEvent : uint32_t {
    kConsoleCtrlC = 0,
    kConsoleCtrlBreak = 1,
    kConsoleClose = 2,
    kConsoleLogoff = 5,
    kConsoleShutdown = 6,
};
// The exit code with which an event ends the Java program: shells report a
// program ended by an interrupt as 128 + 2 (SIGINT) and one ended by its
// terminal going away as 128 + 15 (SIGTERM). 0 for logoff, which ends
// nothing: it reaches only services, which the system keeps running then.
int32_t consoleEventExitCode(uint32_t event);

#endif
