// Redirection of the standard streams and the uncaught-exception report
// against the real virtual machine. Each test runs in a process of its own.
// The virtual machine runs on Linux here, so the output files are named in
// the host's own form ("/tmp/..."); the folder walk for Windows names has
// host tables of its own.
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "launcher/launcher.h"
#include "test_support.h"
#include "vm/exception_text.h"
#include "vm/redirect.h"
#include "vm/vm_start.h"

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

WideString H(const std::string& hostPath) { return fromUtf8(hostPath.data(), hostPath.size()); }

class OutputTest : public PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        launcher_.jvmLibraryPath = platform::host::windowsPath(JVM_LIBRARY);
        ASSERT_TRUE(loadVmLibrary(launcher_));
        option("-Djava.class.path=" + std::string(PROBE_CLASSES));
        option("-Dprobe.out=" + file("probe.txt"));
        option("-Xrs");
        option("-Xcheck:jni");
    }

    void option(const std::string& text) { launcher_.vmOptions.push_back(NarrowString(text.c_str())); }
    std::string file(const std::string& name) { return folder_.hostPath() + "/" + name; }
    std::string recorded() { return readFile(file("probe.txt")); }
    std::string traces() {
        std::string all;
        for (const WideString& trace : platform::host::shownExceptionTraces()) all += U(trace);
        return all;
    }

    ScratchFolder folder_;
    Launcher launcher_;
};

TEST_F(OutputTest, BothFilesAreCreatedAndReceiveOutputAtOnce) {
    launcher_.mainClass = W("probe/Printer");
    launcher_.outputFile = H(file("out.log"));
    launcher_.errorFile = H(file("err.log"));
    option("-Dprobe.outfile=" + file("out.log"));
    option("-Dprobe.errfile=" + file("err.log"));
    EXPECT_EQ(startVmThread(launcher_), static_cast<uint32_t>(VmThreadSucceeded));
    // main saw each line in its file right after printing it.
    EXPECT_EQ(recorded(), "out-seen=out line 1\n|err-seen=err line 1\n");
    EXPECT_EQ(readFile(file("out.log")), "out line 1\n");
    EXPECT_EQ(readFile(file("err.log")), "err line 1\n");
    EXPECT_TRUE(platform::host::shownMessages().empty());
}

TEST_F(OutputTest, AnExistingFileIsEmptiedFirst) {
    folder_.write("out.log", "earlier content, longer than what follows\n");
    launcher_.mainClass = W("probe/Printer");
    launcher_.outputFile = H(file("out.log"));
    EXPECT_EQ(startVmThread(launcher_), static_cast<uint32_t>(VmThreadSucceeded));
    EXPECT_EQ(readFile(file("out.log")), "out line 1\n");
}

// Two streams on one file would each write from its start, the error line
// over the output line.
TEST_F(OutputTest, OneFileForBothStreamsKeepsEveryLine) {
    launcher_.mainClass = W("probe/Printer");
    launcher_.outputFile = H(file("both.log"));
    launcher_.errorFile = H(file("both.log"));
    EXPECT_EQ(startVmThread(launcher_), static_cast<uint32_t>(VmThreadSucceeded));
    EXPECT_EQ(readFile(file("both.log")), "out line 1\nerr line 1\n");
}

TEST_F(OutputTest, OneFileUnderTwoNamesIsOpenedOnce) {
    mkdir(file("sub").c_str(), 0755);
    launcher_.mainClass = W("probe/Printer");
    launcher_.outputFile = H(file("both.log"));
    launcher_.errorFile = H(file("sub/../both.log"));
    EXPECT_EQ(startVmThread(launcher_), static_cast<uint32_t>(VmThreadSucceeded));
    EXPECT_EQ(readFile(file("both.log")), "out line 1\nerr line 1\n");
}

TEST_F(OutputTest, ARelativeNameInAMissingFolderLeavesTheStreamAlone) {
    WorkingDirectory here(folder_.hostPath());
    launcher_.mainClass = W("probe/Printer");
    launcher_.outputFile = W("logs/out.log");
    launcher_.errorFile = H(file("err.log"));
    EXPECT_EQ(startVmThread(launcher_), static_cast<uint32_t>(VmThreadSucceeded));
    EXPECT_FALSE(exists(file("logs")));
    EXPECT_TRUE(platform::host::shownMessages().empty());
    // The error stream is redirected all the same.
    EXPECT_EQ(readFile(file("err.log")), "err line 1\n");
}

