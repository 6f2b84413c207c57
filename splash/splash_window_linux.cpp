// The Linux build has no splash window of its own; the runtime's splash
// library is the only splash there.
#include "launcher/launcher.h"
#include "splash/splash.h"

bool startSplashWindow(Launcher&) { return false; }

// Dialogs here are processes of their own, owned by no window.
void* errorBoxOwner(Launcher& launcher) { return launcher.messageOwner; }
