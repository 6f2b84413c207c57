#include "launcher/settings.h"

#include "support/platform.h"
#include "support/profile_text.h"

WideString SettingsFile::read(const WideString& section, const WideString& key) {
    List<char16_t> buffer(256);
    for (;;) {
        uint32_t size = static_cast<uint32_t>(buffer.size());
        uint32_t length = platform::readProfileString(path_, section, key, buffer.data(), size);
        if (length != size - 1) return WideString(buffer.data(), length);
        buffer.assign(buffer.size() * 2, 0);
    }
}

List<WideString> SettingsFile::sectionNames() {
    List<char16_t> buffer(256);
    uint32_t length;
    for (;;) {
        uint32_t size = static_cast<uint32_t>(buffer.size());
        length = platform::readProfileSectionNames(path_, buffer.data(), size);
        if (length != size - 2) break;
        buffer.assign(buffer.size() * 2, 0);
    }
    List<WideString> names;
    WideString name;
    for (uint32_t i = 0; i <= length && i < buffer.size(); ++i) {
        if (buffer[i] == 0) {
            if (!name.empty()) names.push_back(name);
            name.clear();
        } else {
            name += buffer[i];
        }
    }
    return names;
}

void SettingsFile::write(const WideString& section, const WideString& key, const WideString& value) {
    platform::writeProfileString(path_, section, key, value);
    fileChanged();
}

void SettingsFile::deleteFile() {
    platform::deleteFile(path_);
    fileChanged();
}

static bool isBlank(char16_t c) { return c <= 32; }

static WideString trimBlanks(const WideString& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

void MemorySettings::parse(const WideString& text) {
    sections_.clear();
    List<WideString> lines = splitAt(text, u'\n');
    if (!lines.empty() && !lines[0].empty() && lines[0][0] == u'\uFEFF') lines[0] = lines[0].substr(1);
    for (const WideString& line : lines) {
        if (line.empty()) continue;
        WideString trimmed = trimBlanks(line);
        if (!trimmed.empty() && trimmed[0] == u'[' && trimmed.last() == u']') {
            size_t open = line.find(u'[');
            size_t close = line.findLast(u']');
            sections_.push_back(Section{line.substr(open + 1, close - open - 1), {}});
            continue;
        }
        if (sections_.empty()) continue;
        size_t equals = line.find(u'=');
        if (equals == WideString::npos) continue;
        sections_.back().entries.push_back(
            Entry{trimBlanks(line.left(equals)), trimBlanks(line.substr(equals + 1))});
    }
}

WideString MemorySettings::read(const WideString& section, const WideString& key) {
    for (const Section& s : sections_) {
        if (s.name != section) continue;
        for (const Entry& e : s.entries)
            if (e.key == key) return e.value;
        break;
    }
    return WideString();
}

List<WideString> MemorySettings::sectionNames() {
    List<WideString> names;
    for (const Section& s : sections_) names.push_back(s.name);
    return names;
}

void MemorySettings::write(const WideString& section, const WideString& key, const WideString& value) {
    for (Section& s : sections_) {
        if (s.name == section) {
            s.entries.push_back(Entry{key, value});
            return;
        }
    }
    sections_.push_back(Section{section, {Entry{key, value}}});
}

LayeredSettingsFile::LayeredSettingsFile(const WideString& path, const WideString& builtInText)
    : SettingsFile(path), MemorySettings(builtInText) {
    fileChanged();
}

void LayeredSettingsFile::fileChanged() {
    fileSections_ = SettingsFile::sectionNames();
    sectionsBeyondAscii_ = false;
    for (const WideString& name : fileSections_)
        for (size_t i = 0; i < name.size(); ++i)
            if (name[i] > 0x7F) sectionsBeyondAscii_ = true;
}

bool LayeredSettingsFile::fileHasSection(const WideString& section) const {
    if (sectionsBeyondAscii_) return true;
    // The profile-string reader matches section names without regard to case.
    for (const WideString& name : fileSections_)
        if (name.equalsIgnoreAsciiCase(section)) return true;
    return false;
}

WideString LayeredSettingsFile::read(const WideString& section, const WideString& key) {
    WideString builtIn = MemorySettings::read(section, key);
    WideString value = fileHasSection(section) ? SettingsFile::read(section, key) : WideString();
    if (!value.empty()) return value;
    WideString extended = section + u"+";
    WideString extension = fileHasSection(extended) ? SettingsFile::read(extended, key) : WideString();
    if (extension.empty()) return builtIn;
    if (extension[0] != u' ') builtIn += u' ';
    return builtIn + extension;
}

WideString decodeSettingsText(const NarrowString& bytes) { return profile::decodeText(bytes); }
