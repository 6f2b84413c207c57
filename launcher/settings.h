// Settings stores: the settings file itself, built-in values held in
// memory, and the layered store that reads built-in values under the file's.
#ifndef LAUNCHER_SETTINGS_H
#define LAUNCHER_SETTINGS_H

#include <string>

#include "support/wide_string.h"

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // The value, or the empty text when the key is absent.
    virtual WideString read(const WideString& section, const WideString& key) = 0;
    virtual List<WideString> sectionNames() = 0;
    virtual void write(const WideString& section, const WideString& key, const WideString& value) = 0;
    virtual void deleteFile() = 0;
};

// One INI file; every operation goes to the file at once.
class SettingsFile : public SettingsStore {
public:
    explicit SettingsFile(const WideString& path) : path_(path) {}
    WideString read(const WideString& section, const WideString& key) override;
    List<WideString> sectionNames() override;
    void write(const WideString& section, const WideString& key, const WideString& value) override;
    void deleteFile() override;
    const WideString& path() const { return path_; }

protected:
    // Called after the file was changed through this store.
    virtual void fileChanged() {}

private:
    WideString path_;
};

// Sections of (key, value) pairs held in memory, in the order given.
class MemorySettings : public SettingsStore {
public:
    struct Entry {
        WideString key;
        WideString value;
    };
    struct Section {
        WideString name;
        List<Entry> entries;
    };

    MemorySettings() = default;
    explicit MemorySettings(const WideString& text) { parse(text); }
    // Replaces the content with the sections of an INI text.
    void parse(const WideString& text);

    WideString read(const WideString& section, const WideString& key) override;
    List<WideString> sectionNames() override;
    void write(const WideString& section, const WideString& key, const WideString& value) override;
    void deleteFile() override {}
    const List<Section>& sections() const { return sections_; }

private:
    List<Section> sections_;
};

// The settings file over built-in values: a value in the file wins; an empty
// one lets a "Section+" value extend the built-in value.
class LayeredSettingsFile : public SettingsFile, public MemorySettings {
public:
    LayeredSettingsFile(const WideString& path, const WideString& builtInText);
    WideString read(const WideString& section, const WideString& key) override;

protected:
    void fileChanged() override;

private:
    // Reads of a section the file does not have are answered without asking
    // the system: each profile-string call opens and parses the file again,
    // which is most of the launcher's own start-up time.
    bool fileHasSection(const WideString& section) const;
    List<WideString> fileSections_;
    // A section name beyond ASCII may match under the system's wider case
    // rules, so then every read goes to the file.
    bool sectionsBeyondAscii_ = false;
};

// Decodes built-in settings bytes: UTF-16LE with its byte-order mark, or
// UTF-8 with or without one.
WideString decodeSettingsText(const NarrowString& bytes);

#endif
