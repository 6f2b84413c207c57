// embed-settings: writes a settings file into a copy of the launcher as its
// built-in settings (the RCDATA resource "SETTINGS"), for packagers.
//
//   embed-settings <launcher.exe> <settings.ini> [<output.exe>]
//
// Without an output the launcher itself is changed. An empty settings file
// removes the built-in settings.
#include <windows.h>

#include <stdio.h>

#include <string>

#include "launcher/settings.h"
#include "support/win32.h"

static bool readFile(const wchar_t* path, NarrowString& bytes) {
    OwnedHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.valid()) return false;
    char buffer[65536];
    DWORD read;
    while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    return true;
}

static int fail(const char* what) {
    fprintf(stderr, "embed-settings: %s (error %lu)\n", what, GetLastError());
    return 1;
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 3 || argc > 4) {
        fprintf(stderr, "usage: embed-settings <launcher.exe> <settings.ini> [<output.exe>]\n");
        return 2;
    }
    const wchar_t* target = argc == 4 ? argv[3] : argv[1];
    NarrowString bytes;
    if (!readFile(argv[2], bytes)) return fail("cannot read the settings file");

    // The launcher reads the text as UTF-16 with its mark or as UTF-8; a
    // text that parses to no section at all is most likely a wrong file.
    MemorySettings parsed(decodeSettingsText(bytes));
    if (!bytes.empty() && parsed.sections().empty()) {
        fprintf(stderr, "embed-settings: the settings file holds no [section]\n");
        return 1;
    }
    if (argc == 4 && !CopyFileW(argv[1], argv[3], FALSE)) return fail("cannot copy the launcher");

    HANDLE update = BeginUpdateResourceW(target, FALSE);
    if (!update) return fail("cannot open the executable's resources");
    WORD language = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
    BOOL ok = UpdateResourceW(update, MAKEINTRESOURCEW(10) /* RT_RCDATA */, L"SETTINGS", language,
                              bytes.empty() ? nullptr : &bytes[0], static_cast<DWORD>(bytes.size()));
    if (!ok) {
        EndUpdateResourceW(update, TRUE);
        return fail("cannot write the built-in settings");
    }
    if (!EndUpdateResourceW(update, FALSE)) return fail("cannot save the executable");
    printf("built-in settings: %u bytes, %u section(s)\n", static_cast<unsigned>(bytes.size()),
           static_cast<unsigned>(parsed.sections().size()));
    return 0;
}
