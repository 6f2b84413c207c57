// The missing-runtime dialog in-process, with the folder picker replaced: a
// second thread finds the dialog, presses its buttons and reads it back. The
// save into real settings files goes through the system's profile functions.
#include "win_test_support.h"

#include <objbase.h>

#include "launcher/launcher.h"
#include "runtime/missing_runtime.h"
#include "runtime/missing_runtime_dialog_win32.h"
#include "support/platform.h"

namespace {

WideString pickResult;
bool pickCancelled = false;
int pickerCalls = 0;
WideString pickerTitle;
HRESULT pickerApartment = E_FAIL;

// S_FALSE when the calling thread is already in a single-threaded apartment.
HRESULT apartmentOfThisThread() {
    HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(result)) CoUninitialize();
    return result;
}

bool fakePicker(HWND owner, const WideString& title, WideString& folder) {
    ++pickerCalls;
    pickerTitle = title;
    // The shell's new-style picker needs one; Wine's works without.
    pickerApartment = apartmentOfThisThread();
    EXPECT_NE(owner, nullptr);
    if (pickCancelled) return false;
    folder = pickResult;
    return true;
}

// What the second thread saw and did.
struct Script {
    std::vector<bool> okEnabled;  // after the dialog appeared, and after each press of "Browse..."
    std::vector<std::wstring> folders;
    int browses = 1;
    int finalButton = IDOK;
};

std::wstring controlText(HWND dialog, int id) {
    wchar_t text[1024] = {};
    GetDlgItemTextW(dialog, id, text, 1024);
    return text;
}

DWORD WINAPI user(void* parameter) {
    Script* script = static_cast<Script*>(parameter);
    HWND dialog = nullptr;
    // A modal dialog is shown once its initialisation is done; before that
    // the window exists but OK is not yet disabled.
    for (int i = 0; i < 200 && !dialog; ++i) {
        dialog = FindWindowW(L"#32770", L"JRE Not Found");
        if (dialog && !IsWindowVisible(dialog)) dialog = nullptr;
        if (!dialog) Sleep(25);
    }
    if (!dialog) return 1;
    script->okEnabled.push_back(IsWindowEnabled(GetDlgItem(dialog, IDOK)) != 0);
    for (int i = 0; i < script->browses; ++i) {
        // Sent: the picker runs on the dialog's thread before this returns.
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(kBrowseButtonId, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, kBrowseButtonId)));
        script->okEnabled.push_back(IsWindowEnabled(GetDlgItem(dialog, IDOK)) != 0);
        script->folders.push_back(controlText(dialog, kRuntimeFolderEditId));
    }
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(script->finalButton, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, script->finalButton)));
    return 0;
}

// The close box, a while after the user thread is done.
DWORD WINAPI closeLater(void*) {
    Sleep(1500);
    HWND dialog = FindWindowW(L"#32770", L"JRE Not Found");
    if (dialog) PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    return 0;
}

int showWithUser(MissingRuntimeDialog& dialog, Script& script) {
    HANDLE thread = CreateThread(nullptr, 0, user, &script, 0, nullptr);
    int result = showMissingRuntimeDialog(dialog);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    return result;
}

class WinMissingRuntimeDialog : public ::testing::Test {
protected:
    void SetUp() override {
        previous = setFolderPicker(fakePicker);
        pickerCalls = 0;
        pickCancelled = false;
        // This test program is an image for this build's processor.
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        CreateDirectoryW((folder.path() + L"rt").c_str(), nullptr);
        CreateDirectoryW((folder.path() + L"rt\\bin").c_str(), nullptr);
        CreateDirectoryW((folder.path() + L"rt\\bin\\client").c_str(), nullptr);
        CopyFileW(self, (folder.path() + L"rt\\bin\\client\\jvm.dll").c_str(), FALSE);
    }
    void TearDown() override { setFolderPicker(previous); }
    FolderPicker previous = nullptr;
    TempFolder folder;
};

