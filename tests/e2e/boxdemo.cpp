// e2e_boxdemo: a small GUI program that behaves the way the launcher does
// when it fails (an error message box, then a chosen exit code), so the
// bench itself can be tested without the launcher.
//
// Usage: e2e_boxdemo.exe EXIT_CODE [action ...]
// EXIT_CODE is decimal or 0x-hex (e.g. -1, 3, 0x80000000), or "result" for
// the value the last message box returned. Actions run left to right:
//   TEXT               a message box with this text
//   --caption=TEXT     caption for the following boxes (default: none)
//   --yesno            following boxes get Yes/No buttons
//   --owner            following boxes are owned by a visible window
//   --window=MS        show a top-level window for MS ms, then destroy it
//   --sleep=MS         sleep
//   --show-cmdline     a box with GetCommandLineW()
//   --show-env=NAME    a box with the variable's value, or <unset>
//   --show-cwd         a box with the working directory
//   --show-reg=ROOT\KEY|NAME   a box with a REG_SZ value, or <missing>
//   --spawn            run the remaining arguments in a child process of
//                      this program, wait for it and exit with its code

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kWindowClass[] = L"E2EDemoWindow";
constexpr wchar_t kOwnerClass[] = L"E2EDemoOwner";

bool starts_with(const std::wstring& s, const wchar_t* prefix, std::wstring* rest = nullptr) {
    size_t n = wcslen(prefix);
    if (s.compare(0, n, prefix) != 0) return false;
    if (rest) *rest = s.substr(n);
    return true;
}

void pump_for(DWORD ms) {
    ULONGLONG end = GetTickCount64() + ms;
    for (;;) {
        ULONGLONG now = GetTickCount64();
        if (now >= end) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, (DWORD)(end - now), QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

void register_classes(HINSTANCE inst) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = inst;
    wc.hCursor = LoadCursorW(nullptr, (LPCWSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszClassName = kWindowClass;
    RegisterClassW(&wc);
    wc.lpszClassName = kOwnerClass;
    RegisterClassW(&wc);
}

// Quotes one argument so that CommandLineToArgvW gives it back unchanged.
std::wstring quote_arg(const std::wstring& a) {
    if (!a.empty() && a.find_first_of(L" \t\n\v\"") == std::wstring::npos) return a;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : a) {
        if (c == L'\\') {
            ++backslashes;
        } else if (c == L'"') {
            // Backslashes before a quote are doubled, and the quote escaped.
            out.append(backslashes + 1, L'\\');
            backslashes = 0;
        } else {
            backslashes = 0;
        }
        out += c;
    }
    // Doubled so the closing quote stays a quote.
    out.append(backslashes, L'\\');
    out += L'"';
    return out;
}

std::wstring read_reg(const std::wstring& request) {
    size_t bar = request.find(L'|');
    std::wstring path = request.substr(0, bar);
    std::wstring name = bar == std::wstring::npos ? L"" : request.substr(bar + 1);
    HKEY root = nullptr;
    std::wstring sub;
    if (starts_with(path, L"HKLM\\", &sub)) root = HKEY_LOCAL_MACHINE;
    else if (starts_with(path, L"HKCU\\", &sub)) root = HKEY_CURRENT_USER;
    else return L"<bad root>";
    HKEY key;
    if (RegOpenKeyExW(root, sub.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return L"<missing>";
    wchar_t buf[4096];
    DWORD size = sizeof buf - sizeof(wchar_t), type = 0;
    LONG rc = RegQueryValueExW(key, name.empty() ? nullptr : name.c_str(), nullptr, &type,
                               (BYTE*)buf, &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ) return L"<missing>";
    buf[size / sizeof(wchar_t)] = L'\0';
    return buf;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, LPWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) return 2;
    register_classes(inst);

    std::wstring exit_spec = argv[1];
    bool use_result = exit_spec == L"result";
    int exit_code = use_result ? 0 : (int)wcstoul(exit_spec.c_str(), nullptr, 0);
    if (!use_result && !exit_spec.empty() && exit_spec[0] == L'-')
        exit_code = (int)wcstol(exit_spec.c_str(), nullptr, 0);

    bool has_caption = false;
    std::wstring caption;
    UINT buttons = MB_OK;
    HWND owner = nullptr;
    int last_result = 0;

    auto box = [&](const std::wstring& text) {
        last_result = MessageBoxW(owner, text.c_str(), has_caption ? caption.c_str() : nullptr,
                                  buttons | MB_ICONERROR);
    };

    for (int i = 2; i < argc; ++i) {
        std::wstring a = argv[i], v;
        if (starts_with(a, L"--caption=", &v)) {
            has_caption = true;
            caption = v;
        } else if (a == L"--yesno") {
            buttons = MB_YESNO;
        } else if (a == L"--owner") {
            owner = CreateWindowExW(0, kOwnerClass, L"Demo owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                    50, 50, 300, 200, nullptr, nullptr, inst, nullptr);
        } else if (starts_with(a, L"--window=", &v)) {
            HWND w = CreateWindowExW(0, kWindowClass, L"Demo window", WS_POPUP | WS_VISIBLE, 100,
                                     120, 320, 200, nullptr, nullptr, inst, nullptr);
            pump_for((DWORD)wcstoul(v.c_str(), nullptr, 10));
            DestroyWindow(w);
        } else if (starts_with(a, L"--sleep=", &v)) {
            Sleep((DWORD)wcstoul(v.c_str(), nullptr, 10));
        } else if (a == L"--show-cmdline") {
            box(GetCommandLineW());
        } else if (starts_with(a, L"--show-env=", &v)) {
            DWORD n = GetEnvironmentVariableW(v.c_str(), nullptr, 0);
            if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
                box(L"<unset>");
            } else {
                std::wstring val(n, L'\0');
                n = GetEnvironmentVariableW(v.c_str(), &val[0], n);
                val.resize(n);
                box(val);
            }
        } else if (a == L"--show-cwd") {
            wchar_t buf[MAX_PATH * 4];
            DWORD n = GetCurrentDirectoryW(MAX_PATH * 4, buf);
            box(std::wstring(buf, n));
        } else if (starts_with(a, L"--show-reg=", &v)) {
            box(read_reg(v));
        } else if (a == L"--spawn") {
            wchar_t self[MAX_PATH * 4];
            GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
            std::wstring cmd = quote_arg(self) + L" " + quote_arg(exit_spec);
            for (int j = i + 1; j < argc; ++j) cmd += L" " + quote_arg(argv[j]);
            STARTUPINFOW si{};
            si.cb = sizeof si;
            PROCESS_INFORMATION pi{};
            if (!CreateProcessW(self, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                                &pi))
                return 4;
            WaitForSingleObject(pi.hProcess, INFINITE);
            DWORD code = 0;
            GetExitCodeProcess(pi.hProcess, &code);
            return (int)code;
        } else {
            box(a);
        }
    }
    if (owner) DestroyWindow(owner);
    LocalFree(argv);
    return use_result ? last_result : exit_code;
}
