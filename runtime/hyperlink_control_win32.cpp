#include "runtime/hyperlink_control_win32.h"

#include <commctrl.h>
#include <shellapi.h>

#include "runtime/missing_runtime.h"
#include "support/gdi_win32.h"
#include "support/system_library_win32.h"
#include "support/win32.h"

static const wchar_t kOwnerProperty[] = L"HyperlinkControl";

namespace {
// A device context of a window, released on every path.
class WindowDc {
public:
    explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDc() {
        if (dc_) ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// A font selected into a device context for one scope.
class SelectedFont {
public:
    SelectedFont(HDC dc, HFONT font) : dc_(dc), previous_(font ? gdi()->selectObject(dc, font) : nullptr) {}
    ~SelectedFont() {
        if (previous_) gdi()->selectObject(dc_, previous_);
    }
    SelectedFont(const SelectedFont&) = delete;
    SelectedFont& operator=(const SelectedFont&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};
}  // namespace

// Reads one colour value; the key is read only and the value bounded, so a
// long or unterminated value can neither overrun nor be cut into a colour.
static void readColour(HKEY key, const wchar_t* name, COLORREF& colour) {
    wchar_t buffer[kAnchorColourMaxLength + 2] = {};
    DWORD type = 0;
    DWORD bytes = (kAnchorColourMaxLength + 1) * sizeof(wchar_t);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) != ERROR_SUCCESS)
        return;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return;
    size_t stored = bytes / sizeof(wchar_t);
    size_t length = 0;
    while (length < stored && buffer[length] != 0) ++length;
    uint32_t parsed = 0;
    if (parseAnchorColour(fromWide(buffer, length), parsed)) colour = parsed;
}

void readLinkColours(COLORREF& link, COLORREF& visited) {
    OwnedKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Internet Explorer\\Settings", 0, KEY_READ,
                      key.out()) != ERROR_SUCCESS)
        return;
    readColour(key.get(), L"Anchor Color", link);
    readColour(key.get(), L"Anchor Color Visited", visited);
}

HyperlinkControl::~HyperlinkControl() { detach(); }

bool HyperlinkControl::attach(HWND control) {
    if (!control || control_ || !gdi()) return false;
    int length = GetWindowTextLengthW(control);
    List<wchar_t> text(static_cast<size_t>(length) + 1, 0);
    GetWindowTextW(control, text.data(), length + 1);
    target_ = fromWide(text.data());
    readLinkColours(linkColour_, visitedColour_);

    if (!SetPropW(control, kOwnerProperty, this)) return false;
    control_ = control;
    original_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&HyperlinkControl::procedure)));
    if (!original_) {
        RemovePropW(control, kOwnerProperty);
        control_ = nullptr;
        return false;
    }
    createTooltip();
    InvalidateRect(control_, nullptr, TRUE);
    return true;
}

void HyperlinkControl::detach() {
    if (!control_) return;
    if (tooltip_ && IsWindow(tooltip_)) DestroyWindow(tooltip_);
    tooltip_ = nullptr;
    if (GetCapture() == control_) ReleaseCapture();
    SetWindowLongPtrW(control_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
    RemovePropW(control_, kOwnerProperty);
    control_ = nullptr;
    if (underlined_) gdi()->deleteObject(underlined_);
    underlined_ = nullptr;
    baseFont_ = nullptr;
}

LRESULT CALLBACK HyperlinkControl::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    HyperlinkControl* self = static_cast<HyperlinkControl*>(GetPropW(window, kOwnerProperty));
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    return self->handle(message, wParam, lParam);
}

static bool opensLink(WPARAM key) { return key == VK_RETURN || key == VK_SPACE; }

LRESULT HyperlinkControl::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND control = control_;
    WNDPROC original = original_;
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paintInfo;
            HDC dc = BeginPaint(control, &paintInfo);
            if (dc) paint(dc);
            EndPaint(control, &paintInfo);
            return 0;
        }
        case WM_PRINTCLIENT:
            paint(reinterpret_cast<HDC>(wParam));
            return 0;
        case WM_ERASEBKGND:
            return 1;  // painted whole in WM_PAINT
        case WM_NCHITTEST:
            // A static control lets the mouse through to the dialog.
            return HTCLIENT;
        case WM_SETCURSOR: {
            POINT point;
            GetCursorPos(&point);
            ScreenToClient(control, &point);
            RECT text = textRect();
            if (LOWORD(lParam) == HTCLIENT && PtInRect(&text, point)) {
                SetCursor(LoadCursorW(nullptr, IDC_HAND));
                return TRUE;
            }
            break;
        }
        case WM_LBUTTONDOWN:
            if (overText(lParam)) {
                SetFocus(control);
                SetCapture(control);
                pressed_ = true;
            }
            return 0;
        case WM_LBUTTONUP:
            if (pressed_ && GetCapture() == control) {
                pressed_ = false;
                ReleaseCapture();
                if (overText(lParam)) open();
            }
            return 0;
        case WM_CAPTURECHANGED:
            pressed_ = false;
            return 0;
        case WM_GETDLGCODE: {
            LRESULT code = CallWindowProcW(original, control, message, wParam, lParam);
            const MSG* pending = reinterpret_cast<const MSG*>(lParam);
            // Enter would otherwise press the dialog's default button.
            if (pending && (pending->message == WM_KEYDOWN || pending->message == WM_CHAR) &&
                opensLink(pending->wParam))
                code |= DLGC_WANTMESSAGE;
            return code;
        }
        case WM_KEYDOWN:
            if (opensLink(wParam)) {
                open();
                return 0;
            }
            break;
        case WM_CHAR:
            if (wParam == L'\r' || wParam == L' ') return 0;
            break;
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
        case WM_ENABLE:
            InvalidateRect(control, nullptr, TRUE);
            break;
        case WM_SIZE:
        case WM_SETFONT: {
            LRESULT result = CallWindowProcW(original, control, message, wParam, lParam);
            if (tooltip_) {
                TOOLINFOW info = {};
                info.cbSize = TTTOOLINFOW_V2_SIZE;
                info.hwnd = control;
                info.uId = 1;
                info.rect = textRect();
                SendMessageW(tooltip_, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&info));
            }
            InvalidateRect(control, nullptr, TRUE);
            return result;
        }
        case WM_NCDESTROY:
            detach();
            return CallWindowProcW(original, control, message, wParam, lParam);
        default:
            break;
    }
    return CallWindowProcW(original, control, message, wParam, lParam);
}

