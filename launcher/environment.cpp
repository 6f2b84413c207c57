#include "launcher/environment.h"

#include "launcher/launcher.h"
#include "support/messages.h"
#include "support/platform.h"

bool modulePath(Launcher& launcher, WideString& path) {
    if (platform::modulePath(path)) return true;
    reportError(launcher.messageOwner, LaunchError::system(MsgNoModulePath));
    return false;
}

bool executableFolder(Launcher& launcher, WideString& folder) {
    WideString path;
    if (!modulePath(launcher, path)) return false;
    size_t slash = path.findLast(u'\\');
    folder = slash == WideString::npos ? WideString() : path.left(slash + 1);
    return true;
}

void applyWorkingDirectory(Launcher& launcher) {
    WideString path;
    if (!modulePath(launcher, path)) return;
    size_t slash = path.findLast(u'\\');
    if (slash != WideString::npos && slash >= 1) platform::setCurrentDirectory(path.left(slash));
}

void expandEnvironment(WideString& text) {
    WideString expanded;
    if (platform::expandEnvironment(text, expanded)) text = expanded;
}

// Drops the last backslash and what follows, `cuts` times; a cut is
// skipped when no backslash is left.
static WideString cutBackslashes(WideString path, int cuts) {
    for (int i = 0; i < cuts; ++i) {
        size_t slash = path.findLast(u'\\');
        if (slash != WideString::npos) path = path.left(slash);
    }
    return path;
}

WideString runtimeHome(const WideString& jvmLibraryPath) { return cutBackslashes(jvmLibraryPath, 3); }

WideString runtimeBinFolder(const WideString& jvmLibraryPath) { return cutBackslashes(jvmLibraryPath, 2); }

WideString runtimeHomeWithSeparator(const WideString& jvmLibraryPath) {
    WideString bin = runtimeBinFolder(jvmLibraryPath);
    size_t slash = bin.findLast(u'\\');
    return slash == WideString::npos ? bin : bin.left(slash + 1);
}

void prepareEnvironment(Launcher& launcher) {
    platform::writeEnvironment(u"VEDA_JVM_PATH", launcher.jvmLibraryPath);
    platform::writeEnvironment(u"VEDA_JVM_HOME", runtimeHome(launcher.jvmLibraryPath));

    if (!launcher.libraryPath.empty()) {
        WideString& path = launcher.libraryPath;
        WideString folder;
        if (executableFolder(launcher, folder)) {
            // Keep the list valid: the folder is a new item, not a suffix of the last one.
            if (!path.endsWith(u';')) path += u';';
            path += folder;
        }
        path += u";.";
        path += u";%Path%";
        path += u";" + runtimeHomeWithSeparator(launcher.jvmLibraryPath) + u"lib";
        expandEnvironment(path);
        launcher.vmOptions.push_back(platform::toAnsi(u"-Djava.library.path=" + path));
    }

    WideString searchPath = launcher.systemPath;
    if (!searchPath.empty() && !searchPath.endsWith(u';')) searchPath += u';';
    searchPath += u"%Path%;";
    searchPath += runtimeBinFolder(launcher.jvmLibraryPath);
    expandEnvironment(searchPath);
    platform::writeEnvironment(u"Path", searchPath);
}
