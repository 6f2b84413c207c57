// Single instance on the Windows side, with this test program as the
// executable (its objects are named after win_tests.exe). The test plays the
// other process: a first instance that publishes late, holds the mutex, or
// never answers, which the end-to-end tests cannot arrange on purpose.
#include "win_test_support.h"

#include <sddl.h>
#include <tlhelp32.h>

#include <atomic>
#include <thread>

#include "instance/instance_block.h"
#include "instance/single_instance.h"
#include "launcher/launcher.h"
#include "launcher/launcher_settings.h"

namespace {

std::wstring moduleName() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return S(instanceName(fromWide(self)));
}

// Security for an object made by the test: access for everybody, and the
// owner the system gives what this process makes, or the one named (SDDL).
class TestSecurity {
public:
    explicit TestSecurity(const wchar_t* owner = nullptr, const wchar_t* label = nullptr) {
        std::wstring text = (owner ? L"O:" + std::wstring(owner) : L"") + L"D:(A;;GA;;;WD)" +
                            (label ? L"S:(ML;;NW;;;" + std::wstring(label) + L")" : L"");
        ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &descriptor_, nullptr);
        attributes_ = {sizeof attributes_, descriptor_, FALSE};
    }
    ~TestSecurity() { LocalFree(descriptor_); }
    SECURITY_ATTRIBUTES* get() { return &attributes_; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_;
};

// A first instance played by the test: the block, and a listener thread with
// a queue that claims the request, records it and answers it.
class FakeFirstInstance {
public:
    explicit FakeFirstInstance(const wchar_t* owner = nullptr, const wchar_t* label = nullptr) {
        name_ = moduleName();
        TestSecurity security(owner, label);
        mapping_.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, security.get(), PAGE_READWRITE, 0, kInstanceBlockSize,
                                          name_.c_str()));
        block_ = static_cast<uint8_t*>(MapViewOfFile(mapping_.get(), FILE_MAP_WRITE, 0, 0, kInstanceBlockSize));
        message_ = RegisterWindowMessageW(name_.c_str());
    }
    ~FakeFirstInstance() {
        if (listener_.joinable()) {
            while (!PostThreadMessageW(listenerId_, WM_QUIT, 0, 0)) Sleep(1);
            listener_.join();
        }
        UnmapViewOfFile(block_);
    }
    // Starts the listener and publishes the block's fields, the version last.
    void publish(int32_t answer) {
        std::atomic<bool> ready{false};
        listener_ = std::thread([this, answer, &ready] {
            MSG msg;
            PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
            listenerId_ = GetCurrentThreadId();
            ready = true;
            while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
                if (msg.message != message_ || msg.wParam != field(kRequestNumberOffset) ||
                    field(kRequestStateOffset) != kRequestPosted)
                    continue;
                field(kRequestStateOffset) = kRequestClaimed;
                DWORD requester = field(kRequesterThreadOffset);
                requests.push_back(readArgumentArea(block_ + kArgumentAreaOffset, kArgumentAreaSize));
                requesters.push_back(requester);
                PostThreadMessageW(requester, message_, 0, kReplyClaimed);
                if (answer < 0) continue;
                PostThreadMessageW(requester, message_, 0, kReplyTaken);
                PostThreadMessageW(requester, message_, answer, kReplyAnswer);
            }
        });
        while (!ready) Sleep(1);
        field(kProcessIdOffset) = GetCurrentProcessId();
        field(kHandOverMessageOffset) = message_;
        field(kListenerThreadIdOffset) = listenerId_;
        MemoryBarrier();
        field(kLayoutVersionOffset) = kInstanceLayoutVersion;
    }
    volatile DWORD& field(size_t offset) { return *reinterpret_cast<volatile DWORD*>(block_ + offset); }

    std::vector<List<WideString>> requests;
    std::vector<DWORD> requesters;
    std::wstring name_;

private:
    OwnedHandle mapping_;
    uint8_t* block_ = nullptr;
    UINT message_ = 0;
    std::thread listener_;
    DWORD listenerId_ = 0;
};

