// package-app: makes the deliveries of a Java application from one
// description file: for Windows the application folder with the branded
// executable, its .zip and an .msi; for Linux the application folder, the
// desktop entry, icons and file types, a .tar.gz and a .deb.
//
//   package-app <app.package.ini> [--output <folder>] [--launchers <dist>]
//
// Everything is made in a folder beside the output and renamed to it at
// the end, so a failure never leaves a half written delivery.
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "launcher/settings.h"
#include "runtime/elf_image.h"
#include "runtime/pe_image.h"
#include "support/wide_string.h"
#include "tools/brand/brand.h"
#include "tools/brand/icon_file.h"
#include "tools/package/archive.h"
#include "tools/package/description.h"
#include "tools/package/layout.h"
#include "tools/package/picture.h"
#include "tools/package/run_program.h"

namespace fs = std::filesystem;

namespace {

const char kTool[] = "package-app";
// Marks an output folder this command made, so that a new run may replace it.
const char kMarker[] = ".package-app";

const char kUsage[] =
    "usage: package-app <description.ini> [--output <folder>] [--launchers <folder>]\n"
    "  --output <folder>     where the deliveries go (default: packages beside the description)\n"
    "  --launchers <folder>  the folder with x64/, x86/ and linux-x64/ launchers (default: the\n"
    "                        folder above this program's own)\n";

std::string shown(const fs::path& path) { return path.u8string(); }

bool readFile(const fs::path& path, Bytes& bytes) {
    std::error_code code;
    if (!fs::is_regular_file(path, code)) return false;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    std::streamoff size = in.tellg();
    if (size < 0) return false;
    bytes.resize(static_cast<size_t>(size));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), size);
    return in.gcount() == size;
}

