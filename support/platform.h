// The few services that the launcher's platform-neutral code needs from the
// operating system. platform_win32.cpp supplies them on Windows;
// platform_host.cpp supplies them on the build machine, for the tests.
#ifndef SUPPORT_PLATFORM_H
#define SUPPORT_PLATFORM_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "support/messages.h"
#include "support/wide_string.h"

namespace platform {

// The calling thread's last system error code.
uint32_t lastError();
// The system's own words for the last failure where it has them (the
// dynamic loader's message on Linux); empty where the code says it all.
WideString lastErrorText();

// How this system writes paths and path lists: the folder separator ('\\'
// on Windows, '/' on Linux) and the separator of a list such as a search path.
extern const char16_t kPathSeparator;
extern const char16_t kListSeparator;
// The name of the variable that holds the program search path.
extern const char16_t* const kSearchPathVariable;
// The settings file's name: the executable's with its extension replaced by
// "ini" (false), or with ".ini" appended to the whole name (true: programs
// there have no extension).
extern const bool kSettingsNameAppended;
// The settings that only mean something on Windows (the paired program,
// services, registry vendors) are read and ignored on this system.
extern const bool kWindowsKeysIgnored;
// The folder of the per-user settings copies (APPDATA on Windows).
WideString perUserSettingsFolder();
// A per-user copy without product name and code lies in a folder named after
// the program (true), not straight in that folder, where its name may be
// another program's (Linux: ~/.config/<name>.ini).
extern const bool kPerUserCopyInOwnFolder;
// A relative class-path entry without a leading separator ("lib/app.jar")
// lies in the executable's folder (true); Windows joins it to the folder's
// name as written, which reaches a sibling folder ("<folder>lib").
extern const bool kRelativeEntriesInFolder;
// The variable from which the runtime takes library folders ahead of its
// own default when the virtual machine is created (LD_LIBRARY_PATH), where
// "Library Path" goes there; null where it becomes the java.library.path
// option whole (Windows).
extern const char16_t* const kLibrarySearchVariable;
// The program search path is extended only when it is set and not empty
// (true): an unset one means the system's default, an empty entry the
// current directory.
extern const bool kSearchPathExtendedOnlyWhenSet;

// The arguments after the program name as the system handed them over, where
// it hands them over one by one (argv); false where the process receives one
// command line that the launcher splits itself.
bool argumentVector(List<WideString>& arguments);

// The running executable's full path, however long. False when the system
// cannot tell (the last error is then set).
bool modulePath(WideString& path);
// The process command line as the system holds it.
WideString commandLine();
bool setCurrentDirectory(const WideString& path);
bool currentDirectory(WideString& path);

// Environment variables of the launcher's own process.
bool readEnvironment(const WideString& name, WideString& value);
void writeEnvironment(const WideString& name, const WideString& value);
void removeEnvironment(const WideString& name);
// Expands %NAME% references; undefined names stay as written. False when
// the expansion fails (the caller keeps its text).
bool expandEnvironment(const WideString& text, WideString& expanded);
// True on the NT family of systems (version platform id 2).
bool isNtFamily();

// The path made absolute against the current directory the way the system
// resolves it ("." and ".." resolved; nothing is looked up on the disk).
// False when the system cannot tell.
bool fullPath(const WideString& path, WideString& full);

// The path with every symbolic link in it followed: the real file or folder.
// False when it does not exist.
bool resolveLinks(const WideString& path, WideString& resolved);

// A file "exists" for the launcher when a directory search finds it.
bool fileExists(const WideString& path);
// Whether two names reach one existing file (its identity on its volume,
// however each name is spelled); false when either cannot be opened.
bool sameFile(const WideString& a, const WideString& b);
// Names matched by a directory search on pattern, in file-system order.
List<WideString> findFiles(const WideString& pattern);
// Creates one folder: 0, or the system error code (kErrorAlreadyExists
// when it is there already).
uint32_t createDirectory(const WideString& path);
constexpr uint32_t kErrorAlreadyExists = 183;
// Removes an empty folder.
bool removeDirectory(const WideString& path);
bool deleteFile(const WideString& path);

// What the start-up cache's key and checks need to know of a path.
struct FileFacts {
    bool exists = false;
    bool directory = false;
    bool emptyDirectory = false;  // a folder without entries (the runtime skips it)
    uint64_t size = 0;
    uint64_t modified = 0;        // modification time, in the system's own units
};
bool fileFacts(const WideString& path, FileFacts& facts);
// A stamp that changes with every write to the file and is not carried over
// by a copy: the status (Windows: change) time; 0 when it cannot be read.
uint64_t changeStamp(const WideString& path);
// Renames a file, replacing the target when it exists (atomically where the
// system can): a reader sees the old file or the new one, never a part.
bool replaceFile(const WideString& from, const WideString& to);
// Whether this user may create files in a folder.
bool writableFolder(const WideString& path);
// The per-user folder of caches that may be removed at any time: the local
// (non-roaming) application data on Windows, $XDG_CACHE_HOME on Linux.
WideString perUserCacheFolder();
// The start-up cache's own folder, made so that only this user may use it
// (Linux: mode 0700; Windows: the per-user access list it inherits): 0,
// kErrorAlreadyExists, or another error code.
uint32_t createPrivateDirectory(const WideString& path);
// What a path in the cache's own folder, or that folder, is to the launcher:
// missing; this user's own (no link, owned by the user, a folder that nobody
// else may write to, a regular file where a file is asked for); or anything
// else (another's, a link, a pipe, a device, a folder in a file's place),
// which the launcher never opens.
enum class Ownership { Missing, Own, Other };
Ownership ownership(const WideString& path, bool folder);
// The bytes this user may still write on the volume of a folder; false when unknown.
bool freeSpace(const WideString& folder, uint64_t& bytes);
// Starts the launcher's own executable again, detached from this process
// (no console, no window, standard streams on the null device, no waiting),
// at the lowest priority, with variable=value added to its environment.
bool startDetachedSelf(const WideString& variable, const WideString& value);
// Runs a program with arguments silently (standard streams on the null
// device) and waits for it; false when it could not be started.
bool runSilently(const WideString& program, const List<WideString>& arguments, uint32_t& exitCode);

// Starting the launch again (launcher/restart.cpp). Where the process
// executes itself anew (true: Linux), a restart happens in the process the
// runtime ends; else (Windows) the first process supervises the runs.
extern const bool kRestartInPlace;
// Milliseconds of a clock that only goes forward, the same for every
// process of the machine.
uint64_t monotonicMilliseconds();
// What a launch started again needs of this one's start, kept first thing:
// the working directory and the environment as they were, the standard streams.
void rememberStart();
// The process that may have started this one again: this process itself
// where it executes itself anew, else its parent.
uint32_t startingProcessId();
// Starts this executable again with the arguments, working directory and
// environment it started with, and variable=value added. Linux: the
// process executes itself anew (its descriptors but the standard streams
// closed). Windows: a child with this process's standard streams, waited
// for; then this process ends with the child's exit code. Returns only when
// no new start could be made. kept: a descriptor the new start takes over
// (Linux), or -1.
bool startAgain(const WideString& variable, const WideString& value, intptr_t kept);
// The supervising process's restart signal, which the runs inherit: made
// (its number in value), and raised by a run from its exit, which then
// waits (bounded) until the supervising process has reset it.
void* createRestartSignal(uint64_t& value);
void raiseRestartSignal(uint64_t value);
// A run started as startAgain starts it (Windows) and waited for; when it raises the
// restart signal meanwhile, asked(context) runs before the signal is reset,
// and restartAsked is true (Windows).
bool superviseRun(const WideString& variable, const WideString& value, void* signal, void (*asked)(void*),
                  void* context, int32_t& code, bool& restartAsked);
// The runtime's printed output, which the runtime hands to the launcher:
// its text, formatted as the runtime's C library would, and the text passed
// on to the stream it was meant for (a stream of the runtime's C library).
NarrowString formatRuntimeText(const char* format, va_list arguments);
void writeRuntimeText(void* stream, const NarrowString& text);
// Whether the runtime's stream is its standard output or error (not a
// file of its own, such as a log).
bool standardRuntimeStream(void* stream);
// The runtime's library once loaded (Windows: its C library is found from it).
void noteRuntimeLibrary(void* library);

// A whole file mapped read-only; empty when it could not be opened or mapped.
class ReadOnlyMapping {
public:
    explicit ReadOnlyMapping(const WideString& path);
    ~ReadOnlyMapping();
    ReadOnlyMapping(const ReadOnlyMapping&) = delete;
    ReadOnlyMapping& operator=(const ReadOnlyMapping&) = delete;
    bool isOpen() const { return opened_; }
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

private:
    bool opened_ = false;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    [[maybe_unused]] void* file_ = nullptr;  // the host build maps without handles
    [[maybe_unused]] void* mapping_ = nullptr;
};

// An existing file held by this process alone while the object lives; the
// system lets go when the process ends, so a crashed holder holds nothing.
// Not waited for: take() is false while another process holds it.
class ExclusiveFile {
public:
    ExclusiveFile() = default;
    ~ExclusiveFile() { release(); }
    ExclusiveFile(const ExclusiveFile&) = delete;
    ExclusiveFile& operator=(const ExclusiveFile&) = delete;
    bool take(const WideString& path);
    void release();
    bool held() const { return held_; }

private:
    bool held_ = false;
    intptr_t handle_ = -1;
};

// Profile-string (INI) access with the semantics of the system's reader:
// the returned count excludes the terminator; a value longer than the buffer
// is cut to size - 1 characters (section names: size - 2).
uint32_t readProfileString(const WideString& path, const WideString& section, const WideString& key,
                           char16_t* buffer, uint32_t size);
uint32_t readProfileSectionNames(const WideString& path, char16_t* buffer, uint32_t size);
bool writeProfileString(const WideString& path, const WideString& section, const WideString& key,
                        const WideString& value);
// Removes one key from a settings file.
bool removeProfileString(const WideString& path, const WideString& section, const WideString& key);
// Where the system has no profile functions, profile_file.cpp supplies them
// over these two: a whole file's bytes (false when it cannot be read), and a
// whole file replaced so that a failed write leaves the old one as it was.
bool readWholeFile(const WideString& path, NarrowString& bytes);
bool replaceWholeFile(const WideString& path, const NarrowString& bytes);
// Creates a new, empty settings file as UTF-16LE with a byte-order mark (the
// profile functions then keep it Unicode); false when it exists or fails.
bool createUnicodeFile(const WideString& path);

// The executable's built-in settings text as raw bytes; false when it has none.
bool builtInSettingsBytes(NarrowString& bytes);

// Registry under HKEY_LOCAL_MACHINE, through this build's own view or the
// other one (the 64-bit view for the 32-bit build, and the other way round).
List<WideString> registrySubkeys(const WideString& key, bool otherView);
bool registryText(const WideString& key, const WideString& valueName, bool otherView, WideString& text);

// Dynamic libraries; they stay loaded for the life of the process.
void* loadLibrary(const WideString& path);
void* librarySymbol(void* library, const char* name);

// Runs body(argument) on a new thread whose stack reservation is stackSize
// bytes (0: the system default), waits for it without time limit and gives
// its result. False when no thread could be created.
bool runOnThread(uint32_t stackSize, uint32_t (*body)(void*), void* argument, uint32_t& result);
[[noreturn]] void sleepForever();
// Ends the process at once with this exit code (from inside the runtime's
// abort, which would end it with its own).
[[noreturn]] void exitNow(int32_t code);
void sleepMilliseconds(uint32_t milliseconds);
void closeHandle(void* handle);
void signalEvent(void* event);
// Ends a thread that runs a message loop: posts it a quit message and waits
// on its handle, posting again while it has no message queue yet.
void stopThread(void* thread, uint32_t threadId);

// Appends bytes to a file (created when missing) with one write on a handle
// opened for appending only, so that lines of several processes never mix.
bool appendToFile(const WideString& path, const NarrowString& bytes);
// The local time as "YYYY-MM-DD hh:mm:ss.mmm", and this process's id.
NarrowString localTimeStamp();
uint32_t processId();
// Whether a process of this id runs (an id the system has given again
// counts as running).
bool processRunning(uint32_t id);

// Global memory status, in bytes.
uint64_t totalPhysicalMemory();
uint64_t availableVirtualMemory();

// Narrow text in the ANSI code page of the current thread's locale.
NarrowString toAnsi(const WideString& text);
WideString fromAnsi(const char* text, size_t length);
// The same, false when some character has no counterpart in the code page.
bool toAnsiExact(const WideString& text, NarrowString& result);
// The short (8.3) form of an existing file's or folder's path; false when there is none.
bool shortPath(const WideString& path, WideString& result);

// The message table and the error message box.
WideString messageText(MessageId id);

// The executable's flavour, fixed when it is linked (flavour_windowed_win32.cpp
// or flavour_console_win32.cpp): the windowed launcher, or the console
// launcher for command-line programs, which shows no window at all.
bool consoleFlavour();
// An error report: a message box owned by owner, or in the console flavour
// the exact text on the standard error, lines ending in "\r\n".
void showErrorBox(void* owner, const WideString& text);
// The process's DPI awareness, settled once before its first window: per
// monitor (version 2 where the system has it) or system-wide. Later calls
// change nothing; on Linux there is nothing to settle.
void settleDpiAwareness(bool perMonitor);

// A notice for the user that is no error: on the standard error where the
// launcher has one (Linux, the console flavour); nothing in a windowed program.
void writeNotice(const WideString& text);
// Console flavour: from now on Ctrl+C, Ctrl+Break, closing the console and
// shutdown call end with the exit code for the event (consoleEventExitCode);
// when end returns false the system's default handling ends the process.
// Logoff ends nothing. The windowed flavour has no
// console and ignores the call.
void onConsoleControl(bool (*end)(int32_t code));

// Whether a splash screen can be shown at all (the Windows console build and
// a Linux session without an X display show none), and whether this system
// has the launcher's own splash window (else only the runtime's library).
bool splashPossible();
extern const bool kOwnSplashWindow;
// The Java exception of an output file that cannot be opened is described on
// the standard error where that reaches no one who did not ask (Windows: the
// windowed launcher has none); on Linux, where it is the user's terminal,
// only the trace tells.
extern const bool kFailedRedirectionDescribed;
// The runtime's splash library links the runtime's own libraries, which only
// the virtual-machine library, once loaded, lets the system find (Linux).
extern const bool kSplashAfterVmLibrary;

// The uncaught-exception dialog with a trace text: 1 for Ignore, 2 for Stop,
// anything else when it could not be shown. Blocks the calling thread.
int showExceptionDialog(const WideString& trace);
// Its answer where no dialog can be shown at all (a Linux session without a
// display): the exception is then the runtime's to report.
constexpr int kExceptionDialogNotShown = -100;

}  // namespace platform

#endif
