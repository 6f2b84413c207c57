// The settings stores: the file, the built-in values in memory, and the
// layered store that reads built-in values under the file's.
#include "launcher/settings.h"

#include "test_support.h"
#include "tests/shared/settings_reader_rows.h"

namespace {

typedef std::vector<std::string> Strings;

// "name: key=value | key=value" per section, for compact comparisons.
Strings describe(const MemorySettings& settings) {
    Strings result;
    for (const MemorySettings::Section& section : settings.sections()) {
        std::string text = "[" + U(section.name) + "]";
        for (const MemorySettings::Entry& entry : section.entries)
            text += " <" + U(entry.key) + ">=<" + U(entry.value) + ">";
        result.push_back(text);
    }
    return result;
}

TEST(SettingsParserTest, BuiltInTextBecomesSectionsOfPairs) {
    struct Case {
        const char* text;
        Strings sections;
    } cases[] = {
        {"", {}},
        {"[A]\nk=v\n", {"[A] <k>=<v>"}},
        {"\xef\xbb\xbf[A]\nk=v", {"[A] <k>=<v>"}},  // U+FEFF at the start is dropped
        {"[A]\n\xef\xbb\xbfk=v", {"[A] <\xef\xbb\xbfk>=<v>"}},  // ... but nowhere else
        {"[A]\r\n  k  =  v w  \r\n\r\n", {"[A] <k>=<v w>"}},
        {"[A]\n\tk\t=\tv\t", {"[A] <k>=<v>"}},
        {"k=before any header\n[A]\nk=v", {"[A] <k>=<v>"}},
        {"[A]\nno separator\n=v\nk=\nk=a=b", {"[A] <>=<v> <k>=<> <k>=<a=b>"}},
        // Header: after trimming it begins with "[" and ends with "]"; the
        // name is everything between the first "[" and the last "]".
        {"  [ Java Runtime ]  \nk=v", {"[ Java Runtime ] <k>=<v>"}},
        {"[a]b]\n[]\n", {"[a]b]", "[]"}},
        {"[A]\n[A] = x\n[B]x\n", {"[A] <[A]>=<x>"}},
        {"[A]\nk=1\n[B]\nk=2\n[A]\nk=3\n", {"[A] <k>=<1>", "[B] <k>=<2>", "[A] <k>=<3>"}},
        {"[\xd0\xa1]\n\xd0\xba\xd0\xbb=\xe5\x80\xbc", {"[\xd0\xa1] <\xd0\xba\xd0\xbb>=<\xe5\x80\xbc>"}},
    };
    for (const Case& c : cases) EXPECT_EQ(describe(MemorySettings(W(c.text))), c.sections) << c.text;
}

TEST(SettingsParserTest, ParsingReplacesEarlierContent) {
    MemorySettings settings(W("[A]\nk=1"));
    settings.parse(W("[B]\nk=2"));
    EXPECT_EQ(describe(settings), Strings({"[B] <k>=<2>"}));
}

TEST(MemorySettingsTest, ReadIsExactAndTheFirstSectionOfANameWins) {
    MemorySettings settings(W("[Java]\nKey=1\nKey=2\n[Java]\nOther=3\n[java]\nKey=4\n"));
    EXPECT_EQ(U(settings.read(W("Java"), W("Key"))), "1");
    EXPECT_EQ(U(settings.read(W("java"), W("Key"))), "4");
    EXPECT_EQ(U(settings.read(W("Java"), W("key"))), "");
    EXPECT_EQ(U(settings.read(W("Java"), W("Other"))), "");  // under the second header: never found
    EXPECT_EQ(U(settings.read(W("Missing"), W("Key"))), "");
    EXPECT_EQ(U(settings.sectionNames()), Strings({"Java", "Java", "java"}));
}

TEST(MemorySettingsTest, WriteAppendsAndAnEarlierPairKeepsWinning) {
    MemorySettings settings(W("[A]\nk=old\n"));
    settings.write(W("A"), W("k"), W("new"));
    settings.write(W("A"), W("n"), W("1"));
    settings.write(W("B"), W("k"), W("2"));
    settings.write(W("a"), W("k"), W("3"));
    EXPECT_EQ(U(settings.read(W("A"), W("k"))), "old");
    EXPECT_EQ(U(settings.read(W("A"), W("n"))), "1");
    EXPECT_EQ(U(settings.read(W("B"), W("k"))), "2");
    EXPECT_EQ(describe(settings), Strings({"[A] <k>=<old> <k>=<new> <n>=<1>", "[B] <k>=<2>", "[a] <k>=<3>"}));
    settings.deleteFile();
    EXPECT_EQ(settings.sections().size(), 3u);
}

TEST(SettingsDecodingTest, Utf8AndUtf16LittleEndianWithMark) {
    struct Case {
        NarrowString bytes;
        const char* text;
    } cases[] = {
        {NarrowString("[A]\nk=\xc3\xa9"), "[A]\nk=\xc3\xa9"},
        {NarrowString("\xef\xbb\xbf[A]"), "[A]"},
        {NarrowString("\xff\xfe[\0A\0]\0\n\0k\0=\0\xe9\0", 16), "[A]\nk=\xc3\xa9"},
        {NarrowString("\xff\xfe" "A\0=\0\x3d\xd8\x00\xde", 10), "A=\xf0\x9f\x98\x80"},  // surrogate pair kept
        {NarrowString("\xff\xfe" "A\0B", 5), "A"},  // a trailing odd byte is dropped
        {NarrowString("\xff\xfe", 2), ""},
        {NarrowString(), ""},
    };
    for (const Case& c : cases) EXPECT_EQ(U(decodeSettingsText(c.bytes)), c.text);
}

class SettingsFileTest : public PlatformTest {
protected:
    ScratchFolder folder;
};

TEST_F(SettingsFileTest, ValuesOfAnyLengthAreReadWhole) {
    const size_t lengths[] = {0, 1, 254, 255, 256, 257, 510, 511, 512, 4095, 4096, 4097, 70000};
    for (size_t length : lengths) {
        std::string value;
        for (size_t i = 0; i < length; ++i) value += static_cast<char>('a' + i % 26);
        WideString path = folder.write("long.ini", "[Section]\nBefore=x\nKey=" + value + "\nAfter=y\n");
        SettingsFile file(path);
        EXPECT_EQ(U(file.read(W("Section"), W("Key"))), value) << "length " << length;
        EXPECT_EQ(U(file.read(W("section"), W("KEY"))), value) << "length " << length;
    }
}

// The rows the Windows tests check against the system's reader.
TEST_F(SettingsFileTest, ReadsEveryLineAsTheWindowsReaderDoes) {
    for (const SettingsReaderRow& row : kSettingsReaderRows) {
        SettingsFile file(folder.write("table.ini", row.text));
        EXPECT_EQ(U(file.read(W(row.section), W(row.key))), row.value) << row.text << " / " << row.key;
    }
}

TEST_F(SettingsFileTest, Utf16FileIsRead) {
    std::string bytes("\xff\xfe", 2);
    for (const char* p = "[S]\r\nKey=\xe9t\xe9\r\n"; *p; ++p) {
        bytes += *p;
        bytes += '\0';
    }
    SettingsFile file(folder.write("wide.ini", bytes));
    EXPECT_EQ(U(file.read(W("S"), W("Key"))), "\xc3\xa9t\xc3\xa9");
}

TEST_F(SettingsFileTest, SectionNamesAreWalkedWhole) {
    std::vector<Strings> layouts = {
        {},
        {"A"},
        {std::string(252, 's')},
        {std::string(253, 's')},
        {std::string(254, 's')},
        {std::string(255, 's')},
        {std::string(256, 's')},
        {std::string(1000, 's'), "B"},
        {"A", std::string(126, 'b'), std::string(126, 'c')},
    };
    Strings many;
    for (int i = 0; i < 150; ++i) many.push_back("Section " + std::to_string(i));
    layouts.push_back(many);
    for (const Strings& names : layouts) {
        std::string text;
        for (const std::string& name : names) text += "[" + name + "]\nk=v\n";
        SettingsFile file(folder.write("sections.ini", text));
        EXPECT_EQ(U(file.sectionNames()), names) << names.size() << " sections, first "
                                                  << (names.empty() ? 0 : names[0].size()) << " long";
    }
    EXPECT_TRUE(SettingsFile(folder.path() + u"missing.ini").sectionNames().empty());
    // An empty name is not listed.
    EXPECT_EQ(U(SettingsFile(folder.write("empty.ini", "[]\nk=v\n[B]\n")).sectionNames()), Strings({"B"}));
}

class LayeredSettingsTest : public SettingsFileTest {};

TEST_F(LayeredSettingsTest, FileValueWinsAndPlusSectionExtendsTheBuiltInValue) {
    const char* builtIn = "[Java Runtime Environment]\nVirtual Machine Parameters=-Xmx256m\nMain Class=a.B\n"
                          "[Application]\nCmd=x\n";
    struct Case {
        const char* file;
        const char* section;
        const char* key;
        const char* value;
    } cases[] = {
        {"[Java Runtime Environment]\nVirtual Machine Parameters=-Xmx1g\n", "Java Runtime Environment",
         "Virtual Machine Parameters", "-Xmx1g"},
        {"[Java Runtime Environment+]\nVirtual Machine Parameters=-Dx=1\n", "Java Runtime Environment",
         "Virtual Machine Parameters", "-Xmx256m -Dx=1"},
        // An empty value in the file counts as absent.
        {"[Java Runtime Environment]\nVirtual Machine Parameters=\n[Java Runtime Environment+]\n"
         "Virtual Machine Parameters=-Dx=1\n",
         "Java Runtime Environment", "Virtual Machine Parameters", "-Xmx256m -Dx=1"},
        // Both given: the file's own value wins, the "+" value is not added.
        {"[Java Runtime Environment]\nVirtual Machine Parameters=-Xmx1g\n[Java Runtime Environment+]\n"
         "Virtual Machine Parameters=-Dx=1\n",
         "Java Runtime Environment", "Virtual Machine Parameters", "-Xmx1g"},
        {"[Application+]\nCmd=y z\n", "Application", "Cmd", "x y z"},
        // Without a built-in value the result begins with the space.
        {"[Application+]\nOutput File=out.txt\n", "Application", "Output File", " out.txt"},
        {"", "Java Runtime Environment", "Main Class", "a.B"},
        {"[Java Runtime Environment+]\nOther=1\n", "Java Runtime Environment", "Main Class", "a.B"},
        {"", "Application", "Missing", ""},
        // The file is read in any case; the built-in values only exactly.
        {"[java runtime environment+]\nvirtual machine parameters=-Dx=1\n", "Java Runtime Environment",
         "Virtual Machine Parameters", "-Xmx256m -Dx=1"},
        {"", "java runtime environment", "Main Class", ""},
    };
    for (const Case& c : cases) {
        WideString path = folder.write("layered.ini", c.file);
        LayeredSettingsFile layered(path, W(builtIn));
        SettingsStore& asFile = static_cast<SettingsFile&>(layered);
        SettingsStore& asMemory = static_cast<MemorySettings&>(layered);
        EXPECT_EQ(U(asFile.read(W(c.section), W(c.key))), c.value) << c.file << " / " << c.key;
        EXPECT_EQ(U(asMemory.read(W(c.section), W(c.key))), c.value) << c.file << " / " << c.key;
    }
}

TEST_F(LayeredSettingsTest, MissingFileReadsTheBuiltInValues) {
    LayeredSettingsFile layered(folder.path() + u"absent.ini", W("[A]\nk=builtin\n"));
    EXPECT_EQ(U(static_cast<SettingsFile&>(layered).read(W("A"), W("k"))), "builtin");
    LayeredSettingsFile empty(folder.path() + u"absent.ini", WideString());
    EXPECT_EQ(U(static_cast<SettingsFile&>(empty).read(W("A"), W("k"))), "");
}

TEST_F(LayeredSettingsTest, OtherOperationsActOnTheirOwnBase) {
    WideString path = folder.write("layered.ini", "[FileSection]\nk=file\n");
    LayeredSettingsFile layered(path, W("[BuiltIn]\nk=builtin\n"));
    SettingsStore& asFile = static_cast<SettingsFile&>(layered);
    SettingsStore& asMemory = static_cast<MemorySettings&>(layered);
    EXPECT_EQ(U(asFile.sectionNames()), Strings({"FileSection"}));
    EXPECT_EQ(U(asMemory.sectionNames()), Strings({"BuiltIn"}));

    asMemory.write(W("Memory"), W("k"), W("m"));
    asFile.write(W("Written"), W("k"), W("f"));
    EXPECT_EQ(U(asMemory.sectionNames()), Strings({"BuiltIn", "Memory"}));
    EXPECT_EQ(U(asFile.sectionNames()), Strings({"FileSection", "Written"}));
    EXPECT_EQ(U(SettingsFile(path).read(W("Memory"), W("k"))), "");
    EXPECT_EQ(U(asFile.read(W("Memory"), W("k"))), "m");
    // A section the file gained after the store was made is read too.
    EXPECT_EQ(U(asFile.read(W("Written"), W("k"))), "f");
    asFile.write(W("Memory+"), W("k"), W("more"));
    EXPECT_EQ(U(asFile.read(W("Memory"), W("k"))), "m more");

    asMemory.deleteFile();
    EXPECT_EQ(U(SettingsFile(path).read(W("FileSection"), W("k"))), "file");
    asFile.deleteFile();
    EXPECT_EQ(U(SettingsFile(path).read(W("FileSection"), W("k"))), "");
    EXPECT_EQ(U(asFile.read(W("BuiltIn"), W("k"))), "builtin");
}

}  // namespace
