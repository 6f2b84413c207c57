// The place of the runtime search where the system itself installs
// runtimes: folders of runtime homes (such as /usr/lib/jvm), and the user's
// or the system's own choice among them.
#ifndef RUNTIME_INSTALLED_RUNTIMES_H
#define RUNTIME_INSTALLED_RUNTIMES_H

#include "runtime/runtime_search.h"

// The runtime the user or the system chose (the first java command on the
// search path, its links followed; else the system's default-java), and
// every home below the layout's installed-runtime folders, that fit the
// settings, one per real folder (the same runtime is often installed under
// several names). The chosen one wins unless "Preferred versions" names
// another first; else the newest. True with jvmLibraryPath set.
bool runtimeFromInstalledFolders(Launcher& launcher);
// The candidates of that place, for the choice (and the tests).
void scanInstalledFolders(Launcher& launcher, List<RuntimeCandidate>& candidates);

#endif
