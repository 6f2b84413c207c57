// The runtime's printed output on Windows. The runtime has a C library of
// its own (msvcr100 for 8, the universal one from 9 on), not the
// launcher's: its streams, and the formats it writes them with, are that
// library's, so both go through it.
#include <windows.h>

#include <string.h>

#include "support/platform.h"

namespace platform {

namespace {
HMODULE runtimeLibrary = nullptr;

struct RuntimeLibraryC {
    bool looked = false;
    bool universal = false;
    HMODULE module = nullptr;
};
RuntimeLibraryC libraryC;

// The C library the runtime's library imports, from its import table.
void findLibraryC() {
    libraryC.looked = true;
    const uint8_t* base = reinterpret_cast<const uint8_t*>(runtimeLibrary);
    if (!base) return;
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return;
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (nt->Signature != IMAGE_NT_SIGNATURE || imports.VirtualAddress == 0) return;
    for (const IMAGE_IMPORT_DESCRIPTOR* entry =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         entry->Name; ++entry) {
        const char* name = reinterpret_cast<const char*>(base + entry->Name);
        if (_strnicmp(name, "api-ms-win-crt-", 15) == 0 || _stricmp(name, "ucrtbase.dll") == 0) {
            libraryC.universal = true;
            libraryC.module = GetModuleHandleW(L"ucrtbase.dll");
            return;
        }
        if (_strnicmp(name, "msvcr", 5) == 0) {
            libraryC.module = GetModuleHandleA(name);
            return;
        }
    }
}

template <typename Function>
Function libraryFunction(const char* name) {
    if (!libraryC.looked) findLibraryC();
    return libraryC.module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(libraryC.module, name)))
                           : nullptr;
}
}  // namespace

void noteRuntimeLibrary(void* library) { runtimeLibrary = static_cast<HMODULE>(library); }

NarrowString formatRuntimeText(const char* format, va_list arguments) {
    // (A va_list is a pointer here: each call reads the arguments afresh.)
    int length = -1;
    NarrowString text;
    if (libraryC.looked ? libraryC.universal : (findLibraryC(), libraryC.universal)) {
        typedef int(__cdecl * Print)(unsigned long long, char*, size_t, const char*, void*, va_list);
        Print print = libraryFunction<Print>("__stdio_common_vsprintf");
        const unsigned long long kStandardSnprintf = 2;
        if (print) length = print(kStandardSnprintf, nullptr, 0, format, nullptr, arguments);
        if (length > 0) {
            text.resize(static_cast<size_t>(length) + 1);
            print(kStandardSnprintf, &text[0], text.size(), format, nullptr, arguments);
        }
    } else {
        typedef int(__cdecl * Count)(const char*, va_list);
        typedef int(__cdecl * Print)(char*, size_t, const char*, va_list);
        Count count = libraryFunction<Count>("_vscprintf");
        Print print = libraryFunction<Print>("_vsnprintf");
        if (count && print) length = count(format, arguments);
        if (length > 0) {
            text.resize(static_cast<size_t>(length) + 1);
            print(&text[0], text.size(), format, arguments);
        }
    }
    if (length <= 0) return NarrowString();
    text.resize(static_cast<size_t>(length));
    return text;
}

// The stream's number in the runtime's library (2, the error stream, when
// that cannot be told).
static int streamNumber(void* stream) {
    typedef int(__cdecl * FileNumber)(void*);
    FileNumber fileNumber = libraryFunction<FileNumber>("_fileno");
    return fileNumber ? fileNumber(stream) : 2;
}

bool standardRuntimeStream(void* stream) {
    int number = streamNumber(stream);
    return number == 1 || number == 2 || number < 0;
}

void writeRuntimeText(void* stream, const NarrowString& text) {
    typedef size_t(__cdecl * Write)(const void*, size_t, size_t, void*);
    typedef int(__cdecl * Flush)(void*);
    int number = streamNumber(stream);
    if (number == 1 || number == 2 || number < 0) {
        // The standard streams: the process's handles, shared by both
        // libraries (where the runtime's library has none, as in a windowed
        // program, the text goes where the handle goes, or nowhere).
        HANDLE target = GetStdHandle(number == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
        DWORD written = 0;
        if (target && target != INVALID_HANDLE_VALUE)
            WriteFile(target, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    // A file of the runtime's own (a log): through its library.
    Write write = libraryFunction<Write>("fwrite");
    Flush flush = libraryFunction<Flush>("fflush");
    if (write) write(text.data(), 1, text.size(), stream);
    if (flush) flush(stream);
}

}  // namespace platform
