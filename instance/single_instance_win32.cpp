// The kernel objects, threads and messages of single instance.
#include <windows.h>

#include "instance/hand_over.h"
#include "instance/instance_block.h"
#include "instance/single_instance.h"
#include "launcher/environment.h"
#include "launcher/launcher.h"
#include "support/platform.h"
#include "support/system_library_win32.h"
#include "support/trace.h"
#include "support/win32.h"

namespace {

// A second instance gives up when the first has not published its listener,
// or does not take the message, within this time (from when it holds the
// mutex, for the message).
const DWORD kHandOverPatienceMs = 10000;
const DWORD kRetryMs = 20;
// Polling interval of the wait for the answer; a posted answer or the first
// instance's end wakes the wait at once.
const DWORD kAnswerPollMs = 100;

// The objects are made for the current user alone, and one found made by
// anybody else (another user of the session, a process that squats the
// names) is not trusted: that launch runs as an ordinary one.
class UserOnlySecurity {
public:
    UserOnlySecurity() {
        OwnedHandle token;
        HANDLE opened = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) return;
        token.reset(opened);
        if (!tokenSid(token.get(), TokenUser, user_) || !tokenSid(token.get(), TokenOwner, owner_)) return;
        PSID user = userSid();
        DWORD aclSize = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(user);
        acl_.assign(aclSize, 0);
        PACL acl = reinterpret_cast<PACL>(acl_.data());
        valid_ = InitializeAcl(acl, aclSize, ACL_REVISION) && AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, user) &&
                 InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
                 SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE);
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = &descriptor_;
        attributes_.bInheritHandle = FALSE;
    }
    bool valid() const { return valid_; }
    SECURITY_ATTRIBUTES* attributes() { return &attributes_; }

    // The object's owner is the one this process gives what it makes (the
    // user; the Administrators group for an elevated process).
    bool owns(HANDLE object) const {
        DWORD size = 0;
        GetKernelObjectSecurity(object, OWNER_SECURITY_INFORMATION, nullptr, 0, &size);
        if (size == 0) return false;
        List<uint8_t> buffer(size, 0);
        PSID owner = nullptr;
        BOOL defaulted = FALSE;
        return GetKernelObjectSecurity(object, OWNER_SECURITY_INFORMATION, buffer.data(), size, &size) &&
               GetSecurityDescriptorOwner(buffer.data(), &owner, &defaulted) && owner &&
               EqualSid(owner, reinterpret_cast<const TOKEN_OWNER*>(owner_.data())->Owner);
    }

private:
    static bool tokenSid(HANDLE token, TOKEN_INFORMATION_CLASS kind, List<uint8_t>& buffer) {
        DWORD size = 0;
        GetTokenInformation(token, kind, nullptr, 0, &size);
        if (size == 0) return false;
        buffer.assign(size, 0);
        return GetTokenInformation(token, kind, buffer.data(), size, &size) != 0;
    }
    PSID userSid() { return reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid; }

    List<uint8_t> user_;
    List<uint8_t> owner_;
    List<uint8_t> acl_;
    SECURITY_DESCRIPTOR descriptor_;
    SECURITY_ATTRIBUTES attributes_;
    bool valid_ = false;
};

// Made now, or found made by this user: trusted.
bool madeOrOwned(HANDLE object, const UserOnlySecurity& security) {
    return object && (GetLastError() != ERROR_ALREADY_EXISTS || security.owns(object));
}

