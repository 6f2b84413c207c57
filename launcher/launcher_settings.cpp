#include "launcher/launcher_settings.h"

#include "launcher/environment.h"
#include "launcher/launcher.h"
#include "launcher/restart.h"
#include "launcher/settings.h"
#include "support/messages.h"
#include "support/platform.h"
#include "support/trace.h"

static const char16_t* const kRuntimeSection = u"Java Runtime Environment";
static const char16_t* const kApplicationSection = u"Application";

WideString settingsPathFor(const WideString& modulePath) {
    if (modulePath.empty()) return WideString();
    // Programs there have no extension: "MyApp" and "org.example.App" alike
    // take ".ini" after their whole name.
    if (platform::kSettingsNameAppended) return modulePath + u".ini";
    // Only the file name's extension: a dot in a folder name (C:\v1.2\App)
    // must not cut the path there.
    size_t start = 0;
    for (size_t i = 0; i < modulePath.size(); ++i)
        if (modulePath[i] == u'\\' || modulePath[i] == u'/') start = i + 1;
    size_t dot = modulePath.findLast(u'.');
    if (dot == WideString::npos || dot < start) return modulePath + u".ini";
    return modulePath.left(dot + 1) + u"ini";
}

bool settingsFilePath(Launcher& launcher, WideString& path) {
    WideString module;
    if (!modulePath(launcher, module)) return false;
    path = settingsPathFor(module);
    return !path.empty();
}

WideString perUserSettingsPath(Launcher& launcher, const WideString& sourcePath, bool create) {
    size_t slash = sourcePath.findLast(platform::kPathSeparator);
    WideString fileName = slash == WideString::npos ? sourcePath : sourcePath.substr(slash + 1);
    size_t dot = platform::kSettingsNameAppended ? WideString::npos : fileName.findLast(u'.');
    if (dot != WideString::npos) fileName = fileName.left(dot);
    fileName += u".ini";

    WideString product;
    for (size_t i = 0; i < launcher.productName.size(); ++i) {
        char16_t c = launcher.productName[i];
        if (WideString(u"\\?\"|><:/*").find(c) == WideString::npos) product += c;
    }

    WideString path = platform::perUserSettingsFolder();  // used whole, however long
    if (product.empty() && launcher.productCode.empty() && platform::kPerUserCopyInOwnFolder) {
        path += platform::kPathSeparator + fileName.left(fileName.size() - 4);
        if (create) platform::createDirectory(path);
        return path + platform::kPathSeparator + fileName;
    }
    path += platform::kPathSeparator + product;
    if (create) platform::createDirectory(path);
    path += platform::kPathSeparator + launcher.productCode;
    if (create) platform::createDirectory(path);
    return path + platform::kPathSeparator + fileName;
}

// One folder name, however the system reads paths: no separator, drive or
// control character, and not "." or ".." (Windows also drops a name's
// trailing dots and blanks, so "..." or " " would be the folder above).
static bool singleFolderName(const WideString& name) {
    bool onlyDots = true;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] < 0x20 || WideString(u"\\/:").find(name[i]) != WideString::npos) return false;
        if (name[i] != u'.' && name[i] != u' ') onlyDots = false;
    }
    return !name.empty() && !onlyDots;
}

List<WideString> programFolderParts(const WideString& productName, const WideString& productCode,
                                    const WideString& executableName) {
    // The product's name as the per-user settings folder writes it.
    WideString product;
    for (size_t i = 0; i < productName.size(); ++i)
        if (WideString(u"\\?\"|><:/*").find(productName[i]) == WideString::npos) product += productName[i];
    List<WideString> parts;
    if (!product.empty()) parts.push_back(product);
    if (!productCode.empty()) parts.push_back(productCode);
    if (parts.empty()) parts.push_back(executableName);
    for (const WideString& part : parts)
        if (!singleFolderName(part)) return List<WideString>();
    return parts;
}

