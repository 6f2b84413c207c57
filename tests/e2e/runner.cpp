// e2e_runner: starts one program with an exact command line, watches the
// windows it (and its child processes) shows, answers its dialogs and writes
// what it saw as JSON.
//
// It exists because `wine prog args` keeps only the low 8 bits of the exit
// status and re-quotes the arguments, and because the text of a message box
// can only be read from the Windows side.
//
// Usage: e2e_runner.exe <request-file>
// The request file holds UTF-8 key=value lines:
//   exe=C:\path\prog.exe        program to start (may be empty: cmdline decides)
//   cmdline=...                 complete command line, program name included
//   cmdline_hex=...             the same as UTF-8 in hex, for line breaks
//   cwd=...                     working directory (optional)
//   timeout_ms=30000
//   result=C:\path\result.json
//   press=N | none              repeatable: button for the Nth dialog seen
//                               (default IDOK for every dialog); also
//                               key:VK (a key pressed in the dialog, e.g.
//                               key:27 for Escape) or close (its close box)
//   watch=CAPTION               the dialog with this caption is looked at
//                               closely before it is answered: every
//                               control's id, class, full text, styles and
//                               rectangle (client coordinates) are read
//   resize=W,H                  repeatable: the watched dialog is then given
//                               this window size, and read again each time
//   select=ID                   all text of that control of the watched
//                               dialog is selected and the selection read back
//   screenshot=C:\path.bmp      the watched dialog as seen on the screen,
//                               after the resizing, as a 24-bit BMP file
//   press_others=N | none       button for the dialogs after those (default 1)
//   env=NAME=VALUE              repeatable: set in the child's environment
//   env=NAME                    repeatable: remove NAME from it
//   probe_class=NAME            inspect the first visible window of this
//                               class: styles, rectangle, screen pixels
//   probe_delay_ms=300          time given it to paint before the pixels are read
//   pixel=X,Y                   repeatable: screen pixel read at the probe (and
//                               once before the program starts)
//   screenshot=C:\path.bmp      without watch=: the whole screen, saved at
//                               the probe
//   signal=C:\path              file created after the probe (a program under
//                               test may wait for it)
//   watch_pixel=X,Y,RRGGBB      time from the process's creation until the
//                               screen pixel first shows this colour
//   stdin=C:\path | stdout=C:\path | stderr=C:\path
//                               the child's standard handles: a file read
//                               (stdin) or created (stdout, stderr); the
//                               others stay the runner's own
//                               (the child then shares the runner's console)
// Exit status: 0 when the result was written, 2 for a bad request, 3 when the
// result could not be written.
//
// e2e_runner.exe ui <command> ... drives windows from outside, one command a
// call, while a program started by another runner call shows them. Windows
// are named by their handle (a decimal number); commands that describe a
// window print it as JSON on stdout. Exit status 0, or 4 when the command
// could not be done (the reason on stderr), 2 for bad usage.
//   ui find <title|*> [class|*] [timeout_ms]  waits for a visible top-level
//                                  window; prints it with its controls
//   ui read <hwnd>                 prints the window and its controls again
//   ui list                        the visible top-level windows, top first
//   ui tip <hwnd>                  the text of a tooltip window's current
//                                  tool (the program must be 32-bit)
//   ui click <hwnd> <id>           presses an enabled button (BM_CLICK, posted)
//   ui key <hwnd> <vk> [id [count]] key down and up, count times (vk: number
//                                  or RETURN, ESCAPE, SPACE, TAB, UP, DOWN,
//                                  LEFT, RIGHT, HOME, END, F4) to control id,
//                                  or (no id, or 0) to the window that has the
//                                  keyboard focus
//   ui type <hwnd> <text>          characters to the focused window
//   ui mouse <hwnd> <id> <x> <y>   left button down and up at a client point
//                                  (handled by the control when it returns)
//   ui hover <hwnd> <id> <x> <y>   moves the mouse pointer there
//   ui close <hwnd>                the system menu's Close (the close box)
//   ui shot <hwnd> <file.bmp>      the window as shown on the screen, 24-bit
//   ui gone <hwnd> [timeout_ms]    waits until the window is gone or hidden
//   ui tree <hwnd> <id>            the items of a tree view control under expanded
//                                  parents (scrolled out of view or not), in
//                                  display order: text, depth, selected,
//                                  expanded (the program must be 32-bit)
//   ui strings <exe> <first> <last> prints the string resources first..last
//   ui post <pid> <message name> <wparam|self> [wait_ms]
//                                  plays a process of the desktop that knows
//                                  only what a snapshot and a name tell: posts
//                                  the registered message to every thread of
//                                  pid, then counts the messages of that id
//                                  its own queue receives within wait_ms
//   ui hold <mutex name> <ms>      opens the mutex for waiting alone (or makes
//                                  it) and holds it that long (prints when held)
//                                  of a program file ({"id": text or null})
//   ui record-args <file>          appends this process's command line
//                                  (UTF-8, one line) to file: a stand-in
//                                  handler for protocols and file types

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr DWORD kPollMs = 50;
constexpr wchar_t kDialogClass[] = L"#32770";
constexpr int kMessageBoxTextId = 0xFFFF;

struct EnvChange {
    std::wstring name;
    bool remove = false;
    std::wstring value;
};

struct Request {
    std::wstring exe;
    std::wstring cmdline;
    std::wstring cwd;
    std::wstring result;
    DWORD timeout_ms = 30000;
    std::vector<std::wstring> press;
    std::wstring press_others = L"1";
    std::vector<EnvChange> env;
    std::wstring watch;
    std::vector<SIZE> resize;
    int select = 0;
    std::wstring screenshot;
    std::wstring probe_class;
    DWORD probe_delay_ms = 300;
    std::vector<POINT> pixels;
    std::wstring signal;
    bool watch_pixel = false;
    POINT watch_point{};
    COLORREF watch_colour = 0;
    std::wstring std_in, std_out, std_err;
};

struct ControlRecord {
    int id = 0;
    std::wstring cls;
    std::wstring text;
    LONG style = 0;
    LONG exstyle = 0;
    RECT rect{};
};

// One look at the watched dialog: its window and client sizes and controls.
struct Layout {
    LONG style = 0;
    RECT rect{};
    RECT client{};
    std::vector<ControlRecord> controls;
};

struct ProbeRecord {
    bool done = false;
    std::wstring cls;
    LONG style = 0;
    LONG exstyle = 0;
    DWORD class_style = 0;
    RECT rect{};
    bool has_owner = false;
    ULONGLONG shown_ms = 0;
    std::vector<COLORREF> pixels;
    bool screenshot_saved = false;
};

struct DialogRecord {
    HWND hwnd = nullptr;
    DWORD pid = 0;
    std::wstring title;
    bool has_text = false;
    std::wstring text;
    std::vector<std::wstring> statics;
    std::vector<std::wstring> buttons;
    std::vector<int> button_ids;
    bool has_icon = false;
    bool has_owner = false;
    std::wstring owner_class;
    std::wstring owner_title;
    RECT rect{};
    ULONGLONG shown_ms = 0;
    bool hidden = false;
    ULONGLONG hidden_ms = 0;
    bool pressed = false;
    int pressed_id = 0;
    std::wstring answer;
    bool watched = false;
    std::vector<Layout> layouts;  // as opened, then after each resizing
    bool has_selection = false;
    DWORD selection = 0;
    bool screenshot_saved = false;
};

struct WindowRecord {
    HWND hwnd = nullptr;
    DWORD pid = 0;
    std::wstring cls;
    std::wstring title;
    RECT rect{};
    LONG style = 0;
    LONG exstyle = 0;
    ULONGLONG shown_ms = 0;
    bool hidden = false;
    ULONGLONG hidden_ms = 0;
};

