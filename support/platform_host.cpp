// The platform services on the build machine, so that the launcher's
// platform-neutral code runs in host tests: real files, threads and
// libraries; an in-memory registry, environment and message boxes.
#include <dirent.h>
#include <errno.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <vector>

#include "support/console_text.h"
#include "support/message_texts.h"
#include "support/platform.h"
#include "support/posix_linux.h"
#include "support/platform_host.h"

void fatalStop() { abort(); }

namespace {

WideString upper(const WideString& text) {
    WideString result;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        result += (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
    }
    return result;
}

struct RegistryKey {
    List<WideString> subkeys;
    std::map<std::u16string, WideString> values;  // upper-case name -> data
};

struct HostState {
    bool moduleFails = false;
    uint32_t moduleError = 0;
    WideString module;
    WideString commandLine;
    bool ntFamily = true;
    uint64_t physical = 2147483648ull;
    uint64_t availableVirtual = 2147483648ull;
    NarrowString builtIn;
    std::map<std::u16string, std::pair<WideString, WideString>> environment;  // upper name -> (name, value)
    std::map<std::u16string, RegistryKey> registry[2];                        // upper path
    List<WideString> opened;
    List<WideString> messages;
    WideString directory;
    int exceptionDialogResult = 1;
    List<WideString> exceptionTraces;
    char16_t ansiHighest = 0xFFFF;
    std::map<std::u16string, WideString> shortPaths;
    bool consoleFlavour = false;
    WideString standardError;
    bool (*consoleControl)(int32_t) = nullptr;
};

HostState& state() {
    static HostState s;
    return s;
}

thread_local uint32_t lastErrorCode = 0;

WideString registryName(WideString path) {
    while (!path.empty() && path.last() == u'\\') path = path.left(path.size() - 1);
    return upper(path);
}

NarrowString readWholeFile(const std::string& path, bool& ok) {
    ok = false;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return NarrowString();
    NarrowString bytes;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    fclose(f);
    ok = true;
    return bytes;
}

}  // namespace

