// The resources of an executable as a tree of type, name and language over
// their bytes: read from the resource directory, changed, and written back
// as a resource section for a given address.
#ifndef TOOLS_BRAND_RESOURCE_TREE_H
#define TOOLS_BRAND_RESOURCE_TREE_H

#include <string>
#include <vector>

#include "tools/brand/bytes.h"
#include "tools/brand/pe_file.h"

enum : uint32_t {
    kResourceIcon = 3,
    kResourceString = 6,
    kResourceData = 10,
    kResourceIconGroup = 14,
    kResourceVersion = 16,
    kResourceManifest = 24,
};

// A type or name: a number, or a text (kept upper case, as resource
// compilers write them and the system's look-up expects).
struct ResourceKey {
    bool isText = false;
    uint32_t id = 0;
    std::u16string text;

    static ResourceKey number(uint32_t id);
    static ResourceKey named(const std::u16string& text);
    bool operator==(const ResourceKey& other) const {
        return isText == other.isText && (isText ? text == other.text : id == other.id);
    }
    // Directory order: texts first, by code unit, then numbers ascending.
    bool operator<(const ResourceKey& other) const;
};

struct ResourceItem {
    uint16_t language = 0;
    uint32_t codePage = 0;
    Bytes data;
};

struct ResourceEntry {
    ResourceKey name;
    std::vector<ResourceItem> items;  // by language
};

struct ResourceType {
    ResourceKey type;
    std::vector<ResourceEntry> entries;  // by name
};

class ResourceTree {
public:
    // Reads the three-level resource directory of an image (none: empty).
    bool read(const PeFile& image, std::string& error);

    const std::vector<ResourceType>& types() const { return types_; }
    const ResourceType* findType(const ResourceKey& type) const;
    const ResourceEntry* find(const ResourceKey& type, const ResourceKey& name) const;
    // Adds or replaces one language of a resource.
    void put(const ResourceKey& type, const ResourceKey& name, uint16_t language, const Bytes& data);
    // Removes a resource in every language; false when there was none.
    bool remove(const ResourceKey& type, const ResourceKey& name);

    // The resource section for the address rva.
    Bytes write(uint32_t rva) const;

private:
    std::vector<ResourceType> types_;
};

#endif
