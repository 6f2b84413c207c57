// Stand-in of a runtime's java.exe, for the start-up cache's creator under
// Wine: appends its arguments, a line each, to java-calls.txt beside itself;
// for a creation (a recording and an output named) it writes the output as
// a runtime would: the archive mark, then the recording's bytes.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string utf8(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    return out;
}

const wchar_t* valueAfter(const wchar_t* argument, const wchar_t* prefix) {
    size_t length = wcslen(prefix);
    return wcsncmp(argument, prefix, length) == 0 ? argument + length : nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 2;
    std::wstring calls(self);
    calls = calls.substr(0, calls.find_last_of(L'\\') + 1) + L"java-calls.txt";
    const wchar_t* recording = nullptr;
    const wchar_t* output = nullptr;
    if (FILE* log = _wfopen(calls.c_str(), L"ab")) {
        for (int i = 1; i < argc; ++i) std::fprintf(log, "%s\n", utf8(argv[i]).c_str());
        std::fprintf(log, "--\n");
        std::fclose(log);
    }
    for (int i = 1; i < argc; ++i) {
        for (const wchar_t* prefix : {L"-XX:SharedClassListFile=", L"-XX:AOTConfiguration="})
            if (const wchar_t* value = valueAfter(argv[i], prefix)) recording = value;
        for (const wchar_t* prefix : {L"-XX:SharedArchiveFile=", L"-XX:AOTCache="})
            if (const wchar_t* value = valueAfter(argv[i], prefix)) output = value;
    }
    if (!recording || !output) return 1;
    std::string bytes = "\xa2\xab\x0b\xf0";  // 0xf00baba2, little-endian
    if (FILE* in = _wfopen(recording, L"rb")) {
        char buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) bytes.append(buffer, got);
        std::fclose(in);
    }
    if (bytes.size() == 4) return 1;  // nothing was recorded
    FILE* out = _wfopen(output, L"wb");
    if (!out) return 1;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && written ? 0 : 1;
}
