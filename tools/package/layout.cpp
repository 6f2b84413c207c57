#include "tools/package/layout.h"

#include <stdio.h>

#include <map>

const std::vector<uint32_t> kWindowsIconSizes = {16, 24, 32, 48, 64, 256};
const std::vector<uint32_t> kLinuxIconSizes = {16, 24, 32, 48, 64, 128, 256};

namespace {

std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string versionText(const Description& d, int numbers) {
    std::string text;
    for (int i = 0; i < numbers; ++i) text += (i ? "." : "") + std::to_string(d.versionParts[i]);
    return text;
}

// A desktop entry's string value: backslashes and line ends escaped.
std::string desktopValue(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c != '\r') out += c;
    }
    return out;
}

// An Exec argument: quoted when it holds a character the field reserves.
std::string execArgument(const std::string& text) {
    if (text.find_first_of(" \t\"'\\><~|&;$*?#()`=%") == std::string::npos) return text;
    std::string out = "\"";
    // One backslash before the characters quoting reserves; the string
    // value's own escaping (which doubles it) is applied afterwards.
    for (char c : text) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
        if (c == '%') out += '%';
        out += c;
    }
    return out + "\"";
}

uint64_t fnv1a(const std::string& text) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

// A component's identity must stay the same across versions while it
// holds the same place: derived from the upgrade code and that place.
std::string componentGuid(const Description& d, const std::string& place) {
    return derivedUpgradeCode(d.upgradeCode, place).substr(1, 36);
}

// Folder paths ordered so that a folder comes right before what it holds
// ("jre", "jre/bin", "jre-x"): the separator sorts before every character.
struct FolderOrder {
    bool operator()(const std::string& a, const std::string& b) const {
        for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
            unsigned char x = a[i] == '/' ? 0 : static_cast<unsigned char>(a[i]);
            unsigned char y = b[i] == '/' ? 0 : static_cast<unsigned char>(b[i]);
            if (x != y) return x < y;
        }
        return a.size() < b.size();
    }
};

}  // namespace

std::string xmlEscaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '"') out += "&quot;";
        else out += c;
    }
    return out;
}

std::vector<LayoutItem> applicationLayout(const Description& d, Target target, const std::vector<ApplicationFile>& files) {
    bool windows = targetInfo(target).windows;
    std::vector<LayoutItem> items;
    items.push_back({LayoutItem::Launcher, windows ? d.name + ".exe" : d.name, "", true});
    items.push_back({LayoutItem::Settings, d.name + ".ini", "", false});
    // Linux menus and installers take the icon from a file; Windows from the
    // executable, and the file types' own icons from .ico files beside it.
    if (!windows) items.push_back({LayoutItem::Icon, d.name + ".png", d.icon, false});
    if (windows)
        for (const FileType& type : d.fileTypes)
            if (!type.icon.empty()) items.push_back({LayoutItem::Icon, lower(type.extension) + ".ico", type.icon, false});
    for (const ApplicationFile& file : files) items.push_back({LayoutItem::ApplicationJar, "lib/" + file.destination, file.source, false});
    const RuntimeChoice& runtime = d.runtime(target);
    if (runtime.kind != RuntimeChoice::None) items.push_back({LayoutItem::Runtime, "jre", runtime.folder, false});
    return items;
}

uint32_t linuxFileMode(const Description& d, const std::string& path) {
    bool runtimeProgram = path.compare(0, 8, "jre/bin/") == 0 || path == "jre/lib/jspawnhelper" || path == "jre/lib/jexec";
    // Shared libraries need no execute permission (and Debian's rules want none).
    return path == d.name || runtimeProgram ? 0755 : 0644;
}

std::string deliveryName(const Description& d, Target target) {
    return d.name + "-" + d.version + "-" + targetInfo(target).name;
}

