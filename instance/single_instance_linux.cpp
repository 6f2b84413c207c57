// Placeholder until the Linux hand-over lands: every launch is ordinary.
#include "instance/single_instance.h"
#include "launcher/launcher.h"

bool setUpSingleInstance(Launcher& launcher) {
    singleInstanceWanted(launcher);
    launcher.singleInstance = false;
    return true;
}

bool waitForFirstInstance(Launcher&, int32_t& code) {
    code = -1;
    return true;
}

void releaseSingleInstance(Launcher& launcher) {
    launcher.singleInstance = false;
    launcher.isPrimaryInstance = false;
}

void retireSingleInstance(Launcher& launcher) { releaseSingleInstance(launcher); }
