#include "runtime/missing_runtime_dialog_host.h"

static MissingRuntimeDialogScript script = nullptr;
static int showings = 0;

void setMissingRuntimeDialogScript(MissingRuntimeDialogScript newScript) {
    script = newScript;
    showings = 0;
}

int missingRuntimeDialogShowings() { return showings; }

int showMissingRuntimeDialog(MissingRuntimeDialog& dialog) {
    ++showings;
    return script ? script(dialog) : 2;
}
