// Stand-in for a runtime's splash library (splashscreen.dll) in end-to-end
// tests: records every call of its four entry points, in order, with their
// arguments, as JSON lines. The record file is standin.log beside the DLL,
// or the "record=" path (relative to the DLL's folder) of standin_splash.cfg
// there: pointing it at the stand-in runtime's log puts both in one order.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::wstring g_record = L"standin.log";

std::string hex(const char* s) {
    std::string out;
    char buf[3];
    for (; s && *s; ++s) {
        std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(*s));
        out += buf;
    }
    return out;
}

// The ANSI argument as UTF-8, for readable records.
std::string ansi_to_utf8(const char* s) {
    if (!s || !*s) return "";
    int n = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, s, -1, &w[0], n);
    int m = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(m), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &out[0], m, nullptr, nullptr);
    out.resize(static_cast<size_t>(m - 1));
    return out;
}

std::string json(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

void record(const char* event, const std::string& fields) {
    std::string line = std::string("{\"event\":") + json(event) + fields +
                       ",\"pid\":" + std::to_string(GetCurrentProcessId()) +
                       ",\"thread\":" + std::to_string(GetCurrentThreadId()) + "}\n";
    HANDLE h = CreateFileW(g_record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(h);
}

std::string argument(const char* key, const char* value) {
    if (!value) return std::string(",") + json(key) + ":null";
    return std::string(",") + json(key) + ":" + json(ansi_to_utf8(value)) + "," + json(std::string(key) + "_hex") +
           ":" + json(hex(value));
}

void configure(HINSTANCE instance) {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(instance, path, MAX_PATH);
    std::wstring folder(path, n);
    folder = folder.substr(0, folder.find_last_of(L"\\/") + 1);
    g_record = folder + L"standin.log";
    FILE* f = _wfopen((folder + L"standin_splash.cfg").c_str(), L"rb");
    if (!f) return;
    char line[1024];
    while (std::fgets(line, sizeof line, f)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        if (text.compare(0, 7, "record=") == 0) {
            std::string value = text.substr(7);
            g_record = folder + std::wstring(value.begin(), value.end());
        }
    }
    std::fclose(f);
}

}  // namespace

extern "C" {

__declspec(dllexport) int SplashInit() {
    record("SplashInit", "");
    return 1;
}

__declspec(dllexport) int SplashLoadFile(const char* file) {
    record("SplashLoadFile", argument("file", file));
    return 1;
}

__declspec(dllexport) void SplashSetFileJarName(const char* file, const char* jar) {
    record("SplashSetFileJarName", argument("file", file) + argument("jar", jar));
}

__declspec(dllexport) void SplashClose() { record("SplashClose", ""); }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        configure(instance);
        record("splash_loaded", "");
    }
    return TRUE;
}
}
