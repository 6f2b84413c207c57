// Windows implementations of the launcher's platform services.
#include <string.h>
#include <windows.h>

#include <aclapi.h>

#include "support/platform.h"
#include "support/trace.h"
#include "support/system_library_win32.h"
#include "support/win32.h"

void fatalStop() { TerminateProcess(GetCurrentProcess(), 3); for (;;) Sleep(INFINITE); }

namespace platform {

uint32_t lastError() { return GetLastError(); }

bool modulePath(WideString& path) {
    List<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD size = static_cast<DWORD>(buffer.size());
        DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
        if (length == 0) return false;
        // A cut name fills the whole buffer; grow until the path fits.
        if (length < size) {
            path = fromWide(buffer.data(), length);
            return true;
        }
        buffer.assign(buffer.size() * 2, 0);
    }
}

WideString commandLine() { return fromWide(GetCommandLineW()); }

bool setCurrentDirectory(const WideString& path) { return SetCurrentDirectoryW(wide(path)) != 0; }

bool currentDirectory(WideString& path) {
    DWORD size = GetCurrentDirectoryW(0, nullptr);
    if (size == 0) return false;
    List<wchar_t> buffer(size + 1, 0);
    DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0 || length >= buffer.size()) return false;
    path = fromWide(buffer.data(), length);
    return true;
}

bool readEnvironment(const WideString& name, WideString& value) {
    List<wchar_t> buffer(MAX_PATH);
    for (;;) {
        SetLastError(0);
        DWORD length = GetEnvironmentVariableW(wide(name), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            value.clear();
            return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
        }
        if (length < buffer.size()) {
            value = fromWide(buffer.data(), length);
            return true;
        }
        buffer.assign(length + 1, 0);
    }
}

void writeEnvironment(const WideString& name, const WideString& value) {
    SetEnvironmentVariableW(wide(name), wide(value));
}

void removeEnvironment(const WideString& name) { SetEnvironmentVariableW(wide(name), nullptr); }

bool expandEnvironment(const WideString& text, WideString& expanded) {
    DWORD size = ExpandEnvironmentStringsW(wide(text), nullptr, 0);
    if (size == 0) return false;
    List<wchar_t> buffer(size + 1);
    DWORD written = ExpandEnvironmentStringsW(wide(text), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (written == 0 || written > buffer.size()) return false;
    expanded = fromWide(buffer.data());
    return true;
}

bool isNtFamily() {
    OSVERSIONINFOEXW extended;
    ZeroMemory(&extended, sizeof extended);
    extended.dwOSVersionInfoSize = sizeof extended;
    if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&extended))) return extended.dwPlatformId == 2;
    OSVERSIONINFOW plain;
    ZeroMemory(&plain, sizeof plain);
    plain.dwOSVersionInfoSize = sizeof plain;
    return GetVersionExW(&plain) && plain.dwPlatformId == 2;
}

const char16_t kPathSeparator = u'\\';
const char16_t kListSeparator = u';';
const char16_t* const kSearchPathVariable = u"Path";
const bool kSettingsNameAppended = false;
const bool kWindowsKeysIgnored = false;
const bool kFailedRedirectionDescribed = true;
const bool kPerUserCopyInOwnFolder = false;
const bool kRelativeEntriesInFolder = false;
const char16_t* const kLibrarySearchVariable = nullptr;
const bool kSearchPathExtendedOnlyWhenSet = false;
const bool kSplashAfterVmLibrary = false;
const bool kOwnSplashWindow = true;

WideString perUserSettingsFolder() {
    WideString folder;
    readEnvironment(u"APPDATA", folder);
    return folder;
}

WideString perUserCacheFolder() {
    WideString folder;
    readEnvironment(u"LOCALAPPDATA", folder);
    return folder;
}

bool fileFacts(const WideString& path, FileFacts& facts) {
    facts = FileFacts();
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(wide(path), GetFileExInfoStandard, &data)) return false;
    facts.exists = true;
    facts.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    facts.size = facts.directory ? 0 : (static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow);
    facts.modified = static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
    if (facts.directory) {
        facts.emptyDirectory = true;
        for (const WideString& name : findFiles(path + u"\\*"))
            if (name != u"." && name != u"..") facts.emptyDirectory = false;
    }
    return true;
}

