// The platform's profile-string functions where the system has none (Linux,
// and the build machine in the tests): the settings file's reader and writer
// of profile_text.cpp over the whole file's bytes.
#include "support/platform.h"
#include "support/profile_text.h"

namespace {

// The file as last read: a launch reads some thirty values, and parsing the
// file once serves them all. Its bytes are read each time, so a change by
// anyone is seen at once.
struct ParsedFile {
    WideString path;
    NarrowString bytes;
    profile::ProfileText text{WideString()};
};

const profile::ProfileText& parsedFile(const WideString& path) {
    static ParsedFile cache;
    NarrowString bytes;
    if (!platform::readWholeFile(path, bytes)) bytes.clear();
    if (cache.path != path || cache.bytes != bytes) {
        cache.path = path;
        cache.text = profile::ProfileText(profile::decodeText(bytes));
        cache.bytes = bytes;
    }
    return cache.text;
}

// The system reader's buffer rules: the count leaves out the terminator; a
// text longer than the buffer is cut to size - reserve characters.
uint32_t copyOut(const WideString& text, char16_t* buffer, uint32_t size, uint32_t reserve) {
    if (size == 0) return 0;
    if (text.size() + reserve <= size) {
        for (size_t i = 0; i < text.size(); ++i) buffer[i] = text[i];
        buffer[text.size()] = 0;
        if (reserve == 2) buffer[text.size() + 1] = 0;
        return static_cast<uint32_t>(text.size());
    }
    uint32_t kept = size > reserve ? size - reserve : 0;
    for (uint32_t i = 0; i < kept; ++i) buffer[i] = text[i];
    buffer[kept] = 0;
    if (reserve == 2 && kept + 1 < size) buffer[kept + 1] = 0;
    return kept;
}

bool rewriteFile(const WideString& path, const WideString& section, const WideString& key, const WideString* value) {
    NarrowString bytes;
    bool present = platform::readWholeFile(path, bytes);
    if (!present && !value) return true;
    WideString text = present ? profile::decodeText(bytes) : WideString();
    WideString changed = profile::rewriteProfileText(text, section, key, value);
    if (present && changed == text) return true;
    return platform::replaceWholeFile(path, profile::encodeLike(bytes, changed));
}

}  // namespace

namespace platform {

uint32_t readProfileString(const WideString& path, const WideString& section, const WideString& key,
                           char16_t* buffer, uint32_t size) {
    return copyOut(parsedFile(path).read(section, key), buffer, size, 1);
}

uint32_t readProfileSectionNames(const WideString& path, char16_t* buffer, uint32_t size) {
    WideString all;
    for (const WideString& name : parsedFile(path).sectionNames()) {
        all += name;
        all += u'\0';
    }
    if (all.empty()) {
        if (size >= 2) buffer[0] = buffer[1] = 0;
        return 0;
    }
    // The list ends in two NULs; the count covers the last name's NUL.
    WideString body = all.left(all.size() - 1);
    return copyOut(body, buffer, size, 2) + (body.size() + 2 <= size ? 1 : 0);
}

bool writeProfileString(const WideString& path, const WideString& section, const WideString& key,
                        const WideString& value) {
    return rewriteFile(path, section, key, &value);
}

bool removeProfileString(const WideString& path, const WideString& section, const WideString& key) {
    return rewriteFile(path, section, key, nullptr);
}

}  // namespace platform
