// One table of settings-file lines and what a read of (section, key) returns,
// shared by the host tests (the launcher's own reader) and the Windows tests
// (the system's reader), so that the two readers cannot drift apart.
#ifndef TESTS_SHARED_SETTINGS_READER_ROWS_H
#define TESTS_SHARED_SETTINGS_READER_ROWS_H

struct SettingsReaderRow {
    const char* text;  // the file's text, UTF-8
    const char* section;
    const char* key;
    const char* value;  // what the read returns
};

static const SettingsReaderRow kSettingsReaderRows[] = {
    // One pair of surrounding quotes, double or single, is dropped.
    {"[Java Runtime Environment]\nMain Class=\"com.example.App\"\n", "Java Runtime Environment", "Main Class",
     "com.example.App"},
    {"[Class Path]\nClass Path='\\lib\\app.jar'\n", "Class Path", "Class Path", "\\lib\\app.jar"},
    {"[J]\nVirtual Machine Parameters=\"-Xmx64m -Da=b\"\n", "J", "Virtual Machine Parameters", "-Xmx64m -Da=b"},
    {"[A]\nk=\" a \"\n", "A", "k", " a "},
    {"[A]\nk=\"a\" \"b\"\n", "A", "k", "a\" \"b"},
    {"[A]\nk=''\n", "A", "k", ""},
    {"[A]\nk=\"a'\n", "A", "k", "\"a'"},
    {"[A]\nk=\"a\n", "A", "k", "\"a"},
    {"[A]\nk=\"\n", "A", "k", "\""},
    {"[A]\nk=a \"b\"\n", "A", "k", "a \"b\""},
    // A section line with text after its "]" still starts the section.
    {"[A]\nk=1\n[Class Path]   ; the jars\nk=2\n", "Class Path", "k", "2"},
    {"[A]\nk=1\n[Class Path]   ; the jars\nk=2\n", "A", "k", "1"},
    // Of two sections with one name the first is used, even without the key.
    {"[A]\nk=1\n[A]\nk=2\nj=3\n", "A", "k", "1"},
    {"[A]\nk=1\n[A]\nk=2\nj=3\n", "A", "j", ""},
    {"[A]\nk=1\n[a]\nj=3\n", "A", "j", ""},
    // Of two keys, the first.
    {"[A]\nk=1\nk=2\n", "A", "k", "1"},
    // Names without regard to the case of A to Z; the asked names trimmed.
    {"[a]\nK=v\n", "A", "k", "v"},
    {"[A]\nk=v\n", " A ", " k ", "v"},
    {"[\xc3\x84 \xe6\x97\xa5]\nk=\xc3\xa9\n", "\xc3\x84 \xe6\x97\xa5", "K", "\xc3\xa9"},
    // White space around the line, the key and the value.
    {"  [A]  \n  k  =  v w  \n", "A", "k", "v w"},
    {"[A]\r\n\tk\t=\tv\t\r\n", "A", "k", "v"},
    {"[A]\nk=a=b\n", "A", "k", "a=b"},
    // Keys before any section, and a line without "=", give nothing.
    {"k=v\n[A]\n", "A", "k", ""},
    {"[A]\nk\n", "A", "k", ""},
    {"[A]\n;k=v\n", "A", "k", ""},
    // A "[" line without "]" is a key line of the section it stands in.
    {"[A]\n[B\nk=v\n", "A", "k", "v"},
    {"[A]\n[B\nk=v\n", "B", "k", ""},
    {"[A]\nk=v", "A", "k", "v"},
    {"", "A", "k", ""},
};

#endif
