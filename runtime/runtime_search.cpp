#include "runtime/runtime_search.h"

#include <algorithm>

#include "instance/paired_product.h"
#include "launcher/environment.h"
#include "runtime/pe_image.h"
#include "support/platform.h"

static const char16_t* const kJavaSoftRuntimeKey = u"Software\\JavaSoft\\Java Runtime Environment\\";

const VendorKey kVendorKeys[5] = {
    {u"Software\\JavaSoft\\Java Development Kit\\", true, RuntimeVendor::JavaSoft},
    {kJavaSoftRuntimeKey, false, RuntimeVendor::JavaSoft},
    {u"Software\\JRockit\\Java Runtime Environment\\", false, RuntimeVendor::JRockit},
    {u"Software\\JRockit\\Java Development Kit\\", true, RuntimeVendor::JRockit},
    {u"Software\\IBM\\Java2 Runtime Environment\\", false, RuntimeVendor::Ibm},
};

static const char16_t* const kServerVm = u"bin\\server\\jvm.dll";

WideString findJvmLibrary(const WideString& home, int32_t jvmType, bool* serverVm) {
    static const char16_t* const kServerOnly[] = {kServerVm, nullptr};
    static const char16_t* const kServerFirst[] = {kServerVm,
                                                   u"bin\\client\\jvm.dll",
                                                   u"bin\\classic\\jvm.dll",
                                                   u"bin\\hotspot\\jvm.dll",
                                                   kServerVm,
                                                   u"bin\\jrockit\\jvm.dll",
                                                   nullptr};
    static const char16_t* const kClientFirst[] = {u"bin\\client\\jvm.dll", u"bin\\classic\\jvm.dll",
                                                   u"bin\\hotspot\\jvm.dll", kServerVm,
                                                   u"bin\\jrockit\\jvm.dll", nullptr};
    const char16_t* const* subPaths = jvmType == 1 ? kServerOnly : jvmType == 2 ? kServerFirst : kClientFirst;
    for (; *subPaths; ++subPaths) {
        WideString path = home + *subPaths;
        if (platform::fileExists(path)) {
            if (serverVm) *serverVm = path.endsWith(kServerVm);
            return path;
        }
    }
    if (serverVm) *serverVm = false;
    return WideString();
}

bool runtimeBesideExecutable(Launcher& launcher, WideString& home) {
    WideString folder;
    if (!executableFolder(launcher, folder)) return false;
    if (platform::fileExists(folder + u"bin\\java.dll"))
        home = folder;
    else if (platform::fileExists(folder + u"jre\\bin\\java.dll"))
        home = folder + u"jre\\";
    else
        home.clear();
    return true;
}

bool vendorKeySearched(const Launcher& l, const VendorKey& key) {
    bool kind = l.acceptBothKinds || (key.developmentKit ? l.jdkPreferred : l.jrePreferred);
    switch (key.vendor) {
        case RuntimeVendor::JavaSoft: return kind && (l.sunAllowed || l.sunFavoured);
        case RuntimeVendor::JRockit: return kind && (l.jrockitAllowed || l.jrockitFavoured);
        case RuntimeVendor::Ibm: return kind && (l.ibmAllowed || l.ibmFavoured);
        default: return false;
    }
}

static bool vendorFavoured(const Launcher& l, RuntimeVendor vendor) {
    switch (vendor) {
        case RuntimeVendor::JavaSoft: return l.sunFavoured;
        case RuntimeVendor::JRockit: return l.jrockitFavoured;
        case RuntimeVendor::Ibm: return l.ibmFavoured;
        default: return false;
    }
}

bool readJavaHome(Launcher& launcher, const VendorKey& key, const WideString& subkey, bool otherView,
                  WideString& home, bool& serverVm) {
    if (!platform::registryText(key.path + subkey, u"JavaHome", otherView, home) || home.empty()) return false;
    if (!home.endsWith(u'\\')) home += u'\\';
    if (key.developmentKit) home += u"jre\\";
    int32_t type = launcher.jvmType;
    // Runtime environments registered here carry a client VM beside the
    // server one: validate them client first.
    if (type == 2 && WideString(key.path) == kJavaSoftRuntimeKey) type = 0;
    return !findJvmLibrary(home, type, &serverVm).empty();
}

