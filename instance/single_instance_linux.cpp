// Placeholder until the Linux hand-over lands: every launch is ordinary.
#include "instance/single_instance.h"
#include "launcher/launcher.h"

bool setUpSingleInstance(Launcher& launcher) {
    singleInstanceWanted(launcher);
    launcher.singleInstance = false;
    return true;
}

int32_t waitForFirstInstance(Launcher&) { return -1; }

void releaseSingleInstance(Launcher& launcher) {
    launcher.singleInstance = false;
    launcher.isPrimaryInstance = false;
}
