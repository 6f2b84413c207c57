// The runtime named by the environment variable JAVA_HOME, the last place
// the runtime search looks before the missing-runtime dialog.
#ifndef RUNTIME_JAVA_HOME_H
#define RUNTIME_JAVA_HOME_H

#include "runtime/version.h"
#include "support/wide_string.h"

class Launcher;

// The version in the text of a runtime's "release" file, from its line
// JAVA_VERSION="..." (quotes optional). False when there is none that parses.
bool releaseVersion(const NarrowString& text, RuntimeVersion& version);

// Whether a runtime of a version (or of an unknown one) fits the settings'
// bounds: an unknown version fits only when neither bound is set.
bool javaHomeVersionFits(const Launcher& launcher, bool known, const RuntimeVersion& version);

// Tries JAVA_HOME: its jvm library under the home or its jre\ folder (by
// "JVM Type"), within the version bounds, built for this launcher's
// processor or, with "Pair Product", for the paired program's (then
// pairLaunch is set). True with jvmLibraryPath set.
bool runtimeFromJavaHome(Launcher& launcher);

#endif
