// The console launcher: errors on the standard error, and the console's
// control events end the Java program through the virtual machine.
#include <windows.h>

#include "support/console_text.h"
#include "support/console_win32.h"
#include "support/platform.h"

namespace platform {

bool consoleFlavour() { return true; }

// A console program shows no splash screen.
bool splashPossible() { return false; }

void showErrorBox(void*, const WideString& text) { writeStandardError(consoleLines(text)); }

void writeNotice(const WideString& text) { writeStandardError(consoleLines(text)); }

namespace {

bool (*endProgram)(int32_t) = nullptr;

// Runs on a thread that the system starts for the event.
BOOL WINAPI controlHandler(DWORD event) {
    int32_t code = consoleEventExitCode(event);
    // Handled, so that the default handling does not end the process either.
    if (code == 0) return TRUE;
    return endProgram && endProgram(code) ? TRUE : FALSE;
}

}  // namespace

void onConsoleControl(bool (*end)(int32_t code)) {
    if (!endProgram) SetConsoleCtrlHandler(controlHandler, TRUE);
    endProgram = end;
}

}  // namespace platform
