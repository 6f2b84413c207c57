#include "runtime/java_home.h"

#include "instance/paired_product.h"
#include "launcher/launcher.h"
#include "runtime/pe_image.h"
#include "runtime/runtime_search.h"
#include "support/platform.h"
#include "support/trace.h"

static const char16_t* const kPlace = u"JAVA_HOME";

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

// The library must be one this launcher can load, or one the paired program
// can: anything else would only fail to load later.
static Rejection decideMachine(Launcher& launcher, const WideString& library) {
    platform::ReadOnlyMapping image(library);
    uint16_t machine = 0;
    if (!image.isOpen() || !imageMachine(image.data(), image.size(), machine)) return Rejection::NotAnImage;
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

static void reject(Rejection reason, const WideString& version) {
    TRACE_EVENT("rejected").field("place", kPlace).field("version", version).field("reason", rejectionText(reason));
}

bool runtimeFromJavaHome(Launcher& launcher) {
    WideString home;
    // set JAVA_HOME="C:\...\jdk-21" keeps the quotes in the value.
    if (platform::readEnvironment(kPlace, home) && home.size() >= 2 && home[0] == u'"' && home.endsWith(u'"'))
        home = home.substr(1, home.size() - 2);
    if (home.empty()) {
        TRACE_EVENT("look").field("place", kPlace).field("home", "(not set)");
        return false;
    }
    if (!home.endsWith(u'\\')) home += u'\\';
    TRACE_EVENT("look").field("place", kPlace).field("home", home);

    RuntimeVersion version;
    bool known = false;
    {
        platform::ReadOnlyMapping release(home + u"release");
        if (release.isOpen())
            known = releaseVersion(NarrowString(reinterpret_cast<const char*>(release.data()), release.size()), version);
    }
    WideString shown = known ? versionText(version) : WideString(u"unknown");

    // The library first: a folder that is not there has no version to judge.
    WideString library = findJvmLibrary(home, launcher.jvmType);
    if (library.empty()) library = findJvmLibrary(home + u"jre\\", launcher.jvmType);
    if (library.empty()) {
        Rejection reason = Rejection::NoSuchFolder;
        if (platform::fileExists(home + u"*")) {
            reason = missingLibraryReason(home, launcher.jvmType);
            if (reason == Rejection::NoJvmLibrary) reason = missingLibraryReason(home + u"jre\\", launcher.jvmType);
        }
        reject(reason, shown);
        return false;
    }
    if (!javaHomeVersionFits(launcher, known, version)) {
        reject(known ? Rejection::OutsideBounds : Rejection::UnknownVersion, shown);
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
        reject(machine, shown);
        return false;
    }
    launcher.jvmLibraryPath = library;
    launcher.runtimeVendor = RuntimeVendor::None;
    launcher.foundVersion = known ? version : RuntimeVersion();
    return true;
}
