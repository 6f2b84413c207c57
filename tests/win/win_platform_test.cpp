// The Windows side of the platform services, against the real system
// (under Wine in the test run).
#include "win_test_support.h"

#include "launcher/environment.h"
#include "launcher/launcher.h"
#include "runtime/pe_image.h"
#include "support/platform.h"

namespace {

const REGSAM kOwnView = sizeof(void*) == 4 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
const REGSAM kOtherView = sizeof(void*) == 4 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;

TEST(WinRegistry, EachViewListsItsOwnSubkeysInOrder) {
    const std::wstring base = L"Software\\LauncherTests\\Views";
    TestKey own(base, kOwnView);
    TestKey other(base, kOtherView);
    own.set(L"1.6.0_24", L"JavaHome", L"C:\\own\\16");
    own.set(L"1.7", L"JavaHome", L"C:\\own\\17");
    other.set(L"11.0.2", L"JavaHome", L"C:\\other\\11");

    List<WideString> ownNames = platform::registrySubkeys(W(L"Software\\LauncherTests\\Views\\"), false);
    List<WideString> otherNames = platform::registrySubkeys(W(L"Software\\LauncherTests\\Views\\"), true);
    ASSERT_EQ(ownNames.size(), 2u);
    EXPECT_EQ(S(ownNames[0]), L"1.6.0_24");
    EXPECT_EQ(S(ownNames[1]), L"1.7");
    ASSERT_EQ(otherNames.size(), 1u);
    EXPECT_EQ(S(otherNames[0]), L"11.0.2");

    WideString home;
    EXPECT_TRUE(platform::registryText(W(L"Software\\LauncherTests\\Views\\1.7"), W(L"JavaHome"), false, home));
    EXPECT_EQ(S(home), L"C:\\own\\17");
    EXPECT_FALSE(platform::registryText(W(L"Software\\LauncherTests\\Views\\1.7"), W(L"JavaHome"), true, home));
    EXPECT_FALSE(platform::registryText(W(L"Software\\LauncherTests\\Views\\1.7"), W(L"Missing"), false, home));
    EXPECT_TRUE(platform::registrySubkeys(W(L"Software\\LauncherTests\\Absent\\"), false).empty());
}

TEST(WinRegistry, LongValuesAreReadWhole) {
    TestKey key(L"Software\\LauncherTests\\Long", kOwnView);
    std::wstring longHome = L"C:\\" + std::wstring(2000, L'j') + L"\\jre";
    key.set(L"1.8", L"JavaHome", longHome);
    WideString home;
    ASSERT_TRUE(platform::registryText(W(L"Software\\LauncherTests\\Long\\1.8"), W(L"JavaHome"), false, home));
    EXPECT_EQ(S(home), longHome);
}

TEST(WinRegistry, TextEndsAtItsFirstNul) {
    const std::wstring base = L"Software\\LauncherTests\\Multi";
    TestKey key(base, kOwnView);
    key.set(L"1.8", L"", L"");
    HKEY opened;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (base + L"\\1.8").c_str(), 0, KEY_ALL_ACCESS | kOwnView, &opened),
              ERROR_SUCCESS);
    const wchar_t multi[] = L"C:\\first\0C:\\second\0";
    RegSetValueExW(opened, L"JavaHome", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), sizeof multi);
    RegCloseKey(opened);
    WideString home;
    ASSERT_TRUE(platform::registryText(W(L"Software\\LauncherTests\\Multi\\1.8"), W(L"JavaHome"), false, home));
    EXPECT_EQ(S(home), L"C:\\first");
}

TEST(WinFiles, DirectorySearchFindsFilesAndWildcards) {
    TempFolder folder;
    folder.write(L"lib\\a.jar", "a");
    folder.write(L"lib\\b.jar", "b");
    folder.write(L"lib\\c.txt", "c");
    EXPECT_TRUE(platform::fileExists(folder.wpath() + u"lib\\a.jar"));
    EXPECT_TRUE(platform::fileExists(folder.wpath() + u"lib"));
    EXPECT_FALSE(platform::fileExists(folder.wpath() + u"lib\\z.jar"));
    List<WideString> names = platform::findFiles(folder.wpath() + u"lib\\*.jar");
    ASSERT_EQ(names.size(), 2u);
    EXPECT_TRUE((S(names[0]) == L"a.jar" && S(names[1]) == L"b.jar") ||
                (S(names[0]) == L"b.jar" && S(names[1]) == L"a.jar"));
    EXPECT_TRUE(platform::findFiles(folder.wpath() + u"nothing\\*.jar").empty());
}