namespace platform {
namespace host {

std::string hostPath(const WideString& path) {
    WideString p = path;
    if (p.size() >= 2 && (p[0] == u'Z' || p[0] == u'z') && p[1] == u':') p = p.substr(2);
    p.replaceAll(u'\\', u'/');
    return toUtf8(p).c_str();
}

WideString windowsPath(const std::string& hostPath) {
    WideString p = fromUtf8(hostPath.data(), hostPath.size());
    p.replaceAll(u'/', u'\\');
    if (!p.empty() && p[0] == u'\\') p = u"Z:" + p;
    return p;
}

void reset() {
    HostState& s = state();
    s = HostState();
    lastErrorCode = 0;
}

void setConsoleFlavour(bool console) { state().consoleFlavour = console; }
const WideString& standardError() { return state().standardError; }

bool raiseConsoleControl(int32_t code, bool& handled) {
    if (!state().consoleControl) return false;
    handled = state().consoleControl(code);
    return true;
}

void setModulePath(const WideString& path) {
    state().module = path;
    state().moduleFails = false;
}

void failModulePath(uint32_t errorCode) {
    state().moduleFails = true;
    state().moduleError = errorCode;
}

void setAnsiHighest(char16_t highest) { state().ansiHighest = highest; }
void setShortPath(const WideString& path, const WideString& shortForm) { state().shortPaths[path.str()] = shortForm; }

void setCommandLine(const WideString& line) { state().commandLine = line; }
void setLastError(uint32_t code) { lastErrorCode = code; }
void setNtFamily(bool nt) { state().ntFamily = nt; }

void setMemory(uint64_t physicalBytes, uint64_t availableVirtualBytes) {
    state().physical = physicalBytes;
    state().availableVirtual = availableVirtualBytes;
}

void setBuiltInSettings(const NarrowString& bytes) { state().builtIn = bytes; }
void clearEnvironment() { state().environment.clear(); }

void setEnvironment(const WideString& name, const WideString& value) {
    state().environment[upper(name).str()] = std::make_pair(name, value);
}

WideString environment(const WideString& name) {
    auto found = state().environment.find(upper(name).str());
    return found == state().environment.end() ? WideString() : found->second.second;
}

WideString currentDirectory() { return state().directory; }

void addRegistryKey(bool otherView, const WideString& path) {
    auto& registry = state().registry[otherView ? 1 : 0];
    WideString name = registryName(path);
    if (registry.count(name.str())) return;
    registry[name.str()];
    size_t slash = name.findLast(u'\\');
    if (slash == WideString::npos) return;
    WideString original = path;
    while (!original.empty() && original.last() == u'\\') original = original.left(original.size() - 1);
    addRegistryKey(otherView, original.left(slash));
    registry[name.left(slash).str()].subkeys.push_back(original.substr(slash + 1));
}

void setRegistryValue(bool otherView, const WideString& path, const WideString& name, const WideString& data) {
    addRegistryKey(otherView, path);
    state().registry[otherView ? 1 : 0][registryName(path).str()].values[upper(name).str()] = data;
}

const List<WideString>& openedRegistryKeys() { return state().opened; }

List<WideString>& shownMessages() { return state().messages; }

void setExceptionDialogResult(int result) { state().exceptionDialogResult = result; }
const List<WideString>& shownExceptionTraces() { return state().exceptionTraces; }

}  // namespace host

uint32_t lastError() { return lastErrorCode; }
WideString lastErrorText() { return WideString(); }

// The host build stands in for Windows: its paths and lists are Windows'.
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

bool splashPossible() { return !consoleFlavour(); }

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
    struct stat info;
    std::string p = host::hostPath(path);
    if (p.empty() || stat(p.c_str(), &info) != 0) return false;
    facts.exists = true;
    facts.directory = S_ISDIR(info.st_mode);
    facts.size = facts.directory ? 0 : static_cast<uint64_t>(info.st_size);
    facts.modified = static_cast<uint64_t>(info.st_mtim.tv_sec) * 1000000000u + static_cast<uint64_t>(info.st_mtim.tv_nsec);
    if (facts.directory) {
        facts.emptyDirectory = true;
        if (DIR* dir = opendir(p.c_str())) {
            while (dirent* entry = readdir(dir))
                if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) facts.emptyDirectory = false;
            closedir(dir);
        }
    }
    return true;
}

uint64_t changeStamp(const WideString& path) { return posix::changeStamp(host::hostPath(path).c_str()); }

bool replaceFile(const WideString& from, const WideString& to) {
    return rename(host::hostPath(from).c_str(), host::hostPath(to).c_str()) == 0;
}

bool writableFolder(const WideString& path) { return access(host::hostPath(path).c_str(), W_OK | X_OK) == 0; }

uint32_t createPrivateDirectory(const WideString& path) {
    int error = posix::makePrivateFolder(host::hostPath(path).c_str());
    return error == 0 ? 0 : error == EEXIST ? kErrorAlreadyExists : 5;
}

Ownership ownership(const WideString& path, bool folder) {
    static const Ownership kOutcomes[] = {Ownership::Missing, Ownership::Own, Ownership::Other};
    return kOutcomes[posix::ownership(host::hostPath(path).c_str(), folder)];
}

bool freeSpace(const WideString& folder, uint64_t& bytes) { return posix::freeSpace(host::hostPath(folder).c_str(), bytes); }

// The host tests start no processes: the cache's creation runs on the
// real systems only (tests/linux, tests/e2e).
bool startDetachedSelf(const WideString&, const WideString&) { return false; }
bool runSilently(const WideString&, const List<WideString>&, uint32_t&) { return false; }

// Nor do they start the launch again: the real systems' tests do.
const bool kRestartInPlace = true;
uint64_t monotonicMilliseconds() { return 0; }
void rememberStart() {}
uint32_t startingProcessId() { return processId(); }
bool startAgain(const WideString&, const WideString&, intptr_t) { return false; }
void* createRestartSignal(uint64_t&) { return nullptr; }
void raiseRestartSignal(uint64_t) {}
bool superviseRun(const WideString&, const WideString&, void*, void (*)(void*), void*, int32_t&, bool&) {
    return false;
}

