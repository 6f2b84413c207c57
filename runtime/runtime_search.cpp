#include "runtime/runtime_search.h"

#include <algorithm>

#include "instance/paired_product.h"
#include "launcher/environment.h"
#include "runtime/java_home.h"
#include "runtime/pe_image.h"
#include "runtime/runtime_layout.h"
#include "runtime/installed_runtimes.h"
#include "support/platform.h"
#include "support/trace.h"

static const char16_t* const kJavaSoftRuntimeKey = u"Software\\JavaSoft\\Java Runtime Environment\\";
static const char16_t* const kJavaHome = u"JavaHome";
static const char16_t* const kMsiPath = u"Path";
static const char16_t* const kNone = u"";

// Searched in this order. After the five keys of the runtimes from before
// Java 9 come the keys where current runtimes register; for "VM Provider"
// they all count as JavaSoft keys.
const VendorKey kVendorKeys[] = {
    {u"Software\\JavaSoft\\Java Development Kit\\", RuntimeKind::DevelopmentKit, RuntimeVendor::JavaSoft, kJavaHome,
     kNone, nullptr, false},
    {kJavaSoftRuntimeKey, RuntimeKind::Runtime, RuntimeVendor::JavaSoft, kJavaHome, kNone, nullptr, false},
    {u"Software\\JRockit\\Java Runtime Environment\\", RuntimeKind::Runtime, RuntimeVendor::JRockit, kJavaHome, kNone,
     nullptr, false},
    {u"Software\\JRockit\\Java Development Kit\\", RuntimeKind::DevelopmentKit, RuntimeVendor::JRockit, kJavaHome,
     kNone, nullptr, false},
    {u"Software\\IBM\\Java2 Runtime Environment\\", RuntimeKind::Runtime, RuntimeVendor::Ibm, kJavaHome, kNone, nullptr,
     false},

    // Java 9 and later: <version>, value "JavaHome".
    {u"Software\\JavaSoft\\JDK\\", RuntimeKind::DevelopmentKit, RuntimeVendor::JavaSoft, kJavaHome, kNone, nullptr,
     true},
    {u"Software\\JavaSoft\\JRE\\", RuntimeKind::Runtime, RuntimeVendor::JavaSoft, kJavaHome, kNone, nullptr, true},
    // The installers of these builds: <version>\<virtual machine>\MSI, value "Path".
    {u"Software\\Eclipse Adoptium\\JDK\\", RuntimeKind::DevelopmentKit, RuntimeVendor::JavaSoft, kMsiPath,
     u"\\hotspot\\MSI", nullptr, true},
    {u"Software\\Eclipse Adoptium\\JDK\\", RuntimeKind::DevelopmentKit, RuntimeVendor::JavaSoft, kMsiPath,
     u"\\openj9\\MSI", nullptr, true},
    {u"Software\\Eclipse Adoptium\\JRE\\", RuntimeKind::Runtime, RuntimeVendor::JavaSoft, kMsiPath, u"\\hotspot\\MSI",
     nullptr, true},
    {u"Software\\Eclipse Adoptium\\JRE\\", RuntimeKind::Runtime, RuntimeVendor::JavaSoft, kMsiPath, u"\\openj9\\MSI",
     nullptr, true},
    {u"Software\\AdoptOpenJDK\\JDK\\", RuntimeKind::DevelopmentKit, RuntimeVendor::JavaSoft, kMsiPath,
     u"\\hotspot\\MSI", nullptr, true},
    {u"Software\\AdoptOpenJDK\\JDK\\", RuntimeKind::DevelopmentKit, RuntimeVendor::JavaSoft, kMsiPath,
     u"\\openj9\\MSI", nullptr, true},
    {u"Software\\AdoptOpenJDK\\JRE\\", RuntimeKind::Runtime, RuntimeVendor::JavaSoft, kMsiPath, u"\\hotspot\\MSI",
     nullptr, true},
    {u"Software\\AdoptOpenJDK\\JRE\\", RuntimeKind::Runtime, RuntimeVendor::JavaSoft, kMsiPath, u"\\openj9\\MSI",
     nullptr, true},
    {u"Software\\Microsoft\\JDK\\", RuntimeKind::DevelopmentKit, RuntimeVendor::JavaSoft, kMsiPath, u"\\hotspot\\MSI",
     nullptr, true},
    // zulu-<major>, value "InstallationPath"; the full version in "CurrentVersion".
    {u"Software\\Azul Systems\\Zulu\\", RuntimeKind::FromHome, RuntimeVendor::JavaSoft, u"InstallationPath", kNone,
     u"CurrentVersion", true},
};

