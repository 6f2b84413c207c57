// The places of the runtime search where the system itself installs
// runtimes: folders of runtime homes (such as /usr/lib/jvm), and the java
// command on the search path.
#ifndef RUNTIME_INSTALLED_RUNTIMES_H
#define RUNTIME_INSTALLED_RUNTIMES_H

#include "runtime/runtime_search.h"

// Every home below the layout's installed-runtime folders that fits the
// settings, one per real folder (the same runtime is often installed under
// several names); the newest within the bounds wins, "Preferred versions"
// first. True with jvmLibraryPath set.
bool runtimeFromInstalledFolders(Launcher& launcher);
// The candidates of those folders, for the choice (and the tests).
void scanInstalledFolders(Launcher& launcher, List<RuntimeCandidate>& candidates);

// The runtime of the first java command on the search path, its links
// followed to the real file. True with jvmLibraryPath set.
bool runtimeFromPathCommand(Launcher& launcher);

#endif