class WinSingleInstance : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring module(self);
        iniPath_ = module.substr(0, module.rfind(L'.')) + L".ini";
        std::string bytes = "\xFF\xFE";
        std::wstring text = L"[Java Runtime Environment]\r\nMain Class=app.Main\r\n[Application]\r\nSingle Instance=yes\r\n";
        bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
        HANDLE file = CreateFileW(iniPath_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
    void TearDown() override { DeleteFileW(iniPath_.c_str()); }

    // A second instance's set-up on a thread of its own (so the thread's
    // queue is its own), then its wait; the result is the exit code.
    static int32_t secondInstance(const List<WideString>& arguments, bool& setUp, DWORD& thread) {
        int32_t code = -2;
        std::atomic<bool> finished{false};
        std::thread run([&] {
            Launcher launcher;
            EXPECT_TRUE(readLauncherSettings(launcher));
            launcher.arguments = arguments;
            thread = GetCurrentThreadId();
            setUp = setUpSingleInstance(launcher);
            EXPECT_TRUE(launcher.singleInstance);
            EXPECT_FALSE(launcher.isPrimaryInstance);
            if (!setUp || !waitForFirstInstance(launcher, code)) code = -1;
            finished = true;
        });
        // A lost answer shows as a wait without end: fail fast instead.
        for (int i = 0; i < 3000 && !finished; ++i) Sleep(10);
        if (!finished) {
            fprintf(stderr, "the second instance is still waiting after 30 s: its answer was lost\n");
            fflush(stderr);
            TerminateProcess(GetCurrentProcess(), 3);
        }
        run.join();
        return code;
    }

    std::wstring iniPath_;
};

TEST_F(WinSingleInstance, SecondInstanceWaitsUntilTheListenerIsPublished) {
    FakeFirstInstance first;
    std::thread late([&] {
        Sleep(400);
        first.publish(7);
    });
    bool setUp = false;
    DWORD thread = 0;
    DWORD started = GetTickCount();
    EXPECT_EQ(secondInstance({W(L"a b"), W(L"Äpp")}, setUp, thread), 7);
    late.join();
    EXPECT_GE(GetTickCount() - started, 350u);
    ASSERT_EQ(first.requests.size(), 1u);
    EXPECT_EQ(first.requests[0], List<WideString>({W(L"a b"), W(L"Äpp")}));
    EXPECT_EQ(first.requesters[0], thread);
}

TEST_F(WinSingleInstance, SecondInstanceGivesUpWhenNothingIsPublishedWithinTenSeconds) {
    FakeFirstInstance first;  // block with zero fields, never published
    bool setUp = true;
    DWORD thread = 0;
    DWORD started = GetTickCount();
    EXPECT_EQ(secondInstance({W(L"x")}, setUp, thread), -1);
    DWORD elapsed = GetTickCount() - started;
    EXPECT_FALSE(setUp);
    EXPECT_GE(elapsed, 9500u);
    EXPECT_LT(elapsed, 15000u);
}

TEST_F(WinSingleInstance, ArgumentsOverTheLimitFailAtOnce) {
    FakeFirstInstance first;  // not published: the limit is checked before any wait
    bool setUp = true;
    DWORD thread = 0;
    DWORD started = GetTickCount();
    EXPECT_EQ(secondInstance({WideString(std::u16string(519, u'x'))}, setUp, thread), -1);
    EXPECT_FALSE(setUp);
    EXPECT_LT(GetTickCount() - started, 1000u);
    EXPECT_TRUE(first.requests.empty());
}

TEST_F(WinSingleInstance, SecondInstancesTakeTurnsThroughTheMutex) {
    FakeFirstInstance first;
    first.publish(5);
    // Another second instance holds the mutex: nothing is written or posted
    // until it lets go.
    OwnedHandle mutex(CreateMutexW(TestSecurity().get(), FALSE, (first.name_ + L"_upr_mtx").c_str()));
    ASSERT_EQ(WaitForSingleObject(mutex.get(), 0), WAIT_OBJECT_0);
    bool setUp = false;
    DWORD thread = 0;
    int32_t code = 0;
    std::thread second([&] { code = secondInstance({W(L"queued")}, setUp, thread); });
    Sleep(400);
    EXPECT_TRUE(first.requests.empty());
    ReleaseMutex(mutex.get());
    second.join();
    EXPECT_EQ(code, 5);
    ASSERT_EQ(first.requests.size(), 1u);
    EXPECT_EQ(first.requests[0], List<WideString>({W(L"queued")}));
    // Released after the answer: free again.
    EXPECT_EQ(WaitForSingleObject(mutex.get(), 0), WAIT_OBJECT_0);
    ReleaseMutex(mutex.get());
}

