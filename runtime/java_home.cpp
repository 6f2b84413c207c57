#include "runtime/java_home.h"

#include "instance/paired_product.h"
#include "launcher/launcher.h"
#include "runtime/pe_image.h"
#include "runtime/runtime_layout.h"
#include "runtime/runtime_search.h"
#include "support/platform.h"
#include "support/trace.h"

static const char16_t* const kJavaHome = u"JAVA_HOME";

bool releaseVersion(const NarrowString& text, RuntimeVersion& version) {
    static const char kKey[] = "JAVA_VERSION=";
    const size_t keyLength = sizeof kKey - 1;
    size_t line = 0;
    while (line < text.size()) {
        size_t end = text.find('\n', line);
        if (end == NarrowString::npos) end = text.size();
        if (text.compare(line, keyLength, kKey) == 0) {
            size_t from = line + keyLength;
            size_t to = end;
            while (to > from && (text[to - 1] == '\r' || text[to - 1] == ' ')) --to;
            if (to - from >= 2 && text[from] == '"' && text[to - 1] == '"') {
                ++from;
                --to;
            }
            return parseVersion(fromUtf8(text.data() + from, to - from), 0, version);
        }
        line = end + 1;
    }
    return false;
}

bool javaHomeVersionFits(const Launcher& launcher, bool known, const RuntimeVersion& version) {
    if (known) return inVersionRange(version, launcher.minimumVersion, launcher.maximumVersion);
    return isUnbounded(launcher.minimumVersion) && isUnbounded(launcher.maximumVersion);
}

bool kindAccepted(const Launcher& launcher, bool kit) {
    return launcher.acceptBothKinds || (kit ? launcher.jdkPreferred : launcher.jrePreferred);
}

// The library must be one this launcher can load, or one the paired program
// can: anything else would only fail to load later.
static Rejection decideMachine(Launcher& launcher, const WideString& library) {
    uint16_t machine = 0;
    Rejection image = libraryImage(library, machine);
    if (image != Rejection::None) return image;
    if (machine == kBuildMachine) {
        launcher.pairLaunch = false;
        return Rejection::None;
    }
    if (pairLaunchAllowed(launcher) && machine == kPartnerMachine) {
        launcher.pairLaunch = true;
        return Rejection::None;
    }
    return Rejection::WrongProcessor;
}

static void reject(const char16_t* place, Rejection reason, const WideString& version) {
    TRACE_EVENT("rejected").field("place", place).field("version", version).field("reason", rejectionText(reason));
}

// The kit a jre/ home belongs to ("<kit>/jre/" gives "<kit>/"), else empty.
static WideString kitOfJreHome(const WideString& home) {
    WideString jre = kRuntimeLayout.jreFolder;
    if (!home.endsWith(platform::kPathSeparator + jre)) return WideString();
    return home.left(home.size() - jre.size());
}

bool developmentKit(const WideString& home) {
    if (platform::fileExists(home + kRuntimeLayout.compiler)) return true;
    WideString kit = kitOfJreHome(home);
    return !kit.empty() && platform::fileExists(kit + kRuntimeLayout.compiler);
}

bool homeVersion(const WideString& home, RuntimeVersion& version) {
    {
        platform::ReadOnlyMapping release(home + u"release");
        if (release.isOpen() &&
            releaseVersion(NarrowString(reinterpret_cast<const char*>(release.data()), release.size()), version)) {
            // A release or folder that says 8 means 1.8, as the settings name it.
            version = oldVersionForm(version);
            return true;
        }
    }
    // A kit's runtime in its jre/ folder (Java 8 on the search path) is of
    // the kit's version.
    WideString kit = kitOfJreHome(home);
    if (!kit.empty() && homeVersion(kit, version)) return true;
    if (!kRuntimeLayout.versionFromFolderName) return false;
    WideString folder = home;
    while (folder.endsWith(platform::kPathSeparator)) folder = folder.left(folder.size() - 1);
    size_t slash = folder.findLast(platform::kPathSeparator);
    return folderNameVersion(slash == WideString::npos ? folder : folder.substr(slash + 1), version);
}

bool folderNameVersion(const WideString& name, RuntimeVersion& version) {
    // The first number of the name starts the version: "jdk-21.0.2",
    // "jdk1.8.0_392", "java-17-openjdk-amd64", "temurin-25-jdk-amd64".
    size_t from = 0;
    while (from < name.size() && !(name[from] >= u'0' && name[from] <= u'9')) ++from;
    size_t to = from;
    while (to < name.size() && ((name[to] >= u'0' && name[to] <= u'9') || name[to] == u'.' || name[to] == u'_'))
        ++to;
    while (to > from && (name[to - 1] == u'.' || name[to - 1] == u'_')) --to;
    if (to == from || !parseVersion(name.substr(from, to - from), 0, version)) return false;
    // Some distributions name Java 9 and later "1.<major>", others Java 8 "8".
    if (version.major == 1 && version.minor >= 9)
        version = RuntimeVersion{version.minor, version.micro, version.update, 0, version.groupCount - 1};
    version = oldVersionForm(version);
    return true;
}

bool runtimeFromJavaHome(Launcher& launcher) {
    WideString home;
    // set JAVA_HOME="C:\...\jdk-21" keeps the quotes in the value.
    if (platform::readEnvironment(kJavaHome, home) && home.size() >= 2 && home[0] == u'"' && home.endsWith(u'"'))
        home = home.substr(1, home.size() - 2);
    if (home.empty()) {
        TRACE_EVENT("look").field("place", kJavaHome).field("home", "(not set)");
        return false;
    }
    return runtimeFromHome(launcher, kJavaHome, home);
}

bool runtimeFromHome(Launcher& launcher, const char16_t* place, WideString home) {
    const char16_t* const kPlace = place;
    if (!home.endsWith(platform::kPathSeparator)) home += platform::kPathSeparator;
    TRACE_EVENT("look").field("place", kPlace).field("home", home);

    RuntimeVersion version;
    bool known = homeVersion(home, version);
    WideString shown = known ? versionText(version) : WideString(u"unknown");

    // The library first: a folder that is not there has no version to judge.
    WideString library = findJvmLibrary(home, launcher.jvmType);
    if (library.empty()) library = findJvmLibrary(home + kRuntimeLayout.jreFolder, launcher.jvmType);
    if (library.empty()) {
        Rejection reason = Rejection::NoSuchFolder;
        if (platform::fileExists(home + u"*")) {
            reason = missingLibraryReason(home, launcher.jvmType);
            if (reason == Rejection::NoJvmLibrary)
                reason = missingLibraryReason(home + kRuntimeLayout.jreFolder, launcher.jvmType);
        }
        reject(kPlace, reason, shown);
        return false;
    }
    if (!javaHomeVersionFits(launcher, known, version)) {
        reject(kPlace, known ? Rejection::OutsideBounds : Rejection::UnknownVersion, shown);
        return false;
    }
    if (!kindAccepted(launcher, developmentKit(home))) {
        reject(kPlace, Rejection::WrongJvmSource, shown);
        return false;
    }
    library = absoluteLibraryPath(library);
    TRACE_EVENT("candidate")
        .field("place", kPlace)
        .field("version", shown)
        .field("processor", libraryProcessor(library))
        .field("library", library);
    Rejection machine = decideMachine(launcher, library);
    if (machine != Rejection::None) {
        reject(kPlace, machine, shown);
        return false;
    }
    launcher.jvmLibraryPath = library;
    launcher.runtimeVendor = RuntimeVendor::None;
    launcher.foundVersion = known ? version : RuntimeVersion();
    return true;
}
