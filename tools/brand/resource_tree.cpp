#include "tools/brand/resource_tree.h"

#include <algorithm>

ResourceKey ResourceKey::number(uint32_t id) {
    ResourceKey key;
    key.id = id;
    return key;
}

ResourceKey ResourceKey::named(const std::u16string& text) {
    ResourceKey key;
    key.isText = true;
    key.text = text;
    for (char16_t& unit : key.text)
        if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - 32);
    return key;
}

bool ResourceKey::operator<(const ResourceKey& other) const {
    if (isText != other.isText) return isText;
    return isText ? text < other.text : id < other.id;
}

namespace {

const uint32_t kSubdirectory = 0x80000000u;
const uint32_t kTextName = 0x80000000u;
// A real tree holds a few hundred entries; a damaged one may point many
// entries at the same directory, which would multiply the work.
const size_t kMaxEntries = 65536;

class DirectoryReader {
public:
    DirectoryReader(const PeFile& image, const uint8_t* base, size_t size, std::string& error)
        : image_(image), base_(base), size_(size), error_(error) {}

    // The entries of the directory table at offset.
    bool entries(uint32_t offset, std::vector<std::pair<uint32_t, uint32_t>>& out) {
        out.clear();
        if (!insideBuffer(size_, offset, 16)) return fail("a resource directory lies outside the section");
        size_t count = size_t(read16(base_ + offset + 12)) + read16(base_ + offset + 14);
        if (!insideBuffer(size_, offset + 16, 8 * count)) return fail("a resource directory lies outside the section");
        visited_ += count;
        if (visited_ > kMaxEntries) return fail("too many resource entries");
        for (size_t i = 0; i < count; ++i) {
            const uint8_t* entry = base_ + offset + 16 + 8 * i;
            out.emplace_back(read32(entry), read32(entry + 4));
        }
        return true;
    }

    bool key(uint32_t field, ResourceKey& key) {
        key = ResourceKey();
        if (!(field & kTextName)) {
            key.id = field;
            return true;
        }
        uint32_t offset = field & ~kTextName;
        if (!insideBuffer(size_, offset, 2)) return fail("a resource name lies outside the section");
        size_t length = read16(base_ + offset);
        if (!insideBuffer(size_, offset + 2, 2 * length)) return fail("a resource name lies outside the section");
        key.isText = true;
        for (size_t i = 0; i < length; ++i) key.text += static_cast<char16_t>(read16(base_ + offset + 2 + 2 * i));
        return true;
    }

    bool item(uint32_t field, uint32_t language, ResourceItem& item) {
        if (field & kSubdirectory) return fail("the resource directory is deeper than type, name and language");
        if (language > 0xFFFF) return fail("a resource language is not a language");
        if (!insideBuffer(size_, field, 16)) return fail("a resource entry lies outside the section");
        uint32_t rva = read32(base_ + field);
        uint32_t length = read32(base_ + field + 4);
        size_t offset;
        if (!image_.offsetOf(rva, length, offset)) return fail("resource data lies outside the file");
        dataBytes_ += length;
        if (dataBytes_ > image_.bytes().size()) return fail("the resource directory repeats its data");
        item.language = static_cast<uint16_t>(language);
        item.codePage = read32(base_ + field + 8);
        item.data.assign(image_.bytes().begin() + offset, image_.bytes().begin() + offset + length);
        return true;
    }

    bool fail(const char* text) {
        error_ = text;
        return false;
    }

private:
    const PeFile& image_;
    const uint8_t* base_;
    size_t size_;
    std::string& error_;
    size_t visited_ = 0;
    uint64_t dataBytes_ = 0;
};

}  // namespace

