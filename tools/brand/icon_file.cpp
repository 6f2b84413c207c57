#include "tools/brand/icon_file.h"

#include <algorithm>
#include <set>

namespace {

const size_t kDirectorySize = 6;
const size_t kFileEntrySize = 16;
const size_t kGroupEntrySize = 14;
const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool fail(std::string& error, const char* text) {
    error = text;
    return false;
}

// Icon ids a group lists.
std::vector<uint16_t> groupIcons(const Bytes& group) {
    std::vector<uint16_t> ids;
    if (group.size() < kDirectorySize) return ids;
    size_t count = read16(group.data() + 4);
    for (size_t i = 0; i < count && kDirectorySize + kGroupEntrySize * (i + 1) <= group.size(); ++i)
        ids.push_back(read16(group.data() + kDirectorySize + kGroupEntrySize * i + 12));
    return ids;
}

}  // namespace

bool parseIconFile(const Bytes& file, std::vector<IconImage>& images, std::string& error) {
    images.clear();
    if (file.size() < kDirectorySize || read16(file.data()) != 0 || read16(file.data() + 2) != 1)
        return fail(error, "not an icon file");
    size_t count = read16(file.data() + 4);
    if (count == 0) return fail(error, "the icon file holds no image");
    if (!insideBuffer(file.size(), kDirectorySize, kFileEntrySize * count)) return fail(error, "the icon file is truncated");
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* entry = file.data() + kDirectorySize + kFileEntrySize * i;
        uint32_t size = read32(entry + 8);
        uint32_t offset = read32(entry + 12);
        if (size < 8 || !insideBuffer(file.size(), offset, size)) return fail(error, "an icon image lies outside the file");
        IconImage image;
        image.width = entry[0];
        image.height = entry[1];
        image.colourCount = entry[2];
        image.planes = read16(entry + 4);
        image.bitCount = read16(entry + 6);
        image.data.assign(file.begin() + offset, file.begin() + offset + size);
        const uint8_t* bits = image.data.data();
        bool png = std::equal(kPngSignature, kPngSignature + 8, bits);
        // A bitmap image starts with its 40-byte header and holds the colour
        // and mask rows at twice the icon's height.
        bool bitmap = size >= 40 && read32(bits) == 40 && read16(bits + 12) == 1;
        if (!png && !bitmap) return fail(error, "an icon image is neither a bitmap nor a PNG");
        if (bitmap && !image.bitCount) image.bitCount = read16(bits + 14);
        if (!image.planes) image.planes = 1;
        images.push_back(image);
    }
    return true;
}

ResourceKey replaceIconGroup(ResourceTree& tree, const std::vector<IconImage>& images) {
    ResourceKey groupType = ResourceKey::number(kResourceIconGroup);
    ResourceKey iconType = ResourceKey::number(kResourceIcon);
    ResourceKey groupName = ResourceKey::number(1);
    std::vector<uint16_t> languages;
    const ResourceType* groups = tree.findType(groupType);
    if (groups && !groups->entries.empty()) {
        const ResourceEntry* first = &groups->entries[0];
        for (const ResourceEntry& e : groups->entries)
            if (e.name < first->name) first = &e;
        groupName = first->name;
        // The old group's images go unless another group lists them too.
        std::set<uint16_t> old, kept;
        for (const ResourceEntry& e : groups->entries)
            for (const ResourceItem& item : e.items)
                for (uint16_t id : groupIcons(item.data)) (e.name == groupName ? old : kept).insert(id);
        for (const ResourceItem& item : first->items) languages.push_back(item.language);
        for (uint16_t id : old)
            if (!kept.count(id)) tree.remove(iconType, ResourceKey::number(id));
        tree.remove(groupType, groupName);
    }
    if (languages.empty()) languages.push_back(0x0409);  // English (United States), as the launcher's own

    std::set<uint32_t> used;
    if (const ResourceType* icons = tree.findType(iconType))
        for (const ResourceEntry& e : icons->entries)
            if (!e.name.isText) used.insert(e.name.id);
    Bytes group;
    append16(group, 0);
    append16(group, 1);
    append16(group, static_cast<uint32_t>(images.size()));
    uint32_t next = 1;
    for (const IconImage& image : images) {
        while (used.count(next)) ++next;
        used.insert(next);
        for (uint16_t language : languages) tree.put(iconType, ResourceKey::number(next), language, image.data);
        group.push_back(image.width);
        group.push_back(image.height);
        group.push_back(image.colourCount);
        group.push_back(0);
        append16(group, image.planes);
        append16(group, image.bitCount);
        append32(group, static_cast<uint32_t>(image.data.size()));
        append16(group, next);
    }
    for (uint16_t language : languages) tree.put(groupType, groupName, language, group);
    return groupName;
}
