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
        List<uint8_t> label;
        // Systems without integrity levels have no such token information.
        if (tokenSid(token.get(), TokenIntegrityLevel, label))
            ownLevel_ = lastSubAuthority(reinterpret_cast<TOKEN_MANDATORY_LABEL*>(label.data())->Label.Sid);
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

    // Made by this user, and not by a process of lower integrity: its
    // mandatory label is not below this process's level (at most medium,
    // which is what an elevated process gives what it makes).
    bool trusts(HANDLE object) const { return owns(object) && !labelledLower(object); }

private:
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

    bool labelledLower(HANDLE object) const {
        const DWORD kMediumLevel = 0x2000;  // SECURITY_MANDATORY_MEDIUM_RID
        if (ownLevel_ == 0) return false;
        DWORD size = 0;
        GetKernelObjectSecurity(object, LABEL_SECURITY_INFORMATION, nullptr, 0, &size);
        if (size == 0) return true;
        List<uint8_t> buffer(size, 0);
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        PACL sacl = nullptr;
        if (!GetKernelObjectSecurity(object, LABEL_SECURITY_INFORMATION, buffer.data(), size, &size) ||
            !GetSecurityDescriptorSacl(buffer.data(), &present, &sacl, &defaulted))
            return true;
        DWORD level = kMediumLevel;  // an object without a label counts as medium
        for (DWORD i = 0; present && sacl && i < sacl->AceCount; ++i) {
            void* ace = nullptr;
            if (!GetAce(sacl, i, &ace) ||
                static_cast<ACE_HEADER*>(ace)->AceType != SYSTEM_MANDATORY_LABEL_ACE_TYPE)
                continue;
            level = lastSubAuthority(&static_cast<SYSTEM_MANDATORY_LABEL_ACE*>(ace)->SidStart);
            break;
        }
        return level < (ownLevel_ < kMediumLevel ? ownLevel_ : kMediumLevel);
    }
    static DWORD lastSubAuthority(PSID sid) {
        UCHAR count = *GetSidSubAuthorityCount(sid);
        return count == 0 ? 0 : *GetSidSubAuthority(sid, count - 1u);
    }
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
    DWORD ownLevel_ = 0;  // 0: the system has no integrity levels
    bool valid_ = false;
};

// Made now, or found made by this user and trusted.
bool madeOrTrusted(HANDLE object, const UserOnlySecurity& security) {
    return object && (GetLastError() != ERROR_ALREADY_EXISTS || security.trusts(object));
}

// The files of this executable and of its paired program, which are the
// only programs that take part in a hand-over.
struct ProgramFiles {
    WideString own;
    WideString partner;
};

// Whether the process runs one of those files. The files are compared by
// identity, not by name: a mapped or substituted drive, a short name or a
// \\?\ prefix spell one file in several ways. Systems before Vista cannot
// name a process's image and are not checked.
bool runsProgram(HANDLE process, const ProgramFiles& files) {
    typedef BOOL(WINAPI * QueryImageFunction)(HANDLE, DWORD, LPWSTR, PDWORD);
    QueryImageFunction queryImage = systemFunction<QueryImageFunction>(L"kernel32.dll", "QueryFullProcessImageNameW");
    if (!queryImage) return true;
    List<wchar_t> image(32768, 0);
    DWORD length = static_cast<DWORD>(image.size());
    if (!queryImage(process, 0, image.data(), &length)) return false;
    WideString found = fromWide(image.data(), length);
    return platform::sameFile(found, files.own) || (!files.partner.empty() && platform::sameFile(found, files.partner));
}

// The process a thread belongs to, 0 when that cannot be told (before
// Vista: then 1, which the callers' checks do not use).
DWORD processOfThread(DWORD threadId) {
    typedef DWORD(WINAPI * ThreadProcessFunction)(HANDLE);
    ThreadProcessFunction threadProcess =
        systemFunction<ThreadProcessFunction>(L"kernel32.dll", "GetProcessIdOfThread");
    if (!threadProcess) return 1;
    const DWORD kThreadQueryLimited = 0x0800;  // THREAD_QUERY_LIMITED_INFORMATION
    OwnedHandle thread(OpenThread(kThreadQueryLimited, FALSE, threadId));
    return thread.valid() ? threadProcess(thread.get()) : 0;
}

bool canCheckThreads() { return systemFunction<void*>(L"kernel32.dll", "GetProcessIdOfThread") != nullptr; }

