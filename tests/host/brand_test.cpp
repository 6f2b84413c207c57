// The branding tool's image and resource writers, on synthetic images laid
// out like the launcher (code, data, resources, relocations) and on the
// cross-built launchers themselves.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "tools/brand/brand.h"
#include "tools/brand/icon_file.h"
#include "tools/brand/pe_file.h"
#include "tools/brand/resource_tree.h"
#include "tools/brand/version_info.h"

namespace {

const uint32_t kSectionAlignment = 0x1000;
const uint32_t kFileAlignment = 0x200;
const uint32_t kHeaderSize = 0x400;

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A string block of the message table with "message <id>" for 202-230.
Bytes stringBlock(uint32_t block, uint32_t last = 230) {
    Bytes out;
    for (uint32_t i = 0; i < 16; ++i) {
        uint32_t id = (block - 1) * 16 + i;
        std::u16string s;
        if (id >= 202 && id <= last)
            for (char c : "message " + std::to_string(id)) s += static_cast<char16_t>(c);
        append16(out, static_cast<uint32_t>(s.size()));
        appendUtf16(out, s);
    }
    return out;
}

Bytes sampleIcon() {
    // Two images: a 16x16 32-bit bitmap and a PNG (signature is enough here).
    Bytes bitmap(40 + 16 * 16 * 4 + 16 * 4, 0x11);
    std::fill(bitmap.begin(), bitmap.begin() + 40, 0);
    write32(bitmap.data(), 40);
    write32(bitmap.data() + 4, 16);
    write32(bitmap.data() + 8, 32);
    write16(bitmap.data() + 12, 1);
    write16(bitmap.data() + 14, 32);
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 1, 2, 3, 4};
    Bytes file;
    append16(file, 0);
    append16(file, 1);
    append16(file, 2);
    uint32_t offset = 6 + 2 * 16;
    for (const Bytes* image : {&bitmap, &png}) {
        file.push_back(image == &png ? 0 : 16);
        file.push_back(image == &png ? 0 : 16);
        file.push_back(0);
        file.push_back(0);
        append16(file, 1);
        append16(file, 32);
        append32(file, static_cast<uint32_t>(image->size()));
        append32(file, offset);
        offset += static_cast<uint32_t>(image->size());
    }
    file.insert(file.end(), bitmap.begin(), bitmap.end());
    file.insert(file.end(), png.begin(), png.end());
    return file;
}

// The resources of a launcher: message table, an icon group of two images,
// version information, a manifest and built-in settings in some languages.
ResourceTree launcherResources(const std::vector<uint16_t>& settingsLanguages, uint32_t lastMessage = 230,
                               const std::string& settings = "[Application]\nCmd=old\n") {
    ResourceTree tree;
    for (uint32_t block = 13; block <= 15; ++block)
        tree.put(ResourceKey::number(kResourceString), ResourceKey::number(block), 0x409, stringBlock(block, lastMessage));
    tree.put(ResourceKey::number(kResourceIcon), ResourceKey::number(1), 0x409, text("old icon one"));
    tree.put(ResourceKey::number(kResourceIcon), ResourceKey::number(2), 0x409, text("old icon two"));
    Bytes group = {0, 0, 1, 0, 2, 0};
    for (uint16_t id : {1, 2}) {
        Bytes entry(14, 0);
        write16(entry.data() + 12, id);
        group.insert(group.end(), entry.begin(), entry.end());
    }
    tree.put(ResourceKey::number(kResourceIconGroup), ResourceKey::number(1), 0x409, group);
    VersionInfo info;
    info.fileVersion.parts[0] = 1;
    info.set(u"FileDescription", u"Java application launcher");
    info.set(u"InternalName", u"launcher");
    Bytes version;
    writeVersionInfo(info, version);
    tree.put(ResourceKey::number(kResourceVersion), ResourceKey::number(1), 0x409, version);
    tree.put(ResourceKey::number(kResourceManifest), ResourceKey::number(1), 0x409, text("<assembly/>"));
    for (uint16_t language : settingsLanguages)
        tree.put(ResourceKey::number(kResourceData), ResourceKey::named(u"SETTINGS"), language,
                 text(settings));
    return tree;
}

