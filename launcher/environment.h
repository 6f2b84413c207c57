// The executable's own path and folder, the working directory, environment
// expansion and the environment prepared for the Java program.
#ifndef LAUNCHER_ENVIRONMENT_H
#define LAUNCHER_ENVIRONMENT_H

#include "support/wide_string.h"

class Launcher;

// The executable's full path, however long. On failure shows message 202
// (with 208) owned by messageOwner and returns false.
bool modulePath(Launcher& launcher, WideString& path);
// The module path up to and including its last backslash (empty without one).
bool executableFolder(Launcher& launcher, WideString& folder);
// Makes the executable's folder the current directory ("Override WorkingDir").
void applyWorkingDirectory(Launcher& launcher);
// Expands %NAME% references in place; on failure the text stays as it was.
void expandEnvironment(WideString& text);
// Sets VEDA_JVM_PATH, VEDA_JVM_HOME, the library-path option (or, where
// the runtime reads them from a variable, the library folders) and Path.
void prepareEnvironment(Launcher& launcher);
// Gives the library variable back its user's value once the virtual
// machine has been created; nothing where it was not changed.
void restoreLibraryVariable(Launcher& launcher);

// Folders derived from the path of a runtime's jvm library, e.g. for
// C:\Java\jre\bin\client\jvm.dll: C:\Java\jre, C:\Java\jre\bin, C:\Java\jre\.
WideString runtimeHome(const WideString& jvmLibraryPath);
WideString runtimeBinFolder(const WideString& jvmLibraryPath);
WideString runtimeHomeWithSeparator(const WideString& jvmLibraryPath);

// How a path from the settings file is taken here. The file is the same on
// every system: by Windows' rules a drive letter or a \\server name makes a
// path absolute; where paths are written with '/', such a path names nothing
// here (Foreign), and a leading '/' makes one absolute.
enum class PathForm { Relative, Absolute, Foreign };
PathForm settingsPathForm(const WideString& path);
// The path in this system's notation: backslashes become its separator.
WideString nativePath(WideString path);
// A path value of the settings file (key names it in the trace) made native;
// false, with the value cleared and a trace line, for a Foreign one.
bool settingsPath(WideString& value, const char16_t* key);
// A list value of the settings file: ';' separates its items, and where the
// system's own lists use another separator (':'), that one too.
List<WideString> settingsList(const WideString& value);

#endif
