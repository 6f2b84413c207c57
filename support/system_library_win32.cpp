#include "support/system_library_win32.h"

#include "support/win32.h"

HMODULE systemLibrary(const wchar_t* name) {
    // The common controls are loaded by name: the manifest's activation
    // context then gives its version 6, which a full path would bypass.
    if (lstrcmpiW(name, L"comctl32.dll") == 0) return LoadLibraryW(name);
    // The full path keeps the application folder (where a user's jars and
    // perhaps a stray DLL of the same name lie) out of the search.
    wchar_t folder[MAX_PATH];
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return LoadLibraryW(name);
    WideString path = fromWide(folder, length);
    path += u"\\";
    path += fromWide(name);
    // LoadLibrary counts references: a second load of a loaded library is
    // cheap and never unloads it, so no cache is needed.
    return LoadLibraryW(wide(path));
}
