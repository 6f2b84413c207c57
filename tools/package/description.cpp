#include "tools/package/description.h"

#include <stdio.h>
#include <string.h>

#include "runtime/pe_image.h"

namespace {

const std::vector<TargetInfo> kTargets = {
    {Target::WindowsX64, "windows-x64", true, kMachineAmd64},
    {Target::WindowsX86, "windows-x86", true, kMachineI386},
    {Target::LinuxX64, "linux-x64", false, kMachineAmd64},
};

std::string trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return std::string();
    size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::vector<std::string> splitList(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        std::string part = trimmed(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (!part.empty()) parts.push_back(part);
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

// Paths are written as in the settings file; "/" serves every system.
std::string portablePath(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

bool isNameCharacter(char c, const char* extra) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (extra && c && strchr(extra, c));
}

bool allOf(const std::string& text, const char* extra) {
    if (text.empty()) return false;
    for (char c : text)
        if (!isNameCharacter(c, extra)) return false;
    return true;
}

bool parseVersion(const std::string& text, uint16_t parts[4]) {
    std::vector<std::string> numbers = splitList(text, '.');
    if (numbers.size() != 4 || text.find(' ') != std::string::npos) return false;
    for (int i = 0; i < 4; ++i) {
        if (numbers[i].size() > 5 || !allOf(numbers[i], nullptr)) return false;
        unsigned long value = 0;
        for (char c : numbers[i]) {
            if (c < '0' || c > '9') return false;
            value = value * 10 + static_cast<unsigned long>(c - '0');
        }
        if (value > 65535) return false;
        parts[i] = static_cast<uint16_t>(value);
    }
    return true;
}

uint64_t fnv1a(const std::string& text) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

bool isGuid(const std::string& text) {
    if (text.size() != 38 || text[0] != '{' || text[37] != '}') return false;
    for (size_t i = 1; i < 37; ++i) {
        bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        char c = text[i];
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

struct Parser {
    Description& d;
    std::vector<DescriptionError>& errors;
    void error(int line, const std::string& text) { errors.push_back({line, text}); }

    void packageKey(const std::string& key, const std::string& value, int line) {
        std::string* text = key == "Name"          ? &d.name
                            : key == "Title"       ? &d.title
                            : key == "Vendor"      ? &d.vendor
                            : key == "Description" ? &d.summary
                            : key == "Copyright"   ? &d.copyright
                            : key == "Maintainer"  ? &d.maintainer
                            : key == "Homepage"    ? &d.homepage
                            : key == "Categories"  ? &d.categories
                            : key == "Window Class" ? &d.windowClass
                            : key == "Package Name" ? &d.packageName
                                                    : nullptr;
        if (text) {
            *text = value;
        } else if (key == "Version") {
            d.version = value;
            if (!parseVersion(value, d.versionParts))
                error(line, "\"Version\" must be four numbers of 0 to 65535 (1.2.3.0), not \"" + value + "\"");
            versionLine = line;
        } else if (key == "Icon") {
            d.icon = portablePath(value);
            d.iconLine = line;
        } else if (key == "Files") {
            for (const std::string& file : splitList(value, ';')) d.files.push_back(portablePath(file));
            d.filesLine = line;
        } else if (key == "Upgrade Code") {
            d.upgradeCode = value;
            if (!isGuid(value)) error(line, "\"Upgrade Code\" must be a GUID in braces ({12345678-9ABC-DEF0-1234-56789ABCDEF0})");
        } else if (key == "Console") {
            d.console = lower(value) == "yes" || lower(value) == "true" || value == "1";
        } else if (key == "Targets") {
            d.targets.clear();
            for (const std::string& name : splitList(value, ';')) {
                bool known = false;
                for (const TargetInfo& info : kTargets)
                    if (name == info.name) {
                        d.targets.push_back(info.target);
                        known = true;
                    }
                if (!known) error(line, "unknown target \"" + name + "\" (windows-x64, windows-x86, linux-x64)");
            }
            targetsGiven = true;
        } else if (key == "Built-in Sections") {
            d.builtInSections = splitList(value, ';');
        } else {
            error(line, "unknown key \"" + key + "\" in [Package]");
        }
    }

    void runtimeKey(const std::string& key, const std::string& value, int line) {
        if (key == "JDK") {
            d.jdk = portablePath(value);
            d.jdkLine = line;
            return;
        }
        if (key == "Add Modules") {
            d.addModules = splitList(value, ',');
            if (d.addModules.size() <= 1) d.addModules = splitList(value, ';');
            return;
        }
        for (const TargetInfo& info : kTargets) {
            if (key != info.name) continue;
            RuntimeChoice& choice = d.runtimes[static_cast<int>(info.target)];
            choice.line = line;
            if (lower(value) == "none" || value.empty()) {
                choice.kind = RuntimeChoice::None;
            } else if (lower(value) == "jlink") {
                choice.kind = RuntimeChoice::Jlink;
            } else {
                choice.kind = RuntimeChoice::Folder;
                choice.folder = portablePath(value);
            }
            return;
        }
        error(line, "unknown key \"" + key + "\" in [Package Runtime] (windows-x64, windows-x86, linux-x64, JDK, Add Modules)");
    }

    void fileTypeKey(const std::string& key, const std::string& value, int line) {
        FileType type;
        type.extension = key[0] == '.' ? key.substr(1) : key;
        type.line = line;
        std::vector<std::string> fields;
        size_t start = 0;
        for (;;) {
            size_t end = value.find(';', start);
            fields.push_back(trimmed(value.substr(start, end == std::string::npos ? end : end - start)));
            if (end == std::string::npos) break;
            start = end + 1;
        }
        type.description = fields[0];
        if (fields.size() > 1) type.icon = portablePath(fields[1]);
        if (fields.size() > 2) type.mimeType = fields[2];
        if (!allOf(type.extension, "-_+")) error(line, "a file type's extension is letters, digits, - _ or +: \"" + key + "\"");
        if (type.description.empty()) error(line, "the file type \"" + type.extension + "\" needs a description");
        if (fields.size() > 3 || (!type.mimeType.empty() && type.mimeType.find('/') == std::string::npos))
            error(line, "a file type is \"extension=description;icon;mime/type\" (icon and type optional)");
        d.fileTypes.push_back(type);
    }

    void urlSchemeKey(const std::string& key, const std::string& value, int line) {
        bool valid = !key.empty() && isNameCharacter(key[0], nullptr) && !(key[0] >= '0' && key[0] <= '9') &&
                     allOf(key, "+-.");
        if (!valid) error(line, "a URL scheme starts with a letter and holds letters, digits, + - or .: \"" + key + "\"");
        d.urlSchemes.push_back({lower(key), value.empty() ? "URL:" + key : value, line});
    }

    int versionLine = 0;
    bool targetsGiven = false;
};

}  // namespace

const std::vector<TargetInfo>& allTargets() { return kTargets; }

const TargetInfo& targetInfo(Target target) { return kTargets[static_cast<int>(target)]; }

bool Description::hasTarget(Target target) const {
    for (Target t : targets)
        if (t == target) return true;
    return false;
}

std::string Description::settingsText(bool builtIn) const {
    std::string text;
    for (const SettingsSection& section : settings) {
        bool isBuiltIn = false;
        for (const std::string& name : builtInSections) isBuiltIn |= lower(name) == lower(section.name);
        if (isBuiltIn != builtIn) continue;
        for (const std::string& line : section.lines) text += line + "\r\n";
    }
    return text;
}

std::string derivedUpgradeCode(const std::string& vendor, const std::string& name) {
    uint64_t high = fnv1a("upgrade code\x1f" + vendor + "\x1f" + name);
    uint64_t low = fnv1a(name + "\x1f" + vendor + "\x1fupgrade code");
    high = (high & ~0xF000ull) | 0x8000ull;                                    // version 8
    low = (low & 0x3FFFFFFFFFFFFFFFull) | 0x8000000000000000ull;               // the RFC variant
    char text[40];
    snprintf(text, sizeof text, "{%08X-%04X-%04X-%04X-%012llX}", static_cast<unsigned>(high >> 32),
             static_cast<unsigned>((high >> 16) & 0xFFFF), static_cast<unsigned>(high & 0xFFFF),
             static_cast<unsigned>(low >> 48), static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
    return text;
}

bool parseDescription(const std::string& text, Description& d, std::vector<DescriptionError>& errors) {
    d = Description();
    Parser parser{d, errors};
    std::string section;
    int lineNumber = 0;
    bool sawPackage = false;
    size_t start = text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string raw = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? text.size() + 1 : end + 1;
        ++lineNumber;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        std::string line = trimmed(raw);
        if (line.size() >= 2 && line[0] == '[' && line.back() == ']') {
            section = trimmed(line.substr(1, line.size() - 2));
            sawPackage |= section == "Package";
            if (section.compare(0, 7, "Package") != 0) d.settings.push_back({section, {raw}});
            else if (section != "Package" && section != "Package Runtime" && section != "Package File Types" &&
                     section != "Package URL Schemes")
                parser.error(lineNumber, "unknown section [" + section + "] (the packaging's sections are [Package], "
                                         "[Package Runtime], [Package File Types] and [Package URL Schemes])");
            continue;
        }
        bool packaging = section.compare(0, 7, "Package") == 0;
        if (!packaging) {
            // The application's settings go out as written, comments kept.
            if (!d.settings.empty()) d.settings.back().lines.push_back(raw);
            else if (!line.empty() && line[0] != ';') parser.error(lineNumber, "a setting outside any section");
            continue;
        }
        if (line.empty() || line[0] == ';') continue;
        size_t equals = line.find('=');
        if (equals == std::string::npos) {
            parser.error(lineNumber, "expected \"key=value\"");
            continue;
        }
        std::string key = trimmed(line.substr(0, equals)), value = trimmed(line.substr(equals + 1));
        if (section == "Package") parser.packageKey(key, value, lineNumber);
        else if (section == "Package Runtime") parser.runtimeKey(key, value, lineNumber);
        else if (section == "Package File Types") parser.fileTypeKey(key, value, lineNumber);
        else if (section == "Package URL Schemes") parser.urlSchemeKey(key, value, lineNumber);
    }

    if (!sawPackage) parser.error(0, "no [Package] section");
    if (!parser.targetsGiven)
        for (const TargetInfo& info : kTargets) d.targets.push_back(info.target);
    if (d.name.empty()) parser.error(0, "[Package] needs \"Name\" (the executable's name)");
    else if (!allOf(d.name, "._-")) parser.error(0, "\"Name\" is letters, digits, . _ or - (it names files): \"" + d.name + "\"");
    if (d.version.empty()) parser.error(0, "[Package] needs \"Version\" (four numbers: 1.2.3.0)");
    if (d.vendor.empty()) parser.error(0, "[Package] needs \"Vendor\"");
    if (d.files.empty()) parser.error(0, "[Package] needs \"Files\" (the application's jars, or its folder)");
    if (d.icon.empty()) parser.error(0, "[Package] needs \"Icon\" (a PNG of at least 256 x 256 pixels, or an .ico)");
    if (d.title.empty()) d.title = d.name;
    if (d.summary.empty()) d.summary = d.title;
    if (d.categories.empty()) d.categories = "Utility;";
    if (d.packageName.empty()) d.packageName = lower(d.name);
    if (!d.name.empty() && (!allOf(d.packageName, "+-.") || !(d.packageName[0] >= 'a' && d.packageName[0] <= 'z') ||
                            d.packageName != lower(d.packageName) || d.packageName.size() < 2))
        parser.error(0, "\"Package Name\" (default: \"Name\" in lower case) must be lower-case letters, digits, + - or ., "
                        "starting with a letter: \"" + d.packageName + "\"");
    if (d.upgradeCode.empty()) d.upgradeCode = derivedUpgradeCode(d.vendor, d.name);
    if (d.hasTarget(Target::LinuxX64) && d.maintainer.find('@') == std::string::npos)
        parser.error(0, "the Linux package needs \"Maintainer\" with an e-mail address (Example Ltd <apps@example.com>)");
    bool windows = d.hasTarget(Target::WindowsX64) || d.hasTarget(Target::WindowsX86);
    // Windows Installer orders versions by their first three numbers, the
    // first two up to 255: a version outside that could not replace the
    // one before it, and both would stay installed.
    if (windows && !d.version.empty() &&
        (d.versionParts[0] > 255 || d.versionParts[1] > 255 || d.versionParts[3] != 0))
        parser.error(parser.versionLine,
                     "Windows Installer cannot order \"" + d.version + "\": it compares the first three numbers only "
                     "(the first two up to 255), so the fourth must be 0");
    if (d.windowClass.empty())
        for (const SettingsSection& s : d.settings)
            for (const std::string& raw : s.lines) {
                std::string line = trimmed(raw);
                size_t equals = line.find('=');
                if (equals != std::string::npos && trimmed(line.substr(0, equals)) == "Main Class") {
                    // AWT names its windows' class after the main class, dots as dashes.
                    d.windowClass = trimmed(line.substr(equals + 1));
                    for (char& c : d.windowClass)
                        if (c == '.' || c == '/') c = '-';
                }
            }
    for (FileType& type : d.fileTypes)
        if (type.mimeType.empty())
            type.mimeType = "application/x-" + d.packageName + "-" + lower(type.extension);
    return errors.empty();
}
