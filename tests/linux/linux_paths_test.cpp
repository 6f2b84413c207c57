// The Linux edge's decisions: how the shared settings file's paths are
// taken, versions from folder names, processors from ELF headers, and
// settings written back in the file's own encoding.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "launcher/environment.h"
#include "launcher/launcher_settings.h"
#include "runtime/elf_image.h"
#include "runtime/java_home.h"
#include "runtime/pe_image.h"
#include "support/dialog_linux.h"
#include "support/platform.h"
#include "support/platform_linux.h"

namespace {

std::string utf8(const WideString& text) { return std::string(toUtf8(text).c_str()); }

std::string utf16(const char16_t* text) {
    std::string bytes;
    for (; *text; ++text) {
        bytes += static_cast<char>(*text & 0xFF);
        bytes += static_cast<char>(*text >> 8);
    }
    return bytes;
}

TEST(LinuxSettingsPaths, WindowsFormsAreClassifiedThenConverted) {
    struct Row {
        const char16_t* value;
        PathForm form;
        const char* native;  // after settingsPath; "" when passed over
    } rows[] = {
        {u"\\lib\\app.jar", PathForm::Relative, "/lib/app.jar"},  // stays relative to the launcher's folder
        {u"lib\\app.jar", PathForm::Relative, "lib/app.jar"},
        {u"/opt/app/lib/app.jar", PathForm::Absolute, "/opt/app/lib/app.jar"},
        {u"C:\\Program Files\\Java", PathForm::Foreign, ""},
        {u"c:relative", PathForm::Foreign, ""},
        {u"\\\\server\\share\\x.jar", PathForm::Foreign, ""},
        {u"logs/out.log", PathForm::Relative, "logs/out.log"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(utf8(row.value));
        EXPECT_EQ(settingsPathForm(row.value), row.form);
        WideString value = row.value;
        EXPECT_EQ(settingsPath(value, u"Class Path"), row.form != PathForm::Foreign);
        EXPECT_EQ(utf8(value), row.native);
    }
}

TEST(LinuxSettingsPaths, ListsSplitAtSemicolonsAndColons) {
    List<WideString> items = settingsList(u"\\lib\\a.jar;/opt/b.jar:lib/c.jar;C:\\x.jar:d:/y.jar:e");
    std::string joined;
    for (const WideString& item : items) joined += utf8(item) + "|";
    // A drive's colon separates nothing.
    EXPECT_EQ(joined, "\\lib\\a.jar|/opt/b.jar|lib/c.jar|C:\\x.jar|d:/y.jar|e|");
}

TEST(LinuxSettingsPaths, SettingsFileIsTheWholeNameWithIniAppended) {
    EXPECT_EQ(utf8(settingsPathFor(u"/opt/app/MyApp")), "/opt/app/MyApp.ini");
    EXPECT_EQ(utf8(settingsPathFor(u"/opt/v1.2/org.example.App")), "/opt/v1.2/org.example.App.ini");
}

TEST(LinuxRuntimeVersions, FromFolderNames) {
    struct Row {
        const char16_t* name;
        bool parses;
        const char* version;
    } rows[] = {
        {u"java-17-openjdk-amd64", true, "17.0.0.0"},
        {u"java-1.17.0-openjdk-amd64", true, "17.0.0.0"},
        {u"jdk-21.0.2", true, "21.0.2.0"},
        {u"jdk1.8.0_392", true, "1.8.0.392"},
        {u"temurin-25-jdk-amd64", true, "25.0.0.0"},
        {u"default-java", false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(utf8(row.name));
        RuntimeVersion version;
        ASSERT_EQ(folderNameVersion(row.name, version), row.parses);
        if (!row.parses) continue;
        char text[64];
        snprintf(text, sizeof text, "%d.%d.%d.%d", version.major, version.minor, version.micro, version.update);
        EXPECT_STREQ(text, row.version);
    }
}

TEST(LinuxLibraries, ProcessorFromTheElfHeader) {
    auto header = [](uint8_t elfClass, uint16_t machine, uint16_t type) {
        std::string bytes(64, '\0');
        bytes[0] = 0x7F, bytes[1] = 'E', bytes[2] = 'L', bytes[3] = 'F';
        bytes[4] = static_cast<char>(elfClass), bytes[5] = 1;
        bytes[16] = static_cast<char>(type), bytes[18] = static_cast<char>(machine & 0xFF);
        bytes[19] = static_cast<char>(machine >> 8);
        return bytes;
    };
    struct Row {
        uint8_t elfClass;
        uint16_t machine;
        uint16_t type;
        bool valid;
        uint16_t expected;
    } rows[] = {
        {2, 62, 3, true, kMachineAmd64},   // x86-64 shared object
        {1, 3, 3, true, kMachineI386},     // 32-bit x86
        {2, 183, 3, true, kMachineArm64},  // aarch64
        {1, 62, 3, true, 0x7F3E},          // x32: not this launcher's
        {2, 62, 1, false, 0},              // a relocatable object
        {3, 62, 3, false, 0},              // no such class
    };
    for (const Row& row : rows) {
        std::string bytes = header(row.elfClass, row.machine, row.type);
        uint16_t machine = 0;
        EXPECT_EQ(elfMachine(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), machine), row.valid);
        if (row.valid) {
            EXPECT_EQ(machine, row.expected);
        }
    }
    uint16_t machine = 0;
    EXPECT_FALSE(elfMachine(reinterpret_cast<const uint8_t*>("MZ"), 2, machine));
}

class LinuxSettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/launcher-settings-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        path_ = folder_ + "/App.ini";
    }
    void TearDown() override {
        unlink(path_.c_str());
        rmdir(folder_.c_str());
    }
    void writeBytes(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
    std::string readBytes() {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }
    WideString path() { return platform::fromNative(path_.c_str()); }
    std::string folder_, path_;
};

TEST_F(LinuxSettingsFileTest, WritingKeepsTheEncodingAndTheOtherLines) {
    struct Row {
        const char* name;
        std::string before;
        std::string after;
    } rows[] = {
        {"UTF-8 with CRLF, key replaced", "; note\r\n[Java Runtime Environment]\r\nJRE Path=old\r\nMain Class=A\r\n",
         "; note\r\n[Java Runtime Environment]\r\nJRE Path=/opt/jdk \xC3\xA9\r\nMain Class=A\r\n"},
        {"UTF-8 mark kept, key added to its section", "\xEF\xBB\xBF[java runtime environment]\nMain Class=A\n\n[Other]\nx=1\n",
         "\xEF\xBB\xBF[java runtime environment]\nMain Class=A\nJRE Path=/opt/jdk \xC3\xA9\n\n[Other]\nx=1\n"},
        {"no section yet", "[Other]\nx=1\n", "[Other]\nx=1\n[Java Runtime Environment]\nJRE Path=/opt/jdk \xC3\xA9\n"},
        {"UTF-16", utf16(u"\uFEFF[A]\n"),
         utf16(u"\uFEFF[A]\n[Java Runtime Environment]\nJRE Path=/opt/jdk \u00e9\n")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        writeBytes(row.before);
        // A read first: the cached parse must not hide the write.
        char16_t buffer[64];
        platform::readProfileString(path(), u"Java Runtime Environment", u"JRE Path", buffer, 64);
        ASSERT_TRUE(platform::writeProfileString(path(), u"Java Runtime Environment", u"JRE Path", u"/opt/jdk \u00e9"));
        EXPECT_EQ(readBytes(), row.after);
        platform::readProfileString(path(), u"Java Runtime Environment", u"JRE Path", buffer, 64);
        EXPECT_EQ(utf8(WideString(buffer)), "/opt/jdk \xC3\xA9");
    }
}

TEST_F(LinuxSettingsFileTest, NamesThatAreNoUtf8SurviveTheFile) {
    // A folder named in Latin-1, as the system gives it, and a byte of the
    // same kind elsewhere in the file: both written back as they were.
    writeBytes("[Java Runtime Environment]\nMain Class=A\xE9\n");
    ASSERT_TRUE(platform::writeProfileString(path(), u"Java Runtime Environment", u"JRE Path",
                                             platform::fromNative("/opt/jdk-\xE9")));
    EXPECT_EQ(readBytes(), "[Java Runtime Environment]\nMain Class=A\xE9\nJRE Path=/opt/jdk-\xE9\n");
    char16_t buffer[64];
    platform::readProfileString(path(), u"Java Runtime Environment", u"JRE Path", buffer, 64);
    EXPECT_EQ(std::string(platform::toNative(WideString(buffer)).c_str()), "/opt/jdk-\xE9");
}

TEST(LinuxDialogs, ShownOnlyWithoutATerminalUnlessTheVariableSays) {
    struct Row {
        const char* setting;
        bool inputTerminal, errorTerminal, shown;
    } rows[] = {
        {nullptr, false, false, true},  // a menu or a file manager
        {nullptr, false, true, false},  // a terminal reads the standard error
        {nullptr, true, false, false},  // out=$(tool 2>&1) typed in a terminal
        {"", true, true, false},
        {"always", true, true, true},
        {"Always", true, false, true},
        {"NEVER", false, false, false},
        {"sometimes", false, false, true},  // no such value: the rule
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << (row.setting ? row.setting : "(unset)") << row.inputTerminal << row.errorTerminal);
        EXPECT_EQ(dialogs::wantedFor(row.setting, row.inputTerminal, row.errorTerminal), row.shown);
    }
}

TEST(LinuxDialogs, TextAsGtkTakesIt) {
    struct Row {
        std::string given, shown;
    } rows[] = {
        {"plain \xC3\xA9 \xF0\x9F\x98\x80", "plain \xC3\xA9 \xF0\x9F\x98\x80"},
        {std::string("Nul \0here", 9), "Nul \xE2\x90\x80here"},
        {"cut \xC3", "cut \xEF\xBF\xBD"},
        {"latin \xE9t\xE9", "latin \xEF\xBF\xBDt\xEF\xBF\xBD"},
        {"overlong \xC0\xAF", "overlong \xEF\xBF\xBD\xEF\xBF\xBD"},
        {"surrogate \xED\xA0\x80", "surrogate \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.shown);
        NarrowString shown = dialogs::shownText(NarrowString(row.given.data(), row.given.size()));
        EXPECT_EQ(std::string(shown.data(), shown.size()), row.shown);
    }
    EXPECT_EQ(std::string(dialogs::windowClassOf(u"org.example.App").c_str()), "org-example-App");
    EXPECT_EQ(std::string(dialogs::windowClassOf(u"org/example/App").c_str()), "org-example-App");
}

}  // namespace
