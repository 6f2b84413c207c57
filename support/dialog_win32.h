// What the launcher's dialogs (the missing-runtime dialog and the
// uncaught-exception dialog) share.
#ifndef SUPPORT_DIALOG_WIN32_H
#define SUPPORT_DIALOG_WIN32_H

#include <windows.h>

// Centres the dialog over its owner when the owner is visible and not
// minimised, otherwise over the work area of the nearest monitor, then
// moves it where needed so that it lies inside that monitor's work area.
void centreDialog(HWND dialog);

// The system's error icon (the standard hand icon) into a static icon control.
void setErrorIcon(HWND dialog, int controlId);

#endif
