// Branding a launcher executable: its icon, its version information and its
// built-in settings, written into a copy of its bytes.
#ifndef TOOLS_BRAND_BRAND_H
#define TOOLS_BRAND_BRAND_H

#include <optional>
#include <string>
#include <vector>

#include "tools/brand/bytes.h"
#include "tools/brand/version_info.h"

struct BrandRequest {
    std::optional<Bytes> icon;      // an .ico file's bytes
    std::optional<Bytes> settings;  // settings text; empty removes the built-in settings
    std::optional<VersionNumber> fileVersion;
    std::optional<VersionNumber> productVersion;
    // Version strings; the two version texts follow the numbers unless given.
    std::optional<std::u16string> fileVersionText;
    std::optional<std::u16string> productVersionText;
    std::optional<std::u16string> productName;
    std::optional<std::u16string> companyName;
    std::optional<std::u16string> fileDescription;
    std::optional<std::u16string> copyright;
    std::optional<std::u16string> originalFilename;

    bool changesVersion() const;
};

struct BrandReport {
    std::vector<std::string> done;      // what was changed, one line each
    std::vector<std::string> warnings;  // things the packager should know
    std::vector<std::string> notes;     // steps left to the packager
};

// The launcher in input, branded as requested, in output. False with error
// when the input is not a launcher or a request cannot be met.
bool brandLauncher(const Bytes& input, const BrandRequest& request, Bytes& output, BrandReport& report,
                   std::string& error);

#endif
