#include "launcher/launcher.h"

#include "instance/paired_product.h"
#include "instance/single_instance.h"
#include "launcher/command_line.h"
#include "launcher/environment.h"
#include "launcher/launcher_settings.h"
#include "launcher/settings.h"
#include "runtime/missing_runtime.h"
#include "runtime/runtime_search.h"
#include "splash/splash.h"
#include "support/platform.h"
#include "vm/console_control.h"
#include "vm/startup_cache.h"
#include "vm/vm_options.h"
#include "vm/vm_start.h"

static Launcher* current = nullptr;

Launcher* currentLauncher() { return current; }

Launcher::Launcher() { current = this; }

bool Launcher::initialise() {
    readArguments(*this);
    if (!readLauncherSettings(*this)) return false;

    if (!setUpSingleInstance(*this)) return false;
    // A second instance has handed its arguments over; run waits for the answer.
    if (singleInstance && !isPrimaryInstance) return true;

    if (overrideWorkingDir) applyWorkingDirectory(*this);
    resolvePairProduct(*this);
    // A failed search shows nothing by itself: the dialog asks the user.
    return findRuntime(*this) || askForRuntime(*this);
}

static bool hasNoSplashSwitch(const List<WideString>& arguments) {
    for (const WideString& argument : arguments)
        if (argument == u"-nosplash" || argument == u"/nosplash") return true;
    return false;
}

int32_t Launcher::run() {
    if (pairLaunch) {
        // This process runs no virtual machine: later launches must not
        // hand their arguments to it.
        releaseSingleInstance(*this);
        return startPairedProduct(*this);
    }
    if (singleInstance && !isPrimaryInstance) return waitForFirstInstance(*this);

    prepareEnvironment(*this);
    // The splash never ends the launch, whatever becomes of it; a console
    // program shows none.
    if (!platform::consoleFlavour() && !hasNoSplashSwitch(arguments)) startSplash(*this);

    // Ctrl+C and a closed console end the Java program through its own exit.
    platform::onConsoleControl(endJavaProgram);
    if (!loadVmLibrary(*this)) return -1;
    if (!buildVmOptions(*this)) return -1;
    applyStartupCache(*this);

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
    if (javaVM) {
        javaVM->DestroyJavaVM();
        // A console control event from now on finds no virtual machine.
        javaVM = nullptr;
        // After main returned: the runtime has written what it archives.
        finishStartupCache(*this);
    }
    releaseSingleInstance(*this);
    if (vmReadyEvent) platform::closeHandle(vmReadyEvent);
    if (runtimeSplashClose) {
        runtimeSplashClose();
        runtimeSplashClose = nullptr;
    }
    if (current == this) current = nullptr;
}
