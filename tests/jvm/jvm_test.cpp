// The launcher's JNI sequences against the real virtual machine of this
// machine's JDK. Each test runs in a process of its own.
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "launcher/launcher.h"
#include "test_support.h"
#include "vm/console_control.h"
#include "vm/startup_cache.h"
#include "vm/vm_start.h"

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class JvmTest : public PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        launcher_.jvmLibraryPath = platform::host::windowsPath(JVM_LIBRARY);
        ASSERT_TRUE(loadVmLibrary(launcher_));
        launcher_.vmOptions.push_back(NarrowString("-Djava.class.path=") + PROBE_CLASSES);
        launcher_.vmOptions.push_back(NarrowString("-Dprobe.out=") + output_.hostPath().c_str() + "/out.txt");
        launcher_.vmOptions.push_back("-Xrs");  // leave the signals to the test process
        launcher_.vmOptions.push_back("-Xcheck:jni");
    }

    std::string recorded() { return readFile(output_.hostPath() + "/out.txt"); }

    ScratchFolder output_;
    Launcher launcher_;
};

TEST_F(JvmTest, MainReceivesExactlyTheArguments) {
    launcher_.mainClass = W("probe/Recorder");
    // Empty, blank, non-ASCII and a character outside the basic plane.
    launcher_.arguments = {W("a"), W(""), W("b c"), W("Äpp ü 日本"), W("\xF0\x9F\x98\x80"), W("-nosplash")};
    EXPECT_EQ(startVmThread(launcher_), static_cast<uint32_t>(VmThreadSucceeded));
    EXPECT_EQ(recorded(),
              "count=6\n1:a\n0:\n3:b c\n8:Äpp ü 日本\n2:\xF0\x9F\x98\x80\n9:-nosplash\nthread=main\n");
    EXPECT_TRUE(platform::host::shownMessages().empty());
    EXPECT_NE(launcher_.javaVM, nullptr);
}

TEST_F(JvmTest, NoArgumentsGiveAnEmptyArray) {
    launcher_.mainClass = W("probe/Recorder");
    EXPECT_EQ(startVmThread(launcher_), static_cast<uint32_t>(VmThreadSucceeded));
    EXPECT_EQ(recorded().substr(0, 8), "count=0\n");
}

TEST_F(JvmTest, DefaultStackSizeComesFromTheRuntime) {
    launcher_.mainClass = W("probe/Recorder");
    EXPECT_EQ(launcher_.threadStackSize, 0u);
    EXPECT_EQ(startVmThread(launcher_), static_cast<uint32_t>(VmThreadSucceeded));
    // The runtime answers the 1.1 query with its Java stack size (1 MiB on x86-64).
    EXPECT_GE(launcher_.threadStackSize, 256u * 1024);
}

TEST_F(JvmTest, ExplicitStackSizeIsKept) {
    launcher_.mainClass = W("probe/Recorder");
    launcher_.threadStackSize = 4u * 1024 * 1024;
    EXPECT_EQ(startVmThread(launcher_), static_cast<uint32_t>(VmThreadSucceeded));
    EXPECT_EQ(launcher_.threadStackSize, 4u * 1024 * 1024);
}

TEST_F(JvmTest, MissingClassIsDescribedAndReported) {
    launcher_.mainClass = W("com/example/Missing");
    EXPECT_EQ(startVmThread(launcher_), static_cast<uint32_t>(VmThreadFailed));
    ASSERT_EQ(platform::host::shownMessages().size(), 1u);
    EXPECT_EQ(U(platform::host::shownMessages()[0]), "Could not find the main class com/example/Missing.\n");
}

TEST_F(JvmTest, MissingMainIsDescribedWithoutABox) {
    // A real runtime always leaves NoSuchMethodError pending, so the lookup
    // failure is described on the error stream and no box follows.
    for (const char* name : {"probe/NoMain", "probe/WrongMain"}) {
        if (!launcher_.javaVM) {
            ASSERT_TRUE(createVm(launcher_));
        } else {
            ASSERT_EQ(launcher_.javaVM->AttachCurrentThread(reinterpret_cast<void**>(&launcher_.jniEnv), nullptr), 0);
        }
        launcher_.mainClass = W(name);
        EXPECT_EQ(runMainClass(launcher_), MainResult::Failed) << name;
        EXPECT_FALSE(launcher_.jniEnv->ExceptionCheck()) << name;
        EXPECT_TRUE(platform::host::shownMessages().empty()) << name;
        launcher_.javaVM->DetachCurrentThread();
    }
}

TEST_F(JvmTest, FailingInitialiserCountsAsClassNotFound) {
    // The runtime initialises the class while finding it.
    launcher_.mainClass = W("probe/BrokenInit");
    EXPECT_EQ(startVmThread(launcher_), static_cast<uint32_t>(VmThreadFailed));
    ASSERT_EQ(platform::host::shownMessages().size(), 1u);
    EXPECT_EQ(U(platform::host::shownMessages()[0]), "Could not find the main class probe/BrokenInit.\n");
}

TEST_F(JvmTest, EscapingExceptionCountsAsFailure) {
    launcher_.mainClass = W("probe/Thrower");
    EXPECT_EQ(startVmThread(launcher_), static_cast<uint32_t>(VmThreadMainThrew));
    EXPECT_TRUE(platform::host::shownMessages().empty());
}

