#include "tools/brand/version_info.h"

#include <algorithm>

namespace {

const uint32_t kFixedSignature = 0xFEEF04BD;
const size_t kFixedSize = 52;

struct Block {
    size_t end = 0;
    uint16_t valueLength = 0;
    uint16_t type = 0;
    std::u16string key;
    size_t value = 0;
    size_t children = 0;
};

size_t align4(size_t offset) { return (offset + 3) & ~size_t(3); }

// One node of the block tree at `at`, inside [at, limit).
bool readBlock(const Bytes& bytes, size_t at, size_t limit, Block& block) {
    if (at + 6 > limit) return false;
    size_t length = read16(bytes.data() + at);
    if (length < 6 || length > limit - at) return false;
    block = Block();
    block.end = at + length;
    block.valueLength = read16(bytes.data() + at + 2);
    block.type = read16(bytes.data() + at + 4);
    size_t p = at + 6;
    for (;; p += 2) {
        if (p + 2 > block.end) return false;
        char16_t unit = read16(bytes.data() + p);
        if (!unit) break;
        block.key += unit;
    }
    block.value = align4(p + 2);
    size_t valueBytes = block.type == 1 ? size_t(block.valueLength) * 2 : block.valueLength;
    block.children = std::min(block.end, align4(block.value + valueBytes));
    return block.value + valueBytes <= block.end || block.type == 1;
}

uint16_t hexNumber(const std::u16string& text, size_t from) {
    uint16_t value = 0;
    for (size_t i = from; i < from + 4 && i < text.size(); ++i) {
        char16_t c = text[i];
        int digit = c >= u'0' && c <= u'9' ? c - u'0' : c >= u'a' && c <= u'f' ? c - u'a' + 10 : c >= u'A' && c <= u'F' ? c - u'A' + 10 : 0;
        value = static_cast<uint16_t>(value * 16 + digit);
    }
    return value;
}

void readStringTable(const Bytes& bytes, const Block& table, VersionInfo& info) {
    if (table.key.size() == 8) {
        info.language = hexNumber(table.key, 0);
        info.codePage = hexNumber(table.key, 4);
    }
    Block entry;
    for (size_t at = table.children; readBlock(bytes, at, table.end, entry); at = align4(entry.end)) {
        std::u16string value;
        for (size_t p = entry.value; p + 2 <= entry.end && value.size() < entry.valueLength; p += 2) {
            char16_t unit = read16(bytes.data() + p);
            if (!unit) break;
            value += unit;
        }
        info.set(entry.key, value);
    }
}

Bytes node(const std::u16string& key, uint16_t type, uint16_t valueLength, const Bytes& value,
           const std::vector<Bytes>& children) {
    Bytes out;
    append16(out, 0);
    append16(out, valueLength);
    append16(out, type);
    appendUtf16(out, key);
    append16(out, 0);
    padTo(out, 4);
    out.insert(out.end(), value.begin(), value.end());
    for (const Bytes& child : children) {
        padTo(out, 4);
        out.insert(out.end(), child.begin(), child.end());
    }
    write16(out.data(), static_cast<uint32_t>(out.size() & 0xFFFF));
    return out;
}

std::u16string hex4(uint16_t value) {
    const char16_t* digits = u"0123456789abcdef";
    std::u16string text;
    for (int shift = 12; shift >= 0; shift -= 4) text += digits[(value >> shift) & 0xF];
    return text;
}

}  // namespace

bool parseVersionNumber(const std::string& text, VersionNumber& number, std::string& error) {
    number = VersionNumber();
    size_t part = 0, digits = 0;
    uint32_t value = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '.') {
            if (!digits || part == 4) {
                error = "a version is one to four numbers separated by dots: " + text;
                return false;
            }
            number.parts[part++] = static_cast<uint16_t>(value);
            value = 0;
            digits = 0;
        } else if (text[i] >= '0' && text[i] <= '9') {
            value = value * 10 + (text[i] - '0');
            ++digits;
            if (value > 65535) {
                error = "a version number is above 65535: " + text;
                return false;
            }
        } else {
            error = "a version is one to four numbers separated by dots: " + text;
            return false;
        }
    }
    return true;
}