struct SectionLayout {
    const char* name;
    uint32_t characteristics;
    size_t size;  // of .rsrc: taken from the resources
};

const uint32_t kCode = 0x60000020, kData = 0xC0000040, kReadOnly = 0x40000040, kRelocations = 0x42000040;

struct ImageLayout {
    bool is64 = false;
    std::vector<SectionLayout> sections = {
        {".text", kCode, 0x1800}, {".data", kData, 0x100}, {".rsrc", kReadOnly, 0}, {".reloc", kRelocations, 0x234}};
    ResourceTree resources = launcherResources({});
    Bytes appended;
    Bytes signature;
};

// A synthetic executable: each section filled with its own byte pattern so
// moved or damaged data shows.
Bytes buildImage(const ImageLayout& layout) {
    const size_t optionalSize = layout.is64 ? 240 : 224;
    Bytes file(kHeaderSize, 0);
    file[0] = 'M';
    file[1] = 'Z';
    write32(file.data() + 0x3C, 0x40);
    write32(file.data() + 0x40, 0x00004550);
    uint8_t* header = file.data() + 0x44;
    write16(header, layout.is64 ? 0x8664 : 0x014C);
    write16(header + 2, static_cast<uint32_t>(layout.sections.size()));
    write16(header + 16, static_cast<uint32_t>(optionalSize));
    write16(header + 18, layout.is64 ? 0x0022 : 0x0102);
    const size_t optional = 0x58;  // an offset: the buffer grows below
    write16(file.data() + optional, layout.is64 ? 0x20B : 0x10B);
    write32(file.data() + optional + 32, kSectionAlignment);
    write32(file.data() + optional + 36, kFileAlignment);
    write32(file.data() + optional + 60, kHeaderSize);
    write16(file.data() + optional + 68, 2);
    size_t directories = layout.is64 ? 112 : 96;
    write32(file.data() + optional + directories - 4, 16);

    uint32_t address = kSectionAlignment;
    for (size_t i = 0; i < layout.sections.size(); ++i) {
        const SectionLayout& s = layout.sections[i];
        Bytes data;
        if (std::string(s.name) == ".rsrc") {
            data = layout.resources.write(address);
            write32(file.data() + optional + directories + 8 * kDirectoryResources, address);
            write32(file.data() + optional + directories + 8 * kDirectoryResources + 4, static_cast<uint32_t>(data.size()));
        } else {
            for (size_t k = 0; k < s.size; ++k) data.push_back(static_cast<uint8_t>(i * 37 + k));
            if (std::string(s.name) == ".reloc") {
                write32(file.data() + optional + directories + 8 * kDirectoryRelocations, address);
                write32(file.data() + optional + directories + 8 * kDirectoryRelocations + 4, static_cast<uint32_t>(data.size()));
            }
        }
        uint8_t* entry = file.data() + 0x58 + optionalSize + 40 * i;
        memcpy(entry, s.name, strlen(s.name));
        write32(entry + 8, static_cast<uint32_t>(data.size()));
        write32(entry + 12, address);
        write32(entry + 16, static_cast<uint32_t>(alignUp(data.size(), kFileAlignment)));
        write32(entry + 20, static_cast<uint32_t>(file.size()));
        write32(entry + 36, s.characteristics);
        file.insert(file.end(), data.begin(), data.end());
        file.resize(alignUp(file.size(), kFileAlignment), 0);
        address += static_cast<uint32_t>(alignUp(data.size(), kSectionAlignment));
    }
    write32(file.data() + 0x58 + 56, address);
    file.insert(file.end(), layout.appended.begin(), layout.appended.end());
    if (!layout.signature.empty()) {
        write32(file.data() + optional + directories + 8 * kDirectorySecurity, static_cast<uint32_t>(file.size()));
        write32(file.data() + optional + directories + 8 * kDirectorySecurity + 4, static_cast<uint32_t>(layout.signature.size()));
        file.insert(file.end(), layout.signature.begin(), layout.signature.end());
    }
    return file;
}