NarrowString formatRuntimeText(const char* format, va_list arguments) {
    char text[4096];
    int length = vsnprintf(text, sizeof text, format, arguments);
    return length > 0 ? NarrowString(text, std::min(static_cast<size_t>(length), sizeof text - 1)) : NarrowString();
}

void noteRuntimeLibrary(void*) {}

bool standardRuntimeStream(void* stream) {
    int number = fileno(static_cast<FILE*>(stream));
    return number == 1 || number == 2;
}

void writeRuntimeText(void* stream, const NarrowString& text) {
    fwrite(text.data(), 1, text.size(), static_cast<FILE*>(stream));
}

bool argumentVector(List<WideString>&) { return false; }

bool resolveLinks(const WideString& path, WideString& resolved) {
    char* real = realpath(host::hostPath(path).c_str(), nullptr);
    if (!real) return false;
    std::string text(real);
    free(real);
    resolved = host::windowsPath(text);
    return true;
}

bool modulePath(WideString& path) {
    HostState& s = state();
    if (s.moduleFails) {
        lastErrorCode = s.moduleError;
        return false;
    }
    if (s.module.empty()) {
        char buffer[4096];
        ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        if (n <= 0) return false;
        s.module = host::windowsPath(std::string(buffer, static_cast<size_t>(n)));
    }
    path = s.module;
    return true;
}

WideString commandLine() { return state().commandLine; }

bool setCurrentDirectory(const WideString& path) {
    state().directory = path;
    return true;
}

bool currentDirectory(WideString& path) {
    path = state().directory;
    return !path.empty();
}

bool readEnvironment(const WideString& name, WideString& value) {
    auto found = state().environment.find(upper(name).str());
    if (found == state().environment.end()) {
        value.clear();
        return false;
    }
    value = found->second.second;
    return true;
}

void writeEnvironment(const WideString& name, const WideString& value) { host::setEnvironment(name, value); }

void removeEnvironment(const WideString& name) { state().environment.erase(upper(name).str()); }

bool expandEnvironment(const WideString& text, WideString& expanded) {
    expanded = expandPercentReferences(text, readEnvironment);
    return true;
}

bool isNtFamily() { return state().ntFamily; }

bool fileExists(const WideString& path) {
    if (path.find(u'*') != WideString::npos || path.find(u'?') != WideString::npos)
        return !findFiles(path).empty();
    struct stat info;
    std::string p = host::hostPath(path);
    return !p.empty() && stat(p.c_str(), &info) == 0;
}

