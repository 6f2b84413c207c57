// The missing-runtime dialog (template 201) and its folder picker.
#ifndef RUNTIME_MISSING_RUNTIME_DIALOG_WIN32_H
#define RUNTIME_MISSING_RUNTIME_DIALOG_WIN32_H

#include <windows.h>

#include "runtime/missing_runtime.h"

enum : int {
    kMissingRuntimeDialogId = 201,
    kRuntimeFolderEditId = 201,
    kBrowseButtonId = 202,
    kMessageTextId = 203,
    kErrorIconId = 204,
    kDownloadLinkId = 205,
};

// Asks the user for a folder; false when the pick was cancelled. The shell's
// folder picker unless a test puts its own in place.
typedef bool (*FolderPicker)(HWND owner, const WideString& title, WideString& folder);
bool shellFolderPicker(HWND owner, const WideString& title, WideString& folder);
// Replaces the picker (null restores the shell's); returns the previous one.
FolderPicker setFolderPicker(FolderPicker picker);

#endif