bool ResourceTree::read(const PeFile& image, std::string& error) {
    types_.clear();
    DataDirectory directory = image.directory(kDirectoryResources);
    if (!directory.size) return true;
    int index = image.sectionAt(directory.rva);
    if (index < 0) {
        error = "the resource directory lies outside the sections";
        return false;
    }
    const PeSection& section = image.sections()[index];
    uint32_t within = directory.rva - section.virtualAddress;
    if (within >= section.rawSize) {
        error = "the resource directory lies outside the file";
        return false;
    }
    DirectoryReader reader(image, image.bytes().data() + section.rawOffset + within, section.rawSize - within, error);
    std::vector<std::pair<uint32_t, uint32_t>> typeEntries, nameEntries, languageEntries;
    if (!reader.entries(0, typeEntries)) return false;
    for (const auto& typeEntry : typeEntries) {
        ResourceType type;
        if (!reader.key(typeEntry.first, type.type)) return false;
        if (!(typeEntry.second & kSubdirectory)) return reader.fail("a resource type has no names");
        if (!reader.entries(typeEntry.second & ~kSubdirectory, nameEntries)) return false;
        for (const auto& nameEntry : nameEntries) {
            ResourceEntry entry;
            if (!reader.key(nameEntry.first, entry.name)) return false;
            if (!(nameEntry.second & kSubdirectory)) return reader.fail("a resource has no languages");
            if (!reader.entries(nameEntry.second & ~kSubdirectory, languageEntries)) return false;
            for (const auto& languageEntry : languageEntries) {
                ResourceItem item;
                if (!reader.item(languageEntry.second, languageEntry.first, item)) return false;
                entry.items.push_back(item);
            }
            type.entries.push_back(entry);
        }
        types_.push_back(type);
    }
    return true;
}

const ResourceType* ResourceTree::findType(const ResourceKey& type) const {
    for (const ResourceType& t : types_)
        if (t.type == type) return &t;
    return nullptr;
}

const ResourceEntry* ResourceTree::find(const ResourceKey& type, const ResourceKey& name) const {
    const ResourceType* t = findType(type);
    if (!t) return nullptr;
    for (const ResourceEntry& e : t->entries)
        if (e.name == name) return &e;
    return nullptr;
}

void ResourceTree::put(const ResourceKey& type, const ResourceKey& name, uint16_t language, const Bytes& data) {
    auto t = std::find_if(types_.begin(), types_.end(), [&](const ResourceType& x) { return x.type == type; });
    if (t == types_.end()) {
        types_.push_back(ResourceType{type, {}});
        t = types_.end() - 1;
    }
    auto e = std::find_if(t->entries.begin(), t->entries.end(), [&](const ResourceEntry& x) { return x.name == name; });
    if (e == t->entries.end()) {
        t->entries.push_back(ResourceEntry{name, {}});
        e = t->entries.end() - 1;
    }
    for (ResourceItem& item : e->items) {
        if (item.language == language) {
            item.data = data;
            return;
        }
    }
    ResourceItem item;
    item.language = language;
    item.data = data;
    e->items.push_back(item);
}

bool ResourceTree::remove(const ResourceKey& type, const ResourceKey& name) {
    for (size_t t = 0; t < types_.size(); ++t) {
        std::vector<ResourceEntry>& entries = types_[t].entries;
        for (size_t e = 0; e < entries.size(); ++e) {
            if (!(entries[e].name == name) || !(types_[t].type == type)) continue;
            entries.erase(entries.begin() + e);
            // An empty type directory would confuse readers that expect names.
            if (entries.empty()) types_.erase(types_.begin() + t);
            return true;
        }
    }
    return false;
}

namespace {

void appendDirectory(Bytes& out, size_t offset, size_t named, size_t numbered) {
    std::fill(out.begin() + offset, out.begin() + offset + 12, 0);
    write16(out.data() + offset + 12, static_cast<uint32_t>(named));
    write16(out.data() + offset + 14, static_cast<uint32_t>(numbered));
}

}  // namespace