// Whether the published listener is a thread of the published process and
// that process runs this program: otherwise the posts could go to any thread.
bool publishedByProgram(HANDLE process, DWORD processId, DWORD listener, const ProgramFiles& files) {
    if (!runsProgram(process, files)) return false;
    return !canCheckThreads() || processOfThread(listener) == processId;
}

// Whether a requester's thread belongs to a process running this program:
// only such a thread is answered.
bool threadOfProgram(DWORD threadId, const ProgramFiles& files) {
    if (!canCheckThreads()) return true;
    DWORD processId = processOfThread(threadId);
    const DWORD kProcessQueryLimited = 0x1000;  // PROCESS_QUERY_LIMITED_INFORMATION
    OwnedHandle process(processId ? OpenProcess(kProcessQueryLimited, FALSE, processId) : nullptr);
    return process.valid() && runsProgram(process.get(), files);
}

bool programFiles(Launcher& launcher, ProgramFiles& files) {
    if (!platform::modulePath(files.own)) return false;
    if (!launcher.pairProduct.empty() && !platform::fullPath(launcher.pairProduct, files.partner)) files.partner.clear();
    return true;
}

volatile LONG* blockField(void* block, size_t offset) {
    return reinterpret_cast<volatile LONG*>(static_cast<uint8_t*>(block) + offset);
}

uint32_t readField(void* block, size_t offset) {
    return static_cast<uint32_t>(InterlockedCompareExchange(blockField(block, offset), 0, 0));
}

void writeField(void* block, size_t offset, uint32_t value) {
    InterlockedExchange(blockField(block, offset), static_cast<LONG>(value));
}

uint8_t* argumentArea(void* block) { return static_cast<uint8_t*>(block) + kArgumentAreaOffset; }

// A request's number: unguessable for a process that cannot read the block.
uint32_t newRequestNumber() {
    typedef BOOLEAN(WINAPI * RandomFunction)(PVOID, ULONG);
    RandomFunction random = systemFunction<RandomFunction>(L"advapi32.dll", "SystemFunction036");
    uint32_t number = 0;
    if (!random || !random(&number, sizeof number)) {
        LARGE_INTEGER counter;
        QueryPerformanceCounter(&counter);
        number = static_cast<uint32_t>(counter.QuadPart) ^ (GetCurrentThreadId() << 16) ^ GetTickCount();
    }
    return number ? number : 1;
}

// Workers read the Launcher only through this gate; the teardown closes it
// after the virtual machine is destroyed. The attach itself happens outside:
// one that comes too late fails or never returns, and the teardown must not
// wait for it. Process-wide, because a worker may wake after the Launcher
// is gone. Made by the launcher thread before the listener starts.
CRITICAL_SECTION gateLock;
bool gateMade = false;
bool gateClosed = false;

void openGate() {
    if (!gateMade) InitializeCriticalSection(&gateLock);
    gateMade = true;
    EnterCriticalSection(&gateLock);
    gateClosed = false;
    LeaveCriticalSection(&gateLock);
}

void closeGate() {
    if (!gateMade) return;
    EnterCriticalSection(&gateLock);
    gateClosed = true;
    LeaveCriticalSection(&gateLock);
}

struct WorkerStart {
    Launcher* launcher;
    DWORD requester;
    UINT message;
    HANDLE mainStarted;  // the worker's own handle of the main-started event
    List<WideString> arguments;
    WideString workingDirectory;
};

void reply(const WorkerStart& start, uint32_t kind, int32_t value = 0) {
    PostThreadMessageW(start.requester, start.message, static_cast<WPARAM>(static_cast<uint32_t>(value)), kind);
}

class BlockChannel : public HandOverChannel {
public:
    explicit BlockChannel(const WorkerStart& start) : start_(start) {}
    List<WideString> arguments() override { return start_.arguments; }
    WideString workingDirectory() override { return start_.workingDirectory; }
    void answer(int32_t value) override { reply(start_, kReplyAnswer, value); }
    void unserved() override { reply(start_, kReplyUnserved); }

private:
    const WorkerStart& start_;
};

