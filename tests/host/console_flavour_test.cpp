// The console flavour's decisions: how a report reads on the standard error,
// the missing runtime told instead of asked for, and console control events
// before a virtual machine exists.
#include "launcher/launcher.h"
#include "runtime/missing_runtime.h"
#include "runtime/missing_runtime_dialog_host.h"
#include "support/console_text.h"
#include "support/messages.h"
#include "support/platform.h"
#include "test_support.h"
#include "vm/console_control.h"

namespace {

TEST(ConsoleLines, ExactTextWithWindowsLineEndsAndOneFinalBreak) {
    struct Case {
        const char* text;
        const char* lines;
    } const cases[] = {
        {"Main class was not specified in INI file.", "Main class was not specified in INI file.\r\n"},
        {"No main method found in specified class.\n", "No main method found in specified class.\r\n"},
        {"JNI exception: failed\nReason: .\n", "JNI exception: failed\r\nReason: .\r\n"},
        {"already\r\nwindows\r\n", "already\r\nwindows\r\n"},
        {"lone\rreturn\r", "lone\r\nreturn\r\n"},
        {"two\n\nbreaks", "two\r\n\r\nbreaks\r\n"},
        {"\n", "\r\n"},
        {"", "\r\n"},
        {"  blanks kept  ", "  blanks kept  \r\n"},
        {"\xc3\xa9t\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x98\x80", "\xc3\xa9t\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x98\x80\r\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(U(consoleLines(W(c.text))), c.lines) << c.text;
}

TEST(ConsoleEvents, InterruptsAndTheConsoleGoingAwayEndTheProgramLogoffNothing) {
    struct Case {
        uint32_t event;
        int32_t code;  // 0: the event ends nothing
    } const cases[] = {
        {kConsoleCtrlC, 130}, {kConsoleCtrlBreak, 130}, {kConsoleClose, 143}, {kConsoleShutdown, 143},
        {kConsoleLogoff, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(consoleEventExitCode(c.event), c.code) << c.event;
}

class ConsoleFlavourTest : public LauncherTest {
protected:
    void TearDown() override { setMissingRuntimeDialogScript(nullptr); }
};

TEST_F(ConsoleFlavourTest, ReportsGoToStandardErrorInsteadOfBoxes) {
    struct Case {
        bool console;
        size_t boxes;
        const char* standardError;
    } const cases[] = {
        {false, 1, ""},
        {true, 0, "Windows exception: cannot find CreateJavaVM JNI (errno = 5).\r\n"},
    };
    for (const Case& c : cases) {
        platform::host::reset();
        platform::host::setConsoleFlavour(c.console);
        platform::host::setLastError(5);
        reportError(nullptr, LaunchError::system(MsgNoCreateJavaVM));
        EXPECT_EQ(platform::host::shownMessages().size(), c.boxes) << c.console;
        EXPECT_EQ(U(platform::host::standardError()), c.standardError) << c.console;
    }
}

TEST_F(ConsoleFlavourTest, MissingRuntimeIsToldWithTheAddressAndNotAsked) {
    struct Case {
        const char* runtimeSettings;
        const char* told;
    } const cases[] = {
        {"", "The Java Runtime Environment (JRE) was not found. Please  download and install a JRE "
             "(latest version) from:\r\nhttps://adoptium.net/\r\n"},
        {"JVM Type=server\nMinimum Version=1.6\nMaximum Version=1.7\n",
         "The Java Runtime Environment (JRE) was not found. Please  download and install a JRE with a "
         "server JVM (version between 1.6 and 1.7) from:\r\nhttps://adoptium.net/\r\n"},
    };
    for (const Case& c : cases) {
        platform::host::reset();
        platform::host::setModulePath(executable());
        platform::host::setConsoleFlavour(true);
        settings(std::string("[Java Runtime Environment]\nMain Class=app.Main\n") + c.runtimeSettings);
        setMissingRuntimeDialogScript(nullptr);
        Launcher launcher;
        EXPECT_FALSE(launcher.initialise());
        EXPECT_EQ(missingRuntimeDialogShowings(), 0);
        EXPECT_EQ(U(platform::host::standardError()), c.told);
        EXPECT_TRUE(launcher.jvmLibraryPath.empty());
    }
}

TEST_F(ConsoleFlavourTest, ControlEventBeforeTheVirtualMachineIsLeftToTheSystem) {
    struct Case {
        bool console;
        bool installed;
    } const cases[] = {{false, false}, {true, true}};
    for (const Case& c : cases) {
        platform::host::reset();
        platform::host::setConsoleFlavour(c.console);
        Launcher launcher;
        platform::onConsoleControl(endJavaProgram);
        bool handled = true;
        EXPECT_EQ(platform::host::raiseConsoleControl(130, handled), c.installed) << c.console;
        // No virtual machine yet: the default handling ends the process.
        if (c.installed) {
            EXPECT_FALSE(handled);
        }
    }
}

}  // namespace