std::u16string versionNumberText(const VersionNumber& number) {
    std::u16string text;
    for (int i = 0; i < 4; ++i) {
        if (i) text += u'.';
        std::string digits = std::to_string(number.parts[i]);
        text.append(digits.begin(), digits.end());
    }
    return text;
}

const std::u16string* VersionInfo::find(const std::u16string& key) const {
    for (const auto& entry : strings)
        if (entry.first == key) return &entry.second;
    return nullptr;
}

void VersionInfo::set(const std::u16string& key, const std::u16string& value) {
    for (auto& entry : strings) {
        if (entry.first == key) {
            entry.second = value;
            return;
        }
    }
    strings.emplace_back(key, value);
}

bool parseVersionInfo(const Bytes& bytes, VersionInfo& info) {
    Block root;
    if (!readBlock(bytes, 0, bytes.size(), root) || root.key != u"VS_VERSION_INFO") return false;
    if (root.valueLength < kFixedSize || root.value + kFixedSize > root.end) return false;
    const uint8_t* fixed = bytes.data() + root.value;
    if (read32(fixed) != kFixedSignature) return false;
    for (int half = 0; half < 2; ++half) {
        uint32_t file = read32(fixed + 8 + 4 * half);
        uint32_t product = read32(fixed + 16 + 4 * half);
        info.fileVersion.parts[2 * half] = static_cast<uint16_t>(file >> 16);
        info.fileVersion.parts[2 * half + 1] = static_cast<uint16_t>(file);
        info.productVersion.parts[2 * half] = static_cast<uint16_t>(product >> 16);
        info.productVersion.parts[2 * half + 1] = static_cast<uint16_t>(product);
    }
    info.fileFlagsMask = read32(fixed + 24);
    info.fileFlags = read32(fixed + 28);
    info.fileOs = read32(fixed + 32);
    info.fileType = read32(fixed + 36);
    info.fileSubtype = read32(fixed + 40);
    Block child;
    for (size_t at = root.children; readBlock(bytes, at, root.end, child); at = align4(child.end)) {
        if (child.key != u"StringFileInfo") continue;
        Block table;
        // The first table is the one written back.
        if (readBlock(bytes, child.children, child.end, table)) readStringTable(bytes, table, info);
        break;
    }
    return true;
}

bool writeVersionInfo(const VersionInfo& info, Bytes& block) {
    Bytes fixed;
    append32(fixed, kFixedSignature);
    append32(fixed, 0x00010000);
    const VersionNumber* numbers[2] = {&info.fileVersion, &info.productVersion};
    for (const VersionNumber* n : numbers) {
        append32(fixed, uint32_t(n->parts[0]) << 16 | n->parts[1]);
        append32(fixed, uint32_t(n->parts[2]) << 16 | n->parts[3]);
    }
    for (uint32_t field : {info.fileFlagsMask, info.fileFlags, info.fileOs, info.fileType, info.fileSubtype, 0u, 0u})
        append32(fixed, field);

    std::vector<Bytes> strings;
    for (const auto& entry : info.strings) {
        if (entry.second.empty()) continue;
        if (entry.second.size() + 1 > 0xFFFF) return false;
        Bytes value;
        appendUtf16(value, entry.second);
        append16(value, 0);
        strings.push_back(node(entry.first, 1, static_cast<uint16_t>(entry.second.size() + 1), value, {}));
    }
    Bytes table = node(hex4(info.language) + hex4(info.codePage), 1, 0, {}, strings);
    Bytes stringInfo = node(u"StringFileInfo", 1, 0, {}, {table});
    Bytes translation;
    append16(translation, info.language);
    append16(translation, info.codePage);
    Bytes var = node(u"Translation", 0, 4, translation, {});
    Bytes varInfo = node(u"VarFileInfo", 1, 0, {}, {var});
    block = node(u"VS_VERSION_INFO", 0, kFixedSize, fixed, {stringInfo, varInfo});
    for (const Bytes* part : {&table, &stringInfo, &block})
        if (part->size() > 0xFFFF) return false;
    return true;
}
