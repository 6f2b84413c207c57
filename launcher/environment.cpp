#include "launcher/environment.h"

#include "launcher/launcher.h"
#include "runtime/runtime_layout.h"
#include "support/messages.h"
#include "support/platform.h"
#include "support/trace.h"

bool modulePath(Launcher& launcher, WideString& path) {
    if (platform::modulePath(path)) return true;
    reportError(launcher.messageOwner, LaunchError::system(MsgNoModulePath));
    return false;
}

bool executableFolder(Launcher& launcher, WideString& folder) {
    WideString path;
    if (!modulePath(launcher, path)) return false;
    size_t slash = path.findLast(platform::kPathSeparator);
    folder = slash == WideString::npos ? WideString() : path.left(slash + 1);
    return true;
}

void applyWorkingDirectory(Launcher& launcher) {
    WideString path;
    if (!modulePath(launcher, path)) return;
    size_t slash = path.findLast(platform::kPathSeparator);
    if (slash != WideString::npos && slash >= 1) platform::setCurrentDirectory(path.left(slash));
}

void expandEnvironment(WideString& text) {
    WideString expanded;
    if (platform::expandEnvironment(text, expanded)) text = expanded;
}

// Drops the last separator and what follows, `cuts` times; a cut is
// skipped when no separator is left.
static WideString cutSeparators(WideString path, int cuts) {
    for (int i = 0; i < cuts; ++i) {
        size_t slash = path.findLast(platform::kPathSeparator);
        if (slash != WideString::npos) path = path.left(slash);
    }
    return path;
}

// The home of a library found at one of the layout's sub-paths; the old
// layouts keep it a folder deeper than bin\<type>\ or lib/<type>/.
static WideString homeOf(const WideString& jvmLibraryPath) {
    for (const char16_t* const* sub = kRuntimeLayout.serverFirst; *sub; ++sub)
        if (jvmLibraryPath.endsWith(platform::kPathSeparator + WideString(*sub)))
            return jvmLibraryPath.left(jvmLibraryPath.size() - WideString(*sub).size() - 1);
    return cutSeparators(jvmLibraryPath, 3);
}

WideString runtimeHome(const WideString& jvmLibraryPath) { return homeOf(jvmLibraryPath); }

WideString runtimeBinFolder(const WideString& jvmLibraryPath) {
    if (platform::kPathSeparator == u'\\') return cutSeparators(jvmLibraryPath, 2);
    return homeOf(jvmLibraryPath) + platform::kPathSeparator + u"bin";
}

WideString runtimeHomeWithSeparator(const WideString& jvmLibraryPath) {
    WideString bin = runtimeBinFolder(jvmLibraryPath);
    size_t slash = bin.findLast(platform::kPathSeparator);
    return slash == WideString::npos ? bin : bin.left(slash + 1);
}

PathForm settingsPathForm(const WideString& path) {
    bool drive = path.size() >= 2 && path[1] == u':';
    bool network = path.startsWith(u"\\\\");
    if (platform::kPathSeparator == u'\\') return drive || network ? PathForm::Absolute : PathForm::Relative;
    // Elsewhere a Windows drive or server means nothing; '/' starts a path
    // from the root, and a leading backslash stays relative as on Windows.
    if (drive || network) return PathForm::Foreign;
    return path.startsWith(u"/") ? PathForm::Absolute : PathForm::Relative;
}

WideString nativePath(WideString path) {
    if (platform::kPathSeparator != u'\\') path.replaceAll(u'\\', platform::kPathSeparator);
    return path;
}

bool settingsPath(WideString& value, const char16_t* key) {
    if (value.empty() || settingsPathForm(value) != PathForm::Foreign) {
        value = nativePath(value);
        return true;
    }
    TRACE_EVENT("passed over").field("key", key).field("value", value).field("reason", "a Windows drive or server path");
    value.clear();
    return false;
}

