// The description of an application to package: one file in the settings
// file's format. Sections whose names start with "Package" are the
// packaging's own; every other section is the application's settings.
#ifndef TOOLS_PACKAGE_DESCRIPTION_H
#define TOOLS_PACKAGE_DESCRIPTION_H

#include <stdint.h>

#include <string>
#include <vector>

enum class Target { WindowsX64, WindowsX86, LinuxX64 };

struct TargetInfo {
    Target target;
    const char* name;     // "windows-x64"
    bool windows;
    uint16_t machine;     // the kMachine code of its runtime's library
};
const std::vector<TargetInfo>& allTargets();
const TargetInfo& targetInfo(Target target);

struct FileType {
    std::string extension;  // without the dot
    std::string description;
    std::string icon;       // a PNG or .ico path, or empty
    std::string mimeType;   // given, or application/x-<package>-<extension>
    int line = 0;
};

struct UrlScheme {
    std::string scheme;
    std::string description;
    int line = 0;
};

struct RuntimeChoice {
    enum Kind { None, Folder, Jlink } kind = None;
    std::string folder;  // for Folder
    int line = 0;
};

struct SettingsSection {
    std::string name;
    std::vector<std::string> lines;  // as written, the section's line first
};

struct Description {
    std::string name;  // file names: <name>.exe, <name>.ini
    std::string title, version, vendor, summary, copyright, maintainer, homepage, categories;
    uint16_t versionParts[4] = {0, 0, 0, 0};
    std::string icon;
    std::vector<std::string> files;  // jars or one folder, as written
    std::string upgradeCode;         // given or derived, {XXXXXXXX-...}
    std::string windowClass;         // the Java windows' class on X11
    std::string packageName;         // the Linux package's and the desktop file's name
    bool console = false;
    std::vector<Target> targets;
    std::vector<std::string> builtInSections;
    RuntimeChoice runtimes[3];
    std::string jdk;
    std::vector<std::string> addModules;
    std::vector<FileType> fileTypes;
    std::vector<UrlScheme> urlSchemes;
    std::vector<SettingsSection> settings;
    // Lines of the keys that name files, for the checks made later.
    int iconLine = 0, filesLine = 0, jdkLine = 0;

    bool hasTarget(Target target) const;
    const RuntimeChoice& runtime(Target target) const { return runtimes[static_cast<int>(target)]; }
    // The application's settings as one text, the sections built in or not.
    std::string settingsText(bool builtIn) const;
};

struct DescriptionError {
    int line;  // 0 when the whole file is meant
    std::string text;
};

// Reads the description's text (UTF-8); false with errors naming lines.
bool parseDescription(const std::string& text, Description& description, std::vector<DescriptionError>& errors);

// The upgrade code derived from vendor and name: a version-8 UUID of their
// FNV-1a hashes, so every version of one product gets the same one.
std::string derivedUpgradeCode(const std::string& vendor, const std::string& name);

#endif