bool writeFile(const fs::path& path, const Bytes& bytes) {
    std::error_code code;
    fs::create_directories(path.parent_path(), code);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

bool writeText(const fs::path& path, const std::string& text) { return writeFile(path, Bytes(text.begin(), text.end())); }

std::u16string utf16(const std::string& utf8) { return fromUtf8(utf8.data(), utf8.size()).str(); }

std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string humanSize(uintmax_t bytes) {
    char text[32];
    if (bytes >= 1024 * 1024) snprintf(text, sizeof text, "%.1f MB", bytes / 1048576.0);
    else snprintf(text, sizeof text, "%.1f KB", bytes / 1024.0);
    return text;
}

// The problems found before anything is written, each with its line.
struct Problems {
    fs::path file;
    int count = 0;
    void add(int line, const std::string& text) {
        if (line) fprintf(stderr, "%s:%d: error: %s\n", shown(file).c_str(), line, text.c_str());
        else fprintf(stderr, "%s: error: %s\n", shown(file).c_str(), text.c_str());
        ++count;
    }
};

// An icon as the description names it: a PNG picture, or an .ico file
// (whose largest PNG image serves Linux).
struct IconSource {
    Bytes ico;
    Picture picture;
    bool hasPicture = false;
};

bool loadIcon(const fs::path& path, int line, bool linuxToo, IconSource& icon, Problems& problems) {
    Bytes bytes;
    if (!readFile(path, bytes)) {
        problems.add(line, "cannot read the icon " + shown(path));
        return false;
    }
    std::string error;
    uint32_t width, height;
    Bytes png;
    if (pngSize(bytes, width, height)) {
        if (width != height || width < 256) {
            problems.add(line, shown(path) + " is " + std::to_string(width) + " x " + std::to_string(height) +
                                   " pixels; the icon must be square and at least 256 x 256");
            return false;
        }
        png = bytes;
    } else {
        std::vector<IconImage> images;
        if (!parseIconFile(bytes, images, error)) {
            problems.add(line, shown(path) + " is neither a PNG picture nor an icon file (" + error + ")");
            return false;
        }
        icon.ico = bytes;
        uint32_t best = 0;
        for (const IconImage& image : images)
            if (pngSize(image.data, width, height) && width == height && width > best) {
                best = width;
                png = image.data;
            }
        if (!linuxToo) return true;
        if (best < 256) {
            problems.add(line, shown(path) + " holds no PNG image of 256 x 256 pixels or more, which the Linux "
                                             "icons are made from; give a PNG");
            return false;
        }
    }
    if (!readPng(png, icon.picture, error)) {
        problems.add(line, shown(path) + ": " + error);
        return false;
    }
    icon.hasPicture = true;
    if (icon.ico.empty()) icon.ico = iconFile(icon.picture, kWindowsIconSizes);
    return true;
}

// The runtime library's processor, checked as the launcher checks it.
bool checkRuntime(const fs::path& folder, const TargetInfo& target, int line, Problems& problems) {
    std::error_code code;
    if (!fs::is_directory(folder, code)) {
        problems.add(line, "the runtime folder " + shown(folder) + " does not exist");
        return false;
    }
    const char* windowsLibraries[] = {"bin/server/jvm.dll", "bin/client/jvm.dll"};
    const char* linuxLibraries[] = {"lib/server/libjvm.so", "lib/amd64/server/libjvm.so"};
    auto find = [&](const char* const* names) {
        for (int i = 0; i < 2; ++i)
            if (fs::is_regular_file(folder / names[i], code)) return folder / names[i];
        return fs::path();
    };
    fs::path library = find(target.windows ? windowsLibraries : linuxLibraries);
    if (library.empty()) {
        bool other = !find(target.windows ? linuxLibraries : windowsLibraries).empty();
        problems.add(line, shown(folder) + (other ? std::string(" is a runtime for ") + (target.windows ? "Linux" : "Windows") +
                                                        ", not for " + target.name
                                                  : std::string(" holds no runtime library (") +
                                                        (target.windows ? "bin\\server\\jvm.dll" : "lib/server/libjvm.so") + ")"));
        return false;
    }
    Bytes bytes;
    readFile(library, bytes);
    if (bytes.size() > 65536) bytes.resize(65536);
    uint16_t machine = 0;
    bool read = target.windows ? imageMachine(bytes.data(), bytes.size(), machine) : elfMachine(bytes.data(), bytes.size(), machine);
    if (!read) {
        problems.add(line, shown(library) + " is not a " + (target.windows ? "Windows" : "Linux") + " library");
        return false;
    }
    if (machine != target.machine) {
        NarrowString name = toUtf8(machineName(machine));
        problems.add(line, shown(folder) + " is a runtime for " + std::string(name.begin(), name.end()) + "; " + target.name +
                               " needs one for " + (target.machine == kMachineAmd64 ? "x64" : "x86"));
        return false;
    }
    return true;
}

// The target a runtime made with jlink serves: the build machine's own.
Target buildMachineTarget() {
#ifdef _WIN32
    return kBuildMachine == kMachineAmd64 ? Target::WindowsX64 : Target::WindowsX86;
#else
    return Target::LinuxX64;
#endif
}

// The JDK that makes runtimes: "JDK" in the description, else JAVA_HOME.
fs::path jdkFolder(const Description& d, const fs::path& base) {
    if (!d.jdk.empty()) return base / fs::u8path(d.jdk);
    const char* home = getenv("JAVA_HOME");
    return home && *home ? fs::path(home) : fs::path();
}

fs::path jdkProgram(const fs::path& jdk, const char* name) {
#ifdef _WIN32
    return jdk / "bin" / (std::string(name) + ".exe");
#else
    return jdk / "bin" / name;
#endif
}

// Copies a folder's files, links followed (a runtime's links point into
// the build machine's system); a link to nothing is left out.
bool copyFolder(const fs::path& from, const fs::path& to, std::string& error) {
    std::error_code code;
    fs::create_directories(to, code);
    for (fs::recursive_directory_iterator it(from, fs::directory_options::follow_directory_symlink, code), end;
         !code && it != end; it.increment(code)) {
        fs::path target = to / fs::relative(it->path(), from, code);
        if (fs::is_directory(it->path(), code)) {
            fs::create_directories(target, code);
        } else if (fs::exists(it->path(), code)) {
            fs::copy_file(it->path(), target, fs::copy_options::overwrite_existing, code);
            if (code) break;
        }
        code.clear();
    }
    if (code) error = "cannot copy " + shown(from) + ": " + code.message();
    return !code;
}

// Every file under a folder, '/' separated and sorted, folders left out.
std::vector<std::string> filesUnder(const fs::path& root) {
    std::vector<std::string> files;
    std::error_code code;
    for (fs::recursive_directory_iterator it(root, code), end; !code && it != end; it.increment(code))
        if (it->is_regular_file(code)) files.push_back(fs::relative(it->path(), root, code).generic_u8string());
    std::sort(files.begin(), files.end());
    return files;
}

struct Packager {
    Description d;
    fs::path base;       // the description's folder
    fs::path launchers;  // dist/
    fs::path work;       // the output being made
    IconSource icon;
    std::vector<IconSource> typeIcons;  // one per file type, empty where none
    std::vector<ApplicationFile> files;
    std::vector<std::string> made;     // the deliveries, relative to the output
    std::vector<std::string> notMade;  // installers whose tool is missing
    int64_t time = 0;

    fs::path launcherOf(Target target) const {
        const char* program = d.console ? "launcher-console.exe" : "launcher.exe";
        if (target == Target::WindowsX64) return launchers / "x64" / program;
        if (target == Target::WindowsX86) return launchers / "x86" / program;
        return launchers / "linux-x64" / "launcher";
    }

    bool check(Problems& problems) {
        bool linux = d.hasTarget(Target::LinuxX64);
        loadIcon(base / fs::u8path(d.icon), d.iconLine, linux, icon, problems);
        for (const FileType& type : d.fileTypes) {
            typeIcons.emplace_back();
            if (!type.icon.empty()) loadIcon(base / fs::u8path(type.icon), type.line, linux, typeIcons.back(), problems);
        }
        std::error_code code;
        if (d.files.size() == 1 && fs::is_directory(base / fs::u8path(d.files[0]), code)) {
            fs::path folder = base / fs::u8path(d.files[0]);
            for (const std::string& file : filesUnder(folder)) files.push_back({file, shown(folder / fs::u8path(file))});
            if (files.empty()) problems.add(d.filesLine, "the folder " + shown(folder) + " is empty");
        } else {
            for (const std::string& file : d.files) {
                fs::path path = base / fs::u8path(file);
                if (!fs::is_regular_file(path, code))
                    problems.add(d.filesLine, shown(path) + (fs::is_directory(path, code) ? " is a folder; \"Files\" names "
                                                                                           "either jars or one folder"
                                                                                         : ": no such file"));
                else files.push_back({path.filename().u8string(), shown(path)});
            }
        }
        for (const TargetInfo& info : allTargets()) {
            if (!d.hasTarget(info.target)) continue;
            if (!fs::is_regular_file(launcherOf(info.target), code))
                problems.add(0, "the launcher for " + std::string(info.name) + " is missing: " + shown(launcherOf(info.target)) +
                                    " (build it, or name the folder with --launchers)");
            const RuntimeChoice& runtime = d.runtime(info.target);
            if (runtime.kind == RuntimeChoice::Folder) {
                checkRuntime(base / fs::u8path(runtime.folder), info, runtime.line, problems);
            } else if (runtime.kind == RuntimeChoice::Jlink) {
                if (info.target != buildMachineTarget()) {
                    problems.add(runtime.line, std::string("a runtime made with jlink serves only the build machine's own "
                                                           "system (") + targetInfo(buildMachineTarget()).name +
                                                   "); give " + info.name + " a runtime folder or none");
                    continue;
                }
                fs::path jdk = jdkFolder(d, base);
                if (jdk.empty() || !fs::is_regular_file(jdkProgram(jdk, "jlink"), code))
                    problems.add(d.jdkLine ? d.jdkLine : runtime.line,
                                 jdk.empty() ? "jlink needs a JDK: set \"JDK\" in [Package Runtime] or JAVA_HOME"
                                             : shown(jdk) + " is not a JDK with jlink");
            }
        }
        return problems.count == 0;
    }

    bool fail(const std::string& text) {
        fprintf(stderr, "%s: %s\n", kTool, text.c_str());
        return false;
    }

    // A runtime made from the JDK with the modules the jars need.
    bool makeRuntime(const fs::path& into) {
        fs::path jdk = jdkFolder(d, base);
        std::vector<std::string> jdeps = {shown(jdkProgram(jdk, "jdeps")), "--print-module-deps", "--ignore-missing-deps",
                                          "--multi-release", "base"};
        for (const ApplicationFile& file : files)
            if (file.destination.size() > 4 && lower(file.destination.substr(file.destination.size() - 4)) == ".jar")
                jdeps.push_back(file.source);
        std::string modules;
        if (jdeps.size() > 5 && runProgram(jdeps, &modules) != 0) return fail("jdeps could not read the application's jars");
        while (!modules.empty() && (modules.back() == '\n' || modules.back() == '\r')) modules.pop_back();
        if (modules.empty()) modules = "java.base";
        for (const std::string& module : d.addModules) modules += "," + module;
        std::string plugins;
        runProgram({shown(jdkProgram(jdk, "jlink")), "--list-plugins"}, &plugins);
        std::vector<std::string> jlink = {shown(jdkProgram(jdk, "jlink")), "--add-modules", modules, "--output", shown(into),
                                          "--strip-debug", "--no-header-files", "--no-man-pages"};
        // Without its class-data archive a runtime starts slower, and the
        // launcher's start-up cache has nothing to build on.
        if (plugins.find("--generate-cds-archive") != std::string::npos) jlink.push_back("--generate-cds-archive");
        printf("  runtime: jlink --add-modules %s\n", modules.c_str());
        fflush(stdout);
        // jlink's notes on classes the runtime leaves out are no news.
        std::string log;
        if (runProgram(jlink, &log, true) != 0) {
            fputs(log.c_str(), stderr);
            return fail("jlink could not make the runtime");
        }
        // The JDK's own programs and libraries may carry their symbol
        // tables; the runtime made here goes without, as system packages do.
        if (buildMachineTarget() == Target::LinuxX64 && !findProgram("strip").empty()) {
            std::vector<std::string> strip = {"strip", "--strip-unneeded", "--remove-section=.comment",
                                              "--remove-section=.note"};
            for (const std::string& file : filesUnder(into)) {
                fs::path path = into / fs::u8path(file);
                std::ifstream in(path, std::ios::binary);
                char magic[4] = {0, 0, 0, 0};
                in.read(magic, 4);
                if (in && magic[0] == 0x7F && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F') strip.push_back(shown(path));
            }
            if (strip.size() > 4 && runProgram(strip, &log, true) != 0) {
                fputs(log.c_str(), stderr);
                return fail("strip could not strip the runtime's libraries");
            }
        }
        return true;
    }

    bool makeFolder(Target target, const fs::path& folder) {
        const TargetInfo& info = targetInfo(target);
        std::error_code code;
        fs::create_directories(folder, code);
        for (const LayoutItem& item : applicationLayout(d, target, files)) {
            fs::path path = folder / fs::u8path(item.path);
            fs::create_directories(path.parent_path(), code);
            switch (item.kind) {
            case LayoutItem::Launcher: {
                Bytes launcher;
                if (!readFile(launcherOf(target), launcher)) return fail("cannot read " + shown(launcherOf(target)));
                if (info.windows) {
                    BrandRequest request;
                    request.icon = icon.ico;
                    std::string builtIn = d.settingsText(true);
                    if (!builtIn.empty()) request.settings = Bytes(builtIn.begin(), builtIn.end());
                    VersionNumber version;
                    std::copy(d.versionParts, d.versionParts + 4, version.parts);
                    request.fileVersion = version;
                    request.productVersion = version;
                    request.productName = utf16(d.title);
                    request.companyName = utf16(d.vendor);
                    request.fileDescription = utf16(d.summary);
                    if (!d.copyright.empty()) request.copyright = utf16(d.copyright);
                    request.originalFilename = utf16(d.name + ".exe");
                    Bytes branded;
                    BrandReport report;
                    std::string error;
                    if (!brandLauncher(launcher, request, branded, report, error))
                        return fail(shown(launcherOf(target)) + ": " + error);
                    for (const std::string& line : report.warnings) fprintf(stderr, "%s: warning: %s\n", kTool, line.c_str());
                    launcher.swap(branded);
                }
                if (!writeFile(path, launcher)) return fail("cannot write " + shown(path));
                fs::permissions(path, fs::perms(0755), code);
                break;
            }
            case LayoutItem::Settings: {
                // On Linux every setting goes into the file (the executable
                // carries none); on Windows those not built in.
                std::string text = "; Settings of " + d.title + ".\r\n" + d.settingsText(false);
                if (!info.windows) text += d.settingsText(true);
                if (!writeText(path, text)) return fail("cannot write " + shown(path));
                break;
            }
            case LayoutItem::Icon: {
                Bytes bytes;
                if (info.windows) {
                    for (size_t i = 0; i < d.fileTypes.size(); ++i)
                        if (item.path == lower(d.fileTypes[i].extension) + ".ico") bytes = typeIcons[i].ico;
                } else {
                    bytes = pngFile(icon.picture.width == 256 ? icon.picture : scaledPicture(icon.picture, 256));
                }
                if (!writeFile(path, bytes)) return fail("cannot write " + shown(path));
                break;
            }
            case LayoutItem::ApplicationJar:
                fs::copy_file(fs::u8path(item.source), path, code);
                if (code) return fail("cannot copy " + item.source + ": " + code.message());
                break;
            case LayoutItem::Runtime: {
                std::string error;
                if (d.runtime(target).kind == RuntimeChoice::Jlink) {
                    if (!makeRuntime(path)) return false;
                } else if (!copyFolder(base / fs::u8path(item.source), path, error)) {
                    return fail(error);
                }
                break;
            }
            }
        }
        return true;
    }

    // The folder's files into an archive under a top folder of its own.
    bool archive(const fs::path& folder, const std::string& top, ArchiveWriter& writer, bool linux) {
        std::vector<std::string> entries;
        std::error_code code;
        for (fs::recursive_directory_iterator it(folder, code), end; !code && it != end; it.increment(code))
            entries.push_back(fs::relative(it->path(), folder, code).generic_u8string());
        std::sort(entries.begin(), entries.end());
        if (!writer.add({top, true, 0755, nullptr})) return false;
        for (const std::string& name : entries) {
            fs::path path = folder / fs::u8path(name);
            if (fs::is_directory(path, code)) {
                if (!writer.add({top + "/" + name, true, 0755, nullptr})) return false;
                continue;
            }
            Bytes data;
            if (!readFile(path, data)) return false;
            uint32_t mode = linux ? linuxFileMode(d, name) : (name == d.name + ".exe" ? 0755 : 0644);
            if (!writer.add({top + "/" + name, false, mode, &data})) return false;
        }
        return writer.finish();
    }

    bool makeZip(const fs::path& folder, const fs::path& zip) {
        std::ofstream out(zip, std::ios::binary | std::ios::trunc);
        ZipWriter writer(out, time);
        if (!archive(folder, d.name, writer, false)) return fail("cannot write " + shown(zip));
        return true;
    }

    bool makeTarGz(const fs::path& folder, const fs::path& tar) {
        std::ofstream out(tar, std::ios::binary | std::ios::trunc);
        TarGzWriter writer(out, time);
        if (!archive(folder, d.name, writer, true)) return fail("cannot write " + shown(tar));
        return true;
    }

    // The desktop's files of the application, as a tree under share/.
    bool makeShare(const fs::path& share, const std::string& exec) {
        std::string id = d.packageName;
        if (!writeText(share / "applications" / (id + ".desktop"), desktopEntry(d, exec, id))) return false;
        for (uint32_t size : kLinuxIconSizes) {
            std::string folder = std::to_string(size) + "x" + std::to_string(size);
            Picture scaled = size == icon.picture.width ? icon.picture : scaledPicture(icon.picture, size);
            if (!writeFile(share / "icons" / "hicolor" / folder / "apps" / (id + ".png"), pngFile(scaled))) return false;
            for (size_t i = 0; i < d.fileTypes.size(); ++i) {
                if (!typeIcons[i].hasPicture) continue;
                std::string name = d.fileTypes[i].mimeType;
                std::replace(name.begin(), name.end(), '/', '-');
                const Picture& picture = typeIcons[i].picture;
                if (!writeFile(share / "icons" / "hicolor" / folder / "mimetypes" / (name + ".png"),
                               pngFile(size == picture.width ? picture : scaledPicture(picture, size))))
                    return false;
            }
        }
        std::string mime = mimeInfo(d);
        if (!mime.empty() && !writeText(share / "mime" / "packages" / (id + ".xml"), mime)) return false;
        return true;
    }

    bool makeDeb(const fs::path& folder, const fs::path& share, const fs::path& deb) {
        if (findProgram("dpkg-deb").empty()) {
            notMade.push_back(deb.filename().u8string() + ": dpkg-deb is missing (Debian's dpkg package)");
            return true;
        }
        fs::path root = work / ".deb-root";
        std::error_code code;
        std::string error;
        std::string opt = "opt/" + d.packageName;
        if (!copyFolder(folder, root / opt, error) || !copyFolder(share, root / "usr/share", error)) return fail(error);
        fs::path doc = root / "usr/share/doc" / d.packageName;
        std::string date;
        {
            time_t seconds = static_cast<time_t>(time);
            char text[64];
            strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S +0000", gmtime(&seconds));
            date = text;
        }
        std::string changelog = debianChangelog(d, date);
        if (!writeText(doc / "copyright", debianCopyright(d)) ||
            !writeFile(doc / "changelog.gz", gzipFile(Bytes(changelog.begin(), changelog.end()))) ||
            !writeText(root / "usr/share/lintian/overrides" / d.packageName, lintianOverrides(d)))
            return fail("cannot write the package's files");
        fs::create_directories(root / "usr/bin", code);
        // Between top folders a link is absolute (Debian's rule).
        fs::create_symlink("/" + opt + "/" + d.name, root / "usr/bin" / d.packageName, code);
        if (code) return fail("cannot link usr/bin/" + d.packageName + ": " + code.message());
        // Modes by the rules, not by what the build machine left.
        uintmax_t bytes = 0;
        for (fs::recursive_directory_iterator it(root, code), end; !code && it != end; it.increment(code)) {
            if (it->is_symlink(code)) continue;
            std::string name = fs::relative(it->path(), root, code).generic_u8string();
            bool isFolder = it->is_directory(code);
            uint32_t mode = isFolder ? 0755
                            : name.compare(0, opt.size() + 1, opt + "/") == 0 ? linuxFileMode(d, name.substr(opt.size() + 1))
                                                                                : 0644;
            fs::permissions(it->path(), fs::perms(mode), code);
            if (!isFolder) bytes += it->file_size(code);
        }
        if (!writeText(root / "DEBIAN/control", debianControl(d, (bytes + 1023) / 1024))) return fail("cannot write control");
        fs::permissions(root / "DEBIAN", fs::perms(0755), code);
        fs::permissions(root / "DEBIAN/control", fs::perms(0644), code);
        std::string quiet;
        // xz at level 1: most of its gain over gzip in a quarter of the time.
        if (runProgram({"dpkg-deb", "--root-owner-group", "-Zxz", "-z1", "--build", shown(root), shown(deb)}, &quiet, true) != 0) {
            fputs(quiet.c_str(), stderr);
            return fail("dpkg-deb could not make " + shown(deb));
        }
        fs::remove_all(root, code);
        made.push_back(deb.filename().u8string());
        return true;
    }

    bool makeMsi(Target target, const fs::path& folder, const fs::path& msi) {
        if (findProgram("wixl").empty()) {
            notMade.push_back(msi.filename().u8string() + ": wixl is missing (Debian's wixl package, from msitools)");
            return true;
        }
        // wixl takes the files' places relative to the source file.
        fs::path source = work / ".installer.wxs";
        std::error_code code;
        std::string root = fs::relative(folder, work, code).generic_u8string();
        if (!writeText(source, installerSource(d, target, root, filesUnder(folder))))
            return fail("cannot write " + shown(source));
        std::string quiet;
        int exit = runProgram({"wixl", "-a", target == Target::WindowsX64 ? "x64" : "x86", "-o", shown(msi), shown(source)},
                              &quiet, true);
        fs::remove(source, code);
        if (exit != 0) {
            fputs(quiet.c_str(), stderr);
            return fail("wixl could not make " + shown(msi));
        }
        made.push_back(msi.filename().u8string());
        return true;
    }

    bool make() {
        for (const TargetInfo& info : allTargets()) {
            if (!d.hasTarget(info.target)) continue;
            printf("%s:\n", info.name);
            fflush(stdout);
            fs::path folder = work / info.name / d.name;
            if (!makeFolder(info.target, folder)) return false;
            made.push_back(std::string(info.name) + "/" + d.name + "/");
            std::string delivery = deliveryName(d, info.target);
            if (info.windows) {
                if (!makeZip(folder, work / (delivery + ".zip"))) return false;
                made.push_back(delivery + ".zip");
                if (!makeMsi(info.target, folder, work / (delivery + ".msi"))) return false;
            } else {
                fs::path share = work / info.name / "share";
                if (!makeShare(share, "/opt/" + d.packageName + "/" + d.name)) return fail("cannot write " + shown(share));
                made.push_back(std::string(info.name) + "/share/");
                if (!makeTarGz(folder, work / (delivery + ".tar.gz"))) return false;
                made.push_back(delivery + ".tar.gz");
                if (!makeDeb(folder, share, work / (d.packageName + "_" + d.version + "_amd64.deb"))) return false;
            }
        }
        return true;
    }
};

struct Argument {
    std::string text;
    fs::path path;
};

int run(const std::vector<Argument>& arguments, const fs::path& launchersDefault) {
    const Argument* descriptionFile = nullptr;
    fs::path output, launchers = launchersDefault;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i].text;
        if (option == "--help") {
            fputs(kUsage, stdout);
            return 0;
        }
        if (option == "--output" || option == "--launchers") {
            if (i + 1 == arguments.size()) {
                fprintf(stderr, "%s: %s needs a value\n%s", kTool, option.c_str(), kUsage);
                return 2;
            }
            (option == "--output" ? output : launchers) = arguments[++i].path;
        } else if (option.compare(0, 2, "--") == 0 || descriptionFile) {
            fprintf(stderr, "%s: unexpected %s\n%s", kTool, option.c_str(), kUsage);
            return 2;
        } else {
            descriptionFile = &arguments[i];
        }
    }
    if (!descriptionFile) {
        fputs(kUsage, stderr);
        return 2;
    }

    Packager packager;
    Bytes bytes;
    if (!readFile(descriptionFile->path, bytes)) {
        fprintf(stderr, "%s: cannot read %s\n", kTool, shown(descriptionFile->path).c_str());
        return 1;
    }
    WideString text = decodeSettingsText(NarrowString(bytes.begin(), bytes.end()));
    NarrowString utf8 = toUtf8(text);
    Problems problems{descriptionFile->path};
    std::vector<DescriptionError> errors;
    if (!parseDescription(std::string(utf8.begin(), utf8.end()), packager.d, errors)) {
        for (const DescriptionError& error : errors) problems.add(error.line, error.text);
        return 1;
    }
    std::error_code code;
    packager.base = fs::absolute(descriptionFile->path, code).parent_path();
    packager.launchers = launchers;
    if (!packager.check(problems)) return 1;
    if (output.empty()) output = packager.base / "packages";
    output = fs::absolute(output, code);
    if (fs::exists(output, code) && !fs::exists(output / kMarker, code)) {
        fprintf(stderr, "%s: %s exists and was not made by this command; remove it or name another --output\n", kTool,
                shown(output).c_str());
        return 1;
    }
    const char* epoch = getenv("SOURCE_DATE_EPOCH");
    packager.time = epoch && *epoch ? atoll(epoch)
                                    : std::chrono::duration_cast<std::chrono::seconds>(
                                          std::chrono::system_clock::now().time_since_epoch()).count();

    std::random_device random;
    std::string suffix = std::to_string(random());
    packager.work = output;
    packager.work += ".partial-" + suffix;
    fs::create_directories(packager.work, code);
    if (code || !writeText(packager.work / kMarker, "made by package-app\n")) {
        fprintf(stderr, "%s: cannot create %s\n", kTool, shown(packager.work).c_str());
        return 1;
    }
    if (!packager.make()) {
        fs::remove_all(packager.work, code);
        return 1;
    }
    // The new output takes the old one's place; the old one goes last.
    fs::path old = output;
    old += ".old-" + suffix;
    bool replacing = fs::exists(output, code);
    if (replacing) fs::rename(output, old, code);
    if (!code) fs::rename(packager.work, output, code);
    if (code) {
        fprintf(stderr, "%s: cannot rename %s to %s: %s\n", kTool, shown(packager.work).c_str(), shown(output).c_str(),
                code.message().c_str());
        fs::remove_all(packager.work, code);
        if (replacing) fs::rename(old, output, code);
        return 1;
    }
    if (replacing) fs::remove_all(old, code);

    printf("the packages of %s %s in %s:\n", packager.d.title.c_str(), packager.d.version.c_str(), shown(output).c_str());
    for (const std::string& name : packager.made) {
        fs::path path = output / fs::u8path(name);
        uintmax_t size = 0;
        if (fs::is_directory(path, code)) {
            for (fs::recursive_directory_iterator it(path, code), end; !code && it != end; it.increment(code))
                if (it->is_regular_file(code)) size += it->file_size(code);
        } else {
            size = fs::file_size(path, code);
        }
        printf("  %-48s %10s\n", name.c_str(), humanSize(size).c_str());
    }
    for (const std::string& line : packager.notMade) fprintf(stderr, "%s: not made: %s\n", kTool, line.c_str());
    return packager.notMade.empty() ? 0 : 3;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::vector<Argument> arguments;
    for (int i = 1; i < argc; ++i) {
        NarrowString utf8 = toUtf8(WideString(reinterpret_cast<const char16_t*>(argv[i])));
        arguments.push_back({std::string(utf8.begin(), utf8.end()), fs::path(std::wstring(argv[i]))});
    }
    std::error_code code;
    return run(arguments, fs::absolute(fs::path(argv[0]), code).parent_path().parent_path());
}
#else
// The folder above this program's own (dist/ when it runs from dist/host).
fs::path defaultLaunchers(const char* argv0) {
    std::error_code code;
    fs::path self = fs::canonical("/proc/self/exe", code);
    if (code) self = fs::absolute(argv0, code);
    return self.parent_path().parent_path();
}

int main(int argc, char** argv) {
    std::vector<Argument> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back({argv[i], fs::path(argv[i])});
    return run(arguments, defaultLaunchers(argv[0]));
}
#endif
