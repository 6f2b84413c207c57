// The process entry point of the Linux executable.
#include <locale.h>

#include "launcher/launcher.h"
#include "support/dialog_linux.h"
#include "support/platform_linux.h"
#include "support/trace.h"
#include "vm/startup_cache.h"

int main(int argc, char** argv) {
    // Arguments, paths and options are in the locale's character set, as
    // the java command takes them.
    setlocale(LC_ALL, "");
    // Started again by the launcher to show a dialog.
    if (dialogs::isDialogProcess()) return dialogs::dialogProcessMain(argv[0]);
    // The dialogs take the class of the program's windows from its main class.
    dialogs::setMainClassSource([]() {
        Launcher* launcher = currentLauncher();
        return launcher ? launcher->mainClass : WideString();
    });
    platform::setArguments(argc, argv);
    int32_t code;
    // Started again to create the start-up cache after a program ended.
    if (runStartupCacheJob(code)) return code;
    {
        Launcher launcher;
        code = launcher.initialise() ? launcher.run() : -1;
    }
    // After the teardown, which waits for the program's last thread: the
    // process ends now, with this code.
    TRACE_EVENT("exit").field("code", static_cast<int64_t>(code));
    return code;
}