std::string desktopEntry(const Description& d, const std::string& exec, const std::string& icon) {
    std::string mimeTypes;
    for (const FileType& type : d.fileTypes) mimeTypes += type.mimeType + ";";
    for (const UrlScheme& scheme : d.urlSchemes) mimeTypes += "x-scheme-handler/" + scheme.scheme + ";";
    std::string categories = d.categories.back() == ';' ? d.categories : d.categories + ";";
    // With URL schemes the desktop passes addresses, local files as file://
    // ones (the launcher turns those back into paths); else paths.
    std::string text = "[Desktop Entry]\nType=Application\nVersion=1.4\n";
    text += "Name=" + desktopValue(d.title) + "\n";
    text += "Comment=" + desktopValue(d.summary) + "\n";
    text += "Exec=" + desktopValue(execArgument(exec)) + (d.urlSchemes.empty() ? " %F" : " %U") + "\n";
    text += "Icon=" + desktopValue(icon) + "\n";
    text += std::string("Terminal=") + (d.console ? "true" : "false") + "\n";
    text += "Categories=" + desktopValue(categories) + "\n";
    if (!mimeTypes.empty()) text += "MimeType=" + mimeTypes + "\n";
    if (!d.windowClass.empty()) text += "StartupWMClass=" + desktopValue(d.windowClass) + "\n";
    return text;
}

std::string mimeInfo(const Description& d) {
    if (d.fileTypes.empty()) return std::string();
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
    for (const FileType& type : d.fileTypes) {
        text += "  <mime-type type=\"" + xmlEscaped(type.mimeType) + "\">\n";
        text += "    <comment>" + xmlEscaped(type.description) + "</comment>\n";
        text += "    <glob pattern=\"*." + xmlEscaped(lower(type.extension)) + "\"/>\n";
        text += "  </mime-type>\n";
    }
    return text + "</mime-info>\n";
}

std::string debianControl(const Description& d, uint64_t installedKiB) {
    std::string text = "Package: " + d.packageName + "\n";
    text += "Version: " + d.version + "\n";
    text += "Architecture: amd64\n";
    text += "Maintainer: " + d.maintainer + "\n";
    text += "Installed-Size: " + std::to_string(installedKiB) + "\n";
    // The launcher asks the C library for nothing newer than 2.17.
    text += "Depends: libc6 (>= 2.17)\n";
    if (d.runtime(Target::LinuxX64).kind == RuntimeChoice::None) text += "Recommends: default-jre | java-runtime\n";
    text += "Section: misc\nPriority: optional\n";
    if (!d.homepage.empty()) text += "Homepage: " + d.homepage + "\n";
    text += "Description: " + d.summary + "\n";
    text += " " + d.title + " from " + d.vendor + ", version " + d.version + ".\n";
    return text;
}

std::string debianCopyright(const Description& d) {
    std::string text = d.title + " " + d.version + "\n\n";
    text += (d.copyright.empty() ? "Copyright " + d.vendor : d.copyright) + "\n";
    text += "Vendor: " + d.vendor + "\n";
    if (!d.homepage.empty()) text += "Homepage: " + d.homepage + "\n";
    return text;
}

std::string debianChangelog(const Description& d, const std::string& date) {
    return d.packageName + " (" + d.version + ") unstable; urgency=medium\n\n  * " + d.title + " " + d.version +
           ".\n\n -- " + d.maintainer + "  " + date + "\n";
}

std::string lintianOverrides(const Description& d) {
    // The application keeps its own folder under /opt, its runtime inside.
    return d.packageName + ": dir-or-file-in-opt\n";
}

