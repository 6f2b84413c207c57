// The uncaught-exception report: the exception's own printed stack trace,
// built through the virtual machine, shown in the exception dialog.
#ifndef VM_EXCEPTION_TEXT_H
#define VM_EXCEPTION_TEXT_H

#include <jni.h>

#include "support/wide_string.h"

class Launcher;

// What printStackTrace writes for the exception, line breaks included and in
// its exact UTF-16 form; empty when it cannot be built. Java exceptions on
// the way are described on the Java standard error. No exception may be
// pending when it is called.
WideString exceptionTraceText(JNIEnv* env, jthrowable exception);

// Shows the trace in the exception dialog on the calling (virtual-machine)
// thread. True when the program is to be stopped: Stop, Escape, the close
// box, or a dialog that could not be shown. False for Ignore and when there
// is no text to show.
bool showUncaughtException(Launcher& launcher, jthrowable exception, JNIEnv* env);

#endif