// Whether the published listener belongs to a process that runs this
// executable (or its paired program): otherwise the posts could go to any
// thread. Systems before Vista lack the functions and are not checked.
bool publishedByLauncher(Launcher& launcher, HANDLE process, DWORD processId, DWORD listener) {
    typedef BOOL(WINAPI * QueryImageFunction)(HANDLE, DWORD, LPWSTR, PDWORD);
    typedef DWORD(WINAPI * ThreadProcessFunction)(HANDLE);
    QueryImageFunction queryImage = systemFunction<QueryImageFunction>(L"kernel32.dll", "QueryFullProcessImageNameW");
    ThreadProcessFunction threadProcess =
        systemFunction<ThreadProcessFunction>(L"kernel32.dll", "GetProcessIdOfThread");
    if (!queryImage || !threadProcess) return true;
    List<wchar_t> image(32768, 0);
    DWORD length = static_cast<DWORD>(image.size());
    if (!queryImage(process, 0, image.data(), &length)) return false;
    WideString own;
    if (!platform::modulePath(own)) return false;
    WideString found = fromWide(image.data(), length);
    WideString partner;
    if (!found.equalsIgnoreAsciiCase(own) &&
        (launcher.pairProduct.empty() || !platform::fullPath(launcher.pairProduct, partner) ||
         !found.equalsIgnoreAsciiCase(partner)))
        return false;
    const DWORD kThreadQueryLimited = 0x0800;  // THREAD_QUERY_LIMITED_INFORMATION
    OwnedHandle thread(OpenThread(kThreadQueryLimited, FALSE, listener));
    return thread.valid() && threadProcess(thread.get()) == processId;
}

volatile LONG* blockField(Launcher& launcher, size_t offset) {
    return reinterpret_cast<volatile LONG*>(static_cast<uint8_t*>(launcher.instanceBlock) + offset);
}

uint32_t readField(Launcher& launcher, size_t offset) {
    return static_cast<uint32_t>(InterlockedCompareExchange(blockField(launcher, offset), 0, 0));
}

uint8_t* argumentArea(Launcher& launcher) {
    return static_cast<uint8_t*>(launcher.instanceBlock) + kArgumentAreaOffset;
}

// Workers attach only through this gate: its value counts the workers
// attaching, and -1 means closed. The teardown closes it after the virtual
// machine is destroyed, so no worker attaches to a destroyed machine. It is
// process-wide because a worker may still wake after the Launcher is gone;
// one that waits for main then just stays blocked until the process ends.
volatile LONG handOverGate = 0;

bool enterGate() {
    for (;;) {
        LONG seen = handOverGate;
        if (seen < 0) return false;
        if (InterlockedCompareExchange(&handOverGate, seen + 1, seen) == seen) return true;
    }
}

void leaveGate() { InterlockedDecrement(&handOverGate); }

void closeGate() {
    while (InterlockedCompareExchange(&handOverGate, -1, 0) > 0) Sleep(0);
}

struct WorkerStart {
    Launcher* launcher;
    DWORD requester;
    UINT message;
    HANDLE mainStarted;  // the worker's own handle of the main-started event
};

class BlockChannel : public HandOverChannel {
public:
    BlockChannel(Launcher& launcher, DWORD requester, UINT message)
        : launcher_(launcher), requester_(requester), message_(message) {}
    List<WideString> arguments() override { return readArgumentArea(argumentArea(launcher_), kArgumentAreaSize); }
    void answer(int32_t value) override {
        PostThreadMessageW(requester_, message_, static_cast<WPARAM>(static_cast<uint32_t>(value)), 0);
    }

private:
    Launcher& launcher_;
    DWORD requester_;
    UINT message_;
};

DWORD WINAPI handOverWorker(void* parameter) {
    WorkerStart start = *static_cast<WorkerStart*>(parameter);
    delete static_cast<WorkerStart*>(parameter);
    OwnedHandle mainStarted(start.mainStarted);
    // secondaryMain never runs before main has been called.
    if (WaitForSingleObject(mainStarted.get(), INFINITE) != WAIT_OBJECT_0) return 0;
    if (!enterGate()) return 0;
    Launcher& launcher = *start.launcher;
    JavaVM* vm = launcher.javaVM;
    JNIEnv* env = nullptr;
    bool attached = vm && vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) == JNI_OK;
    leaveGate();
    if (!attached) return 0;
    // Attached, this thread keeps the machine's destruction (and with it
    // the teardown and the Launcher) waiting until it detaches.
    BlockChannel channel(launcher, start.requester, start.message);
    serveHandOver(vm, env, launcher.mainClass, channel, launcher.runtimeVendor == RuntimeVendor::Ibm);
    return 0;
}