// The change time, which unlike the write time no copy carries over;
// before Vista there is none to ask for, and the write time serves.
uint64_t changeStamp(const WideString& path) {
    using Query = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
    Query query = systemFunction<Query>(L"kernel32.dll", "GetFileInformationByHandleEx");
    FileFacts facts;
    if (!query) return fileFacts(path, facts) ? facts.modified : 0;
    OwnedHandle file(CreateFileW(wide(path), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FILE_BASIC_INFO info;
    if (!file.valid() || !query(file.get(), FileBasicInfo, &info, sizeof info)) return 0;
    return static_cast<uint64_t>(info.ChangeTime.QuadPart);
}

bool replaceFile(const WideString& from, const WideString& to) {
    return MoveFileExW(wide(from), wide(to), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool writableFolder(const WideString& path) {
    WideString probe = path + u"\\" + decimalUnsigned(GetCurrentProcessId()) + u".probe";
    OwnedHandle file(CreateFileW(wide(probe), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return file.valid();
}

uint32_t createPrivateDirectory(const WideString& path) {
    // The per-user folder's access list, inherited, admits this user, the
    // system and the administrators only; ownership() verifies it.
    return CreateDirectoryW(wide(path), nullptr) ? 0 : GetLastError();
}

namespace {
// The security calls, looked up: systems before NT have none.
struct Security {
    using NamedInfo = DWORD(WINAPI*)(LPCWSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*, PSID*, PACL*, PACL*,
                                     PSECURITY_DESCRIPTOR*);
    using OpenToken = BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE);
    using TokenInfo = BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
    using Equal = BOOL(WINAPI*)(PSID, PSID);
    using WellKnown = BOOL(WINAPI*)(PSID, WELL_KNOWN_SID_TYPE);
    using Ace = BOOL(WINAPI*)(PACL, DWORD, LPVOID*);
    NamedInfo namedInfo = systemFunction<NamedInfo>(L"advapi32.dll", "GetNamedSecurityInfoW");
    OpenToken openToken = systemFunction<OpenToken>(L"advapi32.dll", "OpenProcessToken");
    TokenInfo tokenInfo = systemFunction<TokenInfo>(L"advapi32.dll", "GetTokenInformation");
    Equal equal = systemFunction<Equal>(L"advapi32.dll", "EqualSid");
    WellKnown wellKnown = systemFunction<WellKnown>(L"advapi32.dll", "IsWellKnownSid");
    Ace ace = systemFunction<Ace>(L"advapi32.dll", "GetAce");
    bool present() const { return namedInfo && openToken && tokenInfo && equal && wellKnown && ace; }
};

struct OwnedLocal {
    HLOCAL memory = nullptr;
    ~OwnedLocal() {
        if (memory) LocalFree(memory);
    }
};

// This user, the system or the administrators: who may own and write the
// cache's folder.
bool trusted(const Security& api, PSID sid, PSID user) {
    return api.equal(sid, user) || api.wellKnown(sid, WinLocalSystemSid) || api.wellKnown(sid, WinBuiltinAdministratorsSid) ||
           api.wellKnown(sid, WinCreatorOwnerSid);
}

// Whether a folder is owned by a trusted account and nobody else may write to it.
bool privateFolder(const WideString& path) {
    Security api;
    if (!api.present()) return true;  // no security on this system: nothing to compare
    HANDLE tokenHandle = nullptr;
    if (!api.openToken(GetCurrentProcess(), TOKEN_QUERY, &tokenHandle)) return false;
    OwnedHandle token(tokenHandle);
    union {
        TOKEN_USER user;
        BYTE bytes[256];
    } buffer;
    DWORD size = 0;
    if (!api.tokenInfo(token.get(), TokenUser, &buffer, sizeof buffer, &size)) return false;
    PSID owner = nullptr;
    PACL access = nullptr;
    OwnedLocal descriptor;
    if (api.namedInfo(wide(path), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                      nullptr, &access, nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(&descriptor.memory)) != 0)
        return false;
    // No access list at all lets everybody in.
    if (!owner || !access || !trusted(api, owner, buffer.user.User.Sid)) return false;
    const DWORD kWriting = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD |
                           DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
    for (DWORD i = 0; i < access->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* entry = nullptr;
        if (!api.ace(access, i, reinterpret_cast<LPVOID*>(&entry))) return false;
        if (entry->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || (entry->Header.AceFlags & INHERIT_ONLY_ACE)) continue;
        if ((entry->Mask & kWriting) && !trusted(api, reinterpret_cast<PSID>(&entry->SidStart), buffer.user.User.Sid))
            return false;
    }
    return true;
}
}  // namespace

Ownership ownership(const WideString& path, bool folder) {
    DWORD attributes = GetFileAttributesW(wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Ownership::Missing : Ownership::Other;
    }
    if ((attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) ||
        ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != folder)
        return Ownership::Other;
    // Files inherit the verified folder's access list.
    return !folder || privateFolder(path) ? Ownership::Own : Ownership::Other;
}

bool freeSpace(const WideString& folder, uint64_t& bytes) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(wide(folder + u"\\"), &available, nullptr, nullptr)) return false;
    bytes = available.QuadPart;
    return true;
}

// One argument as the C runtime's command-line parser reads it back.
static WideString quotedArgument(const WideString& argument) {
    if (!argument.empty() && argument.find(u' ') == WideString::npos && argument.find(u'\t') == WideString::npos &&
        argument.find(u'"') == WideString::npos)
        return argument;
    WideString quoted = u"\"";
    size_t backslashes = 0;
    for (size_t i = 0; i < argument.size(); ++i) {
        char16_t c = argument[i];
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        for (size_t b = 0; b < (c == u'"' ? 2 * backslashes + 1 : backslashes); ++b) quoted += u'\\';
        backslashes = 0;
        quoted += c;
    }
    for (size_t b = 0; b < 2 * backslashes; ++b) quoted += u'\\';
    return quoted + u"\"";
}

static bool startProcess(const WideString& program, const List<WideString>& arguments, DWORD flags,
                         OwnedHandle& process) {
    WideString line = quotedArgument(program);
    for (const WideString& argument : arguments) line += u" " + quotedArgument(argument);
    List<wchar_t> writable(line.size() + 1, 0);
    for (size_t i = 0; i < line.size(); ++i) writable[i] = static_cast<wchar_t>(line[i]);
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION information;
    if (!CreateProcessW(wide(program), writable.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup,
                        &information))
        return false;
    CloseHandle(information.hThread);
    process.reset(information.hProcess);
    return true;
}

bool startDetachedSelf(const WideString& variable, const WideString& value) {
    WideString self;
    if (!modulePath(self)) return false;
    // The child takes this process's environment; this process is ending.
    writeEnvironment(variable, value);
    OwnedHandle process;
    bool started = startProcess(self, List<WideString>(), DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP | IDLE_PRIORITY_CLASS,
                                process);
    SetEnvironmentVariableW(wide(variable), nullptr);
    return started;
}

bool runSilently(const WideString& program, const List<WideString>& arguments, uint32_t& exitCode) {
    OwnedHandle process;
    // A console program without a window; the priority is this process's own.
    if (!startProcess(program, arguments, CREATE_NO_WINDOW, process)) return false;
    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 1;
    if (!GetExitCodeProcess(process.get(), &code)) return false;
    exitCode = code;
    return true;
}

WideString lastErrorText() { return WideString(); }

// The launcher splits its command line itself, by the rules of its settings.
bool argumentVector(List<WideString>&) { return false; }

bool resolveLinks(const WideString& path, WideString& resolved) { return fullPath(path, resolved) && fileExists(resolved); }

bool fullPath(const WideString& path, WideString& full) {
    DWORD size = GetFullPathNameW(wide(path), 0, nullptr, nullptr);
    if (size == 0) return false;
    List<wchar_t> buffer(size + 1, 0);
    DWORD length = GetFullPathNameW(wide(path), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0 || length >= buffer.size()) return false;
    full = fromWide(buffer.data(), length);
    return true;
}

bool fileExists(const WideString& path) {
    WIN32_FIND_DATAW data;
    OwnedFind find(FindFirstFileW(wide(path), &data));
    return find.valid();
}

// A file's identity: its volume and its number there. The 128-bit number
// where the system has it (ReFS, Dev Drives included, does not keep the
// 64-bit one unique), else the 64-bit one. The file is opened without
// access rights, so that no other open's sharing mode is in the way.
struct FileIdentity {
    uint64_t volume = 0;
    uint8_t id[16] = {};
};

static bool fileIdentity(const WideString& path, FileIdentity& identity) {
    OwnedHandle file(CreateFileW(wide(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    struct FileIdInfo {  // FILE_ID_INFO
        ULONGLONG volume;
        BYTE id[16];
    } info128;
    const int kFileIdInfo = 18;  // FileIdInfo, Windows 8 and later
    typedef BOOL(WINAPI * InformationFunction)(HANDLE, int, LPVOID, DWORD);
    InformationFunction information =
        systemFunction<InformationFunction>(L"kernel32.dll", "GetFileInformationByHandleEx");
    if (information && information(file.get(), kFileIdInfo, &info128, sizeof info128)) {
        identity.volume = info128.volume;
        memcpy(identity.id, info128.id, sizeof identity.id);
        return true;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file.get(), &info)) return false;
    identity.volume = info.dwVolumeSerialNumber;
    uint64_t index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    memcpy(identity.id, &index, sizeof index);
    return true;
}

bool sameFile(const WideString& a, const WideString& b) {
    FileIdentity first, second;
    return fileIdentity(a, first) && fileIdentity(b, second) && first.volume == second.volume &&
           memcmp(first.id, second.id, sizeof first.id) == 0;
}

List<WideString> findFiles(const WideString& pattern) {
    List<WideString> names;
    WIN32_FIND_DATAW data;
    OwnedFind find(FindFirstFileW(wide(pattern), &data));
    if (!find.valid()) return names;
    do names.push_back(fromWide(data.cFileName));
    while (FindNextFileW(find.get(), &data));
    return names;
}

uint32_t createDirectory(const WideString& path) {
    return CreateDirectoryW(wide(path), nullptr) ? 0 : GetLastError();
}

bool removeDirectory(const WideString& path) { return RemoveDirectoryW(wide(path)) != 0; }

bool deleteFile(const WideString& path) { return DeleteFileW(wide(path)) != 0; }

ReadOnlyMapping::ReadOnlyMapping(const WideString& path) {
    OwnedHandle file(CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return;
    LARGE_INTEGER size;
    // An empty file cannot be mapped; nothing to read in it anyway.
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart == 0 ||
        static_cast<unsigned long long>(size.QuadPart) > static_cast<size_t>(-1))
        return;
    OwnedHandle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping.valid()) return;
    const void* view = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
    if (!view) return;
    data_ = static_cast<const uint8_t*>(view);
    size_ = static_cast<size_t>(size.QuadPart);
    file_ = file.release();
    mapping_ = mapping.release();
    opened_ = true;
}

ReadOnlyMapping::~ReadOnlyMapping() {
    if (data_) UnmapViewOfFile(data_);
    if (mapping_) CloseHandle(mapping_);
    if (file_) CloseHandle(file_);
}

// A lock on a byte far beyond the end: the file's contents stay readable
// to others, and without delete sharing nobody removes it meanwhile.
static const DWORD kLockOffsetHigh = 0x40000000;

bool ExclusiveFile::take(const WideString& path) {
    release();
    HANDLE file = CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    handle_ = reinterpret_cast<intptr_t>(file);
    held_ = LockFile(file, 0, kLockOffsetHigh, 1, 0) != 0;
    return held_;
}

void ExclusiveFile::release() {
    if (handle_ == -1) return;
    if (held_) UnlockFile(reinterpret_cast<HANDLE>(handle_), 0, kLockOffsetHigh, 1, 0);
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
    held_ = false;
}

uint32_t readProfileString(const WideString& path, const WideString& section, const WideString& key,
                           char16_t* buffer, uint32_t size) {
    return GetPrivateProfileStringW(wide(section), wide(key), L"", reinterpret_cast<wchar_t*>(buffer), size,
                                    wide(path));
}

uint32_t readProfileSectionNames(const WideString& path, char16_t* buffer, uint32_t size) {
    return GetPrivateProfileSectionNamesW(reinterpret_cast<wchar_t*>(buffer), size, wide(path));
}

bool writeProfileString(const WideString& path, const WideString& section, const WideString& key,
                        const WideString& value) {
    return WritePrivateProfileStringW(wide(section), wide(key), wide(value), wide(path)) != 0;
}

bool removeProfileString(const WideString& path, const WideString& section, const WideString& key) {
    return WritePrivateProfileStringW(wide(section), wide(key), nullptr, wide(path)) != 0;
}

bool createUnicodeFile(const WideString& path) {
    OwnedHandle file(CreateFileW(wide(path), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    static const BYTE kByteOrderMark[] = {0xFF, 0xFE};
    DWORD written = 0;
    return WriteFile(file.get(), kByteOrderMark, sizeof kByteOrderMark, &written, nullptr) &&
           written == sizeof kByteOrderMark;
}

bool builtInSettingsBytes(NarrowString& bytes) {
    HRSRC resource = FindResourceW(nullptr, L"SETTINGS", MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (!resource) return false;
    HGLOBAL loaded = LoadResource(nullptr, resource);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) return false;
    bytes.assign(static_cast<const char*>(data), SizeofResource(nullptr, resource));
    return true;
}

static REGSAM viewFlag(bool otherView) {
    if (!otherView) return 0;
    return sizeof(void*) == 4 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

List<WideString> registrySubkeys(const WideString& key, bool otherView) {
    List<WideString> names;
    OwnedKey opened;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(key), 0, KEY_READ | viewFlag(otherView), opened.out()) !=
        ERROR_SUCCESS)
        return names;
    wchar_t name[256];  // registry key names hold at most 255 characters
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (RegEnumKeyExW(opened.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.push_back(fromWide(name, length));
    }
    return names;
}

bool registryText(const WideString& key, const WideString& valueName, bool otherView, WideString& text) {
    OwnedKey opened;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(key), 0, KEY_READ | viewFlag(otherView), opened.out()) !=
        ERROR_SUCCESS)
        return false;
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD bytes = 0;
        if (RegQueryValueExW(opened.get(), wide(valueName), nullptr, nullptr, nullptr, &bytes) != ERROR_SUCCESS)
            return false;
        // Room for a terminator the stored data may lack; values of any length are read whole.
        List<wchar_t> buffer(bytes / sizeof(wchar_t) + 2, 0);
        DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        LONG status = RegQueryValueExW(opened.get(), wide(valueName), nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(buffer.data()), &size);
        if (status == ERROR_MORE_DATA) continue;  // grew between the two calls
        if (status != ERROR_SUCCESS) return false;
        // The text ends at its first NUL (a multi-string keeps its first item).
        size_t stored = size / sizeof(wchar_t);
        size_t length = 0;
        while (length < stored && buffer[length] != 0) ++length;
        text = fromWide(buffer.data(), length);
        return true;
    }
    return false;
}

// The folder part of a path, with its separator; empty without one.
static WideString folderOf(const WideString& path) {
    for (size_t i = path.size(); i > 0; --i)
        if (path[i - 1] == u'\\' || path[i - 1] == u'/') return path.left(i);
    return WideString();
}

// The C runtime libraries that runtimes keep in their bin folder, in the
// order they import each other.
static const wchar_t* const kRuntimeCLibraries[] = {L"msvcr71.dll",      L"msvcr100.dll",       L"msvcr120.dll",
                                                    L"vcruntime140.dll", L"vcruntime140_1.dll", L"msvcp140.dll"};

// A runtime's libraries import its C runtime library, which lies in the
// runtime's bin folder (beside java.dll and the splash library, above
// server\jvm.dll) where the system's search does not look, while it does
// look in the current directory, which may be a document's folder. So the
// C runtime is loaded from bin by its full path first, and while the
// library and its imports load, bin takes the current directory's place in
// the search (and only then: the program's own loads and its child
// processes search as before).
void* loadLibrary(const WideString& path) {
    WideString bin = folderOf(path);
    if (!bin.empty() && !fileExists(bin + u"java.dll")) {
        WideString parent = folderOf(bin.left(bin.size() - 1));
        if (!parent.empty()) bin = parent;
    }
    for (const wchar_t* name : kRuntimeCLibraries) {
        WideString candidate = bin + fromWide(name);
        if (!bin.empty() && fileExists(candidate)) LoadLibraryW(wide(candidate));
    }
    typedef BOOL(WINAPI * SetDllDirectoryFunction)(LPCWSTR);
    SetDllDirectoryFunction setDllDirectory =
        systemFunction<SetDllDirectoryFunction>(L"kernel32.dll", "SetDllDirectoryW");
    bool narrowed = setDllDirectory && setDllDirectory(bin.empty() ? L"" : wide(bin));
    HMODULE library = LoadLibraryW(wide(path));
    if (narrowed) setDllDirectory(nullptr);
    return library;
}

void* librarySymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

namespace {
struct ThreadStart {
    uint32_t (*body)(void*);
    void* argument;
};

DWORD WINAPI threadStart(void* parameter) {
    ThreadStart* start = static_cast<ThreadStart*>(parameter);
    return start->body(start->argument);
}
}  // namespace

bool runOnThread(uint32_t stackSize, uint32_t (*body)(void*), void* argument, uint32_t& result) {
    ThreadStart start{body, argument};
    DWORD id;
    // A reservation, so that the size sets the thread's whole stack.
    OwnedHandle thread(CreateThread(nullptr, stackSize, threadStart, &start, STACK_SIZE_PARAM_IS_A_RESERVATION, &id));
    if (!thread.valid()) return false;
    WaitForSingleObject(thread.get(), INFINITE);
    DWORD code = 1;
    GetExitCodeThread(thread.get(), &code);
    result = code;
    return true;
}

void exitNow(int32_t code) {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    for (;;) Sleep(INFINITE);
}

void sleepForever() {
    for (;;) Sleep(INFINITE);
}

void closeHandle(void* handle) { CloseHandle(handle); }

void signalEvent(void* event) { SetEvent(event); }

void stopThread(void* thread, uint32_t threadId) {
    // Posting fails while the thread has no message queue yet; once a quit
    // message is posted, waiting on the handle is enough.
    while (!PostThreadMessageW(threadId, WM_QUIT, 0, 0))
        if (WaitForSingleObject(thread, 10) != WAIT_TIMEOUT) return;
    WaitForSingleObject(thread, INFINITE);
}

bool appendToFile(const WideString& path, const NarrowString& bytes) {
    // FILE_APPEND_DATA alone: every write lands at the file's end, even
    // when other processes append to it at the same time.
    OwnedHandle file(CreateFileW(wide(path), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    DWORD written = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

static void putDigits(NarrowString& text, unsigned value, int digits) {
    char buffer[8];
    for (int i = digits - 1; i >= 0; --i, value /= 10) buffer[i] = static_cast<char>('0' + value % 10);
    text.append(buffer, static_cast<size_t>(digits));
}

NarrowString localTimeStamp() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    NarrowString text;
    putDigits(text, now.wYear, 4);
    text += '-';
    putDigits(text, now.wMonth, 2);
    text += '-';
    putDigits(text, now.wDay, 2);
    text += ' ';
    putDigits(text, now.wHour, 2);
    text += ':';
    putDigits(text, now.wMinute, 2);
    text += ':';
    putDigits(text, now.wSecond, 2);
    text += '.';
    putDigits(text, now.wMilliseconds, 3);
    return text;
}

void sleepMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

uint32_t processId() { return GetCurrentProcessId(); }

bool processRunning(uint32_t id) {
    OwnedHandle process(OpenProcess(SYNCHRONIZE, FALSE, id));
    // Another user's process cannot be opened, yet runs.
    if (!process.valid()) return GetLastError() == ERROR_ACCESS_DENIED;
    return WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

static MEMORYSTATUSEX memoryStatus() {
    MEMORYSTATUSEX status;
    ZeroMemory(&status, sizeof status);
    status.dwLength = sizeof status;
    GlobalMemoryStatusEx(&status);
    return status;
}

uint64_t totalPhysicalMemory() { return memoryStatus().ullTotalPhys; }

uint64_t availableVirtualMemory() { return memoryStatus().ullAvailVirtual; }

NarrowString toAnsi(const WideString& text) {
    if (text.empty()) return NarrowString();
    int length = WideCharToMultiByte(CP_THREAD_ACP, 0, wide(text), static_cast<int>(text.size()), nullptr, 0,
                                     nullptr, nullptr);
    NarrowString result(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_THREAD_ACP, 0, wide(text), static_cast<int>(text.size()), &result[0], length, nullptr,
                        nullptr);
    return result;
}

WideString fromAnsi(const char* text, size_t length) {
    if (length == 0) return WideString();
    int units = MultiByteToWideChar(CP_THREAD_ACP, 0, text, static_cast<int>(length), nullptr, 0);
    List<wchar_t> buffer(static_cast<size_t>(units) + 1, 0);
    MultiByteToWideChar(CP_THREAD_ACP, 0, text, static_cast<int>(length), buffer.data(), units);
    return fromWide(buffer.data(), static_cast<size_t>(units));
}

bool toAnsiExact(const WideString& text, NarrowString& result) {
    result.clear();
    if (text.empty()) return true;
    // No best-fit mapping: a character shown as a look-alike would name
    // another file.
    BOOL usedDefault = FALSE;
    int length = WideCharToMultiByte(CP_THREAD_ACP, WC_NO_BEST_FIT_CHARS, wide(text), static_cast<int>(text.size()),
                                     nullptr, 0, nullptr, &usedDefault);
    if (length <= 0) {
        // UTF-8 as the code page takes neither the flag nor the question:
        // it spells every character.
        if (GetLastError() != ERROR_INVALID_PARAMETER && GetLastError() != ERROR_INVALID_FLAGS) return false;
        result = toAnsi(text);
        return !result.empty();
    }
    result.assign(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_THREAD_ACP, WC_NO_BEST_FIT_CHARS, wide(text), static_cast<int>(text.size()), &result[0],
                        length, nullptr, &usedDefault);
    return !usedDefault;
}

bool shortPath(const WideString& path, WideString& result) {
    DWORD size = GetShortPathNameW(wide(path), nullptr, 0);
    if (size == 0) return false;
    List<wchar_t> buffer(size + 1, 0);
    DWORD length = GetShortPathNameW(wide(path), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) return false;
    result = fromWide(buffer.data(), length);
    return true;
}

WideString messageText(MessageId id) {
    const wchar_t* text = nullptr;
    // With no buffer size the call hands out the resource itself, of any length.
    int length = LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(id), reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || !text) return WideString();
    return fromWide(text, static_cast<size_t>(length));
}

}  // namespace platform

namespace platform {

void settleDpiAwareness(bool perMonitor) {
    // The first call decides, as the system does: it refuses to change the
    // awareness once set.
    static bool settled = false;
    if (settled) return;
    settled = true;
    typedef BOOL(WINAPI * ContextFunction)(HANDLE);
    typedef HRESULT(WINAPI * AwarenessFunction)(int);
    typedef BOOL(WINAPI * AwareFunction)();
    const char* result = "per monitor v2";
    bool done = false;
    if (perMonitor) {
        const HANDLE kPerMonitorV2 = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-4));
        ContextFunction setContext = systemFunction<ContextFunction>(L"user32.dll", "SetProcessDpiAwarenessContext");
        done = setContext && setContext(kPerMonitorV2);
        if (!done) {
            // Before Windows 10 1703: per monitor (Windows 8.1).
            const int kPerMonitorAware = 2;
            AwarenessFunction setAwareness = systemFunction<AwarenessFunction>(L"shcore.dll", "SetProcessDpiAwareness");
            done = setAwareness && SUCCEEDED(setAwareness(kPerMonitorAware));
            result = "per monitor";
        }
    }
    if (!done) {
        AwareFunction setAware = systemFunction<AwareFunction>(L"user32.dll", "SetProcessDPIAware");
        done = setAware && setAware();
        result = "system";
    }
    TRACE_EVENT("dpi awareness")
        .field("asked", perMonitor ? "per monitor" : "system")
        .field("set", done ? result : "nothing (the system has set it already, or has no such setting)");
}

}  // namespace platform
