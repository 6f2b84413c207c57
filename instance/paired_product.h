// The paired program: the other build of the launcher, started when the
// runtime found is built for the processor of that build.
#ifndef INSTANCE_PAIRED_PRODUCT_H
#define INSTANCE_PAIRED_PRODUCT_H

#include <stddef.h>
#include <stdint.h>

#include "runtime/pe_image.h"
#include "support/wide_string.h"

class Launcher;

// The launcher's own command line after its program-name token, found by
// the launcher's own splitting rule, with the blanks before it dropped: the
// user's arguments exactly as they were given.
WideString commandLineRemainder(const WideString& commandLine);
// The paired program's command line: its quoted path, a blank, the remainder.
WideString pairedCommandLine(const WideString& program, const WideString& ownCommandLine);

// The bytes hold an executable (not a library) for the partner's processor.
bool isPartnerExecutable(const uint8_t* data, size_t size);

// A pair launch marks its child with VEDA_LAUNCHER_PAIRED=1, so that two
// builds whose runtimes are each other's do not start each other without
// end. Reads the mark and removes it from this process's environment (a
// program that restarts itself through the launcher is not marked): true
// when this launch was so started.
bool takePairMark();
// Whether a runtime for the partner's processor may start the paired
// program: "Pair Product" is set and this launch was not started by it.
bool pairLaunchAllowed(const Launcher& launcher);

// Makes "Pair Product" a full path against the current directory, once,
// so that the process start and the settings files agree on it.
void resolvePairProduct(Launcher& launcher);

// Starts the paired program with the user's arguments; 0 at once, or its
// exit code when "Pair Return Code" is on (the console flavour always waits
// and gives the exit code, the standard handles passed on). A program that is not the
// partner's executable, or cannot be started, is reported (message 202
// with its path) and gives -1.
int32_t startPairedProduct(Launcher& launcher);

#endif
