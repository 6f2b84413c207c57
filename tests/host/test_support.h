// Helpers shared by the host tests: scratch folders and files with
// Windows-style names, and a fresh platform state per test.
#ifndef TESTS_HOST_TEST_SUPPORT_H
#define TESTS_HOST_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <string>

#include "support/platform_host.h"
#include "support/wide_string.h"

// A UTF-16 string from UTF-8, for readable test tables.
WideString W(const char* utf8);
std::string U(const WideString& text);

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

inline std::ostream& operator<<(std::ostream& out, const WideString& text) { return out << U(text); }

#endif
