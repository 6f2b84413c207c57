// Starting a launch again: the program's restart on request ("Restart Exit
// Code"), and a launch without the user's options file when the runtime
// refused it. Whatever started the launcher sees one launch, which ends
// with the last run's exit code.
#ifndef LAUNCHER_RESTART_H
#define LAUNCHER_RESTART_H

#include <stdint.h>

#include "launcher/launcher.h"
#include "support/wide_string.h"

// The variable through which a launch started again learns why. It counts
// only when the process named in it started this one (Linux: this process
// itself, before it executed itself anew; Windows: the parent), and it is
// removed at once, so that the program's children never see it.
extern const char16_t* const kStartAgainVariable;
WideString encodeStartAgainMark(const StartAgainMark& mark);
bool decodeStartAgainMark(const WideString& text, StartAgainMark& mark);

// Restarts within the last minute, the earlier ones dropped: true, with now
// added, while there were fewer than 5; false for one more (the program
// asks without end).
bool restartAllowed(List<uint64_t>& times, uint64_t now);

// "Restart Exit Code": a whole number other than 0; false for none.
bool parseRestartCode(const WideString& value, int32_t& code);

// At the start of a launch: reads and removes the variable.
void takeStartAgainMark(Launcher& launcher);

// Windows: the first process starts each run as a child and waits for it,
// starting it again while a run asks for a restart; code is the last run's.
// False when no run could be started at all: the program then runs in this
// process, without restarts.
bool superviseRuns(Launcher& launcher, int32_t& code);

// From the runtime's exit hook with the program's exit code: the program
// runs again when it asked for it (Linux: this process executes itself
// anew; Windows: the supervising process is told). Returns when it does not.
void restartOnRequest(Launcher& launcher, int32_t code);

// The runtime refused to start with the user's options file (creation
// failed, or the runtime ended the process during it): the launch starts
// again without that file. Returns only when that cannot be (no such
// options, already without them, or no new start possible).
void startWithoutUserOptions(Launcher& launcher);

#endif
