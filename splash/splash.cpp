#include "splash/splash.h"

#include "launcher/environment.h"
#include "launcher/launcher.h"
#include "launcher/launcher_settings.h"
#include "launcher/settings.h"
#include "splash/runtime_splash.h"
#include "support/platform.h"

bool splashShadowWanted(const WideString& shadow) { return shadow == u"true"; }

bool tryRuntimeSplash(const WideString& preference, const WideString& libraryPath) {
    return preference.equalsIgnoreAsciiCase(u"Yes") && !libraryPath.empty();
}

void startSplash(Launcher& launcher) {
    // Without a settings file path (already reported) there is simply no
    // splash: the launch itself does not depend on it.
    WideString path;
    if (!settingsFilePath(launcher, path)) return;
    SettingsFile settingsFile(path);
    // Each read parses the file again: a launch without a splash reads one value.
    launcher.splashImagePath = settingsFile.read(u"Display", u"Splash Screen");
    if (!settingsPath(launcher.splashImagePath, u"Splash Screen") || launcher.splashImagePath.empty()) return;
    launcher.splashShadow = settingsFile.read(u"Display", u"Splash Screen Shadow");
    WideString preference = settingsFile.read(u"Display", u"Preffer Native Splash Screen");

    WideString library = findRuntimeSplashLibrary(launcher.jvmLibraryPath);
    // Where the launcher has no window of its own, the runtime's library is
    // the splash whatever the preference says.
    bool runtimeFirst = tryRuntimeSplash(preference, library) || (!platform::kOwnSplashWindow && !library.empty());
    if (runtimeFirst && startRuntimeSplash(launcher, library, launcher.splashImagePath)) return;
    if (platform::kOwnSplashWindow) startSplashWindow(launcher);
}

void closeSplash(Launcher& launcher) {
    // The splash thread runs a message loop: a quit message ends it.
    if (launcher.splashThread) {
        platform::stopThread(launcher.splashThread, launcher.splashThreadId);
        platform::closeHandle(launcher.splashThread);
        launcher.splashThread = nullptr;
    }
    delete launcher.splashWindow;
    launcher.splashWindow = nullptr;
}

SplashRect centredSplashRect(int32_t screenWidth, int32_t screenHeight, int32_t width, int32_t height) {
    SplashRect rect;
    rect.left = (screenWidth - width) / 2;
    rect.top = (screenHeight - height) / 2;
    rect.right = rect.left + width;
    rect.bottom = rect.top + height;
    return rect;
}

int32_t himetricToPixels(int32_t himetric, int32_t pixelsPerInch) {
    int64_t scaled = static_cast<int64_t>(himetric) * pixelsPerInch;
    // Halves round away from zero.
    int64_t rounded = scaled >= 0 ? (scaled + 1270) / 2540 : (scaled - 1270) / 2540;
    return static_cast<int32_t>(rounded);
}

bool hasPngSignature(const uint8_t* bytes, size_t length) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (length < sizeof kSignature) return false;
    for (size_t i = 0; i < sizeof kSignature; ++i)
        if (bytes[i] != kSignature[i]) return false;
    return true;
}

bool splashImageSizeAccepted(uint64_t size) { return size > 0 && size <= kSplashImageLimit; }
