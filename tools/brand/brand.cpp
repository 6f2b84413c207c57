#include "tools/brand/brand.h"

#include "launcher/settings.h"
#include "tools/brand/icon_file.h"
#include "tools/brand/pe_file.h"
#include "tools/brand/resource_tree.h"

namespace {

// The launcher's message table: string resources 202 to 230.
const uint32_t kFirstMessage = 202;
const uint32_t kLastMessage = 230;

bool fail(std::string& error, const std::string& text) {
    error = text;
    return false;
}

// A string resource is one of sixteen length-prefixed texts in the block
// named id / 16 + 1.
bool hasString(const ResourceTree& tree, uint32_t id) {
    const ResourceEntry* block = tree.find(ResourceKey::number(kResourceString), ResourceKey::number(id / 16 + 1));
    if (!block) return false;
    for (const ResourceItem& item : block->items) {
        size_t at = 0;
        for (uint32_t index = 0; index < 16 && at + 2 <= item.data.size(); ++index) {
            size_t length = read16(item.data.data() + at);
            if (index == id % 16) {
                if (length && at + 2 + 2 * length <= item.data.size()) return true;
                break;
            }
            at += 2 + 2 * length;
        }
    }
    return false;
}

bool isLauncher(const ResourceTree& tree) {
    for (uint32_t id = kFirstMessage; id <= kLastMessage; ++id)
        if (!hasString(tree, id)) return false;
    return true;
}

std::string narrow(const std::u16string& text) {
    WideString wide(text);
    NarrowString utf8 = toUtf8(wide);
    return std::string(utf8.begin(), utf8.end());
}

bool brandVersion(ResourceTree& tree, const BrandRequest& request, BrandReport& report, std::string& error) {
    ResourceKey type = ResourceKey::number(kResourceVersion);
    ResourceKey name = ResourceKey::number(1);
    std::vector<uint16_t> languages;
    VersionInfo info;
    if (const ResourceEntry* existing = tree.find(type, name)) {
        for (const ResourceItem& item : existing->items) languages.push_back(item.language);
        if (!existing->items.empty()) parseVersionInfo(existing->items[0].data, info);
    }
    if (languages.empty()) languages.push_back(0x0409);

    if (request.fileVersion) {
        info.fileVersion = *request.fileVersion;
        info.set(u"FileVersion", versionNumberText(info.fileVersion));
    }
    if (request.productVersion) {
        info.productVersion = *request.productVersion;
        info.set(u"ProductVersion", versionNumberText(info.productVersion));
    }
    const std::pair<const char16_t*, const std::optional<std::u16string>*> texts[] = {
        {u"FileVersion", &request.fileVersionText},   {u"ProductVersion", &request.productVersionText},
        {u"ProductName", &request.productName},       {u"CompanyName", &request.companyName},
        {u"FileDescription", &request.fileDescription}, {u"LegalCopyright", &request.copyright},
        {u"OriginalFilename", &request.originalFilename},
    };
    for (const auto& text : texts)
        if (*text.second) info.set(text.first, **text.second);
    // The internal name is the original file name without its extension.
    if (request.originalFilename) {
        std::u16string internal = *request.originalFilename;
        size_t dot = internal.rfind(u'.');
        info.set(u"InternalName", dot == std::u16string::npos || dot == 0 ? internal : internal.substr(0, dot));
    }

    Bytes block;
    if (!writeVersionInfo(info, block)) return fail(error, "the version information exceeds 64 KiB");
    for (uint16_t language : languages) tree.put(type, name, language, block);
    report.done.push_back("version information: file " + narrow(versionNumberText(info.fileVersion)) + ", product " +
                          narrow(versionNumberText(info.productVersion)));
    return true;
}

bool brandSettings(ResourceTree& tree, const Bytes& bytes, BrandReport& report, std::string& error) {
    ResourceKey type = ResourceKey::number(kResourceData);
    ResourceKey name = ResourceKey::named(u"SETTINGS");
    if (bytes.empty()) {
        bool had = tree.remove(type, name);
        report.done.push_back(had ? "built-in settings removed" : "no built-in settings to remove");
        return true;
    }
    // The launcher reads the text as UTF-16 with its mark or as UTF-8; a
    // text that parses to no section at all is most likely a wrong file.
    MemorySettings parsed(decodeSettingsText(NarrowString(bytes.begin(), bytes.end())));
    if (parsed.sections().empty()) return fail(error, "the settings file holds no [section]");
    for (const MemorySettings::Section& section : parsed.sections()) {
        WideString trimmed = section.name;
        while (!trimmed.empty() && trimmed[0] <= u' ') trimmed = trimmed.substr(1);
        while (!trimmed.empty() && trimmed.last() <= u' ') trimmed = trimmed.left(trimmed.size() - 1);
        if (trimmed.equalsIgnoreAsciiCase(WideString(u"Display")) ||
            trimmed.equalsIgnoreAsciiCase(WideString(u"Display+"))) {
            report.warnings.push_back("the settings hold a [" + narrow(section.name.str()) +
                                      "] section: its values are read from the settings file beside the "
                                      "executable only, never from the built-in settings");
            break;
        }
    }
    std::vector<uint16_t> languages;
    if (const ResourceEntry* existing = tree.find(type, name))
        for (const ResourceItem& item : existing->items) languages.push_back(item.language);
    if (languages.empty()) languages.push_back(0);  // language neutral
    for (uint16_t language : languages) tree.put(type, name, language, bytes);
    report.done.push_back("built-in settings: " + std::to_string(bytes.size()) + " bytes, " +
                          std::to_string(parsed.sections().size()) + " section(s)");
    return true;
}

}  // namespace

bool BrandRequest::changesVersion() const {
    return fileVersion || productVersion || fileVersionText || productVersionText || productName || companyName ||
           fileDescription || copyright || originalFilename;
}

bool brandLauncher(const Bytes& input, const BrandRequest& request, Bytes& output, BrandReport& report,
                   std::string& error) {
    // The Linux launcher carries no resources: its settings are the file
    // beside it, and its icon is the desktop file's.
    if (input.size() >= 4 && input[0] == 0x7F && input[1] == 'E' && input[2] == 'L' && input[3] == 'F')
        return fail(error, "a Linux executable: the Linux launcher takes no icon, version information or built-in "
                           "settings (use the settings file beside it, and a .desktop file for the icon)");
    PeFile image;
    std::string why;
    if (!image.parse(input, why)) return fail(error, "not a 32- or 64-bit Windows executable (" + why + ")");
    ResourceTree tree;
    if (!tree.read(image, why)) return fail(error, "damaged resources (" + why + ")");
    if (!isLauncher(tree)) return fail(error, "not a launcher: the executable holds no message table 202-230");

    if (request.icon) {
        std::vector<IconImage> images;
        if (!parseIconFile(*request.icon, images, why)) return fail(error, "damaged icon file (" + why + ")");
        replaceIconGroup(tree, images);
        report.done.push_back("icon: " + std::to_string(images.size()) + " image(s)");
    }
    if (request.changesVersion() && !brandVersion(tree, request, report, error)) return false;
    if (request.settings && !brandSettings(tree, *request.settings, report, error)) return false;

    bool signatureDropped = false;
    if (!image.rebuild(tree.write(image.newResourceRva()), output, signatureDropped, why))
        return fail(error, "cannot write the executable (" + why + ")");
    if (signatureDropped)
        report.notes.push_back("the executable's signature was removed: sign the output again");
    return true;
}