DWORD WINAPI handOverWorker(void* parameter) {
    struct Owner {
        WorkerStart* start;
        ~Owner() { delete start; }
    } owner{static_cast<WorkerStart*>(parameter)};
    const WorkerStart& start = *owner.start;
    OwnedHandle mainStarted(start.mainStarted);
    // secondaryMain never runs before main has been called.
    if (WaitForSingleObject(mainStarted.get(), INFINITE) != WAIT_OBJECT_0) return 0;
    JavaVM* vm = nullptr;
    WideString mainClass;
    bool stayAttached = false;
    EnterCriticalSection(&gateLock);
    if (!gateClosed) {
        vm = start.launcher->javaVM;
        mainClass = start.launcher->mainClass;
        stayAttached = start.launcher->runtimeVendor == RuntimeVendor::Ibm;
    }
    LeaveCriticalSection(&gateLock);
    JNIEnv* env = nullptr;
    // Refused, the requester sets up again (and may become the first
    // instance itself).
    if (!vm || vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) != JNI_OK) {
        reply(start, kReplyRefused);
        return 0;
    }
    if (!programRunning(env)) {
        vm->DetachCurrentThread();
        reply(start, kReplyRefused);
        return 0;
    }
    // From here on the list is the program's: the requester waits for the
    // answer, or for this instance's end.
    reply(start, kReplyTaken);
    BlockChannel channel(start);
    serveHandOver(vm, env, mainClass, channel, stayAttached);
    return 0;
}

void startWorker(Launcher& launcher, WorkerStart* start) {
    if (DuplicateHandle(GetCurrentProcess(), launcher.vmReadyEvent, GetCurrentProcess(), &start->mainStarted,
                        SYNCHRONIZE, FALSE, 0)) {
        HANDLE worker = CreateThread(nullptr, 0, handOverWorker, start, 0, nullptr);
        if (worker) {
            CloseHandle(worker);  // workers are not waited for
            return;
        }
        CloseHandle(start->mainStarted);
    }
    reply(*start, kReplyRefused);
    delete start;
}

struct ListenerStart {
    Launcher* launcher;
    HANDLE ready;
    UINT message;
    const ProgramFiles* files;
};

// A message is honoured only when it carries the number of the request that
// is posted now, and only once: a process that cannot read the block can
// neither make nor replay a request. The list is read and cleared at once.
void claimRequest(Launcher& launcher, uint32_t number, UINT message, const ProgramFiles& files) {
    void* block = launcher.instanceBlock;
    if (number == 0 || readField(block, kRequestNumberOffset) != number) return;
    if (InterlockedCompareExchange(blockField(block, kRequestStateOffset), kRequestClaimed, kRequestPosted) !=
        static_cast<LONG>(kRequestPosted))
        return;
    if (readField(block, kRequestNumberOffset) != number) {
        // Withdrawn and posted anew between the two reads: not this one.
        writeField(block, kRequestStateOffset, kRequestPosted);
        return;
    }
    WorkerStart* start = new WorkerStart{&launcher, readField(block, kRequesterThreadOffset), message, nullptr,
                                         readArgumentArea(argumentArea(block), kArgumentWriteLimit),
                                         readWorkingDirectory(argumentArea(block))};
    memset(argumentArea(block), 0, kArgumentAreaSize);
    // The answer goes only to a thread of this program.
    if (!threadOfProgram(start->requester, files)) {
        delete start;
        return;
    }
    // The block is free for the next request.
    reply(*start, kReplyClaimed);
    startWorker(launcher, start);
}

DWORD WINAPI listenerThreadMain(void* parameter) {
    ListenerStart start = *static_cast<ListenerStart*>(parameter);
    ProgramFiles files = *start.files;
    MSG message;
    // The queue exists from here on; only then may second instances post.
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    SetEvent(start.ready);
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        if (message.message == start.message)
            claimRequest(*start.launcher, static_cast<uint32_t>(message.wParam), start.message, files);
    return 0;
}

bool becomeFirstInstance(Launcher& launcher, const WideString& name, UserOnlySecurity& security) {
    launcher.vmReadyEvent = CreateEventW(security.attributes(), TRUE, FALSE, wide(instanceEventName(name)));
    bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (!madeOrTrusted(launcher.vmReadyEvent, security)) return false;
    // Still held by a previous first instance on its way out: its state
    // (main started) is not this one's.
    if (existed) ResetEvent(launcher.vmReadyEvent);
    UINT message = RegisterWindowMessageW(wide(name));
    if (message == 0) return false;
    ProgramFiles files;
    if (!programFiles(launcher, files)) return false;
    void* block = launcher.instanceBlock;
    writeField(block, kProcessIdOffset, GetCurrentProcessId());
    writeField(block, kHandOverMessageOffset, message);

    openGate();
    OwnedHandle ready(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!ready.valid()) return false;
    ListenerStart start{&launcher, ready.get(), message, &files};
    DWORD id = 0;
    launcher.instanceListener = CreateThread(nullptr, 0, listenerThreadMain, &start, 0, &id);
    if (!launcher.instanceListener) return false;
    launcher.instanceListenerId = id;
    HANDLE waits[2] = {ready.get(), launcher.instanceListener};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) return false;
    writeField(block, kListenerThreadIdOffset, id);
    // Published last: a second instance that sees the version finds the
    // other fields written and a queue that takes its message.
    MemoryBarrier();
    writeField(block, kLayoutVersionOffset, kInstanceLayoutVersion);
    return true;
}

