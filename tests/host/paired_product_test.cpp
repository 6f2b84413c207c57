// The paired program's command line and image check, and the single-instance
// switch of the settings.
#include "instance/paired_product.h"

#include <fstream>
#include <iterator>

#include "instance/single_instance.h"
#include "launcher/launcher.h"
#include "launcher/launcher_settings.h"
#include "test_support.h"

namespace {

TEST(PairedProductTest, RemainderIsTheRawRestAfterTheProgramName) {
    struct Case {
        const char* commandLine;
        const char* remainder;
    } cases[] = {
        {"\"C:\\Program Files\\App\\app.exe\" a \"b c\" d", "a \"b c\" d"},
        {"C:\\App\\app.exe a  b", "a  b"},
        {"  \"C:\\A b\\app.exe\"    x y  ", "x y"},
        {"\"C:\\A b\\app.exe\"", ""},
        {"C:\\App\\app.exe", ""},
        {"", ""},
        // Directly after the closing quote the next argument begins.
        {"\"C:\\App\\app.exe\"x y", "x y"},
        // An unterminated quote makes the whole line the program name.
        {"\"C:\\App\\app.exe x y", ""},
        // Tabs do not separate; quotes and backslashes are kept as typed.
        {"app.exe\tx y", "y"},
        {"app.exe \"a\\\"b\" \\\\srv\\d", "\"a\\\"b\" \\\\srv\\d"},
        {"app.exe \"Äpp 日本.txt\"", "\"Äpp 日本.txt\""},
    };
    for (const Case& c : cases) EXPECT_EQ(U(commandLineRemainder(W(c.commandLine))), c.remainder) << c.commandLine;
}

TEST(PairedProductTest, CommandLineQuotesThePath) {
    EXPECT_EQ(U(pairedCommandLine(W("C:\\Prog Files\\Äpp\\app64.exe"), W("\"C:\\A\\app.exe\" \"x y\" z"))),
              "\"C:\\Prog Files\\Äpp\\app64.exe\" \"x y\" z");
    EXPECT_EQ(U(pairedCommandLine(W("C:\\App\\app64.exe"), W("app.exe"))), "\"C:\\App\\app64.exe\" ");
}

std::string image(uint16_t machine, uint16_t characteristics, size_t size = 0x200) {
    return peImage(machine, characteristics, size);
}

TEST(PairedProductTest, OnlyThePartnersExecutableIsStarted) {
    // The host build is the 64-bit one: its partner is x86.
    EXPECT_EQ(kPartnerMachine, kMachineI386);
    struct Case {
        const char* name;
        std::string bytes;
        bool partner;
    } cases[] = {
        {"x86 executable", image(0x014C, 0x0102), true},
        {"own processor", image(0x8664, 0x0022), false},
        {"arm64", image(0xAA64, 0x0022), false},
        {"x86 library", image(0x014C, 0x2102), false},
        {"not marked executable", image(0x014C, 0x0100), false},
        {"cut inside the file header", image(0x014C, 0x0102, 0x90), false},
        {"text", "not an image", false},
        {"empty", "", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isPartnerExecutable(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()), c.partner)
            << c.name;
}

TEST(PairedProductTest, BuiltLaunchersArePartners) {
    std::ifstream file(LAUNCHER_SOURCE_DIR "/dist/x86/launcher.exe", std::ios::binary);
    if (!file) GTEST_SKIP() << "no cross-built x86 launcher in dist/";
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(isPartnerExecutable(bytes.data(), bytes.size()));
}

class SingleInstanceSettingsTest : public LauncherTest {};

TEST_F(SingleInstanceSettingsTest, OnlyExactlyYesAndNoService) {
    struct Case {
        const char* application;
        bool wanted;
    } cases[] = {
        {"Single Instance=yes\n", true},
        {"Single Instance=Yes\n", false},
        {"Single Instance=YES\n", false},
        {"Single Instance=true\n", false},
        {"Single Instance=\n", false},
        {"", false},
        {"Single Instance=yes\nApplication Type=service\n", false},
        {"Single Instance=yes\nApplication Type=Service\n", true},
    };
    for (const Case& c : cases) {
        settings(std::string("[Java Runtime Environment]\nMain Class=App\n[Application]\n") + c.application);
        Launcher launcher;
        ASSERT_TRUE(readLauncherSettings(launcher));
        EXPECT_EQ(singleInstanceWanted(launcher), c.wanted) << c.application;
    }
}

TEST_F(SingleInstanceSettingsTest, BuiltInSettingsCanAskForIt) {
    platform::host::setBuiltInSettings("[Application]\r\nSingle Instance=yes\r\n");
    settings("[Java Runtime Environment]\nMain Class=App\n");
    Launcher launcher;
    ASSERT_TRUE(readLauncherSettings(launcher));
    EXPECT_TRUE(singleInstanceWanted(launcher));
}

}  // namespace