// ---------------------------------------------------------------- text

std::wstring from_utf8(const std::string& s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), &w[0], n);
    return w;
}

// Hand-rolled rather than WideCharToMultiByte so that a lone surrogate
// becomes U+FFFD instead of silently disappearing.
std::string to_utf8(const std::wstring& w) {
    std::string out;
    out.reserve(w.size());
    for (size_t i = 0; i < w.size(); ++i) {
        uint32_t c = (uint16_t)w[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < w.size() &&
            (uint16_t)w[i + 1] >= 0xDC00 && (uint16_t)w[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + ((uint16_t)w[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += (char)c;
        } else if (c < 0x800) {
            out += (char)(0xC0 | (c >> 6));
            out += (char)(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += (char)(0xE0 | (c >> 12));
            out += (char)(0x80 | ((c >> 6) & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        } else {
            out += (char)(0xF0 | (c >> 18));
            out += (char)(0x80 | ((c >> 12) & 0x3F));
            out += (char)(0x80 | ((c >> 6) & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string json_str(const std::wstring& w) {
    std::string u = to_utf8(w);
    std::string out = "\"";
    for (unsigned char c : u) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char buf[8];
                snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += (char)c;
            }
        }
    }
    out += '"';
    return out;
}

std::string json_rect(const RECT& r) {
    char buf[96];
    snprintf(buf, sizeof buf, "[%ld, %ld, %ld, %ld]", (long)r.left, (long)r.top,
             (long)r.right, (long)r.bottom);
    return buf;
}

std::string json_num(long long v) { return std::to_string(v); }

bool hex_decode(const std::string& hex, std::string& out) {
    if (hex.size() % 2) return false;
    auto nib = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    out.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = nib(hex[i]), lo = nib(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out += (char)(hi * 16 + lo);
    }
    return true;
}

// ---------------------------------------------------------------- request

bool read_file(const std::wstring& path, std::string& data) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    char buf[65536];
    DWORD got = 0;
    data.clear();
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got) data.append(buf, got);
    CloseHandle(h);
    return true;
}

bool parse_request(const std::string& raw, Request& req, std::wstring& err) {
    std::string s = raw;
    if (s.size() >= 3 && (unsigned char)s[0] == 0xEF && (unsigned char)s[1] == 0xBB &&
        (unsigned char)s[2] == 0xBF)
        s.erase(0, 3);
    size_t pos = 0;
    bool have_cmdline = false;
    while (pos <= s.size()) {
        size_t nl = s.find('\n', pos);
        std::string line = s.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = nl == std::string::npos ? s.size() + 1 : nl + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            err = L"line without '=': " + from_utf8(line);
            return false;
        }
        std::string key = line.substr(0, eq);
        std::string val = line.substr(eq + 1);
        if (key == "exe") {
            req.exe = from_utf8(val);
        } else if (key == "cmdline") {
            req.cmdline = from_utf8(val);
            have_cmdline = true;
        } else if (key == "cmdline_hex") {
            std::string dec;
            if (!hex_decode(val, dec)) {
                err = L"bad cmdline_hex";
                return false;
            }
            req.cmdline = from_utf8(dec);
            have_cmdline = true;
        } else if (key == "cwd") {
            req.cwd = from_utf8(val);
        } else if (key == "timeout_ms") {
            req.timeout_ms = (DWORD)strtoul(val.c_str(), nullptr, 10);
        } else if (key == "result") {
            req.result = from_utf8(val);
        } else if (key == "press") {
            req.press.push_back(from_utf8(val));
        } else if (key == "watch") {
            req.watch = from_utf8(val);
        } else if (key == "resize") {
            SIZE size{};
            if (sscanf(val.c_str(), "%ld,%ld", &size.cx, &size.cy) != 2) {
                err = L"bad resize: " + from_utf8(val);
                return false;
            }
            req.resize.push_back(size);
        } else if (key == "select") {
            req.select = atoi(val.c_str());
        } else if (key == "screenshot") {
            req.screenshot = from_utf8(val);
        } else if (key == "press_others") {
            req.press_others = from_utf8(val);
        } else if (key == "probe_class") {
            req.probe_class = from_utf8(val);
        } else if (key == "probe_delay_ms") {
            req.probe_delay_ms = (DWORD)strtoul(val.c_str(), nullptr, 10);
        } else if (key == "pixel" || key == "watch_pixel") {
            long x = 0, y = 0;
            unsigned long rgb = 0;
            int got = sscanf(val.c_str(), "%ld,%ld,%lx", &x, &y, &rgb);
            if (got < 2 || (key == "watch_pixel" && got != 3)) {
                err = L"bad " + from_utf8(key) + L": " + from_utf8(val);
                return false;
            }
            if (key == "pixel") {
                req.pixels.push_back(POINT{x, y});
            } else {
                req.watch_pixel = true;
                req.watch_point = POINT{x, y};
                req.watch_colour = RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
            }
        } else if (key == "signal") {
            req.signal = from_utf8(val);
        } else if (key == "stdin") {
            req.std_in = from_utf8(val);
        } else if (key == "stdout") {
            req.std_out = from_utf8(val);
        } else if (key == "stderr") {
            req.std_err = from_utf8(val);
        } else if (key == "env") {
            EnvChange c;
            std::wstring w = from_utf8(val);
            // Search from 1: names like "=C:" start with '='.
            size_t e = w.find(L'=', 1);
            if (e == std::wstring::npos) {
                c.name = w;
                c.remove = true;
            } else {
                c.name = w.substr(0, e);
                c.value = w.substr(e + 1);
            }
            req.env.push_back(c);
        } else {
            err = L"unknown key: " + from_utf8(key);
            return false;
        }
    }
    if (req.result.empty()) {
        err = L"result= is missing";
        return false;
    }
    if (!have_cmdline && req.exe.empty()) {
        err = L"neither exe= nor cmdline= given";
        return false;
    }
    if (!have_cmdline) req.cmdline = L"\"" + req.exe + L"\"";
    return true;
}

// Current environment with the requested changes, as a sorted
// CREATE_UNICODE_ENVIRONMENT block.
std::vector<wchar_t> build_environment(const std::vector<EnvChange>& changes) {
    std::vector<std::wstring> vars;
    wchar_t* block = GetEnvironmentStringsW();
    for (wchar_t* p = block; p && *p; p += wcslen(p) + 1) vars.emplace_back(p);
    if (block) FreeEnvironmentStringsW(block);

    auto name_of = [](const std::wstring& v) {
        size_t e = v.find(L'=', 1);
        return e == std::wstring::npos ? v : v.substr(0, e);
    };
    for (const auto& c : changes) {
        vars.erase(std::remove_if(vars.begin(), vars.end(),
                                  [&](const std::wstring& v) {
                                      return _wcsicmp(name_of(v).c_str(), c.name.c_str()) == 0;
                                  }),
                   vars.end());
        if (!c.remove) vars.push_back(c.name + L"=" + c.value);
    }
    std::stable_sort(vars.begin(), vars.end(), [&](const std::wstring& a, const std::wstring& b) {
        return _wcsicmp(name_of(a).c_str(), name_of(b).c_str()) < 0;
    });
    std::vector<wchar_t> out;
    for (const auto& v : vars) {
        out.insert(out.end(), v.begin(), v.end());
        out.push_back(L'\0');
    }
    if (out.empty()) out.push_back(L'\0');
    out.push_back(L'\0');
    return out;
}

// ---------------------------------------------------------------- watching

std::wstring window_text(HWND h) {
    // GetWindowTextW reads another process's caption from the window
    // manager without a message round trip, so a hung target cannot hang us.
    std::vector<wchar_t> buf(32768);
    int n = GetWindowTextW(h, buf.data(), (int)buf.size());
    return std::wstring(buf.data(), n > 0 ? n : 0);
}

std::wstring class_name(HWND h) {
    wchar_t buf[256];
    int n = GetClassNameW(h, buf, 256);
    return std::wstring(buf, n > 0 ? n : 0);
}

// Screen pixels as 0xRRGGBB (CLR_INVALID when unreadable).
std::vector<COLORREF> screen_pixels(const std::vector<POINT>& points) {
    std::vector<COLORREF> out;
    HDC screen = GetDC(nullptr);
    for (const POINT& p : points) out.push_back(screen ? GetPixel(screen, p.x, p.y) : CLR_INVALID);
    if (screen) ReleaseDC(nullptr, screen);
    return out;
}

bool write_bmp(const std::wstring& path, int width, int height, const std::vector<unsigned char>& rows) {
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = (DWORD)rows.size();
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + (DWORD)rows.size();
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    bool ok = WriteFile(h, &file, sizeof file, &put, nullptr) && WriteFile(h, &info, sizeof info, &put, nullptr) &&
              WriteFile(h, rows.data(), (DWORD)rows.size(), &put, nullptr) && put == rows.size();
    CloseHandle(h);
    return ok;
}

// An area of the screen as the user sees it (other windows on top
// included), into a bottom-up 24-bit bitmap file.
bool save_screen_area(const RECT& r, const std::wstring& path) {
    int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return false;
    HDC screen = GetDC(nullptr);
    if (!screen) return false;
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BOOL copied = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY | CAPTUREBLT);
    SelectObject(memory, old);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    size_t stride = ((size_t)width * 3 + 3) & ~(size_t)3;
    std::vector<unsigned char> rows(stride * height);
    int lines = copied ? GetDIBits(memory, bitmap, 0, height, rows.data(), &info, DIB_RGB_COLORS) : 0;
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return lines == height && write_bmp(path, width, height, rows);
}

// The whole primary screen.
bool save_screenshot(const std::wstring& path) {
    RECT r{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    return save_screen_area(r, path);
}

// Microseconds since a FILETIME, on the clock the stand-in runtime uses too.
long long micros_since(ULONGLONG filetime) {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    ULONGLONG n = ((ULONGLONG)now.dwHighDateTime << 32) | now.dwLowDateTime;
    return ((long long)n - (long long)filetime) / 10;
}

// Processes Wine starts on a program's behalf (the desktop, services): not
// part of what is under test, and not to be killed on a timeout.
bool is_wine_service(const wchar_t* exe) {
    static const wchar_t* const kNames[] = {
        L"explorer.exe", L"services.exe", L"winedevice.exe", L"plugplay.exe", L"svchost.exe",
        L"rpcss.exe",    L"conhost.exe",  L"winemenubuilder.exe", L"wineboot.exe",
    };
    const wchar_t* base = wcsrchr(exe, L'\\');
    base = base ? base + 1 : exe;
    for (const wchar_t* n : kNames)
        if (_wcsicmp(base, n) == 0) return true;
    return false;
}

// The full text of a control of another process (an edit's text lives in
// the control, not in the window caption GetWindowTextW reads).
std::wstring control_text(HWND h) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return window_text(h);
    std::vector<wchar_t> buf(length + 2);
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXT, buf.size(), (LPARAM)buf.data(), SMTO_ABORTIFHUNG, 5000, &got))
        return window_text(h);
    return std::wstring(buf.data(), got);
}

Layout read_layout(HWND dialog) {
    Layout l;
    l.style = GetWindowLongW(dialog, GWL_STYLE);
    GetWindowRect(dialog, &l.rect);
    GetClientRect(dialog, &l.client);
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        ControlRecord r;
        r.id = GetDlgCtrlID(c);
        r.cls = class_name(c);
        r.text = control_text(c);
        r.style = GetWindowLongW(c, GWL_STYLE);
        r.exstyle = GetWindowLongW(c, GWL_EXSTYLE);
        GetWindowRect(c, &r.rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r.rect), 2);
        l.controls.push_back(r);
    }
    return l;
}

