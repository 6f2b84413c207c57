#include "splash/runtime_splash.h"

#include "launcher/environment.h"
#include "launcher/launcher.h"
#include "runtime/runtime_layout.h"
#include "support/platform.h"

WideString findRuntimeSplashLibrary(const WideString& jvmLibraryPath) {
    WideString path = kRuntimeLayout.splashBelowHome ? runtimeHome(jvmLibraryPath) : runtimeBinFolder(jvmLibraryPath);
    if (path.empty()) return WideString();
    if (!path.endsWith(u'\\') && !path.endsWith(u'/')) path += platform::kPathSeparator;
    path += kRuntimeLayout.splashLibrary;
    return platform::fileExists(path) ? path : WideString();
}

bool runtimeSplashImageName(const WideString& imagePath, NarrowString& name) {
    if (platform::toAnsiExact(imagePath, name)) return true;
    // A name the ANSI code page cannot spell would reach the library with
    // replacement characters and name no file; its short form is plain ASCII
    // where the file system keeps one.
    WideString shortPath;
    return platform::shortPath(imagePath, shortPath) && platform::toAnsiExact(shortPath, name);
}

typedef void (*SplashInitFunction)();
typedef void (*SplashLoadFileFunction)(const char*);
typedef void (*SplashSetFileJarNameFunction)(const char*, const char*);
typedef void (*SplashCloseFunction)();

template <typename Function>
static Function entryPoint(void* library, const char* name) {
    return reinterpret_cast<Function>(platform::librarySymbol(library, name));
}

bool startRuntimeSplash(Launcher& launcher, const WideString& libraryPath, const WideString& imagePath) {
    // Decided before the library is loaded, so that the launcher's own
    // window (which reads the wide path) can show an image the library
    // could not name.
    NarrowString name;
    if (!runtimeSplashImageName(imagePath, name)) return false;

    void* library = platform::loadLibrary(libraryPath);
    if (!library) return false;
    SplashInitFunction init = entryPoint<SplashInitFunction>(library, "SplashInit");
    SplashLoadFileFunction loadFile = entryPoint<SplashLoadFileFunction>(library, "SplashLoadFile");
    SplashSetFileJarNameFunction setFileJarName =
        entryPoint<SplashSetFileJarNameFunction>(library, "SplashSetFileJarName");
    SplashCloseFunction close = entryPoint<SplashCloseFunction>(library, "SplashClose");
    // A library without the other three was never initialised: it has
    // nothing to close either.
    if (!init || !loadFile || !setFileJarName) return false;
    launcher.runtimeSplashClose = close;

    init();
    loadFile(name.c_str());
    // No jar: the image is a file of its own (with an empty jar name the
    // runtime would give the program an address inside a jar of that name).
    setFileJarName(name.c_str(), nullptr);
    return true;
}

void closeRuntimeSplash(Launcher& launcher) {
    if (!launcher.runtimeSplashClose) return;
    launcher.runtimeSplashClose();
    launcher.runtimeSplashClose = nullptr;
}
