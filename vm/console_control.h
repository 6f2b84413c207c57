// Ending the Java program from a console control event (Ctrl+C, Ctrl+Break,
// a closed console) in the console launcher.
#ifndef VM_CONSOLE_CONTROL_H
#define VM_CONSOLE_CONTROL_H

#include <stdint.h>

#include <jni.h>

// Ends the current launcher's Java program through its own System.exit with
// code, so that its shutdown hooks run; the call does not return then. False
// when no virtual machine exists yet (or the exit could not be called), so
// that the event's default handling ends the process.
bool endJavaProgram(int32_t code);

// The same on a given virtual machine: attaches the calling thread and calls
// System.exit(code). Returns only when the exit could not be called (false),
// with the thread detached again.
bool exitJavaProgram(JavaVM* vm, int32_t code);

#endif
