// The settings file read and written as the Windows profile functions do it,
// for the systems that have no such functions (Linux, and the build machine
// in the tests): one reader, so that a file written for Windows means the
// same everywhere.
#ifndef SUPPORT_PROFILE_TEXT_H
#define SUPPORT_PROFILE_TEXT_H

#include "support/wide_string.h"

namespace profile {

// A settings text split into sections as the Windows reader splits it: a line
// is cut at "\n" and trimmed; one that begins with "[" and holds a "]" names a
// section (the text up to its last "]", whatever follows); any other line is
// a key, with the text after its first "=" as the value. Keys before the first
// section and sections without a name are never found.
class ProfileText {
public:
    struct Key {
        WideString name;
        WideString value;
    };
    struct Section {
        WideString name;
        List<Key> keys;
    };

    explicit ProfileText(const WideString& text);
    // The first section of that name (letter case aside) decides, and in it
    // the first key of that name; one pair of surrounding quotes, single or
    // double, is dropped. Empty when either is absent.
    WideString read(const WideString& section, const WideString& key) const;
    // The named sections in file order, duplicates included.
    List<WideString> sectionNames() const;

private:
    List<Section> sections_;
};

// The text with one key set to value (or removed when value is null), in the
// section the reader would find it; every other line stays as it was. A new
// key goes after the section's last key line, a new section at the end.
WideString rewriteProfileText(const WideString& text, const WideString& section, const WideString& key,
                              const WideString* value);

// The file's bytes as text: UTF-16LE with its byte-order mark, or UTF-8 with
// or without one. And the text as bytes again in the encoding it was read in.
WideString decodeText(const NarrowString& bytes);
NarrowString encodeLike(const NarrowString& original, const WideString& text);

}  // namespace profile

#endif