void startWorker(Launcher& launcher, DWORD requester, UINT message) {
    HANDLE mainStarted = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), launcher.vmReadyEvent, GetCurrentProcess(), &mainStarted, SYNCHRONIZE,
                         FALSE, 0))
        return;
    WorkerStart* start = new WorkerStart{&launcher, requester, message, mainStarted};
    HANDLE worker = CreateThread(nullptr, 0, handOverWorker, start, 0, nullptr);
    if (!worker) {
        CloseHandle(mainStarted);
        delete start;
        return;
    }
    CloseHandle(worker);  // workers are not waited for
}

struct ListenerStart {
    Launcher* launcher;
    HANDLE ready;
    UINT message;
};

DWORD WINAPI listenerThreadMain(void* parameter) {
    ListenerStart start = *static_cast<ListenerStart*>(parameter);
    MSG message;
    // The queue exists from here on; only then may second instances post.
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    SetEvent(start.ready);
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        if (message.message == start.message)
            startWorker(*start.launcher, static_cast<DWORD>(message.wParam), start.message);
    return 0;
}

bool becomeFirstInstance(Launcher& launcher, const WideString& name, UserOnlySecurity& security) {
    launcher.vmReadyEvent = CreateEventW(security.attributes(), TRUE, FALSE, wide(instanceEventName(name)));
    bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (!madeOrOwned(launcher.vmReadyEvent, security)) return false;
    // Still held by a previous first instance on its way out: its state
    // (main started) is not this one's.
    if (existed) ResetEvent(launcher.vmReadyEvent);
    UINT message = RegisterWindowMessageW(wide(name));
    if (message == 0) return false;
    InterlockedExchange(blockField(launcher, kProcessIdOffset), static_cast<LONG>(GetCurrentProcessId()));
    InterlockedExchange(blockField(launcher, kHandOverMessageOffset), static_cast<LONG>(message));

    OwnedHandle ready(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!ready.valid()) return false;
    ListenerStart start{&launcher, ready.get(), message};
    DWORD id = 0;
    launcher.instanceListener = CreateThread(nullptr, 0, listenerThreadMain, &start, 0, &id);
    if (!launcher.instanceListener) return false;
    launcher.instanceListenerId = id;
    HANDLE waits[2] = {ready.get(), launcher.instanceListener};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) return false;
    // Published last: a second instance that sees the thread id finds the
    // other fields written and a queue that takes its message.
    MemoryBarrier();
    InterlockedExchange(blockField(launcher, kListenerThreadIdOffset), static_cast<LONG>(id));
    return true;
}

bool timeLeft(DWORD started) { return GetTickCount() - started < kHandOverPatienceMs; }

bool retired(Launcher& launcher) { return readField(launcher, kListenerThreadIdOffset) == kRetiredListener; }

// A hand-over that cannot be made ends the launch with -1; the trace says why.
bool giveUp(const char* reason) {
    TRACE_EVENT("hand-over failed").field("reason", reason);
    return false;
}

void releaseMutex(Launcher& launcher);

// The first instance let go of its role: this launch goes on as one of its
// own.
bool runOnItsOwn(Launcher& launcher) {
    TRACE_EVENT("hand-over").field("result", "the first instance started its paired program; this launch goes on by itself");
    releaseSingleInstance(launcher);
    return true;
}

