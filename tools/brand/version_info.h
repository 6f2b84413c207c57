// The version information resource (VS_VERSIONINFO): read from the
// launcher, changed field by field, and written back.
#ifndef TOOLS_BRAND_VERSION_INFO_H
#define TOOLS_BRAND_VERSION_INFO_H

#include <string>
#include <vector>

#include "tools/brand/bytes.h"

struct VersionNumber {
    uint16_t parts[4] = {0, 0, 0, 0};
};

// "1", "1.2", "1.2.3" or "1.2.3.4", each number 0 to 65535.
bool parseVersionNumber(const std::string& text, VersionNumber& number, std::string& error);
std::u16string versionNumberText(const VersionNumber& number);

struct VersionInfo {
    VersionNumber fileVersion;
    VersionNumber productVersion;
    uint32_t fileFlagsMask = 0x3F;
    uint32_t fileFlags = 0;
    uint32_t fileOs = 0x00040004;  // VOS_NT_WINDOWS32
    uint32_t fileType = 1;         // VFT_APP
    uint32_t fileSubtype = 0;
    uint16_t language = 0x0409;  // of the string table, and its translation
    uint16_t codePage = 1200;    // UTF-16
    // The string table's values in order ("CompanyName", "FileVersion", ...).
    std::vector<std::pair<std::u16string, std::u16string>> strings;

    const std::u16string* find(const std::u16string& key) const;
    void set(const std::u16string& key, const std::u16string& value);
};

// Reads a version block; false when it is damaged (info is then left with
// what could be read).
bool parseVersionInfo(const Bytes& block, VersionInfo& info);

// Writes the block; false when it would exceed the 64 KiB its length
// fields can describe.
bool writeVersionInfo(const VersionInfo& info, Bytes& block);

#endif