WideString ownPerUserSettingsPath(Launcher& launcher, bool create) {
    WideString module;
    if (!modulePath(launcher, module)) return WideString();
    return perUserSettingsPath(launcher, module, create);
}

WideString builtInSettingsText() {
    NarrowString bytes;
    if (!platform::builtInSettingsBytes(bytes)) return WideString();
    return decodeSettingsText(bytes);
}

struct ProviderRow {
    const char16_t* name;
    bool jrockitAllowed, jrockitFavoured, sunAllowed, sunFavoured, ibmAllowed, ibmFavoured;
};

static const ProviderRow kProviders[] = {
    {u"jrockit", true, true, false, false, false, false},
    {u"ibm", false, false, false, false, true, true},
    {u"favor_sun", true, false, true, true, true, false},
    {u"favor_jrockit", true, true, true, false, true, false},
    {u"favor_ibm", true, false, true, false, true, true},
    {u"any", true, false, true, false, true, false},
};

static void applyProvider(Launcher& launcher, const WideString& value) {
    if (value.empty()) return;
    for (const ProviderRow& row : kProviders) {
        if (!value.equalsIgnoreAsciiCase(row.name)) continue;
        launcher.jrockitAllowed = row.jrockitAllowed;
        launcher.jrockitFavoured = row.jrockitFavoured;
        launcher.sunAllowed = row.sunAllowed;
        launcher.sunFavoured = row.sunFavoured;
        launcher.ibmAllowed = row.ibmAllowed;
        launcher.ibmFavoured = row.ibmFavoured;
        return;
    }
}

static void applySource(Launcher& launcher, const WideString& value) {
    if (!value.empty()) launcher.acceptBothKinds = value == u"favor_JRE" || value == u"favor_JDK";
    launcher.jdkPreferred = value.empty() || value == u"favor_JDK" || value == u"only_JDK";
    launcher.jrePreferred = value.empty() || value == u"favor_JRE" || value == u"only_JRE";
}

static bool isYes(const WideString& value) { return value.equalsIgnoreAsciiCase(u"Yes"); }

static WideString readJrePath(Launcher& launcher, SettingsStore& settings) {
    if (platform::isNtFamily() && !launcher.isService) {
        WideString perUser = ownPerUserSettingsPath(launcher, false);
        // An existing per-user copy decides, even when it has no "JRE Path".
        if (!perUser.empty() && platform::fileExists(perUser))
            return SettingsFile(perUser).read(kRuntimeSection, u"JRE Path");
    }
    return settings.read(kRuntimeSection, u"JRE Path");
}

// A list of folders from the settings file in this system's notation,
// joined by its own list separator; Windows drives and servers left out.
static WideString settingsPathList(const WideString& value, const char16_t* key) {
    if (platform::kPathSeparator == u'\\') return value;
    WideString joined;
    for (WideString item : settingsList(value)) {
        if (item.empty() || !settingsPath(item, key)) continue;
        if (!joined.empty()) joined += platform::kListSeparator;
        joined += item;
    }
    return joined;
}

// Keys that only mean something on Windows: read, traced and set back to
// their defaults, so the same settings file serves both systems.
static void ignoreWindowsKeys(Launcher& launcher, SettingsStore& settings) {
    static const struct {
        const char16_t* section;
        const char16_t* key;
    } kKeys[] = {
        {kApplicationSection, u"Pair Product"},       {kApplicationSection, u"Pair Return Code"},
        {kRuntimeSection, u"VM Provider"},            {kApplicationSection, u"Application Type"},
        {kApplicationSection, u"Omit Service Name"},  {u"Display", u"Splash Screen Shadow"},
        {u"Display", u"Preffer Native Splash Screen"},
    };
    for (const auto& key : kKeys) {
        WideString value = settings.read(key.section, key.key);
        if (!value.empty()) {
            TRACE_EVENT("ignored").field("key", key.key).field("value", value).field("reason", "a Windows setting");
        }
    }
    launcher.pairProduct.clear();
    launcher.pairReturnCode = false;
    launcher.isService = false;
    launcher.omitServiceName = false;
    applyProvider(launcher, u"");
    launcher.jrockitAllowed = launcher.ibmAllowed = launcher.jrockitFavoured = launcher.ibmFavoured = false;
    launcher.sunAllowed = launcher.sunFavoured = true;
}

