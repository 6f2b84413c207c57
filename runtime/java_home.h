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
// Whether "JVM Source" takes a runtime of this kind (a development kit or
// not), wherever it was found.
bool kindAccepted(const Launcher& launcher, bool kit);
// A home that holds the compiler, or the jre/ folder of one that does.
bool developmentKit(const WideString& home);

// Tries JAVA_HOME: its jvm library under the home or its jre\ folder (by
// "JVM Type"), within the version bounds, built for this launcher's
// processor or, with "Pair Product", for the paired program's (then
// pairLaunch is set). True with jvmLibraryPath set.
bool runtimeFromJavaHome(Launcher& launcher);

// The same checks for any home folder the search takes as a whole;
// place names it in the trace.
bool runtimeFromHome(Launcher& launcher, const char16_t* place, WideString home);

// The version of a runtime home: its release file's, else (where the system
// names runtime folders after their versions) its folder name's.
bool homeVersion(const WideString& home, RuntimeVersion& version);
// The version a folder name carries: its first number with what follows it
// ("jdk-21.0.2" 21.0.2, "jdk1.8.0_392" 1.8.0.392, "java-1.17.0-openjdk" 17.0,
// "java-8-openjdk-amd64" 1.8).
bool folderNameVersion(const WideString& name, RuntimeVersion& version);

#endif
