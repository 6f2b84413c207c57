// Built-in settings bytes -> decodeSettingsText -> MemorySettings, then the
// properties the launcher relies on when it reads its configuration.
#include <string.h>

#include "fuzz_support.h"
#include "launcher/settings.h"

namespace {

typedef MemorySettings::Section Section;
typedef MemorySettings::Entry Entry;

bool isBlank(char16_t c) { return c <= 32; }

bool isTrimmed(const WideString& text) { return text.empty() || (!isBlank(text[0]) && !isBlank(text.last())); }

// Mark-less UTF-8 decodes losslessly, a byte that is no UTF-8 as U+DC80 +
// byte; UTF-16LE after FF FE gives one unit per byte pair.
void checkDecoding(const NarrowString& bytes, const WideString& text) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.size() >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        FUZZ_REQUIRE(text.size() == (bytes.size() - 2) / 2);
        for (size_t i = 0; i < text.size(); ++i)
            FUZZ_REQUIRE(text[i] == static_cast<char16_t>(p[2 + 2 * i] | (p[3 + 2 * i] << 8)));
        return;
    }
    size_t skip = (bytes.size() >= 3 && memcmp(bytes.data(), "\xEF\xBB\xBF", 3) == 0) ? 3 : 0;
    FUZZ_REQUIRE(text.size() <= bytes.size() - skip);
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            // UTF-8 never yields a lone surrogate: only the pair of a 4-byte sequence.
            FUZZ_REQUIRE(i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF);
            ++i;
        } else {
            // Otherwise only a byte that is no UTF-8, kept as U+DC80 + byte.
            FUZZ_REQUIRE(c < 0xDC00 || c > 0xDFFF || (c >= 0xDC80 && c <= 0xDCFF));
        }
    }
    // Every byte survives: a file is written back as it was read.
    FUZZ_REQUIRE(toUtf8KeepingBytes(text) == bytes.substr(skip));
}

// What the parser may produce at all: one line per header or pair.
void checkShape(const List<Section>& sections) {
    for (const Section& s : sections) {
        FUZZ_REQUIRE(!fuzzContains(s.name, u'\n'));
        for (const Entry& e : s.entries) {
            FUZZ_REQUIRE(!fuzzContains(e.key, u'\n') && !fuzzContains(e.value, u'\n'));
            FUZZ_REQUIRE(!fuzzContains(e.key, u'='));
            FUZZ_REQUIRE(isTrimmed(e.key) && isTrimmed(e.value));
        }
    }
}

size_t firstSectionNamed(const List<Section>& sections, const WideString& name) {
    for (size_t i = 0; i < sections.size(); ++i)
        if (sections[i].name == name) return i;
    return sections.size();
}

const Entry* firstEntry(const Section& section, const WideString& key) {
    for (const Entry& e : section.entries)
        if (e.key == key) return &e;
    return nullptr;
}

// read() answers from the first section of a name only, with its first pair of
// the key; pairs under a later header of the same name are never seen.
void checkReads(MemorySettings& settings) {
    const List<Section>& sections = settings.sections();
    for (size_t i = 0; i < sections.size(); ++i) {
        const Section& s = sections[i];
        const Section& first = sections[firstSectionNamed(sections, s.name)];
        for (const Entry& e : s.entries) {
            const Entry* winner = firstEntry(first, e.key);
            WideString got = settings.read(s.name, e.key);
            if (&first == &s) {
                FUZZ_REQUIRE(winner != nullptr);
                FUZZ_REQUIRE(got == winner->value);
            } else {
                FUZZ_REQUIRE(got == (winner ? winner->value : WideString()));
            }
        }
        // Keys never hold "=", so this one is absent everywhere.
        FUZZ_REQUIRE(settings.read(s.name, WideString(u"=")).empty());
    }
    // Header names never hold a line break.
    FUZZ_REQUIRE(settings.read(WideString(u"\n"), WideString()).empty());

    List<WideString> names = settings.sectionNames();
    FUZZ_REQUIRE(names.size() == sections.size());
    for (size_t i = 0; i < names.size(); ++i) FUZZ_REQUIRE(names[i] == sections[i].name);
}

// Written back as UTF-16LE text, the sections must parse to the same sections:
// nothing the parser accepted can change meaning in its own syntax.
void checkRoundTrip(const List<Section>& sections) {
    WideString text;
    for (const Section& s : sections) {
        text += u"[" + s.name + u"]\r\n";
        for (const Entry& e : s.entries) text += e.key + u"=" + e.value + u"\r\n";
    }
    NarrowString bytes("\xFF\xFE");
    for (size_t i = 0; i < text.size(); ++i) {
        bytes += static_cast<char>(text[i] & 0xFF);
        bytes += static_cast<char>(text[i] >> 8);
    }
    MemorySettings again(decodeSettingsText(bytes));
    const List<Section>& other = again.sections();
    FUZZ_REQUIRE(other.size() == sections.size());
    for (size_t i = 0; i < sections.size(); ++i) {
        FUZZ_REQUIRE(other[i].name == sections[i].name);
        FUZZ_REQUIRE(other[i].entries.size() == sections[i].entries.size());
        for (size_t j = 0; j < sections[i].entries.size(); ++j) {
            FUZZ_REQUIRE(other[i].entries[j].key == sections[i].entries[j].key);
            FUZZ_REQUIRE(other[i].entries[j].value == sections[i].entries[j].value);
        }
    }
}

// A write adds one pair (and the section when it is new); the value is
// visible unless the first section of that name already had the key, and no
// other read changes.
void checkWrite(MemorySettings& parsed, const WideString& section, const WideString& key, const WideString& value) {
    MemorySettings settings = parsed;
    const List<Section>& before = parsed.sections();
    size_t at = firstSectionNamed(before, section);
    const Entry* existing = at < before.size() ? firstEntry(before[at], key) : nullptr;

    settings.write(section, key, value);
    const List<Section>& after = settings.sections();
    FUZZ_REQUIRE(after.size() == before.size() + (at == before.size() ? 1 : 0));
    FUZZ_REQUIRE(settings.read(section, key) == (existing ? existing->value : value));
    size_t pairsBefore = 0, pairsAfter = 0;
    for (const Section& s : before) pairsBefore += s.entries.size();
    for (const Section& s : after) pairsAfter += s.entries.size();
    FUZZ_REQUIRE(pairsAfter == pairsBefore + 1);
    for (const Section& s : before) {
        for (const Entry& e : s.entries) {
            if (s.name == section && e.key == key) continue;
            FUZZ_REQUIRE(settings.read(s.name, e.key) == parsed.read(s.name, e.key));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    NarrowString bytes(reinterpret_cast<const char*>(data), size);
    WideString text = decodeSettingsText(bytes);
    checkDecoding(bytes, text);

    MemorySettings settings(text);
    const List<Section>& sections = settings.sections();
    FUZZ_REQUIRE(sections.size() <= splitAt(text, u'\n').size());
    checkShape(sections);
    checkReads(settings);
    checkRoundTrip(sections);

    // Writes into an existing section (new key and existing key) and into a
    // new one, with values taken from the input.
    WideString value = text.size() > 16 ? text.left(16) : text;
    if (!sections.empty()) {
        const Section& last = sections.back();
        checkWrite(settings, last.name, WideString(u"Fuzz Key"), value);
        if (!last.entries.empty()) checkWrite(settings, last.name, last.entries.back().key, value);
        checkWrite(settings, sections.front().name, WideString(), value);
    }
    checkWrite(settings, WideString(u"Fuzz Section"), WideString(u"Key"), value);
    return 0;
}
