// Starting the launch again on Windows: a child process with this one's
// command line, working directory, environment and standard streams, which
// this process waits for; whatever started the launcher waits for this one.
#include <windows.h>

#include "support/platform.h"
#include "support/trace.h"
#include "support/win32.h"

namespace platform {

const bool kRestartInPlace = false;

namespace {
// The environment block and the working directory at the start: the launch
// changes both (the runtime's folders, "Change Directory").
List<char16_t> startEnvironmentBlock;
WideString startFolderPath;
List<char16_t>& startEnvironment() { return startEnvironmentBlock; }
WideString& startFolder() { return startFolderPath; }
HANDLE startStreams[3] = {nullptr, nullptr, nullptr};

// Ctrl+C reaches the run too, which ends the program its own way; this
// process only waits for it.
bool waitingForRun(int32_t code) { return code == 130; }

bool startsWithIgnoringCase(const char16_t* entry, const WideString& prefix) {
    for (size_t i = 0; i < prefix.size(); ++i) {
        char16_t a = entry[i], b = prefix[i];
        if (a >= u'a' && a <= u'z') a = static_cast<char16_t>(a - 32);
        if (b >= u'a' && b <= u'z') b = static_cast<char16_t>(b - 32);
        if (a != b) return false;
    }
    return true;
}
}  // namespace

uint64_t monotonicMilliseconds() { return GetTickCount(); }

void rememberStart() {
    if (wchar_t* block = GetEnvironmentStringsW()) {
        const wchar_t* end = block;
        while (*end) end += wcslen(end) + 1;
        startEnvironment().assign(reinterpret_cast<const char16_t*>(block), reinterpret_cast<const char16_t*>(end));
        FreeEnvironmentStringsW(block);
    }
    currentDirectory(startFolder());
    startStreams[0] = GetStdHandle(STD_INPUT_HANDLE);
    startStreams[1] = GetStdHandle(STD_OUTPUT_HANDLE);
    startStreams[2] = GetStdHandle(STD_ERROR_HANDLE);
}

uint32_t startingProcessId() {
    struct BasicInformation {
        LONG_PTR exitStatus;
        void* environmentBlock;
        ULONG_PTR affinityMask;
        LONG_PTR basePriority;
        ULONG_PTR processId;
        ULONG_PTR parentProcessId;
    } information;
    typedef LONG(WINAPI * Query)(HANDLE, int, void*, ULONG, ULONG*);
    Query query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    if (!query || query(GetCurrentProcess(), 0, &information, sizeof information, nullptr) != 0) return 0;
    return static_cast<uint32_t>(information.parentProcessId);
}

namespace {
// Starts this executable again with variable=value in the start's
// environment, working directory and standard streams.
bool startChild(const WideString& variable, const WideString& value, PROCESS_INFORMATION& process) {
    WideString module;
    if (!modulePath(module)) return false;
    WideString prefix = variable + u"=";
    List<char16_t> environment;
    const List<char16_t>& start = startEnvironment();
    for (size_t at = 0; at < start.size();) {
        size_t length = 0;
        while (start[at + length]) ++length;
        if (!startsWithIgnoringCase(&start[at], prefix))
            environment.insert(environment.end(), start.begin() + at, start.begin() + at + length + 1);
        at += length + 1;
    }
    WideString entry = prefix + value;
    environment.insert(environment.end(), entry.data(), entry.data() + entry.size() + 1);
    environment.push_back(0);

    WideString line = commandLine();
    List<wchar_t> writable(line.data(), line.data() + line.size() + 1);
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    // The run writes where this process would have written (a console, a
    // script's pipe); the streams must be inheritable to be handed on.
    bool streams = false;
    for (HANDLE stream : startStreams) {
        if (!stream || stream == INVALID_HANDLE_VALUE) continue;
        SetHandleInformation(stream, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        streams = true;
    }
    if (streams) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = startStreams[0];
        startup.hStdOutput = startStreams[1];
        startup.hStdError = startStreams[2];
    }
    // Inherited handles: the streams and the supervising process's restart signal.
    if (!CreateProcessW(wide(module), writable.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                        environment.data(), startFolder().empty() ? nullptr : wide(startFolder()), &startup,
                        &process))
        return false;
    // Ctrl+C reaches the run too; this process only waits for it.
    onConsoleControl(waitingForRun);
    return true;
}

int32_t exitCodeOf(HANDLE process) {
    DWORD exitCode = static_cast<DWORD>(-1);
    GetExitCodeProcess(process, &exitCode);
    return static_cast<int32_t>(exitCode);
}

bool runAgainAndWait(const WideString& variable, const WideString& value, int32_t& code) {
    PROCESS_INFORMATION process;
    if (!startChild(variable, value, process)) return false;
    OwnedHandle thread(process.hThread);
    OwnedHandle child(process.hProcess);
    WaitForSingleObject(child.get(), INFINITE);
    code = exitCodeOf(child.get());
    return true;
}
}  // namespace

bool superviseRun(const WideString& variable, const WideString& value, void* signal, void (*asked)(void*),
                  void* context, int32_t& code, bool& restartAsked) {
    restartAsked = false;
    PROCESS_INFORMATION process;
    if (!startChild(variable, value, process)) return false;
    OwnedHandle thread(process.hThread);
    OwnedHandle child(process.hProcess);
    HANDLE waits[2] = {child.get(), static_cast<HANDLE>(signal)};
    for (;;) {
        DWORD waited = WaitForMultipleObjects(restartAsked ? 1 : 2, waits, FALSE, INFINITE);
        if (waited != WAIT_OBJECT_0 + 1) break;
        // The run asks from its exit and waits for the reset: what must
        // outlive it is taken first.
        asked(context);
        restartAsked = true;
        ResetEvent(static_cast<HANDLE>(signal));
    }
    code = exitCodeOf(child.get());
    return true;
}

bool startAgain(const WideString& variable, const WideString& value, intptr_t) {
    int32_t code = -1;
    if (!runAgainAndWait(variable, value, code)) return false;
    TRACE_EVENT("exit").field("code", static_cast<int64_t>(code)).field("from", "the launch started again");
    // The failed runtime stays as it is: nothing of it is torn down.
    exitNow(code);
}

void* createRestartSignal(uint64_t& value) {
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE event = CreateEventW(&inherited, TRUE, FALSE, nullptr);
    value = reinterpret_cast<uintptr_t>(event);
    return event;
}

void raiseRestartSignal(uint64_t value) {
    HANDLE signal = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
    if (!SetEvent(signal)) return;
    // Until the supervising process has taken what must outlive this run
    // (it resets the signal then), bounded: a supervisor that is gone
    // holds up nothing.
    DWORD started = GetTickCount();
    while (WaitForSingleObject(signal, 0) == WAIT_OBJECT_0 && GetTickCount() - started < 5000) Sleep(5);
}

}  // namespace platform