UINT HyperlinkControl::drawFlags() const {
    LONG style = GetWindowLongW(control_, GWL_STYLE);
    UINT flags = DT_EXPANDTABS;
    if (style & SS_NOPREFIX) flags |= DT_NOPREFIX;
    switch (style & SS_TYPEMASK) {
        case SS_CENTER: return flags | DT_CENTER | DT_WORDBREAK;
        case SS_RIGHT: return flags | DT_RIGHT | DT_WORDBREAK;
        case SS_LEFTNOWORDWRAP: return flags | DT_LEFT;
        case SS_SIMPLE: return flags | DT_LEFT | DT_SINGLELINE;
        default: return flags | DT_LEFT | DT_WORDBREAK;
    }
}

// The static control's font, underlined; made again when that font changes.
static HFONT underlinedFont(HWND control, HFONT& underlined, HFONT& base) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    if (underlined && font == base) return underlined;
    LOGFONTW description;
    HGDIOBJ source = font ? static_cast<HGDIOBJ>(font) : gdi()->getStockObject(DEFAULT_GUI_FONT);
    if (!gdi()->getObject(source, sizeof description, &description)) return font;
    description.lfUnderline = TRUE;
    HFONT made = gdi()->createFontIndirect(&description);
    if (!made) return font;
    if (underlined) gdi()->deleteObject(underlined);
    underlined = made;
    base = font;
    return underlined;
}

RECT HyperlinkControl::textRect() {
    RECT client;
    GetClientRect(control_, &client);
    WindowDc dc(control_);
    if (!dc.get()) return client;
    SelectedFont font(dc.get(), underlinedFont(control_, underlined_, baseFont_));
    RECT measured = client;
    UINT flags = drawFlags();
    DrawTextW(dc.get(), wide(target_), static_cast<int>(target_.size()), &measured, flags | DT_CALCRECT);
    LONG width = measured.right - measured.left;
    LONG room = client.right - client.left;
    RECT text = client;
    if (width < room) {
        if (flags & DT_CENTER)
            text.left += (room - width) / 2;
        else if (flags & DT_RIGHT)
            text.left = client.right - width;
        text.right = text.left + width;
    }
    text.bottom = client.top + (measured.bottom - measured.top);
    if (text.bottom > client.bottom) text.bottom = client.bottom;
    return text;
}

bool HyperlinkControl::overText(LPARAM point) {
    POINT at = {static_cast<short>(LOWORD(point)), static_cast<short>(HIWORD(point))};
    RECT text = textRect();
    return PtInRect(&text, at) != 0;
}

void HyperlinkControl::paint(HDC dc) {
    RECT client;
    GetClientRect(control_, &client);
    // The dialog's background behind the text: the colour changes on a
    // visit, and the old glyphs must not show through.
    HWND parent = GetParent(control_);
    HBRUSH background = reinterpret_cast<HBRUSH>(
        SendMessageW(parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control_)));
    FillRect(dc, &client, background ? background : GetSysColorBrush(COLOR_BTNFACE));

    SelectedFont font(dc, underlinedFont(control_, underlined_, baseFont_));
    gdi()->setBkMode(dc, TRANSPARENT);
    COLORREF colour = !IsWindowEnabled(control_) ? GetSysColor(COLOR_GRAYTEXT)
                      : visited_                 ? visitedColour_
                                                 : linkColour_;
    gdi()->setTextColor(dc, colour);
    RECT area = client;
    DrawTextW(dc, wide(target_), static_cast<int>(target_.size()), &area, drawFlags());
    if (GetFocus() == control_) {
        RECT text = textRect();
        DrawFocusRect(dc, &text);
    }
}

void HyperlinkControl::createTooltip() {
    typedef BOOL(WINAPI * InitControls)(const INITCOMMONCONTROLSEX*);
    InitControls init = systemFunction<InitControls>(L"comctl32.dll", "InitCommonControlsEx");
    if (!init) return;
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_WIN95_CLASSES};
    init(&classes);
    tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, GetParent(control_),
                               nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!tooltip_) return;
    TOOLINFOW info = {};
    // The size every version of the tooltip control accepts.
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.uFlags = TTF_SUBCLASS;
    info.hwnd = control_;
    info.uId = 1;
    info.rect = textRect();
    info.lpszText = const_cast<wchar_t*>(wide(target_));
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

void HyperlinkControl::open() {
    typedef HINSTANCE(WINAPI * Execute)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
    Execute execute = systemFunction<Execute>(L"shell32.dll", "ShellExecuteW");
    if (!execute) return;
    HINSTANCE result = execute(GetParent(control_), L"open", wide(target_), nullptr, nullptr, SW_SHOWNORMAL);
    // A failure changes nothing and is not reported.
    if (reinterpret_cast<INT_PTR>(result) > 32) {
        visited_ = true;
        InvalidateRect(control_, nullptr, TRUE);
    }
}