// The checksum the way the format describes it, kept apart from the tool's.
uint32_t referenceChecksum(const Bytes& file, size_t field) {
    uint32_t sum = 0;
    for (size_t i = 0; i < file.size(); i += 2) {
        uint32_t word = file[i] | (i + 1 < file.size() ? file[i + 1] << 8 : 0);
        if (i == field || i == field + 2) word = 0;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return sum + static_cast<uint32_t>(file.size());
}

Bytes sectionBytes(const PeFile& image, const PeSection& s) {
    return Bytes(image.bytes().begin() + s.rawOffset, image.bytes().begin() + s.rawOffset + s.rawSize);
}

// What must hold for every branded image: it reads back, the sections that
// stay keep their place and bytes, the relocations travel whole, the image
// size and checksum fit, and appended data ends the file.
void expectSoundImage(const Bytes& input, const Bytes& output, const Bytes& appended) {
    PeFile before, after;
    std::string error;
    ASSERT_TRUE(before.parse(input, error)) << error;
    ASSERT_TRUE(after.parse(output, error)) << error;
    ASSERT_GE(after.sections().size(), before.sections().size());
    for (size_t i = 0; i < before.sections().size(); ++i) {
        const PeSection& a = before.sections()[i];
        const PeSection& b = after.sections()[i];
        EXPECT_EQ(a.name, b.name);
        bool relocations = before.directory(kDirectoryRelocations).rva == a.virtualAddress;
        bool resources = before.directory(kDirectoryResources).rva == a.virtualAddress;
        if (resources && after.directory(kDirectoryResources).rva == a.virtualAddress) continue;
        if (!relocations) {
            EXPECT_EQ(a.virtualAddress, b.virtualAddress) << a.name;
            EXPECT_EQ(a.rawOffset, b.rawOffset) << a.name;
        } else {
            EXPECT_EQ(after.directory(kDirectoryRelocations).rva, b.virtualAddress);
            EXPECT_EQ(after.directory(kDirectoryRelocations).size, before.directory(kDirectoryRelocations).size);
        }
        EXPECT_EQ(sectionBytes(before, a), sectionBytes(after, b)) << a.name;
    }
    const PeSection& last = after.sections().back();
    size_t optional = read32(output.data() + 0x3C) + 24;
    EXPECT_EQ(read32(output.data() + optional + 56), alignUp(last.virtualAddress + uint64_t(last.extent()), kSectionAlignment));
    EXPECT_EQ(read32(output.data() + optional + 64), referenceChecksum(output, optional + 64));
    ASSERT_GE(output.size(), appended.size());
    EXPECT_TRUE(std::equal(appended.begin(), appended.end(), output.end() - appended.size()));
    EXPECT_EQ(after.endOfSections() + appended.size(), output.size());
    EXPECT_EQ(after.signature().size, 0u);
}

struct Branded {
    bool ok = false;
    Bytes output;
    PeFile image;
    ResourceTree tree;
    BrandReport report;
    std::string error;
};

Branded brand(const Bytes& input, const BrandRequest& request) {
    Branded b;
    b.ok = brandLauncher(input, request, b.output, b.report, b.error);
    std::string error;
    if (b.ok) {
        EXPECT_TRUE(b.image.parse(b.output, error) && b.tree.read(b.image, error)) << error;
    }
    return b;
}

std::vector<uint16_t> languagesOf(const ResourceTree& tree, const ResourceKey& type, const ResourceKey& name) {
    std::vector<uint16_t> out;
    if (const ResourceEntry* e = tree.find(type, name))
        for (const ResourceItem& item : e->items) out.push_back(item.language);
    return out;
}

const ResourceKey kSettingsType = ResourceKey::number(kResourceData);
const ResourceKey kSettingsName = ResourceKey::named(u"SETTINGS");

}  // namespace