bool sameFile(const WideString& a, const WideString& b) {
    struct stat first, second;
    return stat(host::hostPath(a).c_str(), &first) == 0 && stat(host::hostPath(b).c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

List<WideString> findFiles(const WideString& pattern) {
    List<WideString> names;
    std::string p = host::hostPath(pattern);
    size_t slash = p.rfind('/');
    std::string folder = slash == std::string::npos ? "." : p.substr(0, slash + 1);
    std::string mask = slash == std::string::npos ? p : p.substr(slash + 1);
    if (mask.empty()) return names;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return names;
    while (dirent* entry = readdir(dir)) {
        if (fnmatch(mask.c_str(), entry->d_name, 0) == 0)
            names.push_back(fromUtf8(entry->d_name, strlen(entry->d_name)));
    }
    closedir(dir);
    return names;
}

// The system's codes for the failures the launcher tells apart.
uint32_t createDirectory(const WideString& path) {
    if (mkdir(host::hostPath(path).c_str(), 0777) == 0) return 0;
    switch (errno) {
        case EEXIST: return kErrorAlreadyExists;
        case ENOENT: case ENOTDIR: return 3;  // the path was not found
        case EACCES: case EPERM: case EROFS: return 5;  // access denied
        case ENAMETOOLONG: return 206;  // the name is too long
        default: return 1117;  // an input/output error
    }
}

bool removeDirectory(const WideString& path) { return rmdir(host::hostPath(path).c_str()) == 0; }

// Like the system's: Windows-style names ("Z:\a\..\b") stay in that form,
// host names ("/a/../b") in theirs; "." and ".." are resolved without
// looking at the disk.
bool fullPath(const WideString& path, WideString& full) {
    if (path.empty()) return false;
    bool windows = path.find(u'\\') != WideString::npos || path.find(u':') != WideString::npos;
    std::string text = windows ? host::hostPath(path) : toUtf8(path).c_str();
    if (text.empty() || text[0] != '/') {
        char buffer[4096];
        if (!getcwd(buffer, sizeof buffer)) return false;
        text = std::string(buffer) + "/" + text;
    }
    std::vector<std::string> parts;
    size_t at = 0;
    while (at <= text.size()) {
        size_t slash = text.find('/', at);
        if (slash == std::string::npos) slash = text.size();
        std::string part = text.substr(at, slash - at);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = slash + 1;
    }
    std::string joined;
    for (const std::string& part : parts) joined += "/" + part;
    if (joined.empty() || text.back() == '/') joined += "/";
    full = windows ? host::windowsPath(joined) : fromUtf8(joined.data(), joined.size());
    return true;
}

bool deleteFile(const WideString& path) { return unlink(host::hostPath(path).c_str()) == 0; }

bool ExclusiveFile::take(const WideString& path) {
    release();
    posix::lockExclusive(host::hostPath(path).c_str(), handle_, held_);
    return held_;
}

ReadOnlyMapping::ReadOnlyMapping(const WideString& path) {
    int fd = open(host::hostPath(path).c_str(), O_RDONLY);
    if (fd < 0) return;
    struct stat info;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        void* view = mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (view != MAP_FAILED) {
            data_ = static_cast<const uint8_t*>(view);
            size_ = static_cast<size_t>(info.st_size);
            opened_ = true;
        }
    }
    close(fd);
}

ReadOnlyMapping::~ReadOnlyMapping() {
    if (data_) munmap(const_cast<uint8_t*>(data_), size_);
}

bool readWholeFile(const WideString& path, NarrowString& bytes) {
    bool ok = false;
    bytes = ::readWholeFile(host::hostPath(path), ok);
    return ok;
}

bool replaceWholeFile(const WideString& path, const NarrowString& bytes) {
    std::string target = host::hostPath(path), temporary = target + ".new";
    FILE* f = fopen(temporary.c_str(), "wb");
    if (!f) return false;
    bool written = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (fclose(f) != 0 || !written || rename(temporary.c_str(), target.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool createUnicodeFile(const WideString& path) {
    int fd = open(host::hostPath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0) return false;
    static const unsigned char kByteOrderMark[] = {0xFF, 0xFE};
    bool ok = write(fd, kByteOrderMark, sizeof kByteOrderMark) == static_cast<ssize_t>(sizeof kByteOrderMark);
    close(fd);
    return ok;
}

bool builtInSettingsBytes(NarrowString& bytes) {
    if (state().builtIn.empty()) return false;
    bytes = state().builtIn;
    return true;
}

List<WideString> registrySubkeys(const WideString& key, bool otherView) {
    auto& registry = state().registry[otherView ? 1 : 0];
    state().opened.push_back(WideString(otherView ? u"other:" : u"own:") + key);
    auto found = registry.find(registryName(key).str());
    return found == registry.end() ? List<WideString>() : found->second.subkeys;
}

bool registryText(const WideString& key, const WideString& valueName, bool otherView, WideString& text) {
    auto& registry = state().registry[otherView ? 1 : 0];
    auto found = registry.find(registryName(key).str());
    if (found == registry.end()) return false;
    auto value = found->second.values.find(upper(valueName).str());
    if (value == found->second.values.end()) return false;
    text = value->second;
    return true;
}

void* loadLibrary(const WideString& path) {
    void* library = dlopen(host::hostPath(path).c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (!library) lastErrorCode = 126;  // the code Windows gives for a missing module
    return library;
}

void* librarySymbol(void* library, const char* name) {
    void* symbol = dlsym(library, name);
    if (!symbol) lastErrorCode = 127;
    return symbol;
}

bool runOnThread(uint32_t stackSize, uint32_t (*body)(void*), void* argument, uint32_t& result) {
    return posix::runJoinedThread(stackSize, body, argument, result) == 0;
}

void sleepForever() {
    for (;;) pause();
}

void closeHandle(void*) {}
void signalEvent(void*) {}
void stopThread(void*, uint32_t) {}

bool appendToFile(const WideString& path, const NarrowString& bytes) {
    int fd = open(host::hostPath(path).c_str(), O_WRONLY | O_APPEND | O_CREAT, 0666);
    if (fd < 0) return false;
    bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    close(fd);
    return written;
}

NarrowString localTimeStamp() {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm local;
    localtime_r(&now.tv_sec, &local);
    char buffer[96];
    snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
             local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(now.tv_nsec / 1000000));
    return NarrowString(buffer);
}

uint32_t processId() { return static_cast<uint32_t>(getpid()); }

uint64_t totalPhysicalMemory() { return state().physical; }
uint64_t availableVirtualMemory() { return state().availableVirtual; }

NarrowString toAnsi(const WideString& text) { return toUtf8(text); }
WideString fromAnsi(const char* text, size_t length) { return fromUtf8(text, length); }

bool toAnsiExact(const WideString& text, NarrowString& result) {
    result = toUtf8(text);
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] > state().ansiHighest) return false;
    return true;
}

bool shortPath(const WideString& path, WideString& result) {
    auto found = state().shortPaths.find(path.str());
    if (found == state().shortPaths.end()) return false;
    result = found->second;
    return true;
}

WideString messageText(MessageId id) {
    static const struct {
        int id;
        const char16_t* text;
    } kTexts[] = {
        {202, u"" MSG_TEXT_202}, {203, u"" MSG_TEXT_203}, {204, u"" MSG_TEXT_204}, {205, u"" MSG_TEXT_205},
        {206, u"" MSG_TEXT_206}, {207, u"" MSG_TEXT_207}, {208, u"" MSG_TEXT_208}, {209, u"" MSG_TEXT_209},
        {210, u"" MSG_TEXT_210}, {211, u"" MSG_TEXT_211}, {212, u"" MSG_TEXT_212}, {213, u"" MSG_TEXT_213},
        {214, u"" MSG_TEXT_214}, {215, u"" MSG_TEXT_215}, {216, u"" MSG_TEXT_216}, {217, u"" MSG_TEXT_217},
        {218, u"" MSG_TEXT_218}, {219, u"" MSG_TEXT_219}, {220, u"" MSG_TEXT_220}, {221, u"" MSG_TEXT_221},
        {222, u"" MSG_TEXT_222}, {223, u"" MSG_TEXT_223}, {224, u"" MSG_TEXT_224}, {225, u"" MSG_TEXT_225},
        {226, u"" MSG_TEXT_226}, {227, u"" MSG_TEXT_227}, {228, u"" MSG_TEXT_228}, {229, u"" MSG_TEXT_229},
        {230, u"" MSG_TEXT_230}, {232, u"" MSG_TEXT_232}, {233, u"" MSG_TEXT_233}, {234, u"" MSG_TEXT_234},
        {235, u"" MSG_TEXT_235}, {236, u"" MSG_TEXT_236},
    };
    for (const auto& entry : kTexts)
        if (entry.id == id) return WideString(entry.text);
    return WideString();
}

bool consoleFlavour() { return state().consoleFlavour; }

void settleDpiAwareness(bool) {}

void writeNotice(const WideString& text) { state().standardError += consoleLines(text); }

void showErrorBox(void*, const WideString& text) {
    if (state().consoleFlavour) {
        state().standardError += consoleLines(text);
        return;
    }
    state().messages.push_back(text);
    fprintf(stderr, "[message box] %s\n", toUtf8(text).c_str());
}

void onConsoleControl(bool (*end)(int32_t code)) {
    if (state().consoleFlavour) state().consoleControl = end;
}

int showExceptionDialog(const WideString& trace) {
    state().exceptionTraces.push_back(trace);
    return state().exceptionDialogResult;
}

}  // namespace platform