TEST_F(JvmTest, UnrecognisedOptionFailsCreation) {
    launcher_.vmOptions.push_back("-Xnot-an-option");
    launcher_.mainClass = W("probe/Recorder");
    EXPECT_EQ(startVmThread(launcher_), static_cast<uint32_t>(VmThreadFailed));
    ASSERT_EQ(platform::host::shownMessages().size(), 1u);
    // The runtime's own words follow: a windowed program has nowhere else to show them.
    EXPECT_EQ(U(platform::host::shownMessages()[0]),
              "JNI exception: failed to create the Java VM\nReason: unknown.\nUnrecognized option: -Xnot-an-option\n");
    EXPECT_EQ(launcher_.javaVM, nullptr);
}

// A runtime that refused the cache it was given shares nothing at all: the
// cache is dropped and its key waits as after a failed creation. (Sharing
// off stands in for a refusal: java.vm.info then lacks "sharing", as it
// does when a runtime refuses an archive made for other options.)
TEST_F(JvmTest, ACacheTheRuntimeRefusedIsDroppedAndItsKeyWaits) {
    for (bool refused : {false, true}) {
        pid_t child = fork();
        if (child == 0) {
            Launcher launcher;
            launcher.jvmLibraryPath = launcher_.jvmLibraryPath;
            launcher.vmOptions = launcher_.vmOptions;
            if (refused) launcher.vmOptions.push_back("-Xshare:off");
            launcher.mainClass = W("probe/Recorder");
            std::string folder = output_.hostPath() + (refused ? "/refused" : "/used");
            mkdir(folder.c_str(), 0700);
            for (const char* name : {"/00000000000000aa.rec", "/00000000000000aa-1.jsa"})
                std::ofstream(folder + name) << "x";
            launcher.startupCacheWork.folder = platform::host::windowsPath(folder);
            launcher.startupCacheWork.key = W("00000000000000aa");
            launcher.startupCacheWork.used = platform::host::windowsPath(folder + "/00000000000000aa-1.jsa");
            if (!loadVmLibrary(launcher) || !createVm(launcher)) _exit(3);
            checkStartupCacheUse(launcher);
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        std::string folder = output_.hostPath() + (refused ? "/refused" : "/used");
        EXPECT_EQ(access((folder + "/00000000000000aa.rec").c_str(), F_OK) == 0, !refused);
        EXPECT_EQ(access((folder + "/00000000000000aa-1.jsa").c_str(), F_OK) == 0, !refused);
        EXPECT_EQ(readFile(folder + "/00000000000000aa.failed"), refused ? "the runtime refused the cache\n" : "");
    }
}

// Records the exit hook's code where the parent can read it: the process
// ends inside System.exit.
class FileListener : public VmListener {
public:
    explicit FileListener(std::string path) : path_(std::move(path)) {}
    void exit(int32_t code) override {
        FILE* f = fopen(path_.c_str(), "w");
        fprintf(f, "exit %d", code);
        fclose(f);
    }
    void abort() override {}

private:
    std::string path_;
};

TEST_F(JvmTest, SystemExitEndsTheProcessThroughTheExitHook) {
    // Forked, so the child writes into this test's scratch folder; no
    // virtual machine exists yet in this process.
    GTEST_FLAG_SET(death_test_style, "fast");
    std::string hookFile = output_.hostPath() + "/hook.txt";
    EXPECT_EXIT(
        {
            FileListener listener(hookFile);
            launcher_.vmListener = &listener;
            launcher_.mainClass = W("probe/Exiter");
            launcher_.arguments = {W("42")};
            startVmThread(launcher_);
            ::_exit(99);  // not reached: System.exit ends the process
        },
        ::testing::ExitedWithCode(42), "");
    EXPECT_EQ(readFile(hookFile), "exit 42");
}

TEST_F(JvmTest, ConsoleControlEndsTheProgramThroughItsShutdown) {
    GTEST_FLAG_SET(death_test_style, "fast");
    std::string hookFile = output_.hostPath() + "/hook.txt";
    EXPECT_EXIT(
        {
            FileListener listener(hookFile);
            launcher_.vmListener = &listener;
            launcher_.mainClass = W("probe/Hooked");
            if (startVmThread(launcher_) != VmThreadSucceeded) ::_exit(98);
            // On a thread the virtual machine does not know, as the
            // system's thread for a console control event.
            endJavaProgram(130);
            ::_exit(99);  // not reached: System.exit ends the process
        },
        ::testing::ExitedWithCode(130), "");
    EXPECT_EQ(readFile(hookFile), "exit 130");
    // The program's shutdown hooks ran.
    EXPECT_EQ(recorded(), "hook ran");
}

TEST_F(JvmTest, ThreadBodyRunsWhereverItIsCalled) {
    launcher_.mainClass = W("probe/Recorder");
    launcher_.arguments = {W("inline")};
    EXPECT_EQ(vmThreadBody(launcher_), static_cast<uint32_t>(VmThreadSucceeded));
    EXPECT_NE(recorded().find("6:inline\n"), std::string::npos);
}

}  // namespace