// False ends the launch with -1.
bool handArgumentsOver(Launcher& launcher, const WideString& name, UserOnlySecurity& security) {
    if (!argumentsFit(launcher.arguments)) return giveUp("the arguments do not fit the shared block");
    // A first instance started at the same moment may not have published its
    // listener yet.
    DWORD started = GetTickCount();
    DWORD listener;
    while ((listener = readField(launcher, kListenerThreadIdOffset)) == 0) {
        if (!timeLeft(started)) return giveUp("the first instance published no listener within 10 s");
        Sleep(kRetryMs);
    }
    if (listener == kRetiredListener) return runOnItsOwn(launcher);
    MemoryBarrier();
    UINT message = readField(launcher, kHandOverMessageOffset);
    DWORD firstProcess = readField(launcher, kProcessIdOffset);

    // The queue must exist before posting, or an early answer would be lost.
    MSG queued;
    PeekMessageW(&queued, nullptr, WM_USER, WM_USER, PM_NOREMOVE);

    // A first instance that cannot be watched cannot answer either: -1, not
    // the 0 that would report success.
    launcher.firstInstanceProcess = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, firstProcess);
    if (!launcher.firstInstanceProcess) return giveUp("the first instance's process cannot be watched");
    if (!publishedByLauncher(launcher, launcher.firstInstanceProcess, firstProcess, listener)) {
        TRACE_EVENT("hand-over").field("result", "the block names no listener of this program; an ordinary launch");
        releaseSingleInstance(launcher);
        return true;
    }

    // The area holds one list: second instances take turns, each holding the
    // mutex until its answer has come. Without a mutex (it cannot be made),
    // the launch goes on unserialised.
    HANDLE mutex = CreateMutexW(security.attributes(), FALSE, wide(instanceMutexName(name)));
    if (mutex && !madeOrOwned(mutex, security)) {
        CloseHandle(mutex);
        TRACE_EVENT("hand-over").field("result", "the mutex is not this user's; an ordinary launch");
        releaseSingleInstance(launcher);
        return true;
    }
    if (mutex) {
        HANDLE waits[2] = {mutex, launcher.firstInstanceProcess};
        DWORD waited;
        // Polled: a first instance that retires meanwhile is seen at once.
        while ((waited = WaitForMultipleObjects(2, waits, FALSE, kAnswerPollMs)) == WAIT_TIMEOUT)
            if (retired(launcher)) break;
        if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED_0) {
            launcher.instanceMutex = mutex;
        } else {
            CloseHandle(mutex);
            if (waited == WAIT_TIMEOUT) return runOnItsOwn(launcher);
            // The first instance has ended: the wait takes its exit code.
            return waited == WAIT_OBJECT_0 + 1 || giveUp("the wait for the mutex failed");
        }
        // The turn may have taken long: the patience counts from here.
        started = GetTickCount();
    }

    if (retired(launcher)) return runOnItsOwn(launcher);
    writeArgumentArea(argumentArea(launcher), launcher.arguments);
    while (!PostThreadMessageW(listener, message, GetCurrentThreadId(), 0)) {
        if (retired(launcher)) return runOnItsOwn(launcher);
        if (!timeLeft(started)) return giveUp("the first instance's listener took no message within 10 s");
        if (WaitForSingleObject(launcher.firstInstanceProcess, kRetryMs) == WAIT_OBJECT_0) return true;
    }
    return true;
}

void releaseMutex(Launcher& launcher) {
    if (!launcher.instanceMutex) return;
    ReleaseMutex(launcher.instanceMutex);
    CloseHandle(launcher.instanceMutex);
    launcher.instanceMutex = nullptr;
}

}  // namespace

