// The single-instance block: names, and the argument area written by a
// second instance and read back by the first.
#include "instance/instance_block.h"

#include <string.h>

#include "test_support.h"

namespace {

TEST(InstanceBlockTest, NamesDeriveFromTheModulePath) {
    struct Case {
        const char* modulePath;
        const char* name;
    } cases[] = {
        {"C:\\Apps\\Tool\\tool.exe", "C:_Apps_Tool_tool.exe"},
        // Letter case and every other character are kept.
        {"C:\\Program Files\\Äpp 日本\\App.EXE", "C:_Program Files_Äpp 日本_App.EXE"},
        {"\\\\server\\share\\a.exe", "__server_share_a.exe"},
    };
    for (const Case& c : cases) {
        WideString name = instanceName(W(c.modulePath));
        EXPECT_EQ(U(name), c.name);
        EXPECT_EQ(U(instanceEventName(name)), std::string(c.name) + "_upr_evt");
        EXPECT_EQ(U(instanceMutexName(name)), std::string(c.name) + "_upr_mtx");
    }
}

TEST(InstanceBlockTest, LongNamesDoNotFit) {
    struct Case {
        size_t length;
        bool fits;
    } cases[] = {
        {0, false}, {1, true}, {251, true},
        // 252 still names a message, but not the event ("_upr_evt" makes 260).
        {252, false}, {255, false}, {300, false},
    };
    for (const Case& c : cases) {
        WideString name(std::u16string(c.length, u'x'));
        EXPECT_EQ(instanceNamesFit(name), c.fits) << c.length;
    }
}

TEST(InstanceBlockTest, LayoutIsFixed) {
    EXPECT_EQ(kInstanceBlockSize, 2092u);
    EXPECT_EQ(kArgumentAreaOffset, 32u);
    EXPECT_EQ(kArgumentAreaSize, 2060u);
    EXPECT_EQ(kArgumentWriteLimit, 1040u);
}

std::vector<uint8_t> freshArea() { return std::vector<uint8_t>(kArgumentAreaSize, 0xAB); }

TEST(InstanceBlockTest, RoundTripsAndReadBackRules) {
    struct Case {
        std::vector<const char*> written;
        std::vector<const char*> read;
    } cases[] = {
        {{"a", "b c", "Äpp 日本", "\xF0\x9F\x98\x80"}, {"a", "b c", "Äpp 日本", "\xF0\x9F\x98\x80"}},
        // No arguments arrive as one empty string.
        {{}, {""}},
        // An empty argument after the first ends the list.
        {{"a", "", "b"}, {"a"}},
        // An empty first argument arrives.
        {{"", "b"}, {"", "b"}},
        {{""}, {""}},
    };
    for (const Case& c : cases) {
        List<WideString> arguments;
        for (const char* a : c.written) arguments.push_back(W(a));
        std::vector<uint8_t> area = freshArea();
        ASSERT_TRUE(writeArgumentArea(area.data(), arguments));
        EXPECT_EQ(U(readArgumentArea(area.data(), area.size())), std::vector<std::string>(c.read.begin(), c.read.end()));
    }
}

TEST(InstanceBlockTest, WriterClearsExactlyTheFirst1040Bytes) {
    std::vector<uint8_t> area = freshArea();
    ASSERT_TRUE(writeArgumentArea(area.data(), {W("ab")}));
    const uint8_t expected[] = {'a', 0, 'b', 0, 0, 0, 0, 0};
    EXPECT_EQ(memcmp(area.data(), expected, sizeof expected), 0);
    for (size_t i = 8; i < kArgumentWriteLimit; ++i) ASSERT_EQ(area[i], 0) << i;
    for (size_t i = kArgumentWriteLimit; i < area.size(); ++i) ASSERT_EQ(area[i], 0xAB) << i;
}

TEST(InstanceBlockTest, TheLimitIs1040BytesWithTerminators) {
    // One argument of n units takes 2 * (n + 1) + 2 bytes: 518 units fill 1040.
    struct Case {
        std::vector<size_t> lengths;
        size_t bytes;
        bool fits;
    } cases[] = {
        {{518}, 1040, true},
        {{519}, 1042, false},
        {{258, 259}, 1040, true},
        {{258, 260}, 1042, false},
        {std::vector<size_t>(519, 0), 1040, true},
        {std::vector<size_t>(520, 0), 1042, false},
        {{}, 2, true},
    };
    for (const Case& c : cases) {
        List<WideString> arguments;
        for (size_t length : c.lengths) arguments.push_back(WideString(std::u16string(length, u'x')));
        EXPECT_EQ(argumentAreaBytes(arguments), c.bytes);
        EXPECT_EQ(argumentsFit(arguments), c.fits) << c.bytes;
        std::vector<uint8_t> area = freshArea();
        EXPECT_EQ(writeArgumentArea(area.data(), arguments), c.fits);
        if (!c.fits) {
            EXPECT_EQ(area[0], 0xAB) << "nothing is written when the list does not fit";
        }
    }
}

TEST(InstanceBlockTest, ReadingStopsAtTheEndOfTheBlock) {
    struct Case {
        std::u16string units;
        std::vector<std::string> read;
    } cases[] = {
        // A string still open at the end is dropped.
        {std::u16string(u"ab") + u'\0' + u"cd", {"ab"}},
        {u"abc", {}},
        // A zero in the last place ends the string and the walk.
        {std::u16string(u"ab") + u'\0' + u"cd" + u'\0', {"ab", "cd"}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> area;
        for (char16_t unit : c.units) {
            area.push_back(static_cast<uint8_t>(unit & 0xFF));
            area.push_back(static_cast<uint8_t>(unit >> 8));
        }
        EXPECT_EQ(U(readArgumentArea(area.data(), area.size())), c.read);
    }
}

}  // namespace