bool timeLeft(DWORD started) { return GetTickCount() - started < kHandOverPatienceMs; }

// How long launches wait for a restarting program's next run to take its
// block over; after that one of them takes it (the next run did not come,
// or runs without single instance).
const DWORD kRestartPatienceMs = 30000;
DWORD restartWaitStarted = 0;

bool restartOverdue() { return restartWaitStarted && GetTickCount() - restartWaitStarted >= kRestartPatienceMs; }

bool retired(Launcher& launcher) {
    return readField(launcher.instanceBlock, kListenerThreadIdOffset) == kRetiredListener;
}

// A hand-over that cannot be made ends the launch with -1; the trace says why.
bool giveUp(const char* reason) {
    TRACE_EVENT("hand-over").field("result", "gave up").field("reason", reason);
    return false;
}

// The first instance let go of its role: this launch goes on as one of its
// own.
bool runOnItsOwn(Launcher& launcher) {
    TRACE_EVENT("hand-over").field("result", "the first instance started its paired program; this launch goes on by itself");
    releaseSingleInstance(launcher);
    return true;
}

bool ordinaryLaunch(Launcher& launcher, const char* reason) {
    TRACE_EVENT("hand-over").field("result", reason);
    releaseSingleInstance(launcher);
    return true;
}

// False ends the launch with -1. True with single instance still on: the
// request is posted (or the first instance has ended meanwhile), and the
// wait tells which.
bool handArgumentsOver(Launcher& launcher, const WideString& name, UserOnlySecurity& security) {
    if (!argumentsFit(launcher.arguments)) return giveUp("the arguments do not fit the shared block");
    void* block = launcher.instanceBlock;
    // A first instance started at the same moment may not have published
    // its block yet. Getting a turn at the block is bounded by the same
    // time: one slow or hostile process holds up nobody for long.
    DWORD started = GetTickCount();
    uint32_t version;
    while ((version = readField(block, kLayoutVersionOffset)) == 0) {
        if (!timeLeft(started)) return giveUp("the first instance published no listener within 10 s");
        Sleep(kRetryMs);
    }
    if (version != kInstanceLayoutVersion)
        return ordinaryLaunch(launcher, "the first instance runs another version of the launcher; an ordinary launch");
    MemoryBarrier();
    DWORD listener = readField(block, kListenerThreadIdOffset);
    if (listener == kRetiredListener) return runOnItsOwn(launcher);
    UINT message = readField(block, kHandOverMessageOffset);
    DWORD firstProcess = readField(block, kProcessIdOffset);

    // The queue must exist before posting, or an early reply would be lost.
    MSG queued;
    PeekMessageW(&queued, nullptr, WM_USER, WM_USER, PM_NOREMOVE);

    // A first instance that cannot be watched cannot answer either: -1, not
    // the 0 that would report success.
    launcher.firstInstanceProcess = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, firstProcess);
    if (!launcher.firstInstanceProcess) return giveUp("the first instance's process cannot be watched");
    // Its program restarts: the wait sets up again once the process has ended.
    if (listener == kRestartingListener) return true;
    ProgramFiles files;
    if (!programFiles(launcher, files) ||
        !publishedByProgram(launcher.firstInstanceProcess, firstProcess, listener, files))
        return ordinaryLaunch(launcher, "the block names no listener of this program; an ordinary launch");

    // The block holds one request: launches take turns, each holding the
    // mutex until the first instance has claimed its list. Without a mutex
    // (it cannot be made), the launch goes on unserialised.
    HANDLE mutex = CreateMutexW(security.attributes(), FALSE, wide(instanceMutexName(name)));
    if (mutex && !madeOrTrusted(mutex, security)) {
        CloseHandle(mutex);
        return ordinaryLaunch(launcher, "the mutex is not this user's; an ordinary launch");
    }
    if (mutex) {
        HANDLE waits[2] = {mutex, launcher.firstInstanceProcess};
        DWORD waited;
        // Polled: a first instance that retires meanwhile is seen at once.
        while ((waited = WaitForMultipleObjects(2, waits, FALSE, kAnswerPollMs)) == WAIT_TIMEOUT)
            if (retired(launcher) || !timeLeft(started)) break;
        if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED_0) {
            CloseHandle(mutex);
            if (retired(launcher)) return runOnItsOwn(launcher);
            // The first instance has ended: the wait finds the list untaken
            // and sets up again.
            if (waited == WAIT_OBJECT_0 + 1) return true;
            return giveUp(waited == WAIT_TIMEOUT ? "no turn at the shared block within 10 s"
                                                 : "the wait for the mutex failed");
        }
        launcher.instanceMutex = mutex;
        // The turn may have taken long: the patience counts from here.
        started = GetTickCount();
    }

    if (retired(launcher)) return runOnItsOwn(launcher);
    uint32_t number = newRequestNumber();
    writeField(block, kRequestStateOffset, kRequestFree);
    writeArgumentArea(argumentArea(block), launcher.arguments);
    WideString folder;
    if (!platform::currentDirectory(folder)) folder.clear();
    writeWorkingDirectory(argumentArea(block), folder);
    writeField(block, kRequesterThreadOffset, GetCurrentThreadId());
    writeField(block, kRequestNumberOffset, number);
    MemoryBarrier();
    writeField(block, kRequestStateOffset, kRequestPosted);
    launcher.handOverRequest = number;
    while (!PostThreadMessageW(listener, message, number, 0)) {
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

// A request still posted when its launch lets go is taken back, so that no
// later message can have it served.
void withdrawRequest(Launcher& launcher) {
    void* block = launcher.instanceBlock;
    if (!launcher.handOverRequest || !block) return;
    if (readField(block, kRequestNumberOffset) == launcher.handOverRequest &&
        InterlockedCompareExchange(blockField(block, kRequestStateOffset), kRequestFree, kRequestPosted) ==
            static_cast<LONG>(kRequestPosted))
        memset(argumentArea(block), 0, kArgumentAreaSize);
    launcher.handOverRequest = 0;
}

// Rounds of setting up again after a list came back untaken: a first
// instance that never takes one ends the launch at last.
const unsigned kMaxUntakenRounds = 100;
unsigned untakenRounds = 0;

DWORD requestPostedAt = 0;

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
    if (madeOrTrusted(launcher.instanceMapping, security))
        launcher.instanceBlock = MapViewOfFile(launcher.instanceMapping, FILE_MAP_WRITE, 0, 0, kInstanceBlockSize);
    if (!launcher.instanceBlock) {
        releaseSingleInstance(launcher);
        return true;
    }
    // The program restarts: its next run (or, when none comes, a launch
    // that has waited long enough) takes the block over as first instance.
    if (!launcher.isPrimaryInstance && readField(launcher.instanceBlock, kListenerThreadIdOffset) == kRestartingListener &&
        (!launcher.again.restartTimes.empty() || restartOverdue())) {
        TRACE_EVENT("single instance").field("block", "taken over from the run before");
        memset(launcher.instanceBlock, 0, kInstanceBlockSize);
        launcher.isPrimaryInstance = true;
    }
    if (!launcher.isPrimaryInstance) {
        bool posted = handArgumentsOver(launcher, name, security);
        requestPostedAt = GetTickCount();
        return posted;
    }
    // A half-made first instance would leave later launches a block with
    // zero fields; release it all so that they run as ordinary instances.
    if (!becomeFirstInstance(launcher, name, security)) releaseSingleInstance(launcher);
    return true;
}