// The window's area of the screen.
bool save_screenshot(HWND h, const std::wstring& path) {
    RECT r;
    return GetWindowRect(h, &r) && save_screen_area(r, path);
}

BOOL CALLBACK collect_window(HWND h, LPARAM lp) {
    reinterpret_cast<std::vector<HWND>*>(lp)->push_back(h);
    return TRUE;
}

class Watcher {
public:
    Watcher(const Request& req, HANDLE process, DWORD pid, ULONGLONG t0)
        : req_(req), root_pid_(pid), t0_(t0) {
        tracked_[pid] = nullptr;
        FILETIME c, e, k, u;
        if (GetProcessTimes(process, &c, &e, &k, &u))
            root_created_ = ((ULONGLONG)c.dwHighDateTime << 32) | c.dwLowDateTime;
    }

    ~Watcher() {
        for (auto& kv : tracked_)
            if (kv.second) CloseHandle(kv.second);
    }

    void poll() {
        track_descendants();
        now_ = GetTickCount64() - t0_;
        std::vector<HWND> top;
        EnumWindows(collect_window, reinterpret_cast<LPARAM>(&top));
        std::set<HWND> visible_now;
        for (HWND h : top) {
            DWORD pid = 0;
            GetWindowThreadProcessId(h, &pid);
            if (!tracked_.count(pid) || !IsWindowVisible(h)) continue;
            visible_now.insert(h);
            if (seen_.count(h)) continue;
            seen_.insert(h);
            if (class_name(h) == kDialogClass)
                handle_dialog(h, pid);
            else
                record_window(h, pid);
            if (!probe_.done && !req_.probe_class.empty() && class_name(h) == req_.probe_class) probe(h);
        }
        for (auto& d : dialogs_)
            if (!d.hidden && !visible_now.count(d.hwnd)) {
                d.hidden = true;
                d.hidden_ms = now_;
            }
        for (auto& w : windows_)
            if (!w.hidden && !visible_now.count(w.hwnd)) {
                w.hidden = true;
                w.hidden_ms = now_;
            }
    }

    void terminate_descendants() {
        for (auto& kv : tracked_)
            if (kv.first != root_pid_ && kv.second) TerminateProcess(kv.second, 1);
    }

    std::vector<DWORD> pids() const {
        std::vector<DWORD> v;
        v.push_back(root_pid_);
        for (auto& kv : tracked_)
            if (kv.first != root_pid_) v.push_back(kv.first);
        return v;
    }

    // (pid, parent pid, exe name) of the child processes seen.
    std::vector<std::pair<DWORD, std::pair<DWORD, std::wstring>>> children() const {
        return {info_.begin(), info_.end()};
    }

    // Polled as often as possible while watch_pixel waits for its colour.
    void watch_pixel() {
        if (!req_.watch_pixel || watch_us_ >= 0) return;
        if (screen_pixels({req_.watch_point})[0] == req_.watch_colour) watch_us_ = micros_since(root_created_);
    }
    bool watching() const { return req_.watch_pixel && watch_us_ < 0; }
    long long watch_us() const { return watch_us_; }
    const ProbeRecord& probe_record() const { return probe_; }

