// The host build's side of single instance and the paired program: the
// build machine has no named kernel objects or processes of Windows to share,
// so every launch there is an ordinary, independent instance, and a paired
// program cannot be started.
#include "instance/paired_product.h"
#include "instance/single_instance.h"
#include "launcher/launcher.h"
#include "support/messages.h"
#include "support/platform.h"
#include "support/platform_host.h"

bool setUpSingleInstance(Launcher& launcher) {
    // As when the shared block cannot be created.
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
intptr_t abandonSingleInstance(Launcher&) { return -1; }
void* keepInstanceBlock(Launcher&) { return nullptr; }
void letGoOfInstanceBlock(void*) {}

bool takePairMark() { return false; }

void resolvePairProduct(Launcher& launcher) {
    const WideString& path = launcher.pairProduct;
    bool absolute = (path.size() >= 2 && path[1] == u':') || path.startsWith(u"\\");
    if (path.empty() || absolute) return;
    launcher.pairProduct = platform::host::currentDirectory() + u"\\" + path;
}

int32_t startPairedProduct(Launcher& launcher) {
    MessageArgument path;
    path.text = launcher.pairProduct;
    MessageArgument code;
    code.isNumber = true;
    code.number = 50;  // ERROR_NOT_SUPPORTED
    reportError(launcher.messageOwner, LaunchError{MsgWindowsException, {path, code}, {}});
    return -1;
}
