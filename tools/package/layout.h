// What a delivery holds, decided from the description alone: the
// application folder's files per target, and the texts of the desktop
// entry, the file types' MIME entry, the Linux package's control files and
// the Windows installer's source.
#ifndef TOOLS_PACKAGE_LAYOUT_H
#define TOOLS_PACKAGE_LAYOUT_H

#include <string>
#include <vector>

#include "tools/package/description.h"

struct ApplicationFile {
    std::string destination;  // '/' separated, within the delivery
    std::string source;       // where it comes from (for the application's files)
};

struct LayoutItem {
    enum Kind { Launcher, Settings, Icon, ApplicationJar, Runtime } kind;
    std::string path;  // within the application folder, '/' separated
    std::string source;
    bool executable = false;
};

// The icon sizes made from the picture.
extern const std::vector<uint32_t> kWindowsIconSizes;
extern const std::vector<uint32_t> kLinuxIconSizes;

// The application folder of one target; files are the application's files
// (their destinations relative to lib/).
std::vector<LayoutItem> applicationLayout(const Description& d, Target target, const std::vector<ApplicationFile>& files);

// The mode of a file in the Linux delivery (its archive and package),
// decided by its place so that it does not depend on the build machine:
// the launcher and the runtime's programs are executable.
uint32_t linuxFileMode(const Description& d, const std::string& path);

// The name of the folder and of its archives: <name>-<version>-<target>.
std::string deliveryName(const Description& d, Target target);

// Linux: the desktop entry, started as exec; installed icons are named
// after the package.
std::string desktopEntry(const Description& d, const std::string& exec, const std::string& icon);
// The shared-mime-info entry of the file types; empty without any.
std::string mimeInfo(const Description& d);
std::string debianControl(const Description& d, uint64_t installedKiB);
std::string debianCopyright(const Description& d);
std::string debianChangelog(const Description& d, const std::string& date);
std::string lintianOverrides(const Description& d);

// Windows: the installer's source for wixl. files are the application
// folder's files (no folders), '/' separated, found under root.
std::string installerSource(const Description& d, Target target, const std::string& root,
                            const std::vector<std::string>& files);

// Text made safe for XML attributes and text.
std::string xmlEscaped(const std::string& text);

#endif