TEST_F(WinSingleInstance, AnAbandonedMutexCountsAsAcquired) {
    FakeFirstInstance first;
    first.publish(6);
    std::wstring name = first.name_ + L"_upr_mtx";
    // A second instance that ended while holding the mutex.
    HANDLE held = nullptr;
    std::thread([&] { held = CreateMutexW(TestSecurity().get(), TRUE, name.c_str()); }).join();
    bool setUp = false;
    DWORD thread = 0;
    EXPECT_EQ(secondInstance({W(L"after")}, setUp, thread), 6);
    EXPECT_EQ(first.requests.size(), 1u);
    CloseHandle(held);  // no mutex is left for the next test
}

// A process of another program, and one of its threads.
void foreignProcess(DWORD& process, DWORD& thread) {
    process = thread = 0;
    OwnedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS | TH32CS_SNAPTHREAD, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more && !process; more = Process32NextW(snapshot.get(), &entry))
        if (lstrcmpiW(entry.szExeFile, L"services.exe") == 0 || lstrcmpiW(entry.szExeFile, L"explorer.exe") == 0)
            process = entry.th32ProcessID;
    THREADENTRY32 threadEntry = {};
    threadEntry.dwSize = sizeof threadEntry;
    for (BOOL more = Thread32First(snapshot.get(), &threadEntry); more && !thread;
         more = Thread32Next(snapshot.get(), &threadEntry))
        if (threadEntry.th32OwnerProcessID == process) thread = threadEntry.th32ThreadID;
}

// A launch that meets objects it cannot trust runs as an ordinary launch
// and posts nothing. Each row fails one check alone: the block's or the
// mutex's owner or integrity, the published process's image, or the
// published listener's process.
TEST_F(WinSingleInstance, ObjectsThatCannotBeTrustedMakeAnOrdinaryLaunch) {
    DWORD foreign = 0, foreignThread = 0;
    foreignProcess(foreign, foreignThread);
    ASSERT_NE(foreign, 0u);
    ASSERT_NE(foreignThread, 0u);
    struct Case {
        const char* row;
        const wchar_t* blockOwner;  // null: this user's
        const wchar_t* blockLabel;  // mandatory label; null: none (medium)
        bool foreignProcess;        // the block names another program's process...
        bool foreignListener;       // ...or a listener thread of another program
        const wchar_t* mutexOwner;
        const wchar_t* mutexLabel;
    } const cases[] = {
        {"block of the system", L"SY", nullptr, false, false, nullptr, nullptr},
        {"block of the administrators", L"BA", nullptr, false, false, nullptr, nullptr},
        {"block of low integrity", nullptr, L"LW", false, false, nullptr, nullptr},
        {"another program's process and its thread", nullptr, nullptr, true, true, nullptr, nullptr},
        {"this program's process, another's thread", nullptr, nullptr, false, true, nullptr, nullptr},
        {"mutex of the system", nullptr, nullptr, false, false, L"SY", nullptr},
        {"mutex of low integrity", nullptr, nullptr, false, false, nullptr, L"LW"},
    };
    for (const Case& c : cases) {
        FakeFirstInstance first(c.blockOwner, c.blockLabel);
        first.publish(5);
        if (c.foreignProcess) first.field(kProcessIdOffset) = foreign;
        if (c.foreignListener) first.field(kListenerThreadIdOffset) = foreignThread;
        OwnedHandle mutex;
        if (c.mutexOwner || c.mutexLabel)
            mutex.reset(CreateMutexW(TestSecurity(c.mutexOwner, c.mutexLabel).get(), FALSE,
                                     (first.name_ + L"_upr_mtx").c_str()));
        Launcher launcher;
        ASSERT_TRUE(readLauncherSettings(launcher));
        launcher.arguments = {W(L"secret.txt")};
        EXPECT_TRUE(setUpSingleInstance(launcher)) << c.row;
        EXPECT_FALSE(launcher.singleInstance) << c.row;
        EXPECT_EQ(launcher.instanceBlock, nullptr) << c.row;
        EXPECT_TRUE(first.requests.empty()) << c.row;
    }
}