TEST(BrandWriterTest, ResourceSectionTable) {
    const int kUnchecked = 99;
    std::string bigText = "[Application]\nCmd=" + std::string(9000, 'x') + "\n";
    struct Case {
        const char* name;
        bool is64;
        std::vector<uint16_t> languagesBefore;
        bool writableAfterResources;  // a section that must not move
        std::string settings;
        std::vector<uint16_t> languagesAfter;
        bool newSection;
        int relocationShift;  // in section alignments; kUnchecked when not checked
        Bytes appended;
        Bytes signature;
        std::string settingsBefore = "";
    } cases[] = {
        {"add", false, {}, false, "[Application]\nCmd=new\n", {0}, false, 0, {}, {}},
        {"replace in every language", false, {0x407, 0x409}, false, "[Application]\nCmd=new\n", {0x407, 0x409}, false, 0, {}, {}},
        {"remove", false, {0x409}, false, "", {}, false, 0, {}, {}},
        {"grow past the next alignments", false, {}, false, bigText, {0}, false, 2, {}, {}},
        {"grow, 64-bit", true, {0x409}, false, bigText, {0x409}, false, 2, {}, {}},
        {"a section behind that may not move", false, {}, true, bigText, {0}, true, kUnchecked, {}, {}},
        {"appended data stays at the end", false, {}, false, bigText, {0}, false, 2, text("PK\3\4 a jar"), {}},
        {"a signature is dropped", true, {}, false, "[A]\n", {0}, false, 0, text("PK\3\4 jar"), Bytes(0x98, 0x30)},
        {"signature after a new section", false, {}, true, "[A]\n", {0}, true, kUnchecked, {}, Bytes(0x20, 0x30)},
        {"shrink below the alignments", false, {0x409}, false, "[A]\n", {0x409}, false, -2, {}, {}, bigText},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageLayout layout;
        layout.is64 = c.is64;
        layout.resources = c.settingsBefore.empty() ? launcherResources(c.languagesBefore)
                                                  : launcherResources(c.languagesBefore, 230, c.settingsBefore);
        if (c.writableAfterResources) layout.sections.push_back({".tls", kData, 0x80});
        layout.appended = c.appended;
        layout.signature = c.signature;
        Bytes input = buildImage(layout);
        BrandRequest request;
        request.settings = text(c.settings);
        Branded b = brand(input, request);
        ASSERT_TRUE(b.ok) << b.error;
        expectSoundImage(input, b.output, c.appended);

        EXPECT_EQ(languagesOf(b.tree, kSettingsType, kSettingsName), c.languagesAfter);
        if (const ResourceEntry* e = b.tree.find(kSettingsType, kSettingsName)) {
            for (const ResourceItem& item : e->items) EXPECT_EQ(item.data, text(c.settings));
        }
        // Everything else is as it was.
        ResourceTree original;
        PeFile source;
        std::string error;
        ASSERT_TRUE(source.parse(input, error) && original.read(source, error));
        for (uint32_t type : {kResourceString, kResourceIcon, kResourceIconGroup, kResourceVersion, kResourceManifest}) {
            const ResourceType* was = original.findType(ResourceKey::number(type));
            const ResourceType* is = b.tree.findType(ResourceKey::number(type));
            ASSERT_TRUE(was && is);
            ASSERT_EQ(was->entries.size(), is->entries.size());
            for (size_t e = 0; e < was->entries.size(); ++e) EXPECT_EQ(was->entries[e].items[0].data, is->entries[e].items[0].data);
        }

        uint32_t oldResources = source.directory(kDirectoryResources).rva;
        EXPECT_EQ(source.resourcesInNewSection(), c.newSection);
        if (c.newSection) {
            EXPECT_EQ(b.image.sections().size(), source.sections().size() + 1);
            EXPECT_EQ(b.image.directory(kDirectoryResources).rva, b.image.sections().back().virtualAddress);
            EXPECT_EQ(b.image.sections().back().name, ".rsrc");
        } else {
            EXPECT_EQ(b.image.directory(kDirectoryResources).rva, oldResources);
            EXPECT_EQ(b.image.sections().size(), source.sections().size());
        }
        if (c.relocationShift != kUnchecked) {
            EXPECT_EQ(b.image.directory(kDirectoryRelocations).rva,
                      source.directory(kDirectoryRelocations).rva + c.relocationShift * kSectionAlignment);
        }
        EXPECT_EQ(b.report.notes.size(), c.signature.empty() ? 0u : 1u);
    }
}