    const std::vector<DialogRecord>& dialogs() const { return dialogs_; }
    const std::vector<WindowRecord>& windows() const { return windows_; }

private:
    // Follows child processes by parent id. A process only counts when it
    // was created after the root, so a recycled id cannot adopt a stranger.
    void track_descendants() {
        HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snap == INVALID_HANDLE_VALUE) return;
        std::vector<PROCESSENTRY32W> all;
        PROCESSENTRY32W pe;
        pe.dwSize = sizeof pe;
        for (BOOL ok = Process32FirstW(snap, &pe); ok; ok = Process32NextW(snap, &pe))
            all.push_back(pe);
        CloseHandle(snap);
        for (const auto& p : all) {
            auto it = tracked_.find(p.th32ProcessID);
            if (it == tracked_.end() || p.th32ProcessID == root_pid_) continue;
            // The name may still have been empty when the process was adopted.
            if (is_wine_service(p.szExeFile)) {
                if (it->second) CloseHandle(it->second);
                tracked_.erase(it);
                info_.erase(p.th32ProcessID);
                rejected_.insert(p.th32ProcessID);
            } else if (p.szExeFile[0]) {
                info_[p.th32ProcessID].second = p.szExeFile;
            }
        }
        bool grew = true;
        while (grew) {
            grew = false;
            for (const auto& p : all) {
                if (tracked_.count(p.th32ProcessID) || rejected_.count(p.th32ProcessID)) continue;
                if (!tracked_.count(p.th32ParentProcessID)) continue;
                if (is_wine_service(p.szExeFile)) {
                    rejected_.insert(p.th32ProcessID);
                    continue;
                }
                HANDLE h = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION |
                                           SYNCHRONIZE,
                                       FALSE, p.th32ProcessID);
                FILETIME c, e, k, u;
                if (h && GetProcessTimes(h, &c, &e, &k, &u) &&
                    (((ULONGLONG)c.dwHighDateTime << 32) | c.dwLowDateTime) >= root_created_) {
                    tracked_[p.th32ProcessID] = h;
                    info_[p.th32ProcessID] = {p.th32ParentProcessID, p.szExeFile};
                    grew = true;
                } else {
                    if (h) CloseHandle(h);
                    rejected_.insert(p.th32ProcessID);
                }
            }
        }
    }

    void probe(HWND h) {
        probe_.done = true;
        probe_.shown_ms = now_;
        Sleep(req_.probe_delay_ms);
        probe_.cls = class_name(h);
        probe_.style = GetWindowLongW(h, GWL_STYLE);
        probe_.exstyle = GetWindowLongW(h, GWL_EXSTYLE);
        probe_.class_style = GetClassLongW(h, GCL_STYLE);
        GetWindowRect(h, &probe_.rect);
        probe_.has_owner = GetWindow(h, GW_OWNER) != nullptr;
        probe_.pixels = screen_pixels(req_.pixels);
        if (!req_.screenshot.empty() && req_.watch.empty())
            probe_.screenshot_saved = save_screenshot(req_.screenshot);
        if (!req_.signal.empty()) {
            HANDLE f = CreateFileW(req_.signal.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
        }
    }

    void record_window(HWND h, DWORD pid) {
        WindowRecord w;
        w.hwnd = h;
        w.pid = pid;
        w.cls = class_name(h);
        w.title = window_text(h);
        w.style = GetWindowLongW(h, GWL_STYLE);
        w.exstyle = GetWindowLongW(h, GWL_EXSTYLE);
        GetWindowRect(h, &w.rect);
        w.shown_ms = now_;
        windows_.push_back(w);
    }

    void handle_dialog(HWND h, DWORD pid) {
        DialogRecord d;
        d.hwnd = h;
        d.pid = pid;
        d.title = window_text(h);
        d.shown_ms = now_;
        GetWindowRect(h, &d.rect);
        // Children in z-order, which for a dialog is the template order.
        for (HWND c = GetWindow(h, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            std::wstring cls = class_name(c);
            LONG style = GetWindowLongW(c, GWL_STYLE);
            int id = GetDlgCtrlID(c);
            if (_wcsicmp(cls.c_str(), L"Static") == 0) {
                DWORD type = style & SS_TYPEMASK;
                if (type == SS_ICON || type == SS_BITMAP || type == SS_ENHMETAFILE) {
                    if (type == SS_ICON && (style & WS_VISIBLE)) d.has_icon = true;
                    continue;
                }
                std::wstring t = window_text(c);
                if (id == kMessageBoxTextId) {
                    d.has_text = true;
                    d.text = t;
                }
                d.statics.push_back(t);
            } else if (_wcsicmp(cls.c_str(), L"Button") == 0) {
                // Message boxes may keep unused buttons around hidden.
                if (!(style & WS_VISIBLE)) continue;
                d.buttons.push_back(window_text(c));
                d.button_ids.push_back(id);
            }
        }
        HWND owner = GetWindow(h, GW_OWNER);
        if (owner) {
            d.has_owner = true;
            d.owner_class = class_name(owner);
            d.owner_title = window_text(owner);
        }

        if (!req_.watch.empty() && d.title == req_.watch) watch(h, d);

        size_t index = dialogs_.size();
        std::wstring choice = index < req_.press.size() ? req_.press[index] : req_.press_others;
        d.answer = choice;
        if (_wcsnicmp(choice.c_str(), L"key:", 4) == 0) {
            // Delivered where the keyboard focus is, as a typed key would be.
            UINT vk = (UINT)wcstol(choice.c_str() + 4, nullptr, 0);
            GUITHREADINFO gui{};
            gui.cbSize = sizeof gui;
            HWND target = GetGUIThreadInfo(GetWindowThreadProcessId(h, nullptr), &gui) && gui.hwndFocus
                              ? gui.hwndFocus : h;
            PostMessageW(target, WM_KEYDOWN, vk, 1);
            PostMessageW(target, WM_KEYUP, vk, 0xC0000001);
        } else if (_wcsicmp(choice.c_str(), L"close") == 0) {
            // What the close box of the caption sends.
            PostMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0);
        } else if (_wcsicmp(choice.c_str(), L"none") != 0) {
            int id = (int)wcstol(choice.c_str(), nullptr, 0);
            HWND button = GetDlgItem(h, id);
            // Posted WM_COMMAND is what a button click delivers; unlike
            // BM_CLICK it does not depend on focus or the mouse position.
            PostMessageW(h, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)button);
            d.pressed = true;
            d.pressed_id = id;
        }
        dialogs_.push_back(d);
    }

    void watch(HWND h, DialogRecord& d) {
        d.watched = true;
        d.layouts.push_back(read_layout(h));
        for (const SIZE& size : req_.resize) {
            SetWindowPos(h, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            Sleep(200);
            d.layouts.push_back(read_layout(h));
        }
        if (req_.select) {
            HWND control = GetDlgItem(h, req_.select);
            DWORD_PTR sel = 0;
            SendMessageTimeoutW(control, EM_SETSEL, 0, -1, SMTO_ABORTIFHUNG, 5000, &sel);
            if (SendMessageTimeoutW(control, EM_GETSEL, 0, 0, SMTO_ABORTIFHUNG, 5000, &sel)) {
                d.has_selection = true;
                d.selection = (DWORD)sel;
            }
        }
        if (!req_.screenshot.empty()) {
            Sleep(500);  // painted after the last change
            d.screenshot_saved = save_screenshot(h, req_.screenshot);
        }
    }

    const Request& req_;
    DWORD root_pid_;
    ULONGLONG t0_;
    ULONGLONG now_ = 0;
    ULONGLONG root_created_ = 0;
    std::map<DWORD, HANDLE> tracked_;
    std::map<DWORD, std::pair<DWORD, std::wstring>> info_;  // pid -> parent, exe
    std::set<DWORD> rejected_;
    std::set<HWND> seen_;
    std::vector<DialogRecord> dialogs_;
    std::vector<WindowRecord> windows_;
    ProbeRecord probe_;
    long long watch_us_ = -1;
};

// ---------------------------------------------------------------- result

