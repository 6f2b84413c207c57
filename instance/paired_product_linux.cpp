// Linux has no paired program: "Pair Product" is ignored when the settings
// are read, so a pair launch is never decided and these have nothing to do.
#include "instance/paired_product.h"
#include "launcher/launcher.h"

void resolvePairProduct(Launcher& launcher) { launcher.pairProduct.clear(); }

int32_t startPairedProduct(Launcher& launcher) {
    launcher.pairLaunch = false;
    return -1;
}

// Nothing here starts a paired program, so nothing is marked as started by one.
bool takePairMark() { return false; }
