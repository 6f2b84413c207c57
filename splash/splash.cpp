#include "splash/splash.h"

#include "launcher/launcher.h"
#include "support/platform.h"

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