void scanVendorKey(Launcher& launcher, List<RuntimeCandidate>& candidates, const VendorKey& key, bool otherView) {
    List<WideString> subkeys = platform::registrySubkeys(key.path, otherView);
    for (const WideString& name : subkeys) {
        RuntimeCandidate candidate;
        candidate.version = parseVersion(name, 0);
        if (!inVersionRange(candidate.version, launcher.minimumVersion, launcher.maximumVersion)) continue;
        if (!readJavaHome(launcher, key, name, otherView, candidate.home, candidate.serverVm)) continue;
        bool kindPreferred = key.developmentKit ? launcher.jdkPreferred : launcher.jrePreferred;
        candidate.preferred = kindPreferred && vendorFavoured(launcher, key.vendor);
        candidate.vendor = key.vendor;
        candidates.push_back(candidate);
    }
}

void orderCandidates(List<RuntimeCandidate>& candidates, const Launcher& launcher) {
    bool byPreference = launcher.acceptBothKinds;
    bool byServer = launcher.jvmType == 2;
    std::stable_sort(candidates.begin(), candidates.end(),
                     [&](const RuntimeCandidate& a, const RuntimeCandidate& b) {
                         if (byPreference && a.preferred != b.preferred) return a.preferred;
                         if (byServer && a.serverVm != b.serverVm) return a.serverVm;
                         return compareVersions(a.version, b.version) > 0;
                     });
}

int chooseCandidate(const Launcher& launcher, List<RuntimeCandidate>& candidates) {
    if (candidates.empty()) return -1;
    orderCandidates(candidates, launcher);
    for (const WideString& item : launcher.preferredVersions) {
        RuntimeVersion pattern = parseVersion(item, 0);
        for (size_t i = 0; i < candidates.size(); ++i)
            if (matchesPreferred(pattern, candidates[i].version)) return static_cast<int>(i);
    }
    return 0;
}

// The library is an image for the partner build's processor.
static bool libraryForPartner(const WideString& path) {
    platform::ReadOnlyMapping image(path);
    uint16_t machine = 0;
    return image.isOpen() && imageMachine(image.data(), image.size(), machine) && machine == kPartnerMachine;
}

// Scans every searched vendor key through one registry view and takes the
// chosen runtime's library. False when no candidate was found at all.
static bool searchRegistry(Launcher& launcher, bool otherView) {
    List<RuntimeCandidate> candidates;
    for (const VendorKey& key : kVendorKeys)
        if (vendorKeySearched(launcher, key)) scanVendorKey(launcher, candidates, key, otherView);
    int chosen = chooseCandidate(launcher, candidates);
    if (chosen < 0) return false;
    const RuntimeCandidate& candidate = candidates[chosen];
    launcher.foundVersion = candidate.version;
    launcher.jvmLibraryPath = findJvmLibrary(candidate.home, launcher.jvmType);
    launcher.runtimeVendor = launcher.jvmLibraryPath.empty() ? RuntimeVendor::None : candidate.vendor;
    return true;
}

bool findRuntime(Launcher& launcher) {
    if (!launcher.jrePath.empty()) {
        WideString home = launcher.jrePath;
        if (!home.endsWith(u'\\')) home += u'\\';
        WideString library = findJvmLibrary(home, launcher.jvmType);
        if (!library.empty()) {
            launcher.jvmLibraryPath = library;
            checkJvmMachine(launcher);
            return true;
        }
    }

    WideString home;
    if (runtimeBesideExecutable(launcher, home)) {
        WideString library = findJvmLibrary(home, launcher.jvmType);
        if (!library.empty()) {
            launcher.jvmLibraryPath = library;
            return true;
        }
    }

    // A runtime chosen from the registry ends the search, usable or not.
    if (searchRegistry(launcher, false)) return !launcher.jvmLibraryPath.empty();

    if (!launcher.pairProduct.empty() && searchRegistry(launcher, true)) {
        // Only a runtime the paired program can host is a reason to start it.
        if (!libraryForPartner(launcher.jvmLibraryPath)) {
            launcher.jvmLibraryPath.clear();
            return false;
        }
        launcher.pairLaunch = true;
        return true;
    }
    return false;
}

void checkJvmMachine(Launcher& launcher) {
    launcher.pairLaunch = false;
    if (launcher.pairProduct.empty()) return;
    // An image for any processor other than the partner's is treated like
    // one that is not an image: the paired program could not host it either.
    launcher.pairLaunch = libraryForPartner(launcher.jvmLibraryPath);
}
