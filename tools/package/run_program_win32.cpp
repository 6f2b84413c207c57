// The tools run as child processes on a Windows build machine: the command
// line quoted as the C runtime splits it, standard output through a pipe.
#include "tools/package/run_program.h"

#include <windows.h>

#include "support/wide_string.h"

namespace {

// Closes a handle when it goes out of scope.
struct Handle {
    HANDLE handle = nullptr;
    ~Handle() {
        if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};

std::wstring wide(const std::string& utf8) {
    std::u16string text = fromUtf8(utf8.data(), utf8.size()).str();
    return std::wstring(text.begin(), text.end());
}

bool isFile(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// One argument as the C runtime's parser reads it back: quotes around
// blanks, backslashes doubled before a quote.
std::wstring quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

}  // namespace

std::string findProgram(const std::string& name) {
    std::wstring program = wide(name);
    std::wstring withExe = program.size() > 4 && _wcsicmp(program.c_str() + program.size() - 4, L".exe") == 0
                               ? program
                               : program + L".exe";
    if (name.find_first_of("/\\") != std::string::npos) return isFile(withExe) ? name : std::string();
    wchar_t found[MAX_PATH];
    if (!SearchPathW(nullptr, withExe.c_str(), nullptr, MAX_PATH, found, nullptr)) return std::string();
    NarrowString utf8 = toUtf8(WideString(reinterpret_cast<const char16_t*>(found)));
    return std::string(utf8.begin(), utf8.end());
}

int runProgram(const std::vector<std::string>& arguments, std::string* output, bool errorsToo) {
    std::string program = findProgram(arguments[0]);
    if (program.empty()) return -1;
    std::wstring commandLine = quoted(wide(program));
    for (size_t i = 1; i < arguments.size(); ++i) commandLine += L" " + quoted(wide(arguments[i]));
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    Handle readEnd, writeEnd;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (output) {
        if (!CreatePipe(&readEnd.handle, &writeEnd.handle, &inherit, 0)) return -1;
        SetHandleInformation(readEnd.handle, HANDLE_FLAG_INHERIT, 0);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = writeEnd.handle;
        startup.hStdError = errorsToo ? writeEnd.handle : GetStdHandle(STD_ERROR_HANDLE);
    }
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, output ? TRUE : FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    Handle processHandle, threadHandle;
    processHandle.handle = process.hProcess;
    threadHandle.handle = process.hThread;
    if (output) {
        CloseHandle(writeEnd.handle);
        writeEnd.handle = nullptr;
        char buffer[4096];
        DWORD got;
        while (ReadFile(readEnd.handle, buffer, sizeof buffer, &got, nullptr) && got) output->append(buffer, got);
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    return static_cast<int>(code);
}