Bytes ResourceTree::write(uint32_t rva) const {
    // Sorted copies: the system looks entries up by binary search.
    std::vector<ResourceType> types = types_;
    std::stable_sort(types.begin(), types.end(),
                     [](const ResourceType& a, const ResourceType& b) { return a.type < b.type; });
    for (ResourceType& t : types) {
        std::stable_sort(t.entries.begin(), t.entries.end(),
                  [](const ResourceEntry& a, const ResourceEntry& b) { return a.name < b.name; });
        for (ResourceEntry& e : t.entries)
            std::stable_sort(e.items.begin(), e.items.end(),
                             [](const ResourceItem& a, const ResourceItem& b) { return a.language < b.language; });
    }

    // Layout: directory tables (root, types, names), data entries, name
    // texts, then the data, each piece on an 8-byte boundary.
    size_t offset = 16 + 8 * types.size();
    std::vector<size_t> typeTables, nameTables;
    for (const ResourceType& t : types) {
        typeTables.push_back(offset);
        offset += 16 + 8 * t.entries.size();
    }
    size_t itemCount = 0;
    for (const ResourceType& t : types) {
        for (const ResourceEntry& e : t.entries) {
            nameTables.push_back(offset);
            offset += 16 + 8 * e.items.size();
            itemCount += e.items.size();
        }
    }
    size_t dataEntries = offset;
    offset += 16 * itemCount;
    Bytes out(offset, 0);
    auto text = [&](const ResourceKey& key) -> uint32_t {
        if (!key.isText) return key.id;
        uint32_t at = static_cast<uint32_t>(out.size());
        append16(out, static_cast<uint32_t>(key.text.size()));
        appendUtf16(out, key.text);
        return at | kTextName;
    };
    auto entryCounts = [](auto begin, auto end, auto keyOf, size_t& named) {
        named = 0;
        for (auto i = begin; i != end; ++i)
            if (keyOf(*i).isText) ++named;
    };

    size_t named;
    entryCounts(types.begin(), types.end(), [](const ResourceType& t) -> const ResourceKey& { return t.type; }, named);
    appendDirectory(out, 0, named, types.size() - named);
    size_t nameTable = 0, item = 0;
    std::vector<std::pair<size_t, const Bytes*>> data;  // data entry offset, bytes
    for (size_t t = 0; t < types.size(); ++t) {
        // The name text is appended first: appending may move the buffer.
        uint32_t typeField = text(types[t].type);
        write32(out.data() + 16 + 8 * t, typeField);
        write32(out.data() + 16 + 8 * t + 4, static_cast<uint32_t>(typeTables[t]) | kSubdirectory);
        const std::vector<ResourceEntry>& entries = types[t].entries;
        entryCounts(entries.begin(), entries.end(), [](const ResourceEntry& e) -> const ResourceKey& { return e.name; },
                    named);
        appendDirectory(out, typeTables[t], named, entries.size() - named);
        for (size_t e = 0; e < entries.size(); ++e, ++nameTable) {
            size_t at = typeTables[t] + 16 + 8 * e;
            uint32_t nameField = text(entries[e].name);
            write32(out.data() + at, nameField);
            write32(out.data() + at + 4, static_cast<uint32_t>(nameTables[nameTable]) | kSubdirectory);
            appendDirectory(out, nameTables[nameTable], 0, entries[e].items.size());
            for (size_t l = 0; l < entries[e].items.size(); ++l, ++item) {
                const ResourceItem& it = entries[e].items[l];
                size_t languageAt = nameTables[nameTable] + 16 + 8 * l;
                size_t entryAt = dataEntries + 16 * item;
                write32(out.data() + languageAt, it.language);
                write32(out.data() + languageAt + 4, static_cast<uint32_t>(entryAt));
                write32(out.data() + entryAt + 8, it.codePage);
                data.emplace_back(entryAt, &it.data);
            }
        }
    }
    for (const auto& d : data) {
        padTo(out, 8);
        write32(out.data() + d.first, rva + static_cast<uint32_t>(out.size()));
        write32(out.data() + d.first + 4, static_cast<uint32_t>(d.second->size()));
        out.insert(out.end(), d.second->begin(), d.second->end());
    }
    padTo(out, 8);
    return out;
}