TEST(BrandWriterTest, BrandingTwiceKeepsTheImageSound) {
    // The second run finds the new last section of the first and rewrites it in place.
    ImageLayout layout;
    layout.sections.push_back({".tls", kData, 0x80});
    layout.appended = text("appended");
    Bytes input = buildImage(layout);
    BrandRequest request;
    request.settings = text("[Application]\nCmd=" + std::string(5000, 'y') + "\n");
    Branded first = brand(input, request);
    ASSERT_TRUE(first.ok) << first.error;
    request.icon = sampleIcon();
    Branded second = brand(first.output, request);
    ASSERT_TRUE(second.ok) << second.error;
    EXPECT_TRUE(first.image.directory(kDirectoryResources).rva == first.image.sections().back().virtualAddress);
    EXPECT_FALSE(first.image.resourcesInNewSection());
    EXPECT_EQ(second.image.sections().size(), first.image.sections().size());
    expectSoundImage(first.output, second.output, layout.appended);
}

TEST(BrandWriterTest, IconReplacesTheGroupAndItsImages) {
    ImageLayout layout;
    Branded b = brand(buildImage(layout), [] {
        BrandRequest r;
        r.icon = sampleIcon();
        return r;
    }());
    ASSERT_TRUE(b.ok) << b.error;
    std::vector<IconImage> images;
    std::string error;
    ASSERT_TRUE(parseIconFile(sampleIcon(), images, error));
    const ResourceEntry* group = b.tree.find(ResourceKey::number(kResourceIconGroup), ResourceKey::number(1));
    ASSERT_TRUE(group);
    ASSERT_EQ(group->items.size(), 1u);
    EXPECT_EQ(group->items[0].language, 0x409);
    const Bytes& directory = group->items[0].data;
    ASSERT_EQ(directory.size(), 6u + 14 * 2);
    EXPECT_EQ(read16(directory.data() + 4), 2);
    const ResourceType* icons = b.tree.findType(ResourceKey::number(kResourceIcon));
    ASSERT_TRUE(icons);
    EXPECT_EQ(icons->entries.size(), 2u);  // the old two are gone
    for (size_t i = 0; i < 2; ++i) {
        const uint8_t* entry = directory.data() + 6 + 14 * i;
        EXPECT_EQ(entry[0], images[i].width);
        EXPECT_EQ(read16(entry + 6), 32);
        EXPECT_EQ(read32(entry + 8), images[i].data.size());
        const ResourceEntry* icon = b.tree.find(ResourceKey::number(kResourceIcon), ResourceKey::number(read16(entry + 12)));
        ASSERT_TRUE(icon);
        EXPECT_EQ(icon->items[0].data, images[i].data);
    }
}

