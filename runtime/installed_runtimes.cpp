#include "runtime/installed_runtimes.h"

#include "runtime/java_home.h"
#include "runtime/pe_image.h"
#include "runtime/runtime_layout.h"
#include "support/platform.h"
#include "support/trace.h"

static void traceRejected(const WideString& place, Rejection reason, const WideString& version) {
    TRACE_EVENT("rejected").field("place", place).field("version", version).field("reason", rejectionText(reason));
}

// One installed home as a candidate; false (with a trace line) when it does
// not fit the settings.
static bool installedCandidate(Launcher& launcher, const WideString& home, const WideString& real,
                               RuntimeCandidate& candidate) {
    candidate.home = home;
    candidate.source = home;
    // The real folder's name: an alias such as "default-java" names no version.
    bool known = homeVersion(real, candidate.version);
    WideString shown = known ? versionText(candidate.version) : WideString(u"unknown");
    if (!javaHomeVersionFits(launcher, known, candidate.version)) {
        traceRejected(home, known ? Rejection::OutsideBounds : Rejection::UnknownVersion, shown);
        return false;
    }
    WideString library = findJvmLibrary(home, launcher.jvmType, &candidate.serverVm);
    if (library.empty()) {
        // A development kit from before Java 9 keeps its runtime in jre/.
        WideString jre = home + kRuntimeLayout.jreFolder;
        library = findJvmLibrary(jre, launcher.jvmType, &candidate.serverVm);
        if (library.empty()) {
            traceRejected(home, missingLibraryReason(home, launcher.jvmType), shown);
            return false;
        }
        candidate.home = jre;
    }
    bool kit = developmentKit(home);
    if (!kindAccepted(launcher, kit)) {
        traceRejected(home, Rejection::WrongJvmSource, shown);
        return false;
    }
    uint16_t machine = 0;
    Rejection image = libraryImage(library, machine);
    if (image == Rejection::None && machine != kBuildMachine) image = Rejection::WrongProcessor;
    if (image != Rejection::None) {
        traceRejected(home, image, shown);
        return false;
    }
    candidate.preferred = kit ? launcher.jdkPreferred : launcher.jrePreferred;
    TRACE_EVENT("candidate")
        .field("place", home)
        .field("version", shown)
        .field("kind", kit ? "development kit" : "runtime")
        .field("processor", libraryProcessor(library))
        .field("library", library)
        .field("server", candidate.serverVm ? "yes" : "no");
    return true;
}

// Where the installed-runtime folders are: the system's root, or for the
// tests a folder that stands in for it.
static WideString searchRoot() {
    WideString root;
    platform::readEnvironment(u"VEDA_LAUNCHER_SEARCH_ROOT", root);
    while (root.endsWith(platform::kPathSeparator)) root = root.left(root.size() - 1);
    return root;
}

// The home of the first java command on the search path (an alternative
// the system manages, or a user's own tool), else the system's default; a
// kit's jre/ folder stands for its kit. Empty when there is neither.
static WideString chosenHome(const WideString& root) {
    static const char16_t* const kPlace = u"the java command on the search path";
    WideString searchPath;
    platform::readEnvironment(platform::kSearchPathVariable, searchPath);
    for (const WideString& folder : splitAt(searchPath, platform::kListSeparator)) {
        if (folder.empty()) continue;
        WideString command = folder;
        if (!command.endsWith(platform::kPathSeparator)) command += platform::kPathSeparator;
        command += u"java";
        WideString real;
        if (!platform::fileExists(command) || !platform::resolveLinks(command, real)) continue;
        TRACE_EVENT("look").field("place", kPlace).field("command", command).field("real", real);
        // <home>/bin/java
        WideString home = real;
        for (int cut = 0; cut < 2; ++cut) {
            size_t slash = home.findLast(platform::kPathSeparator);
            home = slash == WideString::npos ? WideString() : home.left(slash);
        }
        if (home.empty()) return WideString();
        home += platform::kPathSeparator;
        WideString jre = kRuntimeLayout.jreFolder;
        if (home.endsWith(platform::kPathSeparator + jre) && developmentKit(home))
            home = home.left(home.size() - jre.size());
        return home;
    }
    TRACE_EVENT("look").field("place", kPlace).field("command", "(none)");
    WideString fallback = root + kRuntimeLayout.systemDefault;
    if (!kRuntimeLayout.systemDefault[0] || !platform::fileExists(fallback)) return WideString();
    return fallback;
}

void scanInstalledFolders(Launcher& launcher, List<RuntimeCandidate>& candidates) {
    List<WideString> seen;
    WideString root = searchRoot();
    // Only a runtime taken counts as seen: its other names are judged alike,
    // whichever the folder lists first.
    auto consider = [&](const WideString& home, bool chosen) {
        WideString real;
        if (!platform::resolveLinks(home, real)) return;
        if (!real.endsWith(platform::kPathSeparator)) real += platform::kPathSeparator;
        for (const WideString& other : seen) {
            if (other != real) continue;
            TRACE_EVENT("skipped").field("place", home).field("reason", "the same runtime as one seen before");
            return;
        }
        RuntimeCandidate candidate;
        if (!installedCandidate(launcher, home, real, candidate)) return;
        candidate.systemChoice = chosen;
        seen.push_back(real);
        candidates.push_back(candidate);
    };
    WideString chosen = kRuntimeLayout.installedRoots[0] ? chosenHome(root) : WideString();
    if (!chosen.empty()) consider(chosen, true);
    for (const char16_t* const* folder = kRuntimeLayout.installedRoots; *folder; ++folder) {
        WideString parent = root + *folder;
        List<WideString> homes;
        for (const WideString& name : platform::findFiles(parent + u"*")) {
            platform::FileFacts facts;
            if (name != u"." && name != u".." && platform::fileFacts(parent + name, facts) && facts.directory)
                homes.push_back(parent + name + platform::kPathSeparator);
        }
        TRACE_EVENT("look").field("place", parent).field("folders", static_cast<int64_t>(homes.size()));
        for (const WideString& home : homes) consider(home, false);
    }
}

bool runtimeFromInstalledFolders(Launcher& launcher) {
    List<RuntimeCandidate> candidates;
    scanInstalledFolders(launcher, candidates);
    int chosen = chooseCandidate(launcher, candidates);
    if (chosen < 0) return false;
    const RuntimeCandidate& candidate = candidates[chosen];
    launcher.foundVersion = candidate.version;
    launcher.jvmLibraryPath = absoluteLibraryPath(findJvmLibrary(candidate.home, launcher.jvmType));
    launcher.runtimeVendor = RuntimeVendor::None;
    TRACE_EVENT("chosen")
        .field("place", candidate.source)
        .field("version", versionText(candidate.version))
        .field("library", launcher.jvmLibraryPath)
        .field("among", static_cast<int64_t>(candidates.size()))
        .field("system's choice", candidate.systemChoice ? "yes" : "no");
    return true;
}