TEST(WinFiles, MappingReadsImagesAndRefusesEmptyFiles) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    platform::ReadOnlyMapping image(W(self));
    ASSERT_TRUE(image.isOpen());
    uint16_t machine = 0;
    ASSERT_TRUE(imageMachine(image.data(), image.size(), machine));
    EXPECT_EQ(machine, sizeof(void*) == 4 ? kMachineI386 : kMachineAmd64);

    TempFolder folder;
    platform::ReadOnlyMapping empty(W(folder.write(L"empty.dll", "").c_str()));
    EXPECT_FALSE(empty.isOpen());
    platform::ReadOnlyMapping missing(folder.wpath() + u"missing.dll");
    EXPECT_FALSE(missing.isOpen());
}

TEST(WinFiles, FullPathOfARelativePath) {
    TempFolder folder;
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.path().c_str()));
    WideString full;
    EXPECT_TRUE(platform::fullPath(W(L"rt\\bin\\client\\jvm.dll"), full));
    EXPECT_EQ(S(full), folder.path() + L"rt\\bin\\client\\jvm.dll");
    EXPECT_TRUE(platform::fullPath(W(L"C:\\x\\..\\y\\jvm.dll"), full));
    EXPECT_EQ(S(full), L"C:\\y\\jvm.dll");
    SetCurrentDirectoryW(previous);
}