std::string json_str_list(const std::vector<std::wstring>& v) {
    std::string s = "[";
    for (size_t i = 0; i < v.size(); ++i) s += (i ? ", " : "") + json_str(v[i]);
    return s + "]";
}

std::string json_hidden(bool hidden, ULONGLONG ms) {
    return hidden ? json_num((long long)ms) : "null";
}

bool write_result(const std::wstring& path, const std::string& json) {
    std::wstring tmp = path + L".tmp";
    HANDLE h = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    BOOL ok = WriteFile(h, json.data(), (DWORD)json.size(), &put, nullptr) && put == json.size();
    CloseHandle(h);
    // Readers never see a half-written file.
    return ok && MoveFileExW(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

std::string json_colours(const std::vector<POINT>& points, const std::vector<COLORREF>& colours) {
    std::string s = "[";
    for (size_t i = 0; i < points.size() && i < colours.size(); ++i) {
        char buf[64];
        COLORREF c = colours[i];
        if (c == CLR_INVALID)
            snprintf(buf, sizeof buf, "[%ld, %ld, null]", (long)points[i].x, (long)points[i].y);
        else
            snprintf(buf, sizeof buf, "[%ld, %ld, \"%02X%02X%02X\"]", (long)points[i].x, (long)points[i].y,
                     GetRValue(c), GetGValue(c), GetBValue(c));
        s += (i ? ", " : "") + std::string(buf);
    }
    return s + "]";
}

std::string render(const Request& req, bool started, DWORD start_error, DWORD exit_code,
                   bool timed_out, ULONGLONG elapsed, const Watcher* w,
                   const std::vector<COLORREF>& before) {
    std::string j = "{\n";
    if (!started) {
        j += "  \"start_error\": " + json_num(start_error) + ",\n";
        j += "  \"exit_code\": null,\n  \"exit_code_hex\": null,\n";
    } else {
        char hex[16];
        snprintf(hex, sizeof hex, "0x%08X", (unsigned)exit_code);
        j += "  \"start_error\": null,\n";
        j += "  \"exit_code\": " + json_num((int32_t)exit_code) + ",\n";
        j += "  \"exit_code_hex\": \"" + std::string(hex) + "\",\n";
    }
    j += std::string("  \"timed_out\": ") + (timed_out ? "true" : "false") + ",\n";
    j += "  \"elapsed_ms\": " + json_num((long long)elapsed) + ",\n";
    j += "  \"acp\": " + json_num(GetACP()) + ",\n";
    j += "  \"cmdline\": " + json_str(req.cmdline) + ",\n";
    j += "  \"pids\": [";
    if (w) {
        auto p = w->pids();
        for (size_t i = 0; i < p.size(); ++i) j += (i ? ", " : "") + json_num(p[i]);
    }
    j += "],\n  \"children\": [";
    if (w) {
        bool first = true;
        for (const auto& c : w->children()) {
            j += first ? "" : ", ";
            first = false;
            j += "{\"pid\": " + json_num(c.first) + ", \"parent\": " + json_num(c.second.first) +
                 ", \"exe\": " + json_str(c.second.second) + "}";
        }
    }
    j += "],\n  \"dialogs\": [";
    if (w) {
        bool first = true;
        for (const auto& d : w->dialogs()) {
            j += first ? "\n" : ",\n";
            first = false;
            j += "    {\"title\": " + json_str(d.title);
            j += ", \"text\": " + (d.has_text ? json_str(d.text) : std::string("null"));
            j += ", \"statics\": " + json_str_list(d.statics);
            j += ", \"buttons\": " + json_str_list(d.buttons);
            j += ", \"button_ids\": [";
            for (size_t i = 0; i < d.button_ids.size(); ++i)
                j += (i ? ", " : "") + json_num(d.button_ids[i]);
            j += "]";
            j += std::string(", \"has_icon\": ") + (d.has_icon ? "true" : "false");
            j += ", \"owner_class\": " + (d.has_owner ? json_str(d.owner_class) : std::string("null"));
            j += ", \"owner_title\": " + (d.has_owner ? json_str(d.owner_title) : std::string("null"));
            j += ", \"pid\": " + json_num(d.pid);
            j += ", \"rect\": " + json_rect(d.rect);
            j += ", \"shown_ms\": " + json_num((long long)d.shown_ms);
            j += ", \"hidden_ms\": " + json_hidden(d.hidden, d.hidden_ms);
            j += ", \"pressed\": " + (d.pressed ? json_num(d.pressed_id) : std::string("null"));
            j += ", \"answer\": " + json_str(d.answer);
            if (d.watched) {
                j += ", \"layouts\": [";
                for (size_t i = 0; i < d.layouts.size(); ++i) {
                    const Layout& l = d.layouts[i];
                    j += (i ? ", " : "") + std::string("{\"style\": ") + json_num((long long)(DWORD)l.style);
                    j += ", \"rect\": " + json_rect(l.rect);
                    j += ", \"client\": " + json_rect(l.client) + ", \"controls\": [";
                    for (size_t k = 0; k < l.controls.size(); ++k) {
                        const ControlRecord& c = l.controls[k];
                        j += (k ? ", " : "") + std::string("{\"id\": ") + json_num(c.id);
                        j += ", \"class\": " + json_str(c.cls) + ", \"text\": " + json_str(c.text);
                        j += ", \"style\": " + json_num((long long)(DWORD)c.style);
                        j += ", \"exstyle\": " + json_num((long long)(DWORD)c.exstyle);
                        j += ", \"rect\": " + json_rect(c.rect) + "}";
                    }
                    j += "]}";
                }
                j += "]";
                j += ", \"selection\": " + (d.has_selection
                    ? "[" + json_num(LOWORD(d.selection)) + ", " + json_num(HIWORD(d.selection)) + "]"
                    : std::string("null"));
                j += std::string(", \"screenshot\": ") + (d.screenshot_saved ? "true" : "false");
            }
            j += "}";
        }
        if (!first) j += "\n  ";
    }
    j += "],\n  \"windows\": [";
    if (w) {
        bool first = true;
        for (const auto& win : w->windows()) {
            j += first ? "\n" : ",\n";
            first = false;
            j += "    {\"class\": " + json_str(win.cls);
            j += ", \"title\": " + json_str(win.title);
            j += ", \"rect\": " + json_rect(win.rect);
            j += ", \"style\": " + json_num((unsigned long)win.style);
            j += ", \"exstyle\": " + json_num((unsigned long)win.exstyle);
            j += ", \"pid\": " + json_num(win.pid);
            j += ", \"shown_ms\": " + json_num((long long)win.shown_ms);
            j += ", \"hidden_ms\": " + json_hidden(win.hidden, win.hidden_ms);
            j += "}";
        }
        if (!first) j += "\n  ";
    }
    j += "],\n  \"pixels_before\": " + json_colours(req.pixels, before);
    j += ",\n  \"probe\": ";
    if (w && w->probe_record().done) {
        const ProbeRecord& p = w->probe_record();
        j += "{\"class\": " + json_str(p.cls);
        j += ", \"style\": " + json_num((unsigned long)p.style);
        j += ", \"exstyle\": " + json_num((unsigned long)p.exstyle);
        j += ", \"class_style\": " + json_num((unsigned long)p.class_style);
        j += ", \"rect\": " + json_rect(p.rect);
        j += std::string(", \"has_owner\": ") + (p.has_owner ? "true" : "false");
        j += ", \"shown_ms\": " + json_num((long long)p.shown_ms);
        j += ", \"pixels\": " + json_colours(req.pixels, p.pixels);
        j += std::string(", \"screenshot\": ") + (p.screenshot_saved ? "true" : "false") + "}";
    } else {
        j += "null";
    }
    j += ",\n  \"watch_pixel_us\": ";
    j += w && w->watch_us() >= 0 ? json_num(w->watch_us()) : std::string("null");
    j += ",\n  \"screen\": [" + json_num(GetSystemMetrics(SM_CXSCREEN)) + ", " +
         json_num(GetSystemMetrics(SM_CYSCREEN)) + "]";
    j += "\n}\n";
    return j;
}


// ---------------------------------------------------------------- ui commands

int ui_fail(const std::wstring& why) {
    fwprintf(stderr, L"e2e_runner ui: %ls\n", why.c_str());
    return 4;
}

HWND parse_hwnd(const wchar_t* text) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(wcstoull(text, nullptr, 10)));
}

