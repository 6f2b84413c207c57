#include "launcher/launcher.h"

#include "instance/paired_product.h"
#include "instance/single_instance.h"
#include "launcher/command_line.h"
#include "launcher/environment.h"
#include "launcher/launcher_settings.h"
#include "launcher/restart.h"
#include "launcher/settings.h"
#include "runtime/java_home.h"
#include "runtime/missing_runtime.h"
#include "runtime/runtime_search.h"
#include "splash/runtime_splash.h"
#include "splash/splash.h"
#include "support/platform.h"
#include "vm/console_control.h"
#include "vm/startup_cache.h"
#include "vm/vm_options.h"
#include "vm/vm_start.h"

static Launcher* current = nullptr;

Launcher* currentLauncher() { return current; }

Launcher::Launcher() { current = this; }

static bool chooseRuntime(Launcher& launcher);
static bool initialiseInstance(Launcher& launcher);

bool Launcher::initialise() {
    platform::rememberStart();
    takeStartAgainMark(*this);
    startedByPartner = takePairMark();
    readArguments(*this);
    if (!readLauncherSettings(*this)) return false;
    // Windows: this process starts the runs and waits; a run it started
    // carries its restart signal.
    supervising = restartWanted && !platform::kRestartInPlace && !again.signal;
    if (supervising) return true;

    return initialiseInstance(*this);
}

static bool initialiseInstance(Launcher& launcher) {
    if (!setUpSingleInstance(launcher)) return false;
    // A second instance has handed its arguments over; run waits for the answer.
    if (launcher.singleInstance && !launcher.isPrimaryInstance) return true;
    return chooseRuntime(launcher);
}

static bool chooseRuntime(Launcher& launcher) {
    if (launcher.overrideWorkingDir) applyWorkingDirectory(launcher);
    resolvePairProduct(launcher);
    // A failed search shows nothing by itself: the dialog asks the user.
    return findRuntime(launcher) || askForRuntime(launcher);
}

// Whether the chosen runtime scales its windows per monitor: its version
// from the search, else from its release file (a runtime from "JRE Path"
// or beside the executable).
static bool runtimeScalesPerMonitor(Launcher& launcher) {
    if (launcher.foundVersion.major != 0) return scalesPerMonitor(launcher.foundVersion);
    RuntimeVersion version;
    platform::ReadOnlyMapping release(runtimeHomeWithSeparator(launcher.jvmLibraryPath) + u"release");
    if (!release.isOpen() ||
        !releaseVersion(NarrowString(reinterpret_cast<const char*>(release.data()), release.size()), version))
        return true;
    return scalesPerMonitor(version);
}

static bool hasNoSplashSwitch(const List<WideString>& arguments) {
    for (const WideString& argument : arguments)
        if (argument == u"-nosplash" || argument == u"/nosplash") return true;
    return false;
}

int32_t Launcher::run() {
    int32_t lastRun = 0;
    if (supervising && superviseRuns(*this, lastRun)) return lastRun;
    if (supervising) {
        // No run could be started: the program runs here, without restarts.
        supervising = false;
        restartWanted = false;
        if (!initialiseInstance(*this)) return -1;
    }
    while (singleInstance && !isPrimaryInstance) {
        int32_t answer = 0;
        if (waitForFirstInstance(*this, answer)) return answer;
        // The first instance started its paired program instead: hand the
        // list to a first instance anew, or become one, or an ordinary launch.
        releaseSingleInstance(*this);
        if (!setUpSingleInstance(*this)) return -1;
        if ((!singleInstance || isPrimaryInstance) && !chooseRuntime(*this)) return -1;
    }
    if (pairLaunch) {
        // This process runs no virtual machine: later launches must not
        // hand their arguments to it, and those already handing over set up
        // again.
        retireSingleInstance(*this);
        return startPairedProduct(*this);
    }

    prepareEnvironment(*this);
    // Before the first window of the launch (the splash, the program's):
    // the awareness the java command of this runtime gives its program.
    platform::settleDpiAwareness(runtimeScalesPerMonitor(*this));
    // The splash never ends the launch, whatever becomes of it; a console
    // program shows none.
    // Where the runtime's splash library needs the runtime's own libraries,
    // the virtual-machine library is loaded first (nothing runs yet).
    bool libraryFirst = platform::kSplashAfterVmLibrary;
    if (libraryFirst && !loadVmLibrary(*this)) return -1;
    if (platform::splashPossible() && !hasNoSplashSwitch(arguments)) startSplash(*this);

    // Ctrl+C and a closed console end the Java program through its own exit.
    platform::onConsoleControl(endJavaProgram);
    if (!libraryFirst && !loadVmLibrary(*this)) return -1;
    if (!buildVmOptions(*this)) return -1;
    applyStartupCache(*this);

    uint32_t result = startVmThread(*this);
    startupCacheWork.programCode = result == VmThreadSucceeded ? 0 : result == VmThreadMainThrew ? 1 : -1;
    if (result == VmThreadSucceeded) return 0;
    closeRuntimeSplash(*this);
    return result == VmThreadMainThrew ? 1 : -1;
}

Launcher::~Launcher() {
    closeSplash(*this);
    // Destroying waits until the Java program's last non-daemon thread ends.
    if (javaVM) {
        // A recording the runtime cannot write ends the process from inside.
        guardStartupCacheTeardown(*this);
        javaVM->DestroyJavaVM();
        // A console control event from now on finds no virtual machine.
        javaVM = nullptr;
    }
    // After main returned the runtime has written its recording; without a
    // virtual machine there is none.
    finishStartupCache(*this);
    releaseSingleInstance(*this);
    if (vmReadyEvent) platform::closeHandle(vmReadyEvent);
    closeRuntimeSplash(*this);
    if (current == this) current = nullptr;
}