bool readLauncherSettings(Launcher& launcher) {
    WideString path;
    if (!settingsFilePath(launcher, path)) return false;

    SettingsFile plain(path);
    launcher.productCode = plain.read(u"Product Information", u"Product Code");
    launcher.productName = plain.read(u"Product Information", u"Product Name");

    LayeredSettingsFile layered(path, builtInSettingsText());
    SettingsStore& settings = static_cast<SettingsFile&>(layered);

    WideString minimum = settings.read(kRuntimeSection, u"Minimum Version");
    if (minimum == u"any")
        launcher.minimumVersion = RuntimeVersion{0, 0, 0, 0, 4};
    else
        launcher.minimumVersion = parseVersion(minimum, 0);

    WideString maximum = settings.read(kRuntimeSection, u"Maximum Version");
    if (maximum == u"any")
        launcher.maximumVersion = RuntimeVersion{65535, 65535, 65535, 65535, 4};
    else
        launcher.maximumVersion = parseVersion(maximum, 65535);

    launcher.isService = settings.read(kApplicationSection, u"Application Type") == u"service";
    if (launcher.isService)
        launcher.omitServiceName = !settings.read(kApplicationSection, u"Omit Service Name").empty();

    launcher.preferredVersions = splitAt(settings.read(kRuntimeSection, u"Preferred versions"), u';');
    launcher.jrePath = readJrePath(launcher, settings);
    settingsPath(launcher.jrePath, u"JRE Path");

    WideString jvmType = settings.read(kRuntimeSection, u"JVM Type");
    launcher.jvmType = jvmType == u"server" ? 1 : jvmType == u"favor_server" ? 2 : 0;

    applySource(launcher, settings.read(kRuntimeSection, u"JVM Source"));
    applyProvider(launcher, settings.read(kRuntimeSection, u"VM Provider"));

    launcher.mainClass = settings.read(kRuntimeSection, u"Main Class");
    if (launcher.mainClass.empty()) {
        reportError(launcher.messageOwner, LaunchError::plain(MsgNoMainClass));
        return false;
    }
    launcher.mainClass.replaceAll(u'.', u'/');

    WideString startupCache = settings.read(kRuntimeSection, u"Start-up Cache");
    launcher.startupCache = startupCache == u"auto";
    if (!launcher.startupCache && !startupCache.empty() && startupCache != u"no") {
        TRACE_EVENT("ignored").field("key", "Start-up Cache").field("value", startupCache).field("reason", "neither auto nor no");
    }

    launcher.failureCheck = isYes(settings.read(kApplicationSection, u"Failure Check"));
    launcher.overrideWorkingDir = isYes(settings.read(kApplicationSection, u"Override WorkingDir"));
    launcher.systemPath = settingsPathList(settings.read(kRuntimeSection, u"System Path"), u"System Path");
    launcher.libraryPath = settingsPathList(settings.read(kRuntimeSection, u"Library Path"), u"Library Path");
    launcher.pairProduct = settings.read(kApplicationSection, u"Pair Product");
    launcher.pairReturnCode = isYes(settings.read(kApplicationSection, u"Pair Return Code"));
    WideString restart = settings.read(kApplicationSection, u"Restart Exit Code");
    launcher.restartWanted = parseRestartCode(restart, launcher.restartCode);
    if (!launcher.restartWanted && !restart.empty()) {
        TRACE_EVENT("ignored").field("key", "Restart Exit Code").field("value", restart).field("reason", "not a whole number other than 0");
    }
    if (platform::kWindowsKeysIgnored) ignoreWindowsKeys(launcher, settings);
    return true;
}