const char* rejectionText(Rejection reason) {
    // The texts that name the library are the system's (its file name).
    const char* const* library = kRuntimeLayout.libraryReasons;
    switch (reason) {
        case Rejection::None: return "accepted";
        case Rejection::OutsideBounds: return "outside the version bounds (\"Minimum Version\", \"Maximum Version\")";
        case Rejection::NoHome: return "the key names no home folder";
        case Rejection::WrongJvmSource: return "not the kind of runtime \"JVM Source\" asks for";
        case Rejection::WrongJvmType: return library[0];
        case Rejection::NoJvmLibrary: return library[1];
        case Rejection::UnknownVersion:
            return "version unknown (no JAVA_VERSION in its release file) while a version bound is set";
        case Rejection::UnreadableLibrary: return library[4];
        case Rejection::NotAnImage: return library[2];
        case Rejection::WrongProcessor: return library[3];
        case Rejection::NoSuchFolder: return "no such folder";
        case Rejection::StartedByPartner:
            return "its jvm.dll is for \"Pair Product\", which started this launcher and is not started again";
    }
    return "";
}

static bool listed(const char16_t* const* list, const WideString& item) {
    for (; *list; ++list)
        if (item == *list) return true;
    return false;
}

WideString findJvmLibrary(const WideString& home, int32_t jvmType, bool* serverVm) {
    const RuntimeLayout& layout = kRuntimeLayout;
    const char16_t* const* subPaths = jvmType == 1   ? layout.serverOnly
                                      : jvmType == 2 ? layout.serverFirst
                                                     : layout.clientFirst;
    for (; *subPaths; ++subPaths) {
        WideString path = home + *subPaths;
        if (platform::fileExists(path)) {
            if (serverVm) *serverVm = listed(layout.serverOnly, *subPaths);
            return path;
        }
    }
    if (serverVm) *serverVm = false;
    return WideString();
}

bool runtimeBesideExecutable(Launcher& launcher, WideString& home) {
    WideString folder;
    if (!executableFolder(launcher, folder)) return false;
    home.clear();
    for (const char16_t* const* sub = kRuntimeLayout.bundleFolders; *sub; ++sub)
        for (const char16_t* const* marker = kRuntimeLayout.bundleMarkers; *marker; ++marker)
            if (platform::fileExists(folder + *sub + *marker)) {
                home = folder + *sub;
                return true;
            }
    return true;
}

static bool kindSearched(const Launcher& l, RuntimeKind kind) {
    switch (kind) {
        case RuntimeKind::Runtime: return l.acceptBothKinds || l.jrePreferred;
        case RuntimeKind::DevelopmentKit: return l.acceptBothKinds || l.jdkPreferred;
        default: return l.acceptBothKinds || l.jdkPreferred || l.jrePreferred;
    }
}

static bool vendorSearched(const Launcher& l, RuntimeVendor vendor) {
    switch (vendor) {
        case RuntimeVendor::JavaSoft: return l.sunAllowed || l.sunFavoured;
        case RuntimeVendor::JRockit: return l.jrockitAllowed || l.jrockitFavoured;
        case RuntimeVendor::Ibm: return l.ibmAllowed || l.ibmFavoured;
        default: return false;
    }
}

bool vendorKeySearched(const Launcher& l, const VendorKey& key) {
    return kindSearched(l, key.kind) && vendorSearched(l, key.vendor);
}

static bool vendorFavoured(const Launcher& l, RuntimeVendor vendor) {
    switch (vendor) {
        case RuntimeVendor::JavaSoft: return l.sunFavoured;
        case RuntimeVendor::JRockit: return l.jrockitFavoured;
        case RuntimeVendor::Ibm: return l.ibmFavoured;
        default: return false;
    }
}

// How the trace names a registry key and the view it was read through.
static WideString keyName(const WideString& path, bool otherView) {
    bool view32 = (sizeof(void*) == 4) != otherView;
    return u"HKLM\\" + path + (view32 ? u" (32-bit view)" : u" (64-bit view)");
}

static void traceRejection(const WideString& where, Rejection reason, const RuntimeVersion* version = nullptr) {
    TRACE_EVENT("rejected")
        .field("place", where)
        .field("version", version ? versionText(*version) : WideString(u"-"))
        .field("reason", rejectionText(reason));
}

