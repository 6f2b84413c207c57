// Redirection of the Java program's standard output and error into the
// files of the "Output File" and "Error File" settings.
#ifndef VM_REDIRECT_H
#define VM_REDIRECT_H

#include "support/wide_string.h"

class Launcher;

// Each opens the file through the virtual machine (created or emptied),
// wraps it in an unbuffered print stream and installs that as System.out or
// System.err. False leaves the stream as it was; a Java exception may then
// be pending, for the caller to describe. Virtual-machine thread only.
bool redirectStandardOutput(Launcher& launcher, const WideString& file);
bool redirectStandardError(Launcher& launcher, const WideString& file);

// Both settings, output first, as the virtual machine's creation does; a
// failure is described on the Java standard error and the launch goes on.
void redirectStandardStreams(Launcher& launcher);

#endif
