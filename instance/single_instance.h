// Single instance: the first launch of an executable runs the virtual
// machine; later launches hand their arguments to it and exit with its answer.
#ifndef INSTANCE_SINGLE_INSTANCE_H
#define INSTANCE_SINGLE_INSTANCE_H

#include <stdint.h>

class Launcher;

// "Single Instance" is exactly "yes" and the application is no service.
bool singleInstanceWanted(Launcher& launcher);

// Makes this process the first instance (block, main-started event,
// registered message, listener) or, as a second instance, hands the
// arguments over. False ends the launch with -1 and no message.
bool setUpSingleInstance(Launcher& launcher);

// A second instance's wait for its answer, which becomes its exit code (the
// first instance's exit code when it ends without answering). False when
// the first instance let go of its role for a pair launch: the list never
// arrived, and the launch sets up again.
bool waitForFirstInstance(Launcher& launcher, int32_t& code);

// Stops the listener, lets waiting hand-overs end, and releases the block,
// the event and the mutex; single instance is off afterwards. Used by the
// teardown (after the virtual machine is destroyed), by a set-up that gives
// up half-way, and before a pair launch.
void releaseSingleInstance(Launcher& launcher);

// Before a pair launch: a first instance marks its block retired, so that
// launches handing over to it, or finding the block later, set up again
// instead of waiting for answers that never come; then it releases.
void retireSingleInstance(Launcher& launcher);

// Before the launch starts again (from the runtime's exit, where the
// program's threads are stopped for good, so nothing is waited for): later
// launches find no first instance to hand over to and wait for the new run
// (Windows: the block says the program restarts; Linux: the socket file is
// gone while the lock stays held). The process ends or is replaced right
// after. Returns a descriptor the new start takes over (the held lock where
// the process executes itself anew), or -1.
intptr_t abandonSingleInstance(Launcher& launcher);

// Windows: the supervising process keeps the ending run's block (which says
// the program restarts) alive until the next run has taken it over, so that
// a launch meanwhile waits for the next run instead of becoming the first
// instance itself. Null where there is nothing to keep.
void* keepInstanceBlock(Launcher& launcher);
void letGoOfInstanceBlock(void* kept);

#endif