Rejection libraryImage(const WideString& library, uint16_t& machine) {
    platform::ReadOnlyMapping image(library);
    if (!image.isOpen()) return Rejection::UnreadableLibrary;
    if (!kRuntimeLayout.libraryMachine(image.data(), image.size(), machine)) return Rejection::NotAnImage;
    return Rejection::None;
}

Rejection missingLibraryReason(const WideString& home, int32_t jvmType) {
    // The default type's list holds every sub-path: any library found there
    // is one of another type.
    if (jvmType != 0 && !findJvmLibrary(home, 0).empty()) return Rejection::WrongJvmType;
    return Rejection::NoJvmLibrary;
}

WideString absoluteLibraryPath(const WideString& library) {
    WideString full;
    return platform::fullPath(library, full) ? full : library;
}

WideString libraryProcessor(const WideString& library) {
    platform::ReadOnlyMapping image(library);
    if (!image.isOpen()) return u"unreadable";
    uint16_t machine = 0;
    if (!kRuntimeLayout.libraryMachine(image.data(), image.size(), machine)) return u"not an image";
    return machineName(machine);
}

RuntimeVersion subkeyVersion(const VendorKey& key, const WideString& subkey, bool otherView) {
    RuntimeVersion version;
    WideString text;
    if (!key.versionValue || !platform::registryText(key.path + subkey, key.versionValue, otherView, text) ||
        !parseVersion(text, 0, version))
        version = parseVersion(subkey, 0);
    // Java 8 registered by the current vendors (8.0.392.8, zulu-8) must meet
    // "Maximum Version=1.8" and "Preferred versions=1.8" like any other 1.8.
    return key.currentLayout ? oldVersionForm(version) : version;
}

bool readJavaHome(Launcher& launcher, const VendorKey& key, const WideString& subkey, bool otherView,
                  WideString& home, bool& serverVm, Rejection* reason, bool* kitRuntime) {
    Rejection ignored;
    Rejection& why = reason ? *reason : ignored;
    bool throughJre = false;
    if (!platform::registryText(key.path + subkey + key.below, key.homeValue, otherView, home) || home.empty()) {
        why = Rejection::NoHome;
        return false;
    }
    if (!home.endsWith(platform::kPathSeparator)) home += platform::kPathSeparator;
    bool kit = key.kind == RuntimeKind::DevelopmentKit;
    if (kit && !key.currentLayout) {
        home += kRuntimeLayout.jreFolder;
        throughJre = true;
    }
    int32_t type = launcher.jvmType;
    // Runtime environments registered here carry a client VM beside the
    // server one: validate them client first.
    if (type == 2 && WideString(key.path) == kJavaSoftRuntimeKey) type = 0;
    bool found = !findJvmLibrary(home, type, &serverVm).empty();
    if (!found && key.currentLayout) {
        // Current development kits have no jre\ folder; older ones
        // registered under the current keys still have.
        WideString jre = home + kRuntimeLayout.jreFolder;
        if (!findJvmLibrary(jre, type, &serverVm).empty()) {
            home = jre;
            throughJre = found = true;
        }
    }
    if (!found) {
        why = trace::enabled() ? missingLibraryReason(home, type) : Rejection::NoJvmLibrary;
        return false;
    }
    // Only a key that registers either kind needs to look at the home.
    if (kitRuntime)
        *kitRuntime = throughJre || (key.kind == RuntimeKind::FromHome && platform::fileExists(home + kRuntimeLayout.compiler));
    why = Rejection::None;
    return true;
}

