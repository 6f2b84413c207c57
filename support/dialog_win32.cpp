#include "support/dialog_win32.h"

void centreDialog(HWND dialog) {
    RECT box;
    if (!GetWindowRect(dialog, &box)) return;
    HWND owner = GetWindow(dialog, GW_OWNER);
    HMONITOR monitor = MonitorFromWindow(owner ? owner : dialog, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info;
    info.cbSize = sizeof info;
    RECT work;
    if (monitor && GetMonitorInfoW(monitor, &info)) {
        work = info.rcWork;
    } else if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) {
        return;
    }
    RECT around = work;
    if (owner && IsWindowVisible(owner) && !IsIconic(owner)) GetWindowRect(owner, &around);

    LONG width = box.right - box.left;
    LONG height = box.bottom - box.top;
    LONG left = around.left + ((around.right - around.left) - width) / 2;
    LONG top = around.top + ((around.bottom - around.top) - height) / 2;
    // Inside the work area; a dialog larger than it keeps its top-left corner visible.
    if (left + width > work.right) left = work.right - width;
    if (top + height > work.bottom) top = work.bottom - height;
    if (left < work.left) left = work.left;
    if (top < work.top) top = work.top;
    SetWindowPos(dialog, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void setErrorIcon(HWND dialog, int controlId) {
    HICON icon = LoadIconW(nullptr, IDI_HAND);
    if (icon) SendDlgItemMessageW(dialog, controlId, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
}