// The main-started event of another owner or of low integrity: no first
// instance can be made with it, and nothing is left behind.
TEST_F(WinSingleInstance, AnEventThatCannotBeTrustedMakesAnOrdinaryLaunch) {
    const struct {
        const wchar_t* owner;
        const wchar_t* label;
    } cases[] = {{L"SY", nullptr}, {nullptr, L"LW"}};
    for (const auto& c : cases) {
        std::wstring name = moduleName();
        OwnedHandle event(
            CreateEventW(TestSecurity(c.owner, c.label).get(), TRUE, FALSE, (name + L"_upr_evt").c_str()));
        ASSERT_TRUE(event.valid());
        Launcher launcher;
        ASSERT_TRUE(readLauncherSettings(launcher));
        EXPECT_TRUE(setUpSingleInstance(launcher));
        EXPECT_FALSE(launcher.singleInstance) << (c.owner ? "owner" : "label");
        OwnedHandle mapping(OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str()));
        EXPECT_FALSE(mapping.valid());
    }
}

TEST_F(WinSingleInstance, FirstInstancePublishesAndReleasesEverything) {
    std::wstring name = moduleName();
    Launcher launcher;
    ASSERT_TRUE(readLauncherSettings(launcher));
    ASSERT_TRUE(setUpSingleInstance(launcher));
    ASSERT_TRUE(launcher.singleInstance);
    ASSERT_TRUE(launcher.isPrimaryInstance);
    const uint8_t* block = static_cast<const uint8_t*>(launcher.instanceBlock);
    auto field = [block](size_t offset) { return *reinterpret_cast<const DWORD*>(block + offset); };
    EXPECT_EQ(field(kProcessIdOffset), GetCurrentProcessId());
    EXPECT_EQ(field(kHandOverMessageOffset), RegisterWindowMessageW(name.c_str()));
    EXPECT_EQ(field(kListenerThreadIdOffset), launcher.instanceListenerId);
    EXPECT_EQ(field(kLayoutVersionOffset), kInstanceLayoutVersion);
    // The listener takes messages from the moment it is published.
    EXPECT_TRUE(PostThreadMessageW(field(kListenerThreadIdOffset), WM_NULL, 0, 0));
    OwnedHandle event(OpenEventW(SYNCHRONIZE, FALSE, (name + L"_upr_evt").c_str()));
    EXPECT_TRUE(event.valid());
    EXPECT_EQ(WaitForSingleObject(event.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    event.reset();

    DWORD listenerId = launcher.instanceListenerId;
    releaseSingleInstance(launcher);
    EXPECT_FALSE(launcher.singleInstance);
    EXPECT_EQ(launcher.instanceBlock, nullptr);
    EXPECT_EQ(launcher.vmReadyEvent, nullptr);
    EXPECT_FALSE(PostThreadMessageW(listenerId, WM_NULL, 0, 0)) << "the listener has ended";
    // Nothing is left for a later launch to find.
    OwnedHandle mapping(OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str()));
    EXPECT_FALSE(mapping.valid());
    OwnedHandle gone(OpenEventW(SYNCHRONIZE, FALSE, (name + L"_upr_evt").c_str()));
    EXPECT_FALSE(gone.valid());
}

TEST_F(WinSingleInstance, HalfMadeFirstInstanceLeavesNothingBehind) {
    // Another object of another type holds the event's name: the event
    // cannot be created, so this launch runs as an ordinary instance, and
    // no block with zero fields is left for later launches to wait on.
    std::wstring name = moduleName();
    OwnedHandle squatter(CreateMutexW(nullptr, FALSE, (name + L"_upr_evt").c_str()));
    ASSERT_TRUE(squatter.valid());
    Launcher launcher;
    ASSERT_TRUE(readLauncherSettings(launcher));
    EXPECT_TRUE(setUpSingleInstance(launcher));
    EXPECT_FALSE(launcher.singleInstance);
    EXPECT_FALSE(launcher.isPrimaryInstance);
    EXPECT_EQ(launcher.instanceBlock, nullptr);
    EXPECT_EQ(launcher.instanceMapping, nullptr);
    EXPECT_EQ(launcher.instanceListener, nullptr);
    EXPECT_EQ(launcher.vmReadyEvent, nullptr);
    OwnedHandle mapping(OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str()));
    EXPECT_FALSE(mapping.valid());
}

}  // namespace
