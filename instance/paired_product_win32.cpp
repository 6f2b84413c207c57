// Starting the paired program.
#include <windows.h>

#include "instance/paired_product.h"
#include "launcher/launcher.h"
#include "support/messages.h"
#include "support/platform.h"
#include "support/win32.h"

namespace {

const wchar_t kPairMark[] = L"VEDA_LAUNCHER_PAIRED";

// Ctrl+C and Ctrl+Break reach the paired program from the console: the
// launcher lets it end in its own time and passes its exit code on. A
// handler of this process only, which the child does not inherit.
bool ignoreInterrupt(int32_t code) { return code == 130; }

// Message 202 with the paired program's path and a system error code.
void reportNotStarted(Launcher& launcher, DWORD code) {
    MessageArgument path;
    path.text = launcher.pairProduct;
    MessageArgument number;
    number.isNumber = true;
    number.number = static_cast<int32_t>(code);
    reportError(launcher.messageOwner, LaunchError{MsgWindowsException, {path, number}, {}});
}

// 0 when the file is the partner build's executable, else the error to report.
DWORD checkPairedImage(Launcher& launcher) {
    // A paired program already running is read all the same.
    OwnedHandle file(CreateFileW(wide(launcher.pairProduct), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return GetLastError();
    // The headers lie within the first pages of an image.
    uint8_t head[4096];
    DWORD read = 0;
    if (!ReadFile(file.get(), head, sizeof head, &read, nullptr)) return GetLastError();
    // The launcher's own image is no partner's: it never starts itself.
    if (!isPartnerExecutable(head, read)) return ERROR_BAD_EXE_FORMAT;
    return 0;
}

}  // namespace

bool takePairMark() {
    wchar_t value[2];
    DWORD length = GetEnvironmentVariableW(kPairMark, value, 2);
    SetEnvironmentVariableW(kPairMark, nullptr);
    return length == 1 && value[0] == L'1';
}

void resolvePairProduct(Launcher& launcher) {
    if (launcher.pairProduct.empty()) return;
    DWORD size = GetFullPathNameW(wide(launcher.pairProduct), 0, nullptr, nullptr);
    if (size == 0) return;
    List<wchar_t> buffer(size + 1, 0);
    DWORD length = GetFullPathNameW(wide(launcher.pairProduct), static_cast<DWORD>(buffer.size()), buffer.data(),
                                    nullptr);
    if (length == 0 || length >= buffer.size()) return;
    launcher.pairProduct = fromWide(buffer.data(), length);
}

int32_t startPairedProduct(Launcher& launcher) {
    if (DWORD problem = checkPairedImage(launcher)) {
        reportNotStarted(launcher, problem);
        return -1;
    }
    // The user's arguments go on unchanged: the raw rest of this launcher's
    // own command line, after the paired program's quoted path.
    WideString line = pairedCommandLine(launcher.pairProduct, platform::commandLine());
    List<wchar_t> writable(line.data(), line.data() + line.size() + 1);
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    // A console program's caller waits for the result and may have
    // redirected the streams: the paired program gets them and is waited for.
    bool console = platform::consoleFlavour();
    if (console) {
        platform::onConsoleControl(ignoreInterrupt);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    // The child inherits the environment, and with it the mark.
    SetEnvironmentVariableW(kPairMark, L"1");
    PROCESS_INFORMATION process;
    if (!CreateProcessW(wide(launcher.pairProduct), writable.data(), nullptr, nullptr, console ? TRUE : FALSE, 0,
                        nullptr, nullptr, &startup, &process)) {
        reportNotStarted(launcher, GetLastError());
        return -1;
    }
    OwnedHandle thread(process.hThread);
    OwnedHandle child(process.hProcess);
    if (!launcher.pairReturnCode && !console) return 0;
    WaitForSingleObject(child.get(), INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(child.get(), &code)) code = static_cast<DWORD>(-1);
    return static_cast<int32_t>(code);
}