// A control's text through WM_GETTEXT, which the system carries across
// processes (GetWindowText does not ask other processes' controls).
std::string describe_window(HWND h) {
    DWORD pid = 0;
    DWORD tid = GetWindowThreadProcessId(h, &pid);
    RECT r{}, client{};
    GetWindowRect(h, &r);
    GetClientRect(h, &client);
    POINT origin{0, 0};
    ClientToScreen(h, &origin);
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    HWND focus = GetGUIThreadInfo(tid, &gui) ? gui.hwndFocus : nullptr;
    HWND owner = GetWindow(h, GW_OWNER);
    std::string j = "{\"hwnd\": " + json_num((long long)(uintptr_t)h);
    j += ", \"pid\": " + json_num(pid);
    j += ", \"title\": " + json_str(window_text(h));
    j += ", \"class\": " + json_str(class_name(h));
    j += ", \"style\": " + json_num((long long)(DWORD)GetWindowLongW(h, GWL_STYLE));
    j += ", \"rect\": " + json_rect(r);
    j += ", \"client_origin\": [" + json_num(origin.x) + ", " + json_num(origin.y) + "]";
    j += ", \"client_size\": [" + json_num(client.right) + ", " + json_num(client.bottom) + "]";
    j += ", \"visible\": " + std::string(IsWindowVisible(h) ? "true" : "false");
    j += ", \"enabled\": " + std::string(IsWindowEnabled(h) ? "true" : "false");
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    j += ", \"work_area\": " + json_rect(work);
    j += ", \"foreground\": " + std::string(GetForegroundWindow() == h ? "true" : "false");
    j += ", \"owner_class\": " + (owner ? json_str(class_name(owner)) : std::string("null"));
    j += ", \"owner_title\": " + (owner ? json_str(window_text(owner)) : std::string("null"));
    j += ", \"focus_id\": " + (focus && IsChild(h, focus) ? json_num(GetDlgCtrlID(focus)) : std::string("null"));
    j += ", \"focus_class\": " + (focus ? json_str(class_name(focus)) : std::string("null"));
    j += ", \"controls\": [";
    bool first = true;
    // Children in z-order, which for a dialog is the template order.
    for (HWND c = GetWindow(h, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        RECT cr{};
        GetWindowRect(c, &cr);
        j += first ? "\n  " : ",\n  ";
        first = false;
        j += "{\"id\": " + json_num(GetDlgCtrlID(c));
        j += ", \"hwnd\": " + json_num((long long)(uintptr_t)c);
        j += ", \"class\": " + json_str(class_name(c));
        j += ", \"text\": " + json_str(control_text(c));
        j += ", \"style\": " + json_num((long long)(DWORD)GetWindowLongW(c, GWL_STYLE));
        j += ", \"exstyle\": " + json_num((long long)(DWORD)GetWindowLongW(c, GWL_EXSTYLE));
        j += ", \"enabled\": " + std::string(IsWindowEnabled(c) ? "true" : "false");
        j += ", \"visible\": " + std::string(IsWindowVisible(c) ? "true" : "false");
        j += ", \"rect\": " + json_rect(cr) + "}";
    }
    j += "]}\n";
    return j;
}

struct FindWindowQuery {
    std::wstring title;
    std::wstring cls;
    HWND found = nullptr;
};

BOOL CALLBACK match_window(HWND h, LPARAM lp) {
    auto* q = reinterpret_cast<FindWindowQuery*>(lp);
    if (!IsWindowVisible(h)) return TRUE;
    if (q->title != L"*" && window_text(h) != q->title) return TRUE;
    if (q->cls != L"*" && class_name(h) != q->cls) return TRUE;
    q->found = h;
    return FALSE;
}

UINT parse_key(const std::wstring& name) {
    static const struct { const wchar_t* name; UINT vk; } kKeys[] = {
        {L"RETURN", VK_RETURN}, {L"ESCAPE", VK_ESCAPE}, {L"SPACE", VK_SPACE}, {L"TAB", VK_TAB},
        {L"UP", VK_UP},         {L"DOWN", VK_DOWN},     {L"LEFT", VK_LEFT},   {L"RIGHT", VK_RIGHT},
        {L"HOME", VK_HOME},     {L"END", VK_END},       {L"F4", VK_F4},
    };
    for (const auto& k : kKeys)
        if (_wcsicmp(name.c_str(), k.name) == 0) return k.vk;
    return (UINT)wcstoul(name.c_str(), nullptr, 0);
}

HWND focus_of(HWND h) {
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    DWORD tid = GetWindowThreadProcessId(h, nullptr);
    return GetGUIThreadInfo(tid, &gui) && gui.hwndFocus ? gui.hwndFocus : h;
}

void post_key(HWND target, UINT vk) {
    UINT scan = MapVirtualKeyW(vk, 0 /* MAPVK_VK_TO_VSC */);
    LPARAM down = 1 | ((LPARAM)scan << 16);
    LPARAM up = down | (1u << 30) | (1u << 31);
    PostMessageW(target, WM_KEYDOWN, vk, down);
    wchar_t ch = 0;
    if (vk == VK_RETURN) ch = L'\r';
    else if (vk == VK_SPACE) ch = L' ';
    else if (vk == VK_ESCAPE) ch = 0x1B;
    else if (vk == VK_TAB) ch = L'\t';
    // What TranslateMessage would add for the keys that type a character.
    if (ch) PostMessageW(target, WM_CHAR, ch, down);
    PostMessageW(target, WM_KEYUP, vk, up);
}

int screenshot(HWND h, const std::wstring& path) {
    RECT r{};
    if (!GetWindowRect(h, &r)) return ui_fail(L"no such window");
    if (r.right <= r.left || r.bottom <= r.top) return ui_fail(L"empty window");
    if (!save_screen_area(r, path)) return ui_fail(L"cannot copy the screen into " + path);
    printf("{\"width\": %ld, \"height\": %ld, \"rect\": %s}\n", r.right - r.left, r.bottom - r.top,
           json_rect(r).c_str());
    return 0;
}

// A tree view's item texts live in its process: they are read through a
// buffer placed there (same pointer size needed).
int tree_items(HWND tree) {
    DWORD pid = 0;
    GetWindowThreadProcessId(tree, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process) return ui_fail(L"cannot open the tree's process");
    const size_t kText = 512;
    SIZE_T size = sizeof(TVITEMW) + kText * sizeof(wchar_t);
    BYTE* remote = (BYTE*)VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    if (!remote) {
        CloseHandle(process);
        return ui_fail(L"cannot place a buffer in the tree's process");
    }
    std::string j = "[";
    bool first = true;
    HTREEITEM selected = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
    for (HTREEITEM item = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0); item;
         item = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXTVISIBLE, (LPARAM)item)) {
        TVITEMW tv{};
        tv.mask = TVIF_TEXT | TVIF_STATE | TVIF_HANDLE;
        tv.hItem = item;
        tv.stateMask = TVIS_EXPANDED | TVIS_SELECTED;
        tv.pszText = (LPWSTR)(remote + sizeof(TVITEMW));
        tv.cchTextMax = (int)kText;
        SIZE_T moved = 0;
        WriteProcessMemory(process, remote, &tv, sizeof tv, &moved);
        SendMessageW(tree, TVM_GETITEMW, 0, (LPARAM)remote);
        std::vector<wchar_t> text(kText + 1, L'\0');
        ReadProcessMemory(process, remote, &tv, sizeof tv, &moved);
        ReadProcessMemory(process, remote + sizeof(TVITEMW), text.data(), kText * sizeof(wchar_t), &moved);
        int depth = 0;
        for (HTREEITEM p = item; (p = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_PARENT, (LPARAM)p));)
            ++depth;
        j += first ? "\n  " : ",\n  ";
        first = false;
        j += "{\"text\": " + json_str(text.data()) + ", \"depth\": " + json_num(depth);
        j += ", \"selected\": " + std::string(item == selected ? "true" : "false");
        j += ", \"expanded\": " + std::string(tv.state & TVIS_EXPANDED ? "true" : "false") + "}";
    }
    j += "\n]\n";
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    fputs(j.c_str(), stdout);
    return 0;
}

