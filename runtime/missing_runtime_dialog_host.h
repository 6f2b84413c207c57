// The host build has no windows: a test plays the user at the missing-runtime
// dialog with a script that gets the dialog's state and returns the button.
#ifndef RUNTIME_MISSING_RUNTIME_DIALOG_HOST_H
#define RUNTIME_MISSING_RUNTIME_DIALOG_HOST_H

#include "runtime/missing_runtime.h"

typedef int (*MissingRuntimeDialogScript)(MissingRuntimeDialog& dialog);

// Null (the default) cancels the dialog, like a user who closes it.
void setMissingRuntimeDialogScript(MissingRuntimeDialogScript script);
// How often the dialog was shown since the last setMissingRuntimeDialogScript.
int missingRuntimeDialogShowings();

#endif