std::string installerSource(const Description& d, Target target, const std::string& root,
                            const std::vector<std::string>& files) {
    bool win64 = target == Target::WindowsX64;
    std::string exe = d.name + ".exe";
    std::string registryKey = "Software\\" + xmlEscaped(d.vendor) + "\\" + xmlEscaped(d.name);
    std::string yes64 = win64 ? " Win64=\"yes\"" : "";
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                       "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n";
    text += "  <Product Id=\"*\" Name=\"" + xmlEscaped(d.title) + "\" Language=\"1033\" Version=\"" + versionText(d, 3) +
            "\" Manufacturer=\"" + xmlEscaped(d.vendor) + "\" UpgradeCode=\"" + d.upgradeCode + "\">\n";
    text += "    <Package InstallerVersion=\"200\" Compressed=\"yes\" InstallScope=\"perUser\" Description=\"" +
            xmlEscaped(d.summary) + "\" Manufacturer=\"" + xmlEscaped(d.vendor) + "\"/>\n";
    text += "    <MajorUpgrade DowngradeErrorMessage=\"A newer version of " + xmlEscaped(d.title) +
            " is already installed.\"/>\n";
    text += "    <Media Id=\"1\" Cabinet=\"application.cab\" EmbedCab=\"yes\"/>\n";
    text += "    <Icon Id=\"application.exe\" SourceFile=\"" + xmlEscaped(root + "/" + exe) + "\"/>\n";
    text += "    <Property Id=\"ARPPRODUCTICON\" Value=\"application.exe\"/>\n";
    if (!d.homepage.empty()) text += "    <Property Id=\"ARPURLINFOABOUT\" Value=\"" + xmlEscaped(d.homepage) + "\"/>\n";

    // One component per folder: its files, a value under the product's key
    // as the key path (a per-user install's rule) and the folder's removal.
    std::map<std::string, std::vector<std::string>, FolderOrder> folders;
    folders[""];
    for (const std::string& file : files) {
        size_t slash = file.rfind('/');
        std::string folder = slash == std::string::npos ? "" : file.substr(0, slash);
        folders[folder].push_back(file);
        for (size_t at = folder.find('/'); at != std::string::npos; at = folder.find('/', at + 1)) folders[folder.substr(0, at)];
    }
    std::map<std::string, int, FolderOrder> numbers;
    for (const auto& folder : folders) numbers[folder.first] = static_cast<int>(numbers.size());
    std::vector<std::string> components;
    auto component = [&](const std::string& id, const std::string& place, const std::string& inner, const std::string& indent) {
        components.push_back(id);
        return indent + "<Component Id=\"" + id + "\" Guid=\"" + componentGuid(d, place) + "\"" + yes64 + ">\n" + inner +
               indent + "  <RegistryValue Root=\"HKCU\" Key=\"" + registryKey + "\" Name=\"" + id +
               "\" Type=\"integer\" Value=\"1\" KeyPath=\"yes\"/>\n" + indent + "</Component>\n";
    };
    // Folders nest by their paths; the map's order puts a folder before
    // what it holds.
    std::string tree;
    std::vector<std::string> open;
    auto close = [&](size_t depth) {
        while (open.size() > depth) {
            open.pop_back();
            tree += std::string(12 + 2 * open.size(), ' ') + "</Directory>\n";
        }
    };
    for (const auto& folder : folders) {
        const std::string& path = folder.first;
        int number = numbers[path];
        if (!path.empty()) {
            // Close the folders that do not hold this one.
            while (!open.empty() && path.compare(0, open.back().size() + 1, open.back() + "/") != 0) close(open.size() - 1);
            size_t slash = path.rfind('/');
            std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
            tree += std::string(12 + 2 * open.size(), ' ') + "<Directory Id=\"d" + std::to_string(number) + "\" Name=\"" +
                    xmlEscaped(name) + "\">\n";
            open.push_back(path);
        }
        std::string indent(12 + 2 * (open.size()), ' ');
        std::string inner;
        for (const std::string& file : folder.second) {
            size_t slash = file.rfind('/');
            inner += indent + "  <File Id=\"f" + std::to_string(fnv1a(file)) + "\" Name=\"" +
                     xmlEscaped(slash == std::string::npos ? file : file.substr(slash + 1)) + "\" Source=\"" +
                     xmlEscaped(root + "/" + file) + "\"/>\n";
        }
        inner += indent + "  <RemoveFolder Id=\"r" + std::to_string(number) + "\" On=\"uninstall\"/>\n";
        tree += component("c" + std::to_string(number), "folder:" + path, inner, indent);
    }
    close(0);

    // The file types and URL schemes, registered for this user to the
    // executable with the document as one argument.
    std::string command = "&quot;[INSTALLDIR]" + xmlEscaped(exe) + "&quot; &quot;%1&quot;";
    std::string classes;
    auto value = [&](const std::string& key, const std::string& name, const std::string& data) {
        classes += "              <RegistryValue Root=\"HKCU\" Key=\"Software\\Classes\\" + key + "\"" +
                   (name.empty() ? "" : " Name=\"" + name + "\"") + " Type=\"string\" Value=\"" + data + "\"/>\n";
    };
    for (const FileType& type : d.fileTypes) {
        std::string progId = xmlEscaped(d.name + "." + lower(type.extension));
        value("." + xmlEscaped(lower(type.extension)), "", progId);
        value("." + xmlEscaped(lower(type.extension)), "Content Type", xmlEscaped(type.mimeType));
        value(progId, "", xmlEscaped(type.description));
        value(progId + "\\DefaultIcon", "",
              type.icon.empty() ? "[INSTALLDIR]" + xmlEscaped(exe) + ",0" : "[INSTALLDIR]" + xmlEscaped(lower(type.extension)) + ".ico");
        value(progId + "\\shell\\open\\command", "", command);
    }
    for (const UrlScheme& scheme : d.urlSchemes) {
        value(xmlEscaped(scheme.scheme), "", xmlEscaped(scheme.description));
        value(xmlEscaped(scheme.scheme), "URL Protocol", "");
        value(xmlEscaped(scheme.scheme) + "\\DefaultIcon", "", "[INSTALLDIR]" + xmlEscaped(exe) + ",0");
        value(xmlEscaped(scheme.scheme) + "\\shell\\open\\command", "", command);
    }
    std::string shortcut =
        "              <Shortcut Id=\"menu\" Name=\"" + xmlEscaped(d.title) + "\" Description=\"" + xmlEscaped(d.summary) +
        "\" Target=\"[INSTALLDIR]" + xmlEscaped(exe) + "\" WorkingDirectory=\"INSTALLDIR\"/>\n" + classes;

    text += "    <Directory Id=\"TARGETDIR\" Name=\"SourceDir\">\n";
    text += "      <Directory Id=\"LocalAppDataFolder\">\n";
    text += "        <Directory Id=\"ProgramsFolder\" Name=\"Programs\">\n";
    text += "          <Directory Id=\"INSTALLDIR\" Name=\"" + xmlEscaped(d.name) + "\">\n";
    // The top folder's component was written first; the tree's first line
    // after it opens the subfolders.
    text += tree;
    text += "          </Directory>\n";
    text += "          <Component Id=\"programs\" Guid=\"" + componentGuid(d, "programs") + "\"" + yes64 + ">\n";
    text += "            <RemoveFolder Id=\"programsRemove\" On=\"uninstall\"/>\n";
    text += "            <RegistryValue Root=\"HKCU\" Key=\"" + registryKey +
            "\" Name=\"programs\" Type=\"integer\" Value=\"1\" KeyPath=\"yes\"/>\n";
    text += "          </Component>\n";
    components.push_back("programs");
    text += "        </Directory>\n";
    text += "      </Directory>\n";
    text += "      <Directory Id=\"ProgramMenuFolder\">\n";
    text += "            <Component Id=\"menu\" Guid=\"" + componentGuid(d, "menu") + "\"" + yes64 + ">\n";
    text += shortcut;
    text += "              <RegistryValue Root=\"HKCU\" Key=\"" + registryKey +
            "\" Name=\"menu\" Type=\"integer\" Value=\"1\" KeyPath=\"yes\"/>\n";
    text += "            </Component>\n";
    components.push_back("menu");
    text += "      </Directory>\n";
    text += "    </Directory>\n";
    text += "    <Feature Id=\"application\" Level=\"1\">\n";
    for (const std::string& id : components) text += "      <ComponentRef Id=\"" + id + "\"/>\n";
    text += "    </Feature>\n";
    text += "  </Product>\n</Wix>\n";
    return text;
}