void scanVendorKey(Launcher& launcher, List<RuntimeCandidate>& candidates, const VendorKey& key, bool otherView) {
    List<WideString> subkeys = platform::registrySubkeys(key.path, otherView);
    TRACE_EVENT("look")
        .field("place", keyName(key.path + WideString(u"<version>") + key.below, otherView))
        .field("value", key.homeValue)
        .field("subkeys", static_cast<int64_t>(subkeys.size()));
    for (const WideString& name : subkeys) {
        RuntimeCandidate candidate;
        if (trace::enabled()) candidate.source = keyName(key.path + name + key.below, otherView);
        candidate.version = subkeyVersion(key, name, otherView);
        if (!inVersionRange(candidate.version, launcher.minimumVersion, launcher.maximumVersion)) {
            traceRejection(candidate.source, Rejection::OutsideBounds, &candidate.version);
            continue;
        }
        Rejection reason = Rejection::None;
        bool kitRuntime = false;
        if (!readJavaHome(launcher, key, name, otherView, candidate.home, candidate.serverVm, &reason, &kitRuntime)) {
            traceRejection(candidate.source, reason, &candidate.version);
            continue;
        }
        bool kit = key.kind == RuntimeKind::FromHome ? kitRuntime : key.kind == RuntimeKind::DevelopmentKit;
        bool kindPreferred = kit ? launcher.jdkPreferred : launcher.jrePreferred;
        // A key that registers either kind is decided on its home.
        if (!launcher.acceptBothKinds && !kindPreferred) {
            traceRejection(candidate.source, Rejection::WrongJvmSource, &candidate.version);
            continue;
        }
        candidate.preferred = kindPreferred && vendorFavoured(launcher, key.vendor);
        candidate.vendor = key.vendor;
        TRACE_EVENT("candidate")
            .field("place", candidate.source)
            .field("version", versionText(candidate.version))
            .field("kind", kit ? "development kit" : "runtime")
            .field("processor", libraryProcessor(findJvmLibrary(candidate.home, launcher.jvmType)))
            .field("home", candidate.home)
            .field("server", candidate.serverVm ? "yes" : "no")
            .field("preferred", candidate.preferred ? "yes" : "no");
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
    // The user's or the system's own choice goes before the newest, and
    // before the others of a preferred version; a "favor_" kind still first.
    auto choice = [&](size_t i) {
        return candidates[i].systemChoice &&
               (!launcher.acceptBothKinds || candidates[i].preferred || !candidates[0].preferred);
    };
    for (const WideString& item : launcher.preferredVersions) {
        RuntimeVersion pattern = parseVersion(item, 0);
        int first = -1;
        for (size_t i = 0; i < candidates.size(); ++i) {
            if (!matchesPreferred(pattern, candidates[i].version)) continue;
            if (choice(i)) return static_cast<int>(i);
            if (first < 0) first = static_cast<int>(i);
        }
        if (first >= 0) return first;
    }
    for (size_t i = 0; i < candidates.size(); ++i)
        if (choice(i)) return static_cast<int>(i);
    return 0;
}

// The library is an image for the partner build's processor.
static bool libraryForPartner(const WideString& path) {
    platform::ReadOnlyMapping image(path);
    uint16_t machine = 0;
    return image.isOpen() && kRuntimeLayout.libraryMachine(image.data(), image.size(), machine) &&
           machine == kPartnerMachine;
}

// Scans every searched vendor key through one registry view and takes the
// chosen runtime's library. False when no candidate was found at all.
static bool searchRegistry(Launcher& launcher, bool otherView) {
    List<RuntimeCandidate> candidates;
    for (size_t i = 0; i < kVendorKeyCount; ++i) {
        const VendorKey& key = kVendorKeys[i];
        if (vendorKeySearched(launcher, key)) {
            scanVendorKey(launcher, candidates, key, otherView);
        } else {
            TRACE_EVENT("skipped")
                .field("place", keyName(key.path + WideString(u"<version>") + key.below, otherView))
                .field("reason", kindSearched(launcher, key.kind) ? "not searched for \"VM Provider\""
                                                                  : "not searched for \"JVM Source\"");
        }
    }
    int chosen = chooseCandidate(launcher, candidates);
    if (chosen < 0) return false;
    const RuntimeCandidate& candidate = candidates[chosen];
    launcher.jvmLibraryPath = findJvmLibrary(candidate.home, launcher.jvmType);
    if (!launcher.jvmLibraryPath.empty()) {
        launcher.jvmLibraryPath = absoluteLibraryPath(launcher.jvmLibraryPath);
        launcher.foundVersion = candidate.version;
        launcher.runtimeVendor = candidate.vendor;
    }
    TRACE_EVENT("chosen")
        .field("place", candidate.source)
        .field("version", versionText(candidate.version))
        .field("library", launcher.jvmLibraryPath.empty() ? WideString(u"none") : launcher.jvmLibraryPath)
        .field("among", static_cast<int64_t>(candidates.size()));
    return true;
}

static void traceChosen(const Launcher& launcher, const char16_t* place) {
    TRACE_EVENT("chosen")
        .field("place", place)
        .field("library", launcher.jvmLibraryPath)
        .field("processor", libraryProcessor(launcher.jvmLibraryPath))
        .field("paired product", launcher.pairLaunch ? "yes" : "no");
}

// The home tried in one place; on success its library becomes the one loaded.
static bool tryHome(Launcher& launcher, const char16_t* place, const WideString& home) {
    TRACE_EVENT("look").field("place", place).field("home", home);
    WideString library = findJvmLibrary(home, launcher.jvmType);
    if (library.empty()) {
        traceRejection(place, missingLibraryReason(home, launcher.jvmType));
        return false;
    }
    if (kRuntimeLayout.passOverForeignLibraries) {
        uint16_t machine = 0;
        Rejection image = libraryImage(library, machine);
        if (image == Rejection::None && machine != kBuildMachine) image = Rejection::WrongProcessor;
        if (image != Rejection::None) {
            traceRejection(place, image);
            return false;
        }
    }
    launcher.jvmLibraryPath = absoluteLibraryPath(library);
    return true;
}

static bool fromJrePath(Launcher& launcher) {
    if (launcher.jrePath.empty()) return false;
    WideString home = launcher.jrePath;
    if (!home.endsWith(platform::kPathSeparator)) home += platform::kPathSeparator;
    if (!tryHome(launcher, u"JRE Path", home)) return false;
    checkJvmMachine(launcher);
    if (!launcher.pairLaunch || pairLaunchAllowed(launcher)) {
        traceChosen(launcher, u"JRE Path");
        return true;
    }
    // Started by the paired program: the two would start each other without end.
    traceRejection(u"JRE Path", Rejection::StartedByPartner);
    launcher.pairLaunch = false;
    launcher.jvmLibraryPath.clear();
    return false;
}

static bool fromBesideExecutable(Launcher& launcher) {
    WideString home;
    if (!runtimeBesideExecutable(launcher, home)) return false;
    // Without a runtime in or beside the executable's folder this place
    // holds nothing: the current directory is often a document's folder,
    // and a library found there would run inside the launcher.
    if (home.empty()) {
        TRACE_EVENT("look").field("place", u"beside the executable").field("home", "(none)");
        return false;
    }
    if (!tryHome(launcher, u"beside the executable", home)) return false;
    traceChosen(launcher, u"beside the executable");
    return true;
}

// A runtime chosen from the registry ends the search, usable or not: the
// result tells whether the search ends, `found` whether it found one.
static bool fromRegistry(Launcher& launcher, bool& found) {
    if (searchRegistry(launcher, false)) {
        found = !launcher.jvmLibraryPath.empty();
        return true;
    }
    if (pairLaunchAllowed(launcher) && searchRegistry(launcher, true)) {
        // Only a runtime the paired program can host is a reason to start it;
        // any other one is passed over, as if nothing had been found there.
        if (libraryForPartner(launcher.jvmLibraryPath)) {
            launcher.pairLaunch = true;
            TRACE_EVENT("paired product").field("reason", "the runtime chosen is registered in the other registry view");
            found = true;
            return true;
        }
        traceRejection(u"other registry view", Rejection::WrongProcessor);
        // Nothing of the rejected runtime may stay: its vendor would decide
        // how the virtual-machine thread of another runtime ends.
        launcher.jvmLibraryPath.clear();
        launcher.runtimeVendor = RuntimeVendor::None;
        launcher.foundVersion = RuntimeVersion();
    }
    return false;
}

bool findRuntime(Launcher& launcher) {
    for (const SearchPlace* place = kRuntimeLayout.searchOrder; *place != SearchPlace::End; ++place) {
        bool found = false;
        switch (*place) {
            case SearchPlace::JrePath: found = fromJrePath(launcher); break;
            case SearchPlace::BesideExecutable: found = fromBesideExecutable(launcher); break;
            case SearchPlace::Registry:
                if (fromRegistry(launcher, found)) return found;
                break;
            case SearchPlace::JavaHome:
                found = runtimeFromJavaHome(launcher);
                if (found) traceChosen(launcher, u"JAVA_HOME");
                break;
            case SearchPlace::InstalledFolders: found = runtimeFromInstalledFolders(launcher); break;
            case SearchPlace::End: break;
        }
        if (found) return true;
    }
    TRACE_EVENT("not found").field("reason", "no place held a runtime that fits the settings");
    return false;
}

void checkJvmMachine(Launcher& launcher) {
    launcher.pairLaunch = false;
    if (launcher.pairProduct.empty()) return;
    // An image for any processor other than the partner's is treated like
    // one that is not an image: the paired program could not host it either.
    launcher.pairLaunch = libraryForPartner(launcher.jvmLibraryPath);
}