TEST(BrandWriterTest, VersionFields) {
    struct Case {
        const char* name;
        const char* fileVersion;
        const char* fileVersionText;
        const char* originalFilename;
        std::vector<std::pair<std::u16string, std::u16string>> expected;
    } cases[] = {
        {"numbers give the texts", "2.3.4.5", nullptr, "HelloApp.exe",
         {{u"FileVersion", u"2.3.4.5"}, {u"InternalName", u"HelloApp"}, {u"OriginalFilename", u"HelloApp.exe"},
          {u"ProductName", u"Hello \u00c4pp"}, {u"FileDescription", u"Java application launcher"}}},
        {"a text wins over the numbers", "2.3", "2.3 beta", nullptr,
         {{u"FileVersion", u"2.3 beta"}, {u"InternalName", u"launcher"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BrandRequest request;
        VersionNumber number;
        std::string error;
        ASSERT_TRUE(parseVersionNumber(c.fileVersion, number, error));
        request.fileVersion = number;
        if (c.fileVersionText) request.fileVersionText = std::u16string(c.fileVersionText, c.fileVersionText + strlen(c.fileVersionText));
        if (c.originalFilename) request.originalFilename = std::u16string(c.originalFilename, c.originalFilename + strlen(c.originalFilename));
        request.productName = u"Hello \u00c4pp";
        Branded b = brand(buildImage(ImageLayout()), request);
        ASSERT_TRUE(b.ok) << b.error;
        const ResourceEntry* version = b.tree.find(ResourceKey::number(kResourceVersion), ResourceKey::number(1));
        ASSERT_TRUE(version);
        VersionInfo info;
        ASSERT_TRUE(parseVersionInfo(version->items[0].data, info));
        for (int i = 0; i < 4; ++i) EXPECT_EQ(info.fileVersion.parts[i], number.parts[i]);
        for (const auto& field : c.expected) {
            const std::u16string* value = info.find(field.first);
            ASSERT_TRUE(value) << std::string(field.first.begin(), field.first.end());
            EXPECT_TRUE(*value == field.second) << std::string(field.first.begin(), field.first.end());
        }
        EXPECT_EQ(info.language, 0x409);
        EXPECT_EQ(info.codePage, 1200);
    }
}

TEST(BrandWriterTest, VersionNumbers) {
    struct Case {
        const char* text;
        bool ok;
        uint16_t parts[4];
    } cases[] = {
        {"1.2.3.4", true, {1, 2, 3, 4}},   {"65535.0.65535.7", true, {65535, 0, 65535, 7}},
        {"3", true, {3, 0, 0, 0}},         {"1.2", true, {1, 2, 0, 0}},
        {"65536.0.0.0", false, {}},        {"1.99999999999999999999", false, {}},
        {"1.2.3.4.5", false, {}},          {"1..2", false, {}},
        {"", false, {}},                   {"1.2.", false, {}},
        {"v1", false, {}},                 {"-1", false, {}},
    };
    for (const Case& c : cases) {
        VersionNumber number;
        std::string error;
        EXPECT_EQ(parseVersionNumber(c.text, number, error), c.ok) << c.text;
        if (c.ok) {
            for (int i = 0; i < 4; ++i) EXPECT_EQ(number.parts[i], c.parts[i]) << c.text;
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
    std::string error;
    VersionNumber number;
    parseVersionNumber("70000", number, error);
    EXPECT_NE(error.find("above 65535"), std::string::npos) << error;
}

TEST(BrandWriterTest, Refusals) {
    Bytes launcher = buildImage(ImageLayout());
    auto patched = [&](size_t at, uint16_t value) {
        Bytes b = launcher;
        write16(b.data() + at, value);
        return b;
    };
    ImageLayout partialMessages;
    partialMessages.resources = launcherResources({}, 229);
    Bytes damagedIcon = sampleIcon();
    write32(damagedIcon.data() + 6 + 16 + 12, 0x7FFFFFF0);  // second image beyond the end
    struct Case {
        const char* name;
        Bytes input;
        BrandRequest request;
        const char* error;
    } cases[] = {
        {"a text file", text("[Application]\n"), {}, "not a 32- or 64-bit Windows executable"},
        {"the Linux launcher", text("\x7f" "ELF\x02\x01\x01"), {}, "a Linux executable: the Linux launcher takes no"},
        {"a library", patched(0x44 + 18, 0x2102), {}, "not a 32- or 64-bit Windows executable"},
        {"another processor", patched(0x44, 0x01C4), {}, "not a 32- or 64-bit Windows executable"},
        {"a 64-bit header on a 32-bit image", patched(0x58, 0x20B), {}, "not a 32- or 64-bit Windows executable"},
        {"a message missing", buildImage(partialMessages), {}, "not a launcher"},
        {"a damaged icon", launcher, {}, "damaged icon file"},
        {"not an icon", launcher, {}, "damaged icon file"},
        {"a version block over 64 KiB", launcher, {}, "exceeds 64 KiB"},
        {"settings without a section", launcher, {}, "holds no [section]"},
    };
    cases[6].request.icon = damagedIcon;
    cases[7].request.icon = text("GIF89a");
    cases[8].request.fileDescription = std::u16string(33000, u'd');
    cases[9].request.settings = text("Main Class=x\n");
    for (Case& c : cases) {
        if (!c.request.icon && !c.request.settings && !c.request.changesVersion()) c.request.settings = text("[A]\n");
        Branded b = brand(c.input, c.request);
        EXPECT_FALSE(b.ok) << c.name;
        EXPECT_NE(b.error.find(c.error), std::string::npos) << c.name << ": " << b.error;
        EXPECT_TRUE(b.output.empty()) << c.name;
    }
}

TEST(BrandWriterTest, DisplaySectionIsWarnedAbout) {
    struct Case {
        const char* settings;
        bool warned;
    } cases[] = {
        {"[Display]\nSplash Screen=a.bmp\n", true},
        {"[Application]\nCmd=x\n[ display+ ]\nSplash Screen=a.bmp\n", true},
        {"[Application]\nCmd=Display\n", false},
        {"[Displays]\nx=1\n", false},
    };
    for (const Case& c : cases) {
        BrandRequest request;
        request.settings = text(c.settings);
        Branded b = brand(buildImage(ImageLayout()), request);
        ASSERT_TRUE(b.ok) << b.error;
        EXPECT_EQ(b.report.warnings.size(), c.warned ? 1u : 0u) << c.settings;
    }
}

TEST(BrandWriterTest, IconFiles) {
    Bytes good = sampleIcon();
    auto changed = [&](size_t at, uint32_t value, bool wide) {
        Bytes b = good;
        wide ? write32(b.data() + at, value) : write16(b.data() + at, value);
        return b;
    };
    Bytes notBitmap = good;
    notBitmap[6 + 32] = 41;  // the first image's header size
    struct Case {
        const char* name;
        Bytes file;
        bool ok;
    } cases[] = {
        {"two images", good, true},
        {"empty", {}, false},
        {"a cursor file", changed(2, 2, false), false},
        {"no image", changed(4, 0, false), false},
        {"more entries than the file holds", changed(4, 40, false), false},
        {"image size beyond the end", changed(6 + 8, 0x10000, true), false},
        {"image offset beyond the end", changed(6 + 12, 0xFFFFFFF0, true), false},
        {"neither bitmap nor PNG", notBitmap, false},
        {"truncated", Bytes(good.begin(), good.end() - 1), false},
    };
    for (const Case& c : cases) {
        std::vector<IconImage> images;
        std::string error;
        EXPECT_EQ(parseIconFile(c.file, images, error), c.ok) << c.name << ": " << error;
    }
}

TEST(BrandWriterTest, RealLaunchers) {
    int checked = 0;
    for (const char* arch : {"x86", "x64"}) {
        std::ifstream file(std::string(LAUNCHER_SOURCE_DIR "/dist/") + arch + "/launcher.exe", std::ios::binary);
        if (!file) continue;
        SCOPED_TRACE(arch);
        Bytes input((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        Bytes jar = text("PK\3\4 an embedded jar");
        input.insert(input.end(), jar.begin(), jar.end());
        std::ifstream iconFile(LAUNCHER_SOURCE_DIR "/resources/launcher.ico", std::ios::binary);
        BrandRequest request;
        request.icon = Bytes((std::istreambuf_iterator<char>(iconFile)), std::istreambuf_iterator<char>());
        request.settings = text("[Java Runtime Environment]\nMain Class=demo.HelloApp\n");
        request.productName = u"Hello";
        Branded b = brand(input, request);
        ASSERT_TRUE(b.ok) << b.error;
        EXPECT_FALSE(b.image.resourcesInNewSection());
        expectSoundImage(input, b.output, jar);
        PeFile source;
        ResourceTree original;
        std::string error;
        ASSERT_TRUE(source.parse(input, error) && original.read(source, error)) << error;
        for (uint32_t type : {kResourceString, kResourceManifest}) {
            const ResourceType* was = original.findType(ResourceKey::number(type));
            const ResourceType* is = b.tree.findType(ResourceKey::number(type));
            ASSERT_TRUE(was && is);
            ASSERT_EQ(was->entries.size(), is->entries.size());
            for (size_t e = 0; e < was->entries.size(); ++e) EXPECT_EQ(was->entries[e].items[0].data, is->entries[e].items[0].data);
        }
        ++checked;
    }
    if (checked == 0) GTEST_SKIP() << "no cross-built launcher images in dist/";
}
