// The windowed launcher: errors in message boxes, no console.
#include <windows.h>

#include "support/platform.h"
#include "support/win32.h"

namespace platform {

bool consoleFlavour() { return false; }

// A console program shows no splash screen.
bool splashPossible() { return true; }

void showErrorBox(void* owner, const WideString& text) {
    // A box before the runtime is known settles the process's awareness as
    // a Java 8 runtime's own executable has it.
    settleDpiAwareness(false);
    MessageBoxW(static_cast<HWND>(owner), wide(text), nullptr, MB_OK | MB_ICONERROR);
}

void writeNotice(const WideString&) {}

void onConsoleControl(bool (*)(int32_t)) {}

}  // namespace platform