TEST_F(WinMissingRuntimeDialog, PickEnablesOkAndOkConfirms) {
    Launcher launcher;
    MissingRuntimeDialog dialog(launcher);
    pickResult = folder.wpath() + W(L"rt");
    Script script;
    EXPECT_EQ(showWithUser(dialog, script), 1);
    EXPECT_EQ(script.okEnabled, (std::vector<bool>{false, true}));
    EXPECT_EQ(script.folders, (std::vector<std::wstring>{S(pickResult)}));  // shown unchanged
    EXPECT_EQ(pickerCalls, 1);
    EXPECT_EQ(S(pickerTitle), L"Browse for JRE folder");
    EXPECT_EQ(S(dialog.runtimeFolder), S(pickResult) + L"\\");
    EXPECT_EQ(S(dialog.jvmLibraryPath), S(pickResult) + L"\\bin\\client\\jvm.dll");
}

TEST_F(WinMissingRuntimeDialog, PickerRunsInASingleThreadedApartmentOfTheDialog) {
    Launcher launcher;
    MissingRuntimeDialog dialog(launcher);
    pickResult = folder.wpath() + W(L"rt");
    Script script;
    script.finalButton = IDCANCEL;
    ASSERT_NE(apartmentOfThisThread(), S_FALSE) << "this thread must start outside an apartment";
    EXPECT_EQ(showWithUser(dialog, script), 2);
    EXPECT_EQ(pickerApartment, S_FALSE);
    // The dialog leaves the apartment it entered.
    EXPECT_EQ(apartmentOfThisThread(), S_OK);
}

TEST_F(WinMissingRuntimeDialog, CancelledPickChangesNothingAndOkStaysOff) {
    Launcher launcher;
    MissingRuntimeDialog dialog(launcher);
    pickCancelled = true;
    Script script;
    script.finalButton = IDOK;  // disabled: ignored, so Cancel must follow
    HANDLE thread = CreateThread(nullptr, 0, user, &script, 0, nullptr);
    // The ignored OK leaves the dialog up; close it from here after the user thread.
    HANDLE closer = CreateThread(nullptr, 0, closeLater, nullptr, 0, nullptr);
    int result = showMissingRuntimeDialog(dialog);
    WaitForSingleObject(thread, 10000);
    WaitForSingleObject(closer, 10000);
    CloseHandle(thread);
    CloseHandle(closer);
    EXPECT_EQ(result, 2);
    EXPECT_EQ(script.okEnabled, (std::vector<bool>{false, false}));
    EXPECT_EQ(script.folders, (std::vector<std::wstring>{L""}));
    EXPECT_TRUE(dialog.runtimeFolder.empty());
}

TEST_F(WinMissingRuntimeDialog, SaveReadsBackThroughTheProfileFunctions) {
    // The save, through the system's profile functions, into a file
    // it creates (as UTF-16, so the folder's characters survive).
    std::wstring ini = folder.path() + L"Saved.ini";
    WideString value = W(L"C:\\Laufzeit \x65E5\x672C\\");
    class Store : public JrePathStore {
    public:
        explicit Store(const std::wstring& path) : path_(W(path.c_str())) {}
        bool exists() override { return platform::fileExists(path_); }
        void createUnicode() override { platform::createUnicodeFile(path_); }
        void write(const WideString& v) override {
            platform::writeProfileString(path_, W(L"Java Runtime Environment"), W(L"JRE Path"), v);
        }
        WideString read() override {
            wchar_t buffer[256];
            GetPrivateProfileStringW(L"Java Runtime Environment", L"JRE Path", L"", buffer, 256, wide(path_));
            return W(buffer);
        }
        void remove() override {
            platform::removeProfileString(path_, W(L"Java Runtime Environment"), W(L"JRE Path"));
        }

    private:
        WideString path_;
    };
    Store unicode(ini);
    EXPECT_EQ(saveJrePath(unicode, value, W(L"")), JrePathSaved::Exactly);
    // An ANSI file cannot hold the characters: without a short form the value goes.
    std::wstring ansi = folder.write(L"Ansi.ini", "[Java Runtime Environment]\r\nMain Class=a.B\r\n");
    Store narrow(ansi);
    EXPECT_EQ(saveJrePath(narrow, value, W(L"")), JrePathSaved::Removed);
    EXPECT_TRUE(narrow.read().empty());
    wchar_t main[64];
    GetPrivateProfileStringW(L"Java Runtime Environment", L"Main Class", L"", main, 64, ansi.c_str());
    EXPECT_STREQ(main, L"a.B");
}

}  // namespace
