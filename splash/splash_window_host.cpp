// The host build has no windows: the splash window object stands alone, and
// no thread serves it.
#include "launcher/launcher.h"
#include "splash/splash.h"

bool startSplashWindow(Launcher& launcher) {
    launcher.splashWindow = new SplashWindow();
    return true;
}

void* errorBoxOwner(Launcher& launcher) { return launcher.messageOwner; }
