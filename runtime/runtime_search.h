// The runtime search: "JRE Path", a runtime beside the executable, the
// vendors' registry keys (those of the runtimes from before Java 9 and those
// of current runtimes, and their other registry view for a paired product),
// JAVA_HOME, and the choice among the runtimes found.
#ifndef RUNTIME_RUNTIME_SEARCH_H
#define RUNTIME_RUNTIME_SEARCH_H

#include "launcher/launcher.h"
#include "runtime/version.h"
#include "support/wide_string.h"

struct RuntimeCandidate {
    RuntimeVersion version;
    WideString home;  // ends in a backslash
    bool serverVm = false;
    bool preferred = false;
    bool systemChoice = false;  // the java on the search path, or the system's default
    RuntimeVendor vendor = RuntimeVendor::None;
    WideString source;  // the registry key it came from, for the trace
};

// Which kind of runtime a vendor key registers, for "JVM Source".
enum class RuntimeKind {
    Runtime,
    DevelopmentKit,
    // Either kind: a home that holds bin\javac.exe, or that is used through
    // its jre\ folder, is a development kit.
    FromHome,
};

// One vendor registry key (under HKEY_LOCAL_MACHINE) of the search: one
// subkey per installed version, named after its version.
struct VendorKey {
    const char16_t* path;  // ends in a backslash
    RuntimeKind kind;
    RuntimeVendor vendor;
    // Where the home folder is: the value's name, in the version subkey or
    // in the sub-path below it (such as "\hotspot\MSI"; "" for none).
    const char16_t* homeValue;
    const char16_t* below;
    // A value of the version subkey that holds the full version, when the
    // subkey's name gives only the major number; nullptr: the name alone.
    const char16_t* versionValue;
    // Homes of current runtimes hold the jvm library themselves, and those of
    // older development kits in jre\: the home is tried first, then jre\.
    // Otherwise a development kit's home is always its jre\ folder.
    bool currentLayout;
};
const size_t kVendorKeyCount = 17;
extern const VendorKey kVendorKeys[kVendorKeyCount];

// Why a place or a candidate was passed over (for the trace).
enum class Rejection {
    None,
    OutsideBounds,
    NoHome,
    WrongJvmSource,
    WrongJvmType,
    NoJvmLibrary,
    UnknownVersion,
    UnreadableLibrary,
    NotAnImage,
    WrongProcessor,
    NoSuchFolder,
    StartedByPartner,
};
const char* rejectionText(Rejection reason);

// What the library's image says, one reason for one fact wherever the
// library is found: None (machine set to its processor), UnreadableLibrary
// or NotAnImage (a truncated file too).
Rejection libraryImage(const WideString& library, uint16_t& machine);

// The jvm library under home (ending in a backslash, or empty for the
// current directory) for a jvm type; empty when there is none.
WideString findJvmLibrary(const WideString& home, int32_t jvmType, bool* serverVm = nullptr);

// False when the executable's path is unknown; otherwise the home found in
// or beside the executable's folder (possibly empty).
bool runtimeBesideExecutable(Launcher& launcher, WideString& home);

bool findRuntime(Launcher& launcher);

// Whether the vendor key takes part in the search under the launcher's settings.
bool vendorKeySearched(const Launcher& launcher, const VendorKey& key);
void scanVendorKey(Launcher& launcher, List<RuntimeCandidate>& candidates, const VendorKey& key, bool otherView);
// The version of one subkey: the key's version value where it has one that
// parses, otherwise the subkey's name.
RuntimeVersion subkeyVersion(const VendorKey& key, const WideString& subkey, bool otherView);
bool readJavaHome(Launcher& launcher, const VendorKey& key, const WideString& subkey, bool otherView,
                  WideString& home, bool& serverVm, Rejection* reason = nullptr, bool* kitRuntime = nullptr);

void orderCandidates(List<RuntimeCandidate>& candidates, const Launcher& launcher);
// Index of the chosen candidate after ordering, or -1 for an empty list.
int chooseCandidate(const Launcher& launcher, List<RuntimeCandidate>& candidates);

// Why no library of the jvm type was found under home: there is one of
// another type, or none at all.
Rejection missingLibraryReason(const WideString& home, int32_t jvmType);
// The library's full path: a relative one would be looked for by the
// system's library search, which may load another jvm.dll than the one found.
WideString absoluteLibraryPath(const WideString& library);
// The processor a library is built for ("x86", "x64", ...), or why none can be told.
WideString libraryProcessor(const WideString& library);

// Sets pairLaunch when "Pair Product" is set and the library at
// jvmLibraryPath is a valid image for the partner build's processor.
void checkJvmMachine(Launcher& launcher);

#endif
