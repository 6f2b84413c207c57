// The console launcher: errors on the standard error, and the console's
// control events end the Java program through the virtual machine.
#include <windows.h>

#include "support/console_text.h"
#include "support/console_win32.h"
#include "support/platform.h"

namespace platform {

bool consoleFlavour() { return true; }

void showErrorBox(void*, const WideString& text) { writeStandardError(consoleLines(text)); }

namespace {

bool (*endProgram)(int32_t) = nullptr;

// Runs on a thread that the system starts for the event. Shells report a
// program ended by an interrupt as 128 + 2 (SIGINT) and one ended by its
// terminal going away as 128 + 15 (SIGTERM): the same codes here.
BOOL WINAPI controlHandler(DWORD event) {
    int32_t code = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? 130 : 143;
    return endProgram && endProgram(code) ? TRUE : FALSE;
}

}  // namespace

void onConsoleControl(bool (*end)(int32_t code)) {
    if (!endProgram) SetConsoleCtrlHandler(controlHandler, TRUE);
    endProgram = end;
}

}  // namespace platform