TEST_F(OutputTest, TheDialogShowsTheExactPrintedTrace) {
    // A default charset that cannot spell the message, as on Windows runtimes
    // up to Java 17 (the runtime here honours the property).
    option("-Dfile.encoding=ISO-8859-1");
    launcher_.mainClass = W("probe/CausedThrower");
    launcher_.failureCheck = true;
    EXPECT_EQ(startVmThread(launcher_), static_cast<uint32_t>(VmThreadMainThrew));
    std::string expected = recorded();
    ASSERT_NE(expected.find("Caused by: java.lang.IllegalArgumentException: inner cause \xC3\xBC"), std::string::npos)
        << expected;
    ASSERT_NE(expected.find("... 1 more"), std::string::npos) << expected;
    ASSERT_EQ(platform::host::shownExceptionTraces().size(), 1u);
    // Exactly, non-ASCII message and the character outside the basic plane included.
    EXPECT_EQ(traces(), expected);
    EXPECT_EQ(traces().substr(0, traces().find('\n')),
              "java.lang.IllegalStateException: \xC3\x9Cn\xC3\xAF" "c\xC3\xB8" "d\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC "
              "\xF0\x9F\x98\x80 failure");
}

TEST_F(OutputTest, IgnoreLetsTheProgramGoOnButTheLaunchFails) {
    launcher_.mainClass = W("probe/Thrower");
    launcher_.failureCheck = true;
    launcher_.errorFile = H(file("err.log"));
    platform::host::setExceptionDialogResult(1);
    EXPECT_EQ(startVmThread(launcher_), static_cast<uint32_t>(VmThreadMainThrew));
    EXPECT_EQ(platform::host::shownExceptionTraces().size(), 1u);
    // Cleared before the dialog: the detach has nothing left to print.
    EXPECT_EQ(readFile(file("err.log")), "");
}

TEST_F(OutputTest, StopEndsTheProgramThroughSystemExit) {
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            launcher_.mainClass = W("probe/Thrower");
            launcher_.failureCheck = true;
            platform::host::setExceptionDialogResult(2);
            startVmThread(launcher_);
            ::_exit(99);  // not reached
        },
        ::testing::ExitedWithCode(255), "");
}

TEST_F(OutputTest, AFailingPrintStackTraceIsDescribedAndNoDialogAppears) {
    launcher_.mainClass = W("probe/PrintFails");
    launcher_.failureCheck = true;
    launcher_.errorFile = H(file("err.log"));
    EXPECT_EQ(startVmThread(launcher_), static_cast<uint32_t>(VmThreadMainThrew));
    EXPECT_TRUE(platform::host::shownExceptionTraces().empty());
    std::string described = readFile(file("err.log"));
    EXPECT_NE(described.find("java.lang.IllegalStateException: cannot print the trace"), std::string::npos)
        << described;
}

TEST_F(OutputTest, WithoutFailureCheckTheDefaultHandlerPrintsTheTrace) {
    launcher_.mainClass = W("probe/Thrower");
    launcher_.errorFile = H(file("err.log"));
    EXPECT_EQ(startVmThread(launcher_), static_cast<uint32_t>(VmThreadMainThrew));
    EXPECT_TRUE(platform::host::shownExceptionTraces().empty());
    // Printed once, by the virtual machine's handler at the detach.
    EXPECT_EQ(readFile(file("err.log")),
              "Exception in thread \"main\" java.lang.IllegalStateException: thrown by the probe\n"
              "\tat probe.Thrower.main(Thrower.java:6)\n");
}

TEST_F(OutputTest, WithoutFailureCheckTheProgramsOwnHandlerRuns) {
    launcher_.mainClass = W("probe/OwnHandler");
    launcher_.errorFile = H(file("err.log"));
    EXPECT_EQ(startVmThread(launcher_), static_cast<uint32_t>(VmThreadMainThrew));
    EXPECT_EQ(recorded(), "handled for the program's handler on main");
    // Not described first: the program's handler is the only report.
    EXPECT_EQ(readFile(file("err.log")), "");
}

TEST_F(OutputTest, AFileThatCannotBeOpenedIsDescribedOnTheErrorFile) {
    // The output file is a folder: its opening fails and the error goes to
    // the standard error, which is not yet redirected.
    mkdir(file("taken").c_str(), 0755);
    launcher_.mainClass = W("probe/Printer");
    launcher_.outputFile = H(file("taken"));
    launcher_.errorFile = H(file("err.log"));
    EXPECT_EQ(startVmThread(launcher_), static_cast<uint32_t>(VmThreadSucceeded));
    EXPECT_TRUE(platform::host::shownMessages().empty());
    EXPECT_EQ(readFile(file("err.log")), "err line 1\n");
}

}  // namespace
