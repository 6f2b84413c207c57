#include "launcher/launcher.h"

#include "launcher/command_line.h"
#include "launcher/environment.h"
#include "launcher/launcher_settings.h"
#include "launcher/settings.h"
#include "runtime/runtime_search.h"
#include "splash/splash.h"
#include "support/platform.h"
#include "vm/vm_options.h"
#include "vm/vm_start.h"

static Launcher* current = nullptr;

Launcher* currentLauncher() { return current; }

Launcher::Launcher() { current = this; }

bool Launcher::initialise() {
    readArguments(*this);
    if (!readLauncherSettings(*this)) return false;

    // Single-instance hand-over is not available in this build: a launch
    // that asks for it cannot go on.
    WideString path;
    if (!isService && settingsFilePath(*this, path)) {
        LayeredSettingsFile layered(path, builtInSettingsText());
        if (static_cast<SettingsFile&>(layered).read(u"Application", u"Single Instance") == u"yes") return false;
    }

    if (overrideWorkingDir) applyWorkingDirectory(*this);
    // Without the missing-runtime dialog, a failed search ends the launch.
    return findRuntime(*this);
}

static bool hasNoSplashSwitch(const List<WideString>& arguments) {
    for (const WideString& argument : arguments)
        if (argument == u"-nosplash" || argument == u"/nosplash") return true;
    return false;
}

int32_t Launcher::run() {
    // Starting the paired product is not available in this build.
    if (pairLaunch) return -1;

    prepareEnvironment(*this);
    // The splash never ends the launch, whatever becomes of it.
    if (!hasNoSplashSwitch(arguments)) startSplash(*this);

    if (!loadVmLibrary(*this)) return -1;
    if (!buildVmOptions(*this)) return -1;

    uint32_t result = startVmThread(*this);
    if (result == VmThreadSucceeded) return 0;
    if (runtimeSplashClose) {
        runtimeSplashClose();
        runtimeSplashClose = nullptr;
    }
    return result == VmThreadMainThrew ? 1 : -1;
}

Launcher::~Launcher() {
    closeSplash(*this);
    // Destroying waits until the Java program's last non-daemon thread ends.
    if (javaVM) javaVM->DestroyJavaVM();
    if (vmReadyEvent) platform::closeHandle(vmReadyEvent);
    if (runtimeSplashClose) {
        runtimeSplashClose();
        runtimeSplashClose = nullptr;
    }
    if (current == this) current = nullptr;
}