// Single instance and the output streams compare files by identity: every
// spelling of one file is that file, and a copy is another.
TEST(WinFiles, SameFileAcrossSpellings) {
    TempFolder folder;
    std::wstring app = folder.write(L"Long Folder Name\\Application.exe", "MZ");
    std::wstring copy = folder.write(L"Long Folder Name\\Copy.exe", "MZ");
    wchar_t shortName[MAX_PATH];
    ASSERT_GT(GetShortPathNameW(app.c_str(), shortName, MAX_PATH), 0u);
    const struct {
        std::wstring spelling;
        bool same;
    } cases[] = {
        {shortName, true},
        {L"\\\\?\\" + app, true},
        {folder.path() + L"LONG FOLDER NAME\\.\\APPLICATION.EXE", true},
        {copy, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::sameFile(fromWide(app.c_str()), fromWide(c.spelling.c_str())), c.same) << std::string(c.spelling.begin(), c.spelling.end());
}

TEST(WinFiles, AppendingWritesWholeLinesAtTheEnd) {
    TempFolder folder;
    WideString path = folder.wpath() + u"trace.txt";
    // A second handle open for writing at the start must not move the appends.
    EXPECT_TRUE(platform::appendToFile(path, NarrowString("one\r\n")));
    HANDLE other = CreateFileW(wide(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(platform::appendToFile(path, NarrowString("two\r\n")));
    CloseHandle(other);
    platform::ReadOnlyMapping text(path);
    ASSERT_TRUE(text.isOpen());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(text.data()), text.size()), "one\r\ntwo\r\n");
    EXPECT_FALSE(platform::appendToFile(folder.wpath() + u"missing\\trace.txt", NarrowString("x")));
}

TEST(WinProcess, TimeStampAndProcessId) {
    NarrowString stamp = platform::localTimeStamp();
    ASSERT_EQ(stamp.size(), 23u) << stamp.c_str();
    SYSTEMTIME now;
    GetLocalTime(&now);
    EXPECT_EQ(std::stoi(std::string(stamp.substr(0, 4))), now.wYear);
    EXPECT_EQ(std::string(stamp.substr(4, 1) + stamp.substr(7, 1) + stamp.substr(10, 1) + stamp.substr(13, 1) +
                          stamp.substr(16, 1) + stamp.substr(19, 1)),
              "-- ::.");
    EXPECT_EQ(platform::processId(), GetCurrentProcessId());
}

TEST(WinEnvironment, ExpansionLeavesUnknownNamesAndReadsAnyLength) {
    std::wstring longValue(5000, L'v');
    SetEnvironmentVariableW(L"LAUNCHER_TEST_LONG", longValue.c_str());
    SetEnvironmentVariableW(L"LAUNCHER_TEST_SHORT", L"short");
    WideString text = W(L"%LAUNCHER_TEST_SHORT%\\%LAUNCHER_TEST_UNDEFINED%\\%LAUNCHER_TEST_LONG%");
    expandEnvironment(text);
    EXPECT_EQ(S(text), L"short\\%LAUNCHER_TEST_UNDEFINED%\\" + longValue);

    WideString value;
    EXPECT_TRUE(platform::readEnvironment(W(L"LAUNCHER_TEST_LONG"), value));
    EXPECT_EQ(value.size(), 5000u);
    EXPECT_FALSE(platform::readEnvironment(W(L"LAUNCHER_TEST_UNDEFINED"), value));
}

TEST(WinEnvironment, PreparedPathAndLibraryPath) {
    SetEnvironmentVariableW(L"Path", L"C:\\windows\\system32;C:\\windows");
    Launcher launcher;
    launcher.jvmLibraryPath = W(L"C:\\Java\\jre\\bin\\client\\jvm.dll");
    launcher.systemPath = W(L"C:\\Tools");
    launcher.libraryPath = W(L"C:\\native");
    prepareEnvironment(launcher);

    WideString value;
    platform::readEnvironment(W(L"VEDA_JVM_PATH"), value);
    EXPECT_EQ(S(value), L"C:\\Java\\jre\\bin\\client\\jvm.dll");
    platform::readEnvironment(W(L"VEDA_JVM_HOME"), value);
    EXPECT_EQ(S(value), L"C:\\Java\\jre");
    platform::readEnvironment(W(L"Path"), value);
    EXPECT_EQ(S(value), L"C:\\Tools;C:\\windows\\system32;C:\\windows;C:\\Java\\jre\\bin");

    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder(self);
    folder = folder.substr(0, folder.rfind(L'\\') + 1);
    ASSERT_EQ(launcher.vmOptions.size(), 1u);
    std::string expected = "-Djava.library.path=C:\\native;" + std::string(folder.begin(), folder.end()) +
                           ";.;C:\\windows\\system32;C:\\windows;C:\\Java\\jre\\lib";
    EXPECT_EQ(std::string(launcher.vmOptions[0].c_str()), expected);
}

uint32_t measureStack(void* result) {
    MEMORY_BASIC_INFORMATION info;
    VirtualQuery(&info, &info, sizeof info);
    NT_TIB* tib = reinterpret_cast<NT_TIB*>(NtCurrentTeb());
    *static_cast<size_t*>(result) =
        static_cast<char*>(tib->StackBase) - static_cast<char*>(info.AllocationBase);
    return 7;
}

TEST(WinThreads, StackSizeIsTheWholeReservation) {
    // The system rounds small reservations up (Wine to 1 MiB), so the exact
    // sizes are checked above that.
    for (uint32_t size : {3u * 1024 * 1024, 5u * 1024 * 1024 + 65536}) {
        size_t reserved = 0;
        uint32_t result = 0;
        ASSERT_TRUE(platform::runOnThread(size, measureStack, &reserved, result));
        EXPECT_EQ(result, 7u);
        EXPECT_EQ(reserved, size);
    }
    size_t reserved = 0;
    uint32_t result = 0;
    ASSERT_TRUE(platform::runOnThread(524288, measureStack, &reserved, result));
    EXPECT_GE(reserved, 524288u);
}

DWORD WINAPI lateMessageLoop(void* started) {
    // The queue comes into being only after a while: quit messages posted
    // before that are lost and must be posted again.
    Sleep(200);
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    SetEvent(started);
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return 5;
}

TEST(WinThreads, StoppingAMessageLoopThread) {
    for (bool waitForQueue : {false, true}) {
        HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        DWORD id = 0;
        HANDLE thread = CreateThread(nullptr, 0, lateMessageLoop, started, 0, &id);
        ASSERT_NE(thread, nullptr);
        if (waitForQueue) WaitForSingleObject(started, INFINITE);
        ULONGLONG before = GetTickCount64();
        platform::stopThread(thread, id);
        DWORD code = 0;
        GetExitCodeThread(thread, &code);
        EXPECT_EQ(code, 5u) << waitForQueue;
        EXPECT_LT(GetTickCount64() - before, 5000u);
        CloseHandle(thread);
        CloseHandle(started);
    }
}

TEST(WinMessages, TableTextsComeFromTheResources) {
    EXPECT_EQ(S(platform::messageText(MsgWindowsException)), L"Windows exception: %s (errno = %d).\n");
    EXPECT_EQ(S(platform::messageText(MsgJreNotFoundServer)),
              L"The Java Runtime Environment (JRE) was not found. Please  download and install a JRE with a "
              L"server JVM (%s) from:");
    EXPECT_EQ(S(platform::messageText(MsgReasonArguments)), L"invalid arguments");
    EXPECT_TRUE(platform::messageText(static_cast<MessageId>(201)).empty());
    EXPECT_TRUE(platform::messageText(static_cast<MessageId>(231)).empty());
}

TEST(WinText, AnsiConversionRoundTrips) {
    WideString text = W(L"-Dname=plain ascii");
    NarrowString narrow = platform::toAnsi(text);
    EXPECT_EQ(std::string(narrow.c_str()), "-Dname=plain ascii");
    EXPECT_EQ(S(platform::fromAnsi(narrow.data(), narrow.size())), L"-Dname=plain ascii");
    EXPECT_TRUE(platform::toAnsi(WideString()).empty());
}

}  // namespace
