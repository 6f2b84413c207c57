// Libraries that only a window, a dialog or a picture needs (comctl32,
// shell32, ole32, oleaut32, windowscodecs) are loaded here on demand, from
// the system folder, never imported: every import costs every launch.
#ifndef SUPPORT_SYSTEM_LIBRARY_WIN32_H
#define SUPPORT_SYSTEM_LIBRARY_WIN32_H

#include <windows.h>

// The named system library (for example L"shell32.dll"), loaded once from
// the system folder and kept for the life of the process; null when it
// cannot be loaded. Safe to call from any thread.
HMODULE systemLibrary(const wchar_t* name);

// An entry point of a system library, cast to its type; null when the
// library or the entry point is missing.
template <typename Function>
Function systemFunction(const wchar_t* library, const char* name) {
    HMODULE module = systemLibrary(library);
    return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

#endif
