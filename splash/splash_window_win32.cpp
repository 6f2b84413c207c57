// The launcher's own splash window, served by a thread of its own so that
// it stays painted while the launcher thread waits for the Java program.
#include <windows.h>

#include "launcher/launcher.h"
#include "splash/splash.h"
#include "splash/splash_picture_win32.h"
#include "support/gdi_win32.h"
#include "support/system_library_win32.h"
#include "support/win32.h"

namespace {

const wchar_t kClassName[] = L"SplashScreenWindow";

class SplashScreenWindow : public SplashWindow {
public:
    ~SplashScreenWindow() override { setBitmap(nullptr, 0, 0); }

    // Takes the rendered image; the one held before is deleted.
    void setBitmap(HBITMAP bitmap, int32_t width, int32_t height) {
        if (bitmap_) gdi()->deleteObject(bitmap_);
        bitmap_ = bitmap;
        width_ = width;
        height_ = height;
    }
    HBITMAP bitmap() const { return bitmap_; }

    // An opaque copy of the image at its own size to the top-left corner;
    // the window colour while the image is still being decoded.
    void paint(HWND window, HDC target) const {
        if (!bitmap_) {
            RECT client;
            if (GetClientRect(window, &client)) FillRect(target, &client, GetSysColorBrush(COLOR_WINDOW));
            return;
        }
        MemoryDC source(target, bitmap_);
        if (source.valid()) gdi()->bitBlt(target, 0, 0, width_, height_, source.get(), 0, 0, SRCCOPY);
    }

private:
    HBITMAP bitmap_ = nullptr;
    int32_t width_ = 0;
    int32_t height_ = 0;
};

LRESULT CALLBACK splashWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        CREATESTRUCTW* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    const SplashScreenWindow* self =
        reinterpret_cast<const SplashScreenWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
        case WM_ERASEBKGND:
            return 1;  // the image covers the whole window
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            if (dc && self) self->paint(window, dc);
            EndPaint(window, &paint);
            return 0;
        }
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

// Registered once per process. Systems that do not know the drop-shadow
// style refuse the class with it, and get one without.
bool registerSplashClass(bool shadow) {
    static bool registered = false;
    if (registered) return true;
    WNDCLASSEXW windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_DBLCLKS | CS_SAVEBITS | (shadow ? CS_DROPSHADOW : 0);
    windowClass.lpfnWndProc = splashWindowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kClassName;
    registered = RegisterClassExW(&windowClass) != 0;
    if (!registered && shadow) {
        windowClass.style &= ~CS_DROPSHADOW;
        registered = RegisterClassExW(&windowClass) != 0;
    }
    return registered;
}

// Hands the decoded picture to the window object: its section as it is, or
// rendered into a bitmap compatible with the screen.
void takePicture(SplashScreenWindow& object, SplashPicture& picture) {
    int32_t width = picture.width(), height = picture.height();
    if (picture.hasSection()) {
        object.setBitmap(picture.releaseSection(), width, height);
        return;
    }
    const GdiFunctions* g = gdi();
    ScreenDC screen;
    if (!g || !screen.get()) return;
    OwnedGdiObject bitmap(g->createCompatibleBitmap(screen.get(), width, height));
    {
        MemoryDC target(screen.get(), static_cast<HBITMAP>(bitmap.get()));
        if (target.valid()) picture.render(target.get(), 0, 0, width, height);
    }
    object.setBitmap(static_cast<HBITMAP>(bitmap.release()), width, height);
}

SplashRect screenCentred(int32_t width, int32_t height) {
    return centredSplashRect(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), width, height);
}

// The window over the object's bitmap, centred; a layered one takes the
// bitmap's premultiplied pixels as its content.
HWND createSplashWindow(SplashScreenWindow& object, int32_t width, int32_t height, bool layered) {
    SplashRect rect = screenCentred(width, height);
    HWND window = CreateWindowExW(WS_EX_TOOLWINDOW | (layered ? WS_EX_LAYERED : 0), kClassName, nullptr, WS_POPUP,
                                  rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), &object);
    if (!window) return nullptr;
    if (layered && object.bitmap()) {
        ScreenDC screen;
        MemoryDC source(screen.get(), object.bitmap());
        POINT position = {rect.left, rect.top};
        SIZE size = {width, height};
        POINT origin = {0, 0};
        BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        if (source.valid())
            UpdateLayeredWindow(window, screen.get(), &position, &size, source.get(), &origin, 0, &blend, ULW_ALPHA);
    }
    return window;
}