BOOL CALLBACK list_window(HWND h, LPARAM lp) {
    if (!IsWindowVisible(h)) return TRUE;
    auto* j = reinterpret_cast<std::string*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    RECT r{};
    GetWindowRect(h, &r);
    *j += (j->size() > 1 ? ",\n  " : "\n  ");
    *j += "{\"hwnd\": " + json_num((long long)(uintptr_t)h) + ", \"pid\": " + json_num(pid) +
          ", \"class\": " + json_str(class_name(h)) + ", \"title\": " + json_str(window_text(h)) +
          ", \"rect\": " + json_rect(r) + "}";
    return TRUE;
}

// The current tool's text of a tooltip, read through buffers placed in the
// tooltip's process (same pointer size needed).
int tooltip_text(HWND tip) {
    DWORD pid = 0;
    GetWindowThreadProcessId(tip, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process) return ui_fail(L"cannot open the tooltip's process");
    const size_t kText = 1024;
    SIZE_T size = sizeof(TOOLINFOW) + kText * sizeof(wchar_t);
    BYTE* remote = (BYTE*)VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    if (!remote) {
        CloseHandle(process);
        return ui_fail(L"cannot place a buffer in the tooltip's process");
    }
    TOOLINFOW info{};
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    SIZE_T moved = 0;
    WriteProcessMemory(process, remote, &info, sizeof info, &moved);
    BOOL current = (BOOL)SendMessageW(tip, TTM_GETCURRENTTOOLW, 0, (LPARAM)remote);
    ReadProcessMemory(process, remote, &info, sizeof info, &moved);
    std::vector<wchar_t> text(kText + 1, L'\0');
    if (current) {
        info.lpszText = (LPWSTR)(remote + sizeof(TOOLINFOW));
        WriteProcessMemory(process, remote, &info, sizeof info, &moved);
        SendMessageW(tip, TTM_GETTEXTW, kText, (LPARAM)remote);
        ReadProcessMemory(process, remote + sizeof(TOOLINFOW), text.data(), kText * sizeof(wchar_t), &moved);
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    if (!current) return ui_fail(L"the tooltip has no current tool");
    printf("{\"text\": %s}\n", json_str(text.data()).c_str());
    return 0;
}

int ui_main(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    std::wstring cmd = argv[2];
    auto arg = [&](int i) -> const wchar_t* { return i < argc ? argv[i] : nullptr; };
    if (cmd == L"find" && arg(3)) {
        FindWindowQuery q;
        q.title = arg(3);
        q.cls = arg(4) ? arg(4) : L"*";
        DWORD timeout = arg(5) ? wcstoul(arg(5), nullptr, 10) : 10000;
        ULONGLONG t0 = GetTickCount64();
        for (;;) {
            EnumWindows(match_window, (LPARAM)&q);
            if (q.found) break;
            if (GetTickCount64() - t0 >= timeout) return ui_fail(L"no window \"" + q.title + L"\"");
            Sleep(kPollMs);
        }
        fputs(describe_window(q.found).c_str(), stdout);
        return 0;
    }
    if (cmd == L"strings" && arg(5)) {
        // As data: the file may be built for another processor.
        HMODULE module = LoadLibraryExW(arg(3), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (!module) return ui_fail(L"cannot load the program file");
        long first = wcstol(arg(4), nullptr, 10), last = wcstol(arg(5), nullptr, 10);
        std::string j = "{";
        for (long id = first; id <= last; ++id) {
            const wchar_t* text = nullptr;
            int length = LoadStringW(module, (UINT)id, reinterpret_cast<LPWSTR>(&text), 0);
            j += (id == first ? "\n  \"" : ",\n  \"") + std::to_string(id) + "\": ";
            j += length > 0 && text ? json_str(std::wstring(text, length)) : std::string("null");
        }
        j += "\n}\n";
        FreeLibrary(module);
        fputs(j.c_str(), stdout);
        return 0;
    }
    if (cmd == L"post" && arg(5)) {
        DWORD pid = wcstoul(arg(3), nullptr, 10);
        UINT message = RegisterWindowMessageW(arg(4));
        MSG queued;
        PeekMessageW(&queued, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
        WPARAM value = wcscmp(arg(5), L"self") == 0 ? GetCurrentThreadId() : wcstoul(arg(5), nullptr, 10);
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
        THREADENTRY32 entry{};
        entry.dwSize = sizeof entry;
        int posted = 0;
        for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
            if (entry.th32OwnerProcessID == pid && PostThreadMessageW(entry.th32ThreadID, message, value, 0)) ++posted;
        CloseHandle(snapshot);
        DWORD wait = arg(6) ? wcstoul(arg(6), nullptr, 10) : 1000;
        int replies = 0;
        ULONGLONG t0 = GetTickCount64();
        while (GetTickCount64() - t0 < wait) {
            while (PeekMessageW(&queued, nullptr, 0, 0, PM_REMOVE))
                if (queued.message == message) ++replies;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_POSTMESSAGE);
        }
        printf("{\"posted\": %d, \"replies\": %d}\n", posted, replies);
        return 0;
    }
    if (cmd == L"hold" && arg(4)) {
        HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, arg(3));
        if (!mutex) {
            // Made as a launch makes it: a descriptor without an owner, so
            // that the owner is the user's default one.
            SECURITY_DESCRIPTOR descriptor;
            InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
            SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
            SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
            mutex = CreateMutexW(&attributes, FALSE, arg(3));
        }
        if (!mutex) return ui_fail(L"the mutex can be neither opened nor made");
        DWORD waited = WaitForSingleObject(mutex, 10000);
        if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return ui_fail(L"the mutex was not had");
        printf("{\"held\": true}\n");
        fflush(stdout);
        Sleep(wcstoul(arg(4), nullptr, 10));
        return 0;
    }
    if (cmd == L"list") {
        std::string j = "[";
        EnumWindows(list_window, (LPARAM)&j);
        fputs((j + "\n]\n").c_str(), stdout);
        return 0;
    }
    if (cmd == L"record-args" && arg(3)) {
        std::string line = to_utf8(GetCommandLineW()) + "\n";
        HANDLE h = CreateFileW(arg(3), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return ui_fail(L"cannot open the record file");
        DWORD put = 0;
        WriteFile(h, line.data(), (DWORD)line.size(), &put, nullptr);
        CloseHandle(h);
        return 0;
    }
    if (!arg(3)) return 2;
    HWND h = parse_hwnd(arg(3));
    if (cmd == L"gone") {
        DWORD timeout = arg(4) ? wcstoul(arg(4), nullptr, 10) : 10000;
        ULONGLONG t0 = GetTickCount64();
        while (IsWindow(h) && IsWindowVisible(h)) {
            if (GetTickCount64() - t0 >= timeout) return ui_fail(L"the window is still there");
            Sleep(kPollMs);
        }
        return 0;
    }
    if (!IsWindow(h)) return ui_fail(L"no such window");
    if (cmd == L"read") {
        fputs(describe_window(h).c_str(), stdout);
        return 0;
    }
    if (cmd == L"click" && arg(4)) {
        HWND button = GetDlgItem(h, (int)wcstol(arg(4), nullptr, 0));
        if (!button) return ui_fail(L"no such control");
        // A user cannot press a disabled button either.
        if (!IsWindowEnabled(button) || !IsWindowVisible(button)) return ui_fail(L"the control is disabled");
        // Posted: the press may open a modal window of its own.
        PostMessageW(button, BM_CLICK, 0, 0);
        return 0;
    }
    if (cmd == L"key" && arg(4)) {
        int id = arg(5) ? (int)wcstol(arg(5), nullptr, 0) : 0;
        HWND target = id ? GetDlgItem(h, id) : focus_of(h);
        if (!target) return ui_fail(L"no such control");
        long count = arg(6) ? wcstol(arg(6), nullptr, 10) : 1;
        for (long i = 0; i < count; ++i) post_key(target, parse_key(arg(4)));
        return 0;
    }
    if (cmd == L"type" && arg(4)) {
        HWND target = focus_of(h);
        for (const wchar_t* c = arg(4); *c; ++c) PostMessageW(target, WM_CHAR, *c, 1);
        return 0;
    }
    if ((cmd == L"mouse" || cmd == L"hover") && arg(6)) {
        HWND control = GetDlgItem(h, (int)wcstol(arg(4), nullptr, 0));
        if (!control) return ui_fail(L"no such control");
        POINT p{(LONG)wcstol(arg(5), nullptr, 10), (LONG)wcstol(arg(6), nullptr, 10)};
        if (cmd == L"hover") {
            POINT screen = p;
            ClientToScreen(control, &screen);
            SetCursorPos(screen.x, screen.y);
            PostMessageW(control, WM_MOUSEMOVE, 0, MAKELPARAM(p.x, p.y));
            return 0;
        }
        // Sent, not posted: when the command returns, the control has
        // handled the click, so a test can check at once what it did.
        SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
        SendMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
        return 0;
    }
    if (cmd == L"close") {
        PostMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    }
    if (cmd == L"shot" && arg(4)) return screenshot(h, arg(4));
    if (cmd == L"tip") return tooltip_text(h);
    if (cmd == L"tree" && arg(4)) {
        HWND tree = GetDlgItem(h, (int)wcstol(arg(4), nullptr, 0));
        if (!tree) return ui_fail(L"no such control");
        return tree_items(tree);
    }
    return 2;
}

// The child's standard handles from the request's files.
class StdFiles {
public:
    StdFiles(const Request& req, STARTUPINFOW& si) {
        if (req.std_in.empty() && req.std_out.empty() && req.std_err.empty()) return;
        used_ = true;
        si.dwFlags |= STARTF_USESTDHANDLES;
        si.hStdInput = open(req.std_in, GENERIC_READ, OPEN_EXISTING, STD_INPUT_HANDLE, 0);
        si.hStdOutput = open(req.std_out, GENERIC_WRITE, CREATE_ALWAYS, STD_OUTPUT_HANDLE, 1);
        si.hStdError = open(req.std_err, GENERIC_WRITE, CREATE_ALWAYS, STD_ERROR_HANDLE, 2);
    }
    ~StdFiles() { close(); }
    BOOL inherit() const { return used_ ? TRUE : FALSE; }
    void close() {
        for (HANDLE& h : owned_)
            if (h) CloseHandle(h), h = nullptr;
    }

private:
    HANDLE open(const std::wstring& path, DWORD access, DWORD disposition, DWORD standard, int slot) {
        if (path.empty()) return GetStdHandle(standard);
        SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
        HANDLE h = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, disposition,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return nullptr;
        owned_[slot] = h;
        return h;
    }
    bool used_ = false;
    HANDLE owned_[3] = {nullptr, nullptr, nullptr};
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 2 && wcscmp(argv[1], L"ui") == 0) {
        int status = ui_main(argc, argv);
        if (status == 2) fwprintf(stderr, L"usage: e2e_runner.exe ui <command> ... (see runner.cpp)\n");
        fflush(stdout);
        return status;
    }
    if (argc != 2) {
        fwprintf(stderr, L"usage: e2e_runner.exe <request-file>\n");
        return 2;
    }
    std::string raw;
    if (!read_file(argv[1], raw)) {
        fwprintf(stderr, L"e2e_runner: cannot read %ls (error %lu)\n", argv[1], GetLastError());
        return 2;
    }
    Request req;
    std::wstring err;
    if (!parse_request(raw, req, err)) {
        fwprintf(stderr, L"e2e_runner: %ls\n", err.c_str());
        return 2;
    }

    std::vector<wchar_t> env;
    if (!req.env.empty()) env = build_environment(req.env);
    std::vector<wchar_t> cmd(req.cmdline.begin(), req.cmdline.end());
    cmd.push_back(L'\0');

    std::vector<COLORREF> before = screen_pixels(req.pixels);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    DWORD flags = env.empty() ? 0 : CREATE_UNICODE_ENVIRONMENT;
    if (!req.std_in.empty() || !req.std_out.empty() || !req.std_err.empty()) {
        // A console program shares the console of the shell that starts it:
        // the runner plays that shell. Without a console of its own, the
        // child would get a new one, with a window of its own. Fails
        // harmlessly when the runner has one already.
        AllocConsole();
    }
    StdFiles files(req, si);
    ULONGLONG t0 = GetTickCount64();
    BOOL ok = CreateProcessW(req.exe.empty() ? nullptr : req.exe.c_str(), cmd.data(), nullptr,
                             nullptr, files.inherit(), flags,
                             env.empty() ? nullptr : env.data(),
                             req.cwd.empty() ? nullptr : req.cwd.c_str(), &si, &pi);
    files.close();
    if (!ok) {
        DWORD e = GetLastError();
        std::string json = render(req, false, e, 0, false, 0, nullptr, before);
        return write_result(req.result, json) ? 0 : 3;
    }
    CloseHandle(pi.hThread);

    Watcher watcher(req, pi.hProcess, pi.dwProcessId, t0);
    bool timed_out = false;
    ULONGLONG last_poll = 0;
    for (;;) {
        // A watched pixel is read every millisecond; windows as usual.
        if (!last_poll || GetTickCount64() - last_poll >= kPollMs || !watcher.watching()) {
            watcher.poll();
            last_poll = GetTickCount64();
        }
        watcher.watch_pixel();
        if (WaitForSingleObject(pi.hProcess, watcher.watching() ? 1 : kPollMs) == WAIT_OBJECT_0) break;
        if (GetTickCount64() - t0 >= req.timeout_ms) {
            timed_out = true;
            watcher.poll();
            watcher.terminate_descendants();
            TerminateProcess(pi.hProcess, 1);
            WaitForSingleObject(pi.hProcess, 10000);
            break;
        }
    }
    ULONGLONG elapsed = GetTickCount64() - t0;
    // One last look, so windows that went away with the process are closed off.
    watcher.poll();
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);

    std::string json = render(req, true, 0, code, timed_out, elapsed, &watcher, before);
    if (!write_result(req.result, json)) {
        fwprintf(stderr, L"e2e_runner: cannot write %ls (error %lu)\n", req.result.c_str(),
                 GetLastError());
        return 3;
    }
    return 0;
}
