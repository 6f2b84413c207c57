// The platform services on Linux: files and folders, the environment, the
// whole files the settings file's reader reads and writes, libraries, threads, memory, text in the
// locale's character set, and messages on the standard error.
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <limits.h>
#include <locale.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <wchar.h>

#include "support/file_address.h"
#include "support/dialog_linux.h"
#include "support/message_texts.h"
#include "support/platform.h"
#include "support/posix_linux.h"
#include "support/platform_linux.h"

extern char** environ;

void fatalStop() { abort(); }

using platform::FileDescriptor;

namespace {

// Per thread, and plain storage: a thread-local object with a destructor
// would need a newer C library than the oldest one the launcher runs on.
thread_local uint32_t lastErrorCode = 0;
thread_local char lastErrorWords[512];

List<WideString>& argumentList() {
    static List<WideString> arguments;
    return arguments;
}

void setError(int code, const char* words) {
    lastErrorCode = static_cast<uint32_t>(code);
    snprintf(lastErrorWords, sizeof lastErrorWords, "%s", words ? words : "");
}


NarrowString readWholeFile(const NarrowString& path, bool& ok) {
    ok = false;
    FileDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return NarrowString();
    NarrowString bytes;
    char buffer[8192];
    for (;;) {
        ssize_t n = read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return NarrowString();
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    ok = true;
    return bytes;
}

// Written whole under a temporary name beside it and renamed: a write that
// fails half-way (a full disk) leaves the old file as it was.
bool writeWholeFile(const NarrowString& path, const NarrowString& bytes) {
    NarrowString temporary = path + ".new";
    struct stat old;
    bool existed = syscall(SYS_newfstatat, AT_FDCWD, path.c_str(), &old, 0) == 0;
    FileDescriptor fd(open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, existed ? old.st_mode & 07777 : 0666));
    if (fd.get() < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            unlink(temporary.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (fsync(fd.get()) != 0 || close(fd.release()) != 0 || rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

uint64_t numberInFile(const char* path) {
    bool ok = false;
    NarrowString text = readWholeFile(path, ok);
    if (!ok || text.empty() || text[0] < '0' || text[0] > '9') return 0;  // "max" or nothing
    return strtoull(text.c_str(), nullptr, 10);
}

}  // namespace

// The memory limit of the control group the process runs in, when one is
// set (0 otherwise): the lowest limit on the way up to the root (version 2)
// or the memory controller's (version 1).
uint64_t platform::controlGroupLimit(const char* root) {
    const NarrowString fileSystem(root);
    bool ok = false;
    NarrowString groups = ::readWholeFile(fileSystem + "/proc/self/cgroup", ok);
    if (!ok) return 0;
    uint64_t lowest = 0;
    size_t at = 0;
    while (at < groups.size()) {
        size_t end = groups.find('\n', at);
        if (end == NarrowString::npos) end = groups.size();
        NarrowString line = groups.substr(at, end - at);
        at = end + 1;
        size_t first = line.find(':');
        size_t second = first == NarrowString::npos ? first : line.find(':', first + 1);
        if (second == NarrowString::npos) continue;
        NarrowString controllers = line.substr(first + 1, second - first - 1);
        NarrowString group = line.substr(second + 1);
        NarrowString base;
        const char* file;
        if (controllers.empty()) {
            base = fileSystem + "/sys/fs/cgroup";
            file = "/memory.max";
        } else if ((',' + controllers + ',').find(",memory,") != NarrowString::npos) {
            base = fileSystem + "/sys/fs/cgroup/memory";
            file = "/memory.limit_in_bytes";
        } else {
            continue;
        }
        // Up to the root: in a container the group named here may not exist
        // below the mount, whose root is then the container's own group.
        for (int depth = 0; depth < 64; ++depth) {
            NarrowString at = group == "/" ? NarrowString() : group;
            uint64_t limit = numberInFile((base + at + file).c_str());
            if (limit && (!lowest || limit < lowest)) lowest = limit;
            size_t slash = group.rfind('/');
            if (slash == NarrowString::npos || group.size() <= 1) break;
            group = slash == 0 ? NarrowString("/") : group.substr(0, slash);
        }
    }
    return lowest;
}

namespace platform {

const char16_t kPathSeparator = u'/';
const char16_t kListSeparator = u':';
const char16_t* const kSearchPathVariable = u"PATH";
const bool kSettingsNameAppended = true;
const bool kWindowsKeysIgnored = true;

static char** startArgumentVector = nullptr;

char** startArguments() { return startArgumentVector; }

void setArguments(int argc, char** argv) {
    startArgumentVector = argv;
    List<WideString>& arguments = argumentList();
    arguments.clear();
    // A desktop hands local files over as file:// addresses (desktop entries
    // with %U); the program receives their paths.
    NarrowString path;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(fromNative(fileAddressPath(NarrowString(argv[i]), path) ? path.c_str() : argv[i]));
}

bool argumentVector(List<WideString>& arguments) {
    arguments = argumentList();
    return true;
}

uint32_t lastError() { return lastErrorCode; }
WideString lastErrorText() { return fromNative(lastErrorWords); }

size_t utf8Sequence(const unsigned char* p, size_t available) {
    if (available == 0) return 0;
    if (p[0] < 0x80) return 1;
    size_t extra = p[0] >= 0xC2 && p[0] <= 0xDF ? 1 : p[0] >= 0xE0 && p[0] <= 0xEF ? 2 : p[0] >= 0xF0 && p[0] <= 0xF4 ? 3 : 0;
    if (extra == 0 || available <= extra) return 0;
    uint32_t code = p[0] & (0x3F >> extra);
    for (size_t k = 1; k <= extra; ++k) {
        if ((p[k] & 0xC0) != 0x80) return 0;
        code = (code << 6) | (p[k] & 0x3F);
    }
    // Overlong forms, surrogates and code points beyond Unicode are no UTF-8.
    static const uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (code < kLeast[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return extra + 1;
}

// Text in the locale's character set, as the java command takes it. A byte
// that is no character there stands for itself (as U+DC80 + byte), so that
// every path read from the system reaches the system again unchanged.
WideString fromNative(const char* text) { return fromNative(text, strlen(text)); }

WideString fromNative(const char* text, size_t length) {
    WideString result;
    mbstate_t state;
    memset(&state, 0, sizeof state);
    size_t at = 0;
    while (at < length) {
        unsigned char c = static_cast<unsigned char>(text[at]);
        if (c < 0x80) {
            result += static_cast<char16_t>(c);
            ++at;
            continue;
        }
        wchar_t wide = 0;
        size_t used = mbrtowc(&wide, text + at, length - at, &state);
        if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2) || used == 0) {
            memset(&state, 0, sizeof state);
            result += static_cast<char16_t>(0xDC00 + c);
            ++at;
            continue;
        }
        uint32_t code = static_cast<uint32_t>(wide);
        if (code >= 0x10000) {
            code -= 0x10000;
            result += static_cast<char16_t>(0xD800 + (code >> 10));
            result += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            result += static_cast<char16_t>(code);
        }
        at += used;
    }
    return result;
}

static bool appendNative(NarrowString& out, uint32_t code, mbstate_t& state) {
    char buffer[MB_LEN_MAX];
    size_t n = wcrtomb(buffer, static_cast<wchar_t>(code), &state);
    if (n == static_cast<size_t>(-1)) {
        memset(&state, 0, sizeof state);
        return false;
    }
    out.append(buffer, n);
    return true;
}

static NarrowString nativeText(const WideString& text, bool& exact) {
    exact = true;
    NarrowString out;
    mbstate_t state;
    memset(&state, 0, sizeof state);
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        if (c >= 0xDC80 && c <= 0xDCFF) {  // a byte that came as itself
            out += static_cast<char>(c - 0xDC00);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (!appendNative(out, c, state)) {
            // No such character in the locale's set (the C locale): its
            // UTF-8 bytes, the names most file systems hold.
            exact = false;
            WideString one;
            if (c >= 0x10000) {
                one += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
                one += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
            } else {
                one += static_cast<char16_t>(c);
            }
            out += toUtf8(one);
        }
    }
    return out;
}

NarrowString toNative(const WideString& text) {
    bool exact;
    return nativeText(text, exact);
}

NarrowString toAnsi(const WideString& text) { return toNative(text); }
WideString fromAnsi(const char* text, size_t length) { return fromNative(text, length); }
bool toAnsiExact(const WideString& text, NarrowString& result) {
    bool exact;
    result = nativeText(text, exact);
    return exact;
}

bool modulePath(WideString& path) {
    char* real = realpath("/proc/self/exe", nullptr);
    if (!real) {
        setError(errno, strerror(errno));
        return false;
    }
    path = fromNative(real);
    free(real);
    return true;
}

WideString commandLine() { return WideString(); }

bool setCurrentDirectory(const WideString& path) { return chdir(toNative(path).c_str()) == 0; }

bool currentDirectory(WideString& path) {
    char* folder = getcwd(nullptr, 0);
    if (!folder) return false;
    path = fromNative(folder);
    free(folder);
    return true;
}

bool readEnvironment(const WideString& name, WideString& value) {
    const char* text = getenv(toNative(name).c_str());
    if (!text) return false;
    value = fromNative(text);
    return true;
}

// A %NAME% reference names its variable without regard to case, as on
// Windows ("%Path%" is PATH): the exact name first, then any spelling.
static bool readAnySpelling(const WideString& name, WideString& value) {
    if (readEnvironment(name, value)) return true;
    NarrowString wanted = toNative(name);
    for (char** entry = environ; *entry; ++entry) {
        const char* equals = strchr(*entry, '=');
        if (!equals || static_cast<size_t>(equals - *entry) != wanted.size()) continue;
        if (strncasecmp(*entry, wanted.c_str(), wanted.size()) == 0) {
            value = fromNative(equals + 1);
            return true;
        }
    }
    return false;
}

// A home-relative folder: an absolute $variable, else $HOME/below.
static WideString userFolder(const char16_t* variable, const char16_t* below) {
    WideString folder;
    if (readEnvironment(variable, folder) && folder.startsWith(u"/")) return folder;
    WideString home;
    readEnvironment(u"HOME", home);
    return home + below;
}

static WideString temporaryFolder() {
    WideString folder;
    if (readEnvironment(u"TMPDIR", folder) && folder.startsWith(u"/")) return folder;
    return u"/tmp";
}

// The variables a settings file written for Windows names for per-user
// places ("Output File=%TEMP%\App\out.log"), where this system's
// environment lacks them: its own places of the same kind.
static bool readReferencedVariable(const WideString& name, WideString& value) {
    if (readAnySpelling(name, value)) return true;
    static const struct {
        const char16_t* name;
        WideString (*place)();
    } kWindowsPlaces[] = {
        {u"TEMP", temporaryFolder},
        {u"TMP", temporaryFolder},
        {u"APPDATA", perUserSettingsFolder},
        {u"LOCALAPPDATA", [] { return userFolder(u"XDG_DATA_HOME", u"/.local/share"); }},
        {u"USERPROFILE", [] { return userFolder(u"HOME", u""); }},
    };
    for (const auto& place : kWindowsPlaces) {
        if (!name.equalsIgnoreAsciiCase(place.name)) continue;
        value = place.place();
        return !value.empty();
    }
    return false;
}

void writeEnvironment(const WideString& name, const WideString& value) {
    setenv(toNative(name).c_str(), toNative(value).c_str(), 1);
}

void removeEnvironment(const WideString& name) { unsetenv(toNative(name).c_str()); }

bool expandEnvironment(const WideString& text, WideString& expanded) {
    expanded = expandPercentReferences(text, readReferencedVariable);
    return true;
}

// The per-user copies are read as on the NT family.
bool isNtFamily() { return true; }

bool fullPath(const WideString& path, WideString& full) {
    if (path.empty()) return false;
    WideString text = path;
    if (!text.startsWith(u"/")) {
        char buffer[PATH_MAX];
        if (!getcwd(buffer, sizeof buffer)) return false;
        text = fromNative(buffer) + u"/" + text;
    }
    List<WideString> parts;
    for (const WideString& part : splitAt(text, u'/')) {
        if (part == u"..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != u".") {
            parts.push_back(part);
        }
    }
    WideString joined;
    for (const WideString& part : parts) joined += u"/" + part;
    if (joined.empty() || text.endsWith(u'/')) joined += u"/";
    full = joined;
    return true;
}

bool resolveLinks(const WideString& path, WideString& resolved) {
    char* real = realpath(toNative(path).c_str(), nullptr);
    if (!real) return false;
    resolved = fromNative(real);
    free(real);
    return true;
}

// The file's status without stat(), which newer C libraries export under a
// version older systems lack: the system call itself.
bool fileStatus(const WideString& path, struct stat& status) {
    return syscall(SYS_newfstatat, AT_FDCWD, toNative(path).c_str(), &status, 0) == 0;
}

bool sameFile(const WideString& a, const WideString& b) {
    struct stat first, second;
    return fileStatus(a, first) && fileStatus(b, second) && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

bool fileExists(const WideString& path) {
    if (path.find(u'*') != WideString::npos || path.find(u'?') != WideString::npos) return !findFiles(path).empty();
    return !path.empty() && access(toNative(path).c_str(), F_OK) == 0;
}

List<WideString> findFiles(const WideString& pattern) {
    List<WideString> names;
    NarrowString p = toNative(pattern);
    size_t slash = p.rfind('/');
    NarrowString folder = slash == NarrowString::npos ? NarrowString(".") : p.substr(0, slash + 1);
    NarrowString written = slash == NarrowString::npos ? p : p.substr(slash + 1);
    if (written.empty()) return names;
    NarrowString mask;
    for (char c : written) mask += c == '[' ? NarrowString("[[]") : NarrowString(1, c);
    DIR* dir = opendir(folder.c_str());
    if (!dir) return names;
    while (dirent* entry = readdir(dir)) {
        // A pattern's "*" takes names starting with a dot too, as on Windows;
        // only "*" and "?" are wildcards there ("app[1].jar" is a name).
        if (fnmatch(mask.c_str(), entry->d_name, FNM_NOESCAPE) == 0) names.push_back(fromNative(entry->d_name));
    }
    closedir(dir);
    return names;
}

// The codes of the failures the launcher tells apart, as Windows numbers them.
uint32_t createDirectory(const WideString& path) {
    if (mkdir(toNative(path).c_str(), 0777) == 0) return 0;
    switch (errno) {
        case EEXIST: return kErrorAlreadyExists;
        case ENOENT: case ENOTDIR: return 3;
        case EACCES: case EPERM: case EROFS: return 5;
        case ENAMETOOLONG: return 206;
        default: return 1117;
    }
}

bool removeDirectory(const WideString& path) { return rmdir(toNative(path).c_str()) == 0; }
bool deleteFile(const WideString& path) { return unlink(toNative(path).c_str()) == 0; }

ReadOnlyMapping::ReadOnlyMapping(const WideString& path) {
    // Not blocked by a pipe in a file's place; only regular files are read.
    FileDescriptor fd(open(toNative(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) return;
    struct stat info;
    if (syscall(SYS_newfstatat, fd.get(), "", &info, AT_EMPTY_PATH) != 0 || !S_ISREG(info.st_mode)) return;
    off_t end = lseek(fd.get(), 0, SEEK_END);
    if (end < 0) return;
    size_ = static_cast<size_t>(end);
    if (end == 0) {
        opened_ = true;
        return;
    }
    void* view = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd.get(), 0);
    if (view == MAP_FAILED) {
        size_ = 0;
        return;
    }
    data_ = static_cast<const uint8_t*>(view);
    opened_ = true;
}

ReadOnlyMapping::~ReadOnlyMapping() {
    if (data_) munmap(const_cast<uint8_t*>(data_), size_);
}

bool ExclusiveFile::take(const WideString& path) {
    release();
    posix::lockExclusive(toNative(path).c_str(), handle_, held_);
    return held_;
}

bool readWholeFile(const WideString& path, NarrowString& bytes) {
    bool ok = false;
    bytes = ::readWholeFile(toNative(path), ok);
    return ok;
}

bool replaceWholeFile(const WideString& path, const NarrowString& bytes) {
    return writeWholeFile(toNative(path), bytes);
}

bool createUnicodeFile(const WideString& path) {
    FileDescriptor fd(open(toNative(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.get() < 0) return false;
    return write(fd.get(), "\xFF\xFE", 2) == 2;
}

// File systems here have no short names.
WideString shortPath(const WideString&) { return WideString(); }
bool shortPath(const WideString&, WideString&) { return false; }

WideString perUserSettingsFolder() { return userFolder(u"XDG_CONFIG_HOME", u"/.config"); }

WideString perUserCacheFolder() {
    WideString folder;
    if (readEnvironment(u"XDG_CACHE_HOME", folder) && folder.startsWith(u"/")) return folder;
    WideString home;
    if (!readEnvironment(u"HOME", home) || home.empty()) return WideString();
    return home + u"/.cache";
}

bool fileFacts(const WideString& path, FileFacts& facts) {
    facts = FileFacts();
    // The system call itself: the C library's stat functions carry newer
    // symbol versions than the oldest library the launcher runs on, and the
    // kernel's structure is the library's on this processor.
    struct stat info;
    if (syscall(SYS_newfstatat, AT_FDCWD, toNative(path).c_str(), &info, 0) != 0) return false;
    facts.exists = true;
    facts.directory = S_ISDIR(info.st_mode);
    facts.size = facts.directory ? 0 : static_cast<uint64_t>(info.st_size);
    facts.modified = static_cast<uint64_t>(info.st_mtim.tv_sec) * 1000000000u + static_cast<uint64_t>(info.st_mtim.tv_nsec);
    if (facts.directory) {
        facts.emptyDirectory = true;
        if (DIR* dir = opendir(toNative(path).c_str())) {
            while (dirent* entry = readdir(dir)) {
                if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
                    facts.emptyDirectory = false;
                    break;
                }
            }
            closedir(dir);
        }
    }
    return true;
}

uint64_t changeStamp(const WideString& path) { return posix::changeStamp(toNative(path).c_str()); }

bool replaceFile(const WideString& from, const WideString& to) {
    return rename(toNative(from).c_str(), toNative(to).c_str()) == 0;
}

bool writableFolder(const WideString& path) { return access(toNative(path).c_str(), W_OK | X_OK) == 0; }

uint32_t createPrivateDirectory(const WideString& path) {
    int error = posix::makePrivateFolder(toNative(path).c_str());
    return error == 0 ? 0 : error == EEXIST ? kErrorAlreadyExists : 5;
}

Ownership ownership(const WideString& path, bool folder) {
    static const Ownership kOutcomes[] = {Ownership::Missing, Ownership::Own, Ownership::Other};
    return kOutcomes[posix::ownership(toNative(path).c_str(), folder)];
}

bool freeSpace(const WideString& folder, uint64_t& bytes) { return posix::freeSpace(toNative(folder).c_str(), bytes); }

namespace {
// An argument or environment vector built before a fork: the child may
// only call what is safe after forking a process with several threads.
struct Vector {
    List<NarrowString> texts;
    List<char*> pointers;
    char** get() {
        pointers.clear();
        for (NarrowString& text : texts) pointers.push_back(&text[0]);
        pointers.push_back(nullptr);
        return pointers.data();
    }
};

// In a child: the standard streams on the null device, no other inherited
// descriptor (a pipe the caller reads must see its end), no blocked signal.
void becomeSilent(int openLimit) {
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
    }
    for (int fd = 3; fd < openLimit; ++fd) close(fd);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

int openLimit() {
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > 65536) return 65536;
    return static_cast<int>(limit.rlim_cur);
}
}  // namespace

bool startDetachedSelf(const WideString& variable, const WideString& value) {
    WideString self;
    if (!modulePath(self)) return false;
    Vector arguments, environment;
    arguments.texts.push_back(toNative(self));
    NarrowString assignment = toNative(variable) + "=" + toNative(value);
    environment.texts.push_back(assignment);
    NarrowString prefix = toNative(variable) + "=";
    for (char** entry = environ; *entry; ++entry)
        if (strncmp(*entry, prefix.c_str(), prefix.size()) != 0) environment.texts.push_back(*entry);
    char** argv = arguments.get();
    char** envp = environment.get();
    int limit = openLimit();
    pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        // A session of its own, and a grandchild that nobody waits for:
        // the program's end never waits for the creation.
        setsid();
        if (fork() != 0) _exit(0);
        becomeSilent(limit);
        setpriority(PRIO_PROCESS, 0, 19);
        execve(argv[0], argv, envp);
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool runSilently(const WideString& program, const List<WideString>& arguments, uint32_t& exitCode) {
    Vector argv;
    argv.texts.push_back(toNative(program));
    for (const WideString& argument : arguments) argv.texts.push_back(toNative(argument));
    char** vector = argv.get();
    int limit = openLimit();
    pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        becomeSilent(limit);
        execv(vector[0], vector);
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 127) return false;
    exitCode = static_cast<uint32_t>(WEXITSTATUS(status));
    return true;
}

// No built-in settings: an ELF executable carries no resources.
bool builtInSettingsBytes(NarrowString&) { return false; }

// No registry.
List<WideString> registrySubkeys(const WideString&, bool) { return List<WideString>(); }
bool registryText(const WideString&, const WideString&, bool, WideString&) { return false; }

void* loadLibrary(const WideString& path) {
    dlerror();
    void* library = dlopen(toNative(path).c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (!library) setError(ENOEXEC, dlerror());
    return library;
}

void* librarySymbol(void* library, const char* name) {
    dlerror();
    void* symbol = dlsym(library, name);
    if (!symbol) setError(ENOENT, dlerror());
    return symbol;
}

bool runOnThread(uint32_t stackSize, uint32_t (*body)(void*), void* argument, uint32_t& result) {
    // The java command's default for the thread that runs main: 1 MiB.
    int failed = posix::runJoinedThread(stackSize ? stackSize : 1048576, body, argument, result);
    if (failed) setError(failed, strerror(failed));
    return failed == 0;
}

void OnceEvent::set() {
    pthread_mutex_lock(&mutex_);
    set_ = true;
    pthread_cond_broadcast(&changed_);
    pthread_mutex_unlock(&mutex_);
}

void OnceEvent::wait() {
    pthread_mutex_lock(&mutex_);
    while (!set_) pthread_cond_wait(&changed_, &mutex_);
    pthread_mutex_unlock(&mutex_);
}

void sleepForever() {
    for (;;) pause();
}

void closeHandle(void*) {}
void signalEvent(void* event) { static_cast<OnceEvent*>(event)->set(); }
void stopThread(void*, uint32_t) {}

bool appendToFile(const WideString& path, const NarrowString& bytes) {
    if (path.empty()) return false;
    FileDescriptor fd(open(toNative(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
    if (fd.get() < 0) return false;
    return write(fd.get(), bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
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

uint64_t totalPhysicalMemory() {
    long pages = sysconf(_SC_PHYS_PAGES);
    long pageSize = sysconf(_SC_PAGESIZE);
    uint64_t physical = pages > 0 && pageSize > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize) : 0;
    // In a container the share is of what the container may use.
    uint64_t limit = controlGroupLimit("");
    return limit && limit < physical ? limit : physical;
}

uint64_t availableVirtualMemory() {
    struct rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) return limit.rlim_cur;
    return sizeof(void*) == 8 ? (uint64_t(1) << 47) : (uint64_t(3) << 30);
}

WideString messageText(MessageId id) {
    // The Windows build's table, but where it names Windows or an error
    // number, the system's own words about the failure.
    static const struct {
        int id;
        const char16_t* text;
    } kTexts[] = {
        {202, u"System error: %s (%s).\n"}, {203, u"" MSG_TEXT_203}, {204, u"" MSG_TEXT_204},
        {205, u"" MSG_TEXT_205}, {206, u"" MSG_TEXT_206}, {207, u"" MSG_TEXT_207}, {208, u"" MSG_TEXT_208},
        {209, u"" MSG_TEXT_209}, {210, u"" MSG_TEXT_210}, {211, u"" MSG_TEXT_211}, {212, u"" MSG_TEXT_212},
        {213, u"" MSG_TEXT_213}, {214, u"" MSG_TEXT_214}, {215, u"" MSG_TEXT_215}, {216, u"" MSG_TEXT_216},
        {217, u"" MSG_TEXT_217}, {218, u"" MSG_TEXT_218}, {219, u"" MSG_TEXT_219}, {220, u"" MSG_TEXT_220},
        {221, u"" MSG_TEXT_221}, {222, u"Failed to load Java VM library: %s (%s).\n"}, {223, u"" MSG_TEXT_223},
        {224, u"" MSG_TEXT_224}, {225, u"" MSG_TEXT_225}, {226, u"" MSG_TEXT_226}, {227, u"" MSG_TEXT_227},
        {228, u"" MSG_TEXT_228}, {229, u"" MSG_TEXT_229}, {230, u"" MSG_TEXT_230},
        {232, u"" MSG_TEXT_232}, {233, u"" MSG_TEXT_233}, {234, u"" MSG_TEXT_234},
        {235, u"" MSG_TEXT_235}, {236, u"" MSG_TEXT_236},
    };
    for (const auto& entry : kTexts)
        if (entry.id == id) return WideString(entry.text);
    return WideString();
}

// Messages go to the standard error always, and are also shown in dialogs
// (by a process of their own) when standard error is not a terminal.
bool consoleFlavour() { return !dialogs::wanted(); }

// The runtime's splash library is X11's only.
bool splashPossible() {
    const char* display = getenv("DISPLAY");
    return display && *display;
}

const bool kFailedRedirectionDescribed = false;
const bool kPerUserCopyInOwnFolder = true;
const bool kRelativeEntriesInFolder = true;
const char16_t* const kLibrarySearchVariable = u"LD_LIBRARY_PATH";
const bool kSearchPathExtendedOnlyWhenSet = true;
const bool kSplashAfterVmLibrary = true;
const bool kOwnSplashWindow = false;

void showErrorBox(void*, const WideString& text) {
    writeStandardError(text);
    if (!dialogs::wanted()) return;
    dialogs::Request request;
    request.kind = "message";
    request.fields.push_back("Error");  // the title of the Windows build's boxes
    request.fields.push_back(toUtf8(text));
    dialogs::show(request);
}

void settleDpiAwareness(bool) {}

void writeNotice(const WideString& text) { writeStandardError(text); }

void writeStandardError(const WideString& text) {
    WideString lines = text;
    if (!lines.endsWith(u'\n')) lines += u'\n';
    NarrowString bytes = toNative(lines);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(2, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
}

// The runtime handles SIGINT and SIGTERM itself (its shutdown hooks run):
// the launcher installs no handler and changes no signal mask.
void onConsoleControl(bool (*)(int32_t)) {}

int showExceptionDialog(const WideString& trace) {
    dialogs::Request request;
    request.kind = "exception";
    request.fields.push_back(toUtf8(trace));
    // The dialog's trace on the standard error too, for the program's log,
    // before the dialog shows: the program may end while it is up.
    int answer = dialogs::show(request, nullptr, &trace);
    if (answer == dialogs::kNotShown) return kExceptionDialogNotShown;
    return answer;
}

}  // namespace platform