bool waitForFirstInstance(Launcher& launcher, int32_t& result) {
    result = -1;
    HANDLE process = launcher.firstInstanceProcess;
    if (!process) return true;
    UINT message = readField(launcher.instanceBlock, kHandOverMessageOffset);
    bool taken = false;
    bool setUpAgain = false;
    for (;;) {
        MSG queued;
        while (PeekMessageW(&queued, nullptr, 0, 0, PM_REMOVE)) {
            if (queued.message != message) continue;
            uint32_t value = static_cast<uint32_t>(queued.wParam);
            switch (static_cast<uint32_t>(queued.lParam)) {
                case kReplyClaimed:
                    // The list is out of the block: the next launch may go.
                    launcher.handOverRequest = 0;
                    releaseMutex(launcher);
                    break;
                case kReplyTaken:
                    taken = true;
                    TRACE_EVENT("hand-over").field("result", "handed over");
                    break;
                case kReplyAnswer:
                    TRACE_EVENT("hand-over").field("result", "answered").field("code", static_cast<int32_t>(value));
                    result = static_cast<int32_t>(value);
                    return true;
                case kReplyUnserved:
                    TRACE_EVENT("hand-over").field("result", "the main class has no secondaryMain: the arguments are dropped; waiting for the first instance's end");
                    break;
                case kReplyRefused:
                    TRACE_EVENT("hand-over").field("result", "the first instance is shutting down; set up again");
                    // Its block goes with it: set up again once it has ended.
                    WaitForSingleObject(process, kHandOverPatienceMs);
                    setUpAgain = true;
                    break;
            }
        }
        // A first instance that pairs never runs the program, so nothing it
        // took was served: its exit code would pass for an answer.
        if (retired(launcher)) {
            TRACE_EVENT("hand-over").field("result", "the first instance started its paired program; set up again");
            setUpAgain = true;
        }
        if (!taken && readField(launcher.instanceBlock, kListenerThreadIdOffset) == kRestartingListener) {
            TRACE_EVENT("hand-over").field("result", "the first instance's program restarts; waiting for its next run");
            // The block outlives the run (the supervising process keeps it)
            // until the next run takes it over: then set up again.
            if (!restartWaitStarted) restartWaitStarted = GetTickCount();
            while (readField(launcher.instanceBlock, kListenerThreadIdOffset) == kRestartingListener && !restartOverdue())
                Sleep(kRetryMs);
            setUpAgain = true;
        }
        DWORD code = 0;
        // A status that cannot be read must not pass for success (0).
        if (!GetExitCodeProcess(process, &code)) code = static_cast<DWORD>(-1);
        if (code != STILL_ACTIVE && taken) {
            TRACE_EVENT("hand-over").field("result", "the first instance ended before answering")
                .field("code", static_cast<int32_t>(code));
            result = static_cast<int32_t>(code);
            return true;
        }
        if (code != STILL_ACTIVE || setUpAgain) {
            // The list was never served: it goes to the next first
            // instance, which may be this launch.
            if (code != STILL_ACTIVE) {
                TRACE_EVENT("hand-over").field("result", "the first instance ended before it took the list; set up again");
            }
            if (++untakenRounds > kMaxUntakenRounds) {
                giveUp("the list was not taken in 100 rounds");
                return true;
            }
            return false;
        }
        if (launcher.handOverRequest && !timeLeft(requestPostedAt)) {
            uint32_t number = launcher.handOverRequest;
            withdrawRequest(launcher);
            // Claimed just now after all: wait on.
            if (readField(launcher.instanceBlock, kRequestNumberOffset) != number ||
                readField(launcher.instanceBlock, kRequestStateOffset) != kRequestClaimed) {
                giveUp("the first instance claimed no list within 10 s");
                return true;
            }
        }
        MsgWaitForMultipleObjects(1, &process, FALSE, kAnswerPollMs, QS_POSTMESSAGE);
    }
}

void retireSingleInstance(Launcher& launcher) {
    if (launcher.isPrimaryInstance && launcher.instanceBlock)
        writeField(launcher.instanceBlock, kListenerThreadIdOffset, kRetiredListener);
    releaseSingleInstance(launcher);
}

intptr_t abandonSingleInstance(Launcher& launcher) {
    // The objects go with the process, which ends right after; until then
    // the block says the program restarts, so launches wait for its end and
    // set up again.
    if (launcher.isPrimaryInstance && launcher.instanceBlock)
        writeField(launcher.instanceBlock, kListenerThreadIdOffset, kRestartingListener);
    return -1;
}

void* keepInstanceBlock(Launcher& launcher) {
    WideString module;
    if (!singleInstanceWanted(launcher) || !modulePath(launcher, module)) return nullptr;
    WideString name = instanceName(module);
    return instanceNamesFit(name) ? OpenFileMappingW(FILE_MAP_READ, FALSE, wide(name)) : nullptr;
}

void letGoOfInstanceBlock(void* kept) {
    if (kept) CloseHandle(kept);
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
    withdrawRequest(launcher);
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
