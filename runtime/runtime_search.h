// The runtime search: "JRE Path", a runtime beside the executable, the
// vendors' registry keys (and their 64-bit view for a paired product), and
// the choice among the runtimes found.
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
    RuntimeVendor vendor = RuntimeVendor::None;
};

// One vendor registry key (under HKEY_LOCAL_MACHINE) of the search.
struct VendorKey {
    const char16_t* path;
    bool developmentKit;
    RuntimeVendor vendor;
};
extern const VendorKey kVendorKeys[5];

// The jvm library under home (ending in a backslash, or empty for the
// current directory) for a jvm type; empty when there is none.
WideString findJvmLibrary(const WideString& home, int32_t jvmType, bool* serverVm = nullptr);

// False when the executable's path is unknown; otherwise the home found in
// or beside the executable's folder (possibly empty).
bool runtimeBesideExecutable(Launcher& launcher, WideString& home);

bool findRuntime(Launcher& launcher);

// Whether the vendor key takes part in the search under the launcher's settings.
bool vendorKeySearched(const Launcher& launcher, const VendorKey& key);
void scanVendorKey(Launcher& launcher, List<RuntimeCandidate>& candidates, const VendorKey& key, bool view64);
bool readJavaHome(Launcher& launcher, const VendorKey& key, const WideString& subkey, bool view64,
                  WideString& home, bool& serverVm);

void orderCandidates(List<RuntimeCandidate>& candidates, const Launcher& launcher);
// Index of the chosen candidate after ordering, or -1 for an empty list.
int chooseCandidate(const Launcher& launcher, List<RuntimeCandidate>& candidates);

// Sets pairLaunch when "Pair Product" is set and the library at
// jvmLibraryPath is a valid image for the partner build's processor.
void checkJvmMachine(Launcher& launcher);

#endif
