// The uncaught-exception dialog (resource 231): the trace in a read-only
// edit, Ignore and Stop, resizable from its opening size upwards.
#include <windows.h>

#include "support/dialog_win32.h"
#include "support/platform.h"
#include "support/win32.h"

namespace {

enum ControlId {
    IgnoreButton = 1,
    StopButton = 2,
    ErrorIcon = 204,
    TraceText = 208,
    GroupBox = 209,
    TopText = 210,
    IgnoreText = 211,
    WarningText = 212,
    SizeGrip = 213,
};

const int kDialogTemplate = 231;

// How a control follows a change of the client area: its left/top edge
// moves with the change, its width/height grows with it, or it stays.
enum Follow { Fixed, Grow, Move };

const struct {
    int id;
    Follow horizontal;
    Follow vertical;
} kResizing[] = {
    {GroupBox, Grow, Grow},
    {TopText, Grow, Fixed},
    {TraceText, Grow, Grow},
    {IgnoreText, Grow, Move},
    {WarningText, Grow, Move},
    {IgnoreButton, Move, Move},
    {StopButton, Move, Move},
    {ErrorIcon, Fixed, Fixed},
};
const size_t kResized = sizeof kResizing / sizeof kResizing[0];

struct DialogState {
    const WideString* trace = nullptr;
    bool opened = false;
    SIZE minimum{};        // the window's size when it opened
    SIZE openingClient{};  // the client area's size when it opened
    RECT controls[kResized]{};  // their rectangles then, in client coordinates
};

RECT childRect(HWND dialog, HWND child) {
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void placeSizeGrip(HWND dialog, int width, int height) {
    HWND grip = GetDlgItem(dialog, SizeGrip);
    int cx = GetSystemMetrics(SM_CXVSCROLL);
    int cy = GetSystemMetrics(SM_CYHSCROLL);
    if (grip) SetWindowPos(grip, nullptr, width - cx, height - cy, cx, cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

void open(HWND dialog, DialogState& state) {
    HWND edit = GetDlgItem(dialog, TraceText);
    // Room for traces of any length, beyond the default limit for typing.
    SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);
    SetWindowTextW(edit, wide(*state.trace));
    // Read-only after filling: the text can still be selected and copied.
    SendMessageW(edit, EM_SETREADONLY, TRUE, 0);
    setErrorIcon(dialog, ErrorIcon);
    centreDialog(dialog);

    RECT window, client;
    GetWindowRect(dialog, &window);
    GetClientRect(dialog, &client);
    state.minimum.cx = window.right - window.left;
    state.minimum.cy = window.bottom - window.top;
    state.openingClient.cx = client.right;
    state.openingClient.cy = client.bottom;
    for (size_t i = 0; i < kResized; ++i) state.controls[i] = childRect(dialog, GetDlgItem(dialog, kResizing[i].id));
    CreateWindowExW(0, L"SCROLLBAR", nullptr, WS_CHILD | WS_VISIBLE | SBS_SIZEGRIP | SBS_SIZEBOXBOTTOMRIGHTALIGN, 0,
                    0, 0, 0, dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(SizeGrip)),
                    GetModuleHandleW(nullptr), nullptr);
    placeSizeGrip(dialog, client.right, client.bottom);
    state.opened = true;
}

void follow(Follow rule, LONG& low, LONG& high, int change) {
    if (rule == Move) low += change;
    if (rule != Fixed) high += change;
}

void resize(HWND dialog, const DialogState& state, int width, int height) {
    int dx = width - state.openingClient.cx;
    int dy = height - state.openingClient.cy;
    HDWP positions = BeginDeferWindowPos(static_cast<int>(kResized));
    for (size_t i = 0; i < kResized && positions; ++i) {
        RECT rect = state.controls[i];
        follow(kResizing[i].horizontal, rect.left, rect.right, dx);
        follow(kResizing[i].vertical, rect.top, rect.bottom, dy);
        positions = DeferWindowPos(positions, GetDlgItem(dialog, kResizing[i].id), nullptr, rect.left, rect.top,
                                   rect.right - rect.left, rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (positions) EndDeferWindowPos(positions);
    placeSizeGrip(dialog, width, height);
    // The group box and the texts draw their frames from the edges.
    InvalidateRect(dialog, nullptr, TRUE);
}

INT_PTR CALLBACK dialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    DialogState* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG:
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            open(dialog, *reinterpret_cast<DialogState*>(lParam));
            return TRUE;
        case WM_GETMINMAXINFO:
            if (state && state->opened) {
                reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize.x = state->minimum.cx;
                reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize.y = state->minimum.cy;
                return TRUE;
            }
            return FALSE;
        case WM_SIZE:
            if (state && state->opened && wParam != SIZE_MINIMIZED) resize(dialog, *state, LOWORD(lParam), HIWORD(lParam));
            return TRUE;
        case WM_COMMAND:
            // Enter gives IDOK (Ignore); Escape and the close box give
            // IDCANCEL (Stop).
            if (LOWORD(wParam) == IgnoreButton || LOWORD(wParam) == StopButton) {
                EndDialog(dialog, LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
    }
    return FALSE;
}

}  // namespace

namespace platform {

int showExceptionDialog(const WideString& trace) {
    DialogState state;
    state.trace = &trace;
    INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kDialogTemplate), GetActiveWindow(),
                                     dialogProcedure, reinterpret_cast<LPARAM>(&state));
    return static_cast<int>(result);
}

}  // namespace platform
