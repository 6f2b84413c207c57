#include "runtime/missing_runtime_dialog_win32.h"

#include <objbase.h>
#include <shlobj.h>

#include "runtime/hyperlink_control_win32.h"
#include "support/dialog_win32.h"
#include "support/platform.h"
#include "support/system_library_win32.h"
#include "support/win32.h"

namespace {
// COM on the dialog's thread, for the folder picker and the shell's "open";
// left again only when this scope entered it.
class ComApartment {
public:
    ComApartment() {
        typedef HRESULT(WINAPI * Initialize)(LPVOID, DWORD);
        Initialize initialize = systemFunction<Initialize>(L"ole32.dll", "CoInitializeEx");
        entered_ = initialize && SUCCEEDED(initialize(nullptr, COINIT_APARTMENTTHREADED));
    }
    ~ComApartment() {
        typedef void(WINAPI * Uninitialize)();
        Uninitialize uninitialize = systemFunction<Uninitialize>(L"ole32.dll", "CoUninitialize");
        if (entered_ && uninitialize) uninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool entered_ = false;
};

// An item list the shell allocated, freed with the COM allocator.
class OwnedItemList {
public:
    explicit OwnedItemList(LPITEMIDLIST list) : list_(list) {}
    ~OwnedItemList() {
        typedef void(WINAPI * Free)(LPVOID);
        Free free = systemFunction<Free>(L"ole32.dll", "CoTaskMemFree");
        if (list_ && free) free(list_);
    }
    OwnedItemList(const OwnedItemList&) = delete;
    OwnedItemList& operator=(const OwnedItemList&) = delete;
    LPITEMIDLIST get() const { return list_; }

private:
    LPITEMIDLIST list_;
};

struct DialogState {
    MissingRuntimeDialog* dialog;
    HyperlinkControl link;
};

FolderPicker currentPicker = shellFolderPicker;
}  // namespace

bool shellFolderPicker(HWND owner, const WideString& title, WideString& folder) {
    typedef LPITEMIDLIST(WINAPI * Browse)(LPBROWSEINFOW);
    typedef BOOL(WINAPI * PathOf)(LPCITEMIDLIST, LPWSTR);
    Browse browse = systemFunction<Browse>(L"shell32.dll", "SHBrowseForFolderW");
    PathOf pathOf = systemFunction<PathOf>(L"shell32.dll", "SHGetPathFromIDListW");
    if (!browse || !pathOf) return false;

    wchar_t displayName[MAX_PATH] = {};
    BROWSEINFOW info = {};
    info.hwndOwner = owner;
    info.pidlRoot = nullptr;  // the desktop
    info.pszDisplayName = displayName;
    info.lpszTitle = wide(title);
    // File-system folders only, new dialog style, no button that makes a folder.
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE | BIF_NONEWFOLDERBUTTON;
    OwnedItemList picked(browse(&info));
    if (!picked.get()) return false;
    wchar_t path[MAX_PATH] = {};
    // An item without a file-system path counts as a cancelled pick.
    if (!pathOf(picked.get(), path) || !path[0]) return false;
    folder = fromWide(path);
    return true;
}

FolderPicker setFolderPicker(FolderPicker picker) {
    FolderPicker previous = currentPicker;
    currentPicker = picker ? picker : shellFolderPicker;
    return previous;
}

static void browse(HWND window, DialogState& state) {
    WideString folder;
    if (!currentPicker(window, platform::messageText(MsgBrowseTitle), folder)) return;
    SetDlgItemTextW(window, kRuntimeFolderEditId, wide(folder));
    bool usable = state.dialog->pick(folder);
    EnableWindow(GetDlgItem(window, IDOK), usable);
}

static INT_PTR CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DialogState* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(window, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG:
            state = reinterpret_cast<DialogState*>(lParam);
            SetWindowLongPtrW(window, DWLP_USER, lParam);
            state->link.attach(GetDlgItem(window, kDownloadLinkId));
            SetDlgItemTextW(window, kMessageTextId, wide(state->dialog->message));
            setErrorIcon(window, kErrorIconId);
            EnableWindow(GetDlgItem(window, IDOK), FALSE);
            centreDialog(window);
            return TRUE;
        case WM_COMMAND:
            if (!state || HIWORD(wParam) != BN_CLICKED) break;
            switch (LOWORD(wParam)) {
                case IDOK:
                    // A disabled OK cannot confirm, even when told to from outside.
                    if (IsWindowEnabled(GetDlgItem(window, IDOK))) EndDialog(window, IDOK);
                    return TRUE;
                case IDCANCEL:
                    EndDialog(window, IDCANCEL);
                    return TRUE;
                case kBrowseButtonId:
                    browse(window, *state);
                    return TRUE;
                default:
                    break;
            }
            break;
        case WM_DESTROY:
            if (state) state->link.detach();
            break;
        default:
            break;
    }
    return FALSE;
}

int showMissingRuntimeDialog(MissingRuntimeDialog& dialog) {
    ComApartment apartment;
    DialogState state{&dialog, {}};
    // No runtime is known yet: the awareness a Java 8 runtime's own
    // executable has, which every runtime can live with.
    platform::settleDpiAwareness(false);
    INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kMissingRuntimeDialogId),
                                     GetActiveWindow(), dialogProcedure, reinterpret_cast<LPARAM>(&state));
    // The system menu's Close and Escape arrive as Cancel; a dialog that
    // could not be shown counts as one too.
    return result == IDOK ? 1 : 2;
}