bool setUpSingleInstance(Launcher& launcher) {
    if (!singleInstanceWanted(launcher)) return true;
    launcher.singleInstance = true;
    WideString module;
    if (!modulePath(launcher, module)) return false;
    WideString name = instanceName(module);
    // Objects that cannot be named, made or mapped: an ordinary instance.
    if (!instanceNamesFit(name)) {
        launcher.singleInstance = false;
        return true;
    }
    UserOnlySecurity security;
    if (!security.valid()) {
        launcher.singleInstance = false;
        return true;
    }
    SetLastError(0);
    launcher.instanceMapping = CreateFileMappingW(INVALID_HANDLE_VALUE, security.attributes(), PAGE_READWRITE, 0,
                                                  kInstanceBlockSize, wide(name));
    launcher.isPrimaryInstance = GetLastError() != ERROR_ALREADY_EXISTS;
    if (madeOrOwned(launcher.instanceMapping, security))
        launcher.instanceBlock = MapViewOfFile(launcher.instanceMapping, FILE_MAP_WRITE, 0, 0, kInstanceBlockSize);
    if (!launcher.instanceBlock) {
        releaseSingleInstance(launcher);
        return true;
    }
    if (!launcher.isPrimaryInstance) return handArgumentsOver(launcher, name, security);
    // A half-made first instance would leave later launches a block with
    // zero fields; release it all so that they run as ordinary instances.
    if (!becomeFirstInstance(launcher, name, security)) releaseSingleInstance(launcher);
    return true;
}

bool waitForFirstInstance(Launcher& launcher, int32_t& result) {
    HANDLE process = launcher.firstInstanceProcess;
    if (!process) {
        result = -1;
        return true;
    }
    UINT message = readField(launcher, kHandOverMessageOffset);
    for (;;) {
        MSG queued;
        while (PeekMessageW(&queued, nullptr, 0, 0, PM_REMOVE)) {
            if (queued.message != message) continue;
            releaseMutex(launcher);
            result = static_cast<int32_t>(static_cast<uint32_t>(queued.wParam));
            return true;
        }
        // A first instance that pairs never runs the program, so nothing it
        // took was served: its exit code would pass for an answer.
        if (retired(launcher)) {
            TRACE_EVENT("hand-over").field("result", "the first instance started its paired program; set up again");
            return false;
        }
        DWORD code = 0;
        // A status that cannot be read must not pass for success (0).
        if (!GetExitCodeProcess(process, &code)) code = static_cast<DWORD>(-1);
        if (code != STILL_ACTIVE) {
            releaseMutex(launcher);
            result = static_cast<int32_t>(code);
            return true;
        }
        MsgWaitForMultipleObjects(1, &process, FALSE, kAnswerPollMs, QS_POSTMESSAGE);
    }
}

void retireSingleInstance(Launcher& launcher) {
    if (launcher.isPrimaryInstance && launcher.instanceBlock)
        InterlockedExchange(blockField(launcher, kListenerThreadIdOffset), static_cast<LONG>(kRetiredListener));
    releaseSingleInstance(launcher);
}

void releaseSingleInstance(Launcher& launcher) {
    if (launcher.isPrimaryInstance && launcher.instanceBlock) closeGate();
    // Stopped through its own id: the block's copy may be another process's.
    if (launcher.instanceListener) {
        platform::stopThread(launcher.instanceListener, launcher.instanceListenerId);
        CloseHandle(launcher.instanceListener);
        launcher.instanceListener = nullptr;
        launcher.instanceListenerId = 0;
    }
    // The event goes before the block, so that a launch which then becomes
    // the first instance seldom meets this one's (signalled) event.
    if (launcher.isPrimaryInstance && launcher.vmReadyEvent) {
        CloseHandle(launcher.vmReadyEvent);
        launcher.vmReadyEvent = nullptr;
    }
    releaseMutex(launcher);
    if (launcher.instanceBlock) UnmapViewOfFile(launcher.instanceBlock);
    if (launcher.instanceMapping) CloseHandle(launcher.instanceMapping);
    if (launcher.firstInstanceProcess) CloseHandle(launcher.firstInstanceProcess);
    launcher.instanceBlock = nullptr;
    launcher.instanceMapping = nullptr;
    launcher.firstInstanceProcess = nullptr;
    launcher.singleInstance = false;
    launcher.isPrimaryInstance = false;
}
