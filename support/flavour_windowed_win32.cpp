// The windowed launcher: errors in message boxes, no console.
#include <windows.h>

#include "support/platform.h"
#include "support/win32.h"

namespace platform {

bool consoleFlavour() { return false; }

// A console program shows no splash screen.
bool splashPossible() { return true; }

void showErrorBox(void* owner, const WideString& text) {
    MessageBoxW(static_cast<HWND>(owner), wide(text), nullptr, MB_OK | MB_ICONERROR);
}

void writeNotice(const WideString&) {}

void onConsoleControl(bool (*)(int32_t)) {}

}  // namespace platform