List<WideString> settingsList(const WideString& value) {
    List<WideString> items = splitAt(value, u';');
    if (platform::kListSeparator == u';') return items;
    List<WideString> all;
    for (const WideString& item : items) {
        // "C:\x.jar" is one (Windows) item, not "C" and "\x.jar": a colon
        // right after a single leading letter is a drive's.
        size_t start = 0;
        for (size_t at = 0; at <= item.size(); ++at) {
            bool end = at == item.size();
            if (!end && item[at] != platform::kListSeparator) continue;
            bool drive = !end && at == start + 1 &&
                         ((item[start] >= u'A' && item[start] <= u'Z') || (item[start] >= u'a' && item[start] <= u'z'));
            if (drive) continue;
            all.push_back(item.substr(start, at - start));
            start = at + 1;
        }
    }
    return all;
}
// The runtime builds its library path from the library variable and its own
// default folders (a distribution's JNI folders among them) when the virtual
// machine is created: the "Library Path" folders and the executable's folder
// go in front of the variable, and neither "." nor the program search path.
static void libraryFoldersFirst(Launcher& launcher) {
    const char16_t separator = platform::kListSeparator;
    const char16_t* variable = platform::kLibrarySearchVariable;
    WideString folders = launcher.libraryPath;
    expandEnvironment(folders);
    WideString folder;
    if (executableFolder(launcher, folder)) {
        while (folder.size() > 1 && folder.endsWith(platform::kPathSeparator)) folder = folder.left(folder.size() - 1);
        folders += separator + folder;
    }
    launcher.libraryVariableWasSet = platform::readEnvironment(variable, launcher.libraryVariableBefore);
    WideString value = folders;
    if (!launcher.libraryVariableBefore.empty()) value += separator + launcher.libraryVariableBefore;
    platform::writeEnvironment(variable, value);
    launcher.libraryVariableChanged = true;
}

void restoreLibraryVariable(Launcher& launcher) {
    if (!launcher.libraryVariableChanged) return;
    launcher.libraryVariableChanged = false;
    if (launcher.libraryVariableWasSet)
        platform::writeEnvironment(platform::kLibrarySearchVariable, launcher.libraryVariableBefore);
    else
        platform::removeEnvironment(platform::kLibrarySearchVariable);
}

void prepareEnvironment(Launcher& launcher) {
    // The application's own folder, for paths in options (a module path),
    // whatever the working directory.
    WideString home;
    if (executableFolder(launcher, home) && home.size() > 1) home = home.left(home.size() - 1);
    platform::writeEnvironment(u"VEDA_APP_HOME", home);
    platform::writeEnvironment(u"VEDA_JVM_PATH", launcher.jvmLibraryPath);
    platform::writeEnvironment(u"VEDA_JVM_HOME", runtimeHome(launcher.jvmLibraryPath));

    const char16_t separator = platform::kListSeparator;
    WideString searchPathReference = u"%" + WideString(platform::kSearchPathVariable) + u"%";
    if (!launcher.libraryPath.empty() && platform::kLibrarySearchVariable) {
        libraryFoldersFirst(launcher);
    } else if (!launcher.libraryPath.empty()) {
        WideString& path = launcher.libraryPath;
        WideString folder;
        if (executableFolder(launcher, folder)) {
            // Keep the list valid: the folder is a new item, not a suffix of the last one.
            if (!path.endsWith(separator)) path += separator;
            path += folder;
        }
        path += separator + WideString(u".");
        path += separator + searchPathReference;
        path += separator + runtimeHomeWithSeparator(launcher.jvmLibraryPath) + u"lib";
        expandEnvironment(path);
        launcher.vmOptions.push_back(platform::toAnsi(u"-Djava.library.path=" + path));
    }

    WideString current;
    bool searchPathSet = platform::readEnvironment(platform::kSearchPathVariable, current) && !current.empty();
    if (!searchPathSet && platform::kSearchPathExtendedOnlyWhenSet) return;
    WideString searchPath = launcher.systemPath;
    if (!searchPath.empty() && !searchPath.endsWith(separator)) searchPath += separator;
    searchPath += searchPathReference + separator;
    searchPath += runtimeBinFolder(launcher.jvmLibraryPath);
    expandEnvironment(searchPath);
    platform::writeEnvironment(platform::kSearchPathVariable, searchPath);
}
