#include "support/console_win32.h"

#include <windows.h>

#include "support/win32.h"

void writeStandardError(const WideString& text) {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (!error || error == INVALID_HANDLE_VALUE || text.empty()) return;
    DWORD mode;
    if (GetConsoleMode(error, &mode)) {
        // WriteConsoleW takes at most a few thousand characters at a time on
        // older systems: write in slices.
        const wchar_t* data = wide(text);
        size_t left = text.size();
        while (left > 0) {
            DWORD slice = left > 8192 ? 8192 : static_cast<DWORD>(left);
            // Never split a surrogate pair between two writes.
            if (slice < left && data[slice - 1] >= 0xD800 && data[slice - 1] <= 0xDBFF) --slice;
            DWORD written = 0;
            if (!WriteConsoleW(error, data, slice, &written, nullptr) || written == 0) return;
            data += written;
            left -= written;
        }
        return;
    }
    NarrowString bytes = toUtf8(text);
    const char* data = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        DWORD written = 0;
        DWORD slice = left > 0x100000 ? 0x100000 : static_cast<DWORD>(left);
        if (!WriteFile(error, data, slice, &written, nullptr) || written == 0) return;
        data += written;
        left -= written;
    }
}