// From here on the window owns the error boxes. It is painted before it is
// activated: activating a thread's first window sets up the input method,
// which can load libraries of its own, and the first pixel need not wait.
void showSplashWindow(Launcher& launcher, HWND window) {
    // Read by the other threads when they report an error; written once, here.
    __atomic_store_n(&launcher.messageOwner, static_cast<void*>(window), __ATOMIC_RELEASE);
    ShowWindow(window, SW_SHOWNA);
    UpdateWindow(window);
    ShowWindow(window, SW_SHOWNORMAL);
}

typedef HRESULT(WINAPI* CoInitializeExFunction)(LPVOID, DWORD);
typedef void(WINAPI* CoUninitializeFunction)();

// The picture loader and the imaging component are COM objects of this
// thread; COM is entered only when one of them is needed, as loading it
// takes longer than the whole first splash of a plain bitmap.
class ThreadApartment {
public:
    ThreadApartment() = default;
    ~ThreadApartment() {
        if (!entered_) return;
        CoUninitializeFunction uninitialise = systemFunction<CoUninitializeFunction>(L"ole32.dll", "CoUninitialize");
        if (uninitialise) uninitialise();
    }
    ThreadApartment(const ThreadApartment&) = delete;
    ThreadApartment& operator=(const ThreadApartment&) = delete;
    void enter() {
        CoInitializeExFunction initialise = systemFunction<CoInitializeExFunction>(L"ole32.dll", "CoInitializeEx");
        entered_ = initialise && SUCCEEDED(initialise(nullptr, COINIT_APARTMENTTHREADED));
    }

private:
    bool entered_ = false;
};

// The window, shown as early as its size is known: at once for a plain
// bitmap file; for another opaque image, in the window colour at the size
// its header gives while the decoder loads, then with the image at the size
// the decoder found. A PNG waits for its decoder: it may be transparent,
// and must never show as an opaque rectangle. A missing or unreadable image
// gives a window of no size: nothing shows, and it still owns the error boxes.
HWND showSplash(Launcher& launcher, SplashScreenWindow& object, ThreadApartment& apartment) {
    if (!registerSplashClass(splashShadowWanted(launcher.splashShadow))) return nullptr;
    SplashPicture picture;
    bool readable = picture.readFile(launcher.splashImagePath);
    bool decoded = readable && picture.decodeBitmapFile();
    int32_t width = 0, height = 0;
    HWND window = nullptr;
    if (decoded) {
        width = picture.width();
        height = picture.height();
        takePicture(object, picture);
    }
    if (decoded || (readable && picture.opaqueSize(width, height))) {
        window = createSplashWindow(object, width, height, false);
        if (window) showSplashWindow(launcher, window);
    }
    if (decoded) return window;

    apartment.enter();
    decoded = readable && picture.decode();
    int32_t decodedWidth = decoded ? picture.width() : 0;
    int32_t decodedHeight = decoded ? picture.height() : 0;
    bool layered = decoded && picture.hasAlpha();
    if (decoded) takePicture(object, picture);
    if (!window) {
        window = createSplashWindow(object, decodedWidth, decodedHeight, layered);
        if (window) showSplashWindow(launcher, window);
        return window;
    }
    if (decodedWidth != width || decodedHeight != height) {
        SplashRect rect = screenCentred(decodedWidth, decodedHeight);
        SetWindowPos(window, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
    return window;
}

uint32_t splashThreadMain(Launcher& launcher) {
    ThreadApartment apartment;
    SplashScreenWindow& object = *static_cast<SplashScreenWindow*>(launcher.splashWindow);
    HWND window = showSplash(launcher, object, apartment);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (window) DestroyWindow(window);
    return 0;
}

DWORD WINAPI splashThreadStart(void* launcher) { return splashThreadMain(*static_cast<Launcher*>(launcher)); }

}  // namespace

void* errorBoxOwner(Launcher& launcher) {
    void* owner = __atomic_load_n(&launcher.messageOwner, __ATOMIC_ACQUIRE);
    if (owner || !launcher.splashThread) return owner;
    // A box shown before the splash window exists has no owner, and the
    // splash, activated when it is shown, can then cover it.
    const DWORD kPatienceMs = 1000;
    DWORD started = GetTickCount();
    while (!(owner = __atomic_load_n(&launcher.messageOwner, __ATOMIC_ACQUIRE)) &&
           GetTickCount() - started < kPatienceMs)
        if (WaitForSingleObject(launcher.splashThread, 10) != WAIT_TIMEOUT) break;
    return owner;
}

bool startSplashWindow(Launcher& launcher) {
    SplashScreenWindow* object = new SplashScreenWindow();
    launcher.splashWindow = object;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, splashThreadStart, &launcher, 0, &id);
    if (!thread) {
        // No thread, no window: the launch goes on without a splash.
        delete object;
        launcher.splashWindow = nullptr;
        return false;
    }
    launcher.splashThread = thread;
    launcher.splashThreadId = id;
    return true;
}
