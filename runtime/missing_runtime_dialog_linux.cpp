// The Linux build tells what the dialog would say on the standard error (as
// the Windows console build does): the dialog itself is never shown.
#include "runtime/missing_runtime.h"

int showMissingRuntimeDialog(MissingRuntimeDialog&) { return 2; }
