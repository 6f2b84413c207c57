// Helpers shared by the host tests: scratch folders and files with
// Windows-style names, and a fresh platform state per test.
#ifndef TESTS_HOST_TEST_SUPPORT_H
#define TESTS_HOST_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/platform_host.h"
#include "support/wide_string.h"

// A Windows image header: "MZ", the NT header offset at 0x3C, the two-letter
// signature followed by two zero bytes, the machine and the characteristics;
// the whole cut at size bytes.
std::string peImage(uint16_t machine, uint16_t characteristics = 0, size_t size = 0x200, uint32_t offset = 0x80,
                    const char* signature = "PE");

// A UTF-16 string from UTF-8, for readable test tables.
WideString W(const char* utf8);
std::string U(const WideString& text);
std::vector<std::string> U(const List<WideString>& texts);

// A fresh scratch folder, removed afterwards; paths in the "Z:\..." form.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    const WideString& path() const { return path_; }  // ends in a backslash
    std::string hostPath() const { return host_; }
    // Writes a file (creating folders) at a path relative to the folder.
    WideString write(const std::string& relative, const std::string& content);

private:
    std::string host_;
    WideString path_;
};

// Resets the platform's host state before each test.
class PlatformTest : public ::testing::Test {
protected:
    void SetUp() override { platform::host::reset(); }
};

// A launcher installed in a scratch folder: the module path is
// <folder>launcher.exe and its settings file is <folder>launcher.ini.
class LauncherTest : public PlatformTest {
protected:
    void SetUp() override;
    WideString executable() const { return folder.path() + u"launcher.exe"; }
    // The launcher's folder without its trailing backslash.
    WideString launcherFolder() const { return folder.path().left(folder.path().size() - 1); }
    void settings(const std::string& text) { folder.write("launcher.ini", text); }
    ScratchFolder folder;
};

// Makes the process's real working directory a folder for one scope (the
// host's file checks resolve relative paths against it).
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string& hostFolder);
    ~WorkingDirectory();

private:
    std::string previous_;
};

inline std::ostream& operator<<(std::ostream& out, const WideString& text) { return out << U(text); }

#endif
