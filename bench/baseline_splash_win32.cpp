// Splash baseline: the least a Windows program must do to show a bitmap file
// in a window of its own, centred and borderless like the launcher's splash.
// The launcher's first splash paint is measured against this one's.
//
//   baseline_splash.exe <image.bmp> [milliseconds shown, default 300]
//
// Only uncompressed bitmap files with a 40-byte or longer info header are
// read; the pixels are drawn straight from the file's bytes. Exit code 0
// once the window has been shown for the given time; any failure writes one
// line to the error output and exits with 2.
//
// Built without the C runtime, like the start-up baseline (bench/splash.sh
// has the command line): it imports kernel32, user32 and gdi32 only.

#include <windows.h>

namespace {

const wchar_t kClassName[] = L"BaselineSplash";
const DWORD kPathUnits = 32768;
wchar_t g_imagePath[kPathUnits];
wchar_t g_shownMs[32];
const BITMAPINFO* g_info;
const void* g_pixels;
int g_width, g_height;

[[noreturn]] void fail(const char* what) {
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD size = 0;
    while (what[size]) ++size;
    DWORD written = 0;
    if (err == nullptr || err == INVALID_HANDLE_VALUE || !WriteFile(err, what, size, &written, nullptr) ||
        !WriteFile(err, "\r\n", 2, &written, nullptr))
        MessageBoxA(nullptr, what, "baseline", MB_OK | MB_ICONERROR);
    ExitProcess(2);
}

// The next argument of a command line: quoted stretches may hold spaces.
const wchar_t* nextArgument(const wchar_t* at, wchar_t* to, size_t capacity, bool& found) {
    while (*at == L' ' || *at == L'\t') ++at;
    found = *at != 0;
    size_t n = 0;
    bool quoted = false;
    for (; *at && (quoted || (*at != L' ' && *at != L'\t')); ++at) {
        if (*at == L'"') {
            quoted = !quoted;
        } else if (n + 1 < capacity) {
            to[n++] = *at;
        }
    }
    if (capacity) to[n] = 0;
    return at;
}

UINT shownMs() {
    UINT ms = 0;
    for (const wchar_t* c = g_shownMs; *c; ++c) {
        if (*c < L'0' || *c > L'9') fail("bad time");
        ms = ms * 10 + static_cast<UINT>(*c - L'0');
    }
    return ms;
}

void readImage() {
    HANDLE file = CreateFileW(g_imagePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) fail("cannot open the image");
    DWORD size = GetFileSize(file, nullptr);
    if (size == INVALID_FILE_SIZE || size < 54) fail("not a bitmap file");
    BYTE* bytes = static_cast<BYTE*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    DWORD read = 0;
    if (!bytes || !ReadFile(file, bytes, size, &read, nullptr) || read != size) fail("cannot read the image");
    CloseHandle(file);
    const BITMAPFILEHEADER* header = reinterpret_cast<const BITMAPFILEHEADER*>(bytes);
    g_info = reinterpret_cast<const BITMAPINFO*>(bytes + sizeof(BITMAPFILEHEADER));
    if (header->bfType != 0x4D42 || g_info->bmiHeader.biSize < sizeof(BITMAPINFOHEADER) ||
        g_info->bmiHeader.biCompression != BI_RGB || header->bfOffBits >= size)
        fail("not an uncompressed bitmap file");
    g_pixels = bytes + header->bfOffBits;
    g_width = g_info->bmiHeader.biWidth;
    g_height = g_info->bmiHeader.biHeight < 0 ? -g_info->bmiHeader.biHeight : g_info->bmiHeader.biHeight;
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            SetDIBitsToDevice(dc, 0, 0, g_width, g_height, 0, 0, 0, g_height, g_pixels, g_info, DIB_RGB_COLORS);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_TIMER:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

int run() {
    static wchar_t scratch[kPathUnits];
    bool found = false;
    const wchar_t* at = nextArgument(GetCommandLineW(), scratch, kPathUnits, found);  // the program
    at = nextArgument(at, g_imagePath, kPathUnits, found);
    if (!found) fail("usage: baseline_splash.exe <image.bmp> [milliseconds]");
    nextArgument(at, g_shownMs, 32, found);
    UINT ms = found ? shownMs() : 300;
    readImage();

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassW(&windowClass)) fail("RegisterClassW failed");
    int left = (GetSystemMetrics(SM_CXSCREEN) - g_width) / 2;
    int top = (GetSystemMetrics(SM_CYSCREEN) - g_height) / 2;
    HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, nullptr, WS_POPUP, left, top, g_width, g_height,
                                  nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!window) fail("CreateWindowExW failed");
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    SetTimer(window, 1, ms, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    DestroyWindow(window);
    return 0;
}

}  // namespace

// The process entry point (no C runtime start-up code runs before it).
extern "C" void baselineSplashStart() { ExitProcess(static_cast<UINT>(run())); }
