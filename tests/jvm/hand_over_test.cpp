// The first instance's hand-over against the real virtual machine: a
// foreign thread attaches while main runs and calls secondaryMain.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "instance/hand_over.h"
#include "launcher/launcher.h"
#include "test_support.h"
#include "vm/vm_start.h"

namespace {

// Stands for the shared block and the second instance's queue.
class RecordingChannel : public HandOverChannel {
public:
    explicit RecordingChannel(List<WideString> arguments, WideString folder = WideString())
        : arguments_(std::move(arguments)), folder_(folder) {}
    List<WideString> arguments() override {
        ++reads;
        return arguments_;
    }
    WideString workingDirectory() override { return folder_; }
    void answer(int32_t value) override { answers.push_back(value); }
    int reads = 0;
    std::vector<int32_t> answers;

private:
    List<WideString> arguments_;
    WideString folder_;
};

typedef jint(JNICALL* GetCreatedVMs)(JavaVM**, jsize, jsize*);

class HandOverTest : public PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        launcher_.jvmLibraryPath = platform::host::windowsPath(JVM_LIBRARY);
        ASSERT_TRUE(loadVmLibrary(launcher_));
        launcher_.vmOptions.push_back(NarrowString("-Djava.class.path=") + PROBE_JAR);
        launcher_.vmOptions.push_back(NarrowString("-Dprobe.out=") + output_.hostPath().c_str() + "/out.txt");
        launcher_.vmOptions.push_back("-Xrs");
    }

    // Starts the virtual-machine thread of the launcher; returns once main runs.
    JavaVM* startMain(const char* mainClass) {
        launcher_.mainClass = W(mainClass);
        vmThread_ = std::thread([this] { vmResult_ = startVmThread(launcher_); });
        void* library = dlopen(JVM_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
        auto created = reinterpret_cast<GetCreatedVMs>(dlsym(library, "JNI_GetCreatedJavaVMs"));
        JavaVM* vm = nullptr;
        for (int i = 0; i < 6000 && !vm; ++i) {
            jsize count = 0;
            if (created(&vm, 1, &count) != JNI_OK || count == 0) {
                vm = nullptr;
                usleep(10000);
            }
        }
        if (!vm) return nullptr;
        // Wait for main through Java itself, on an attached thread of our own.
        JNIEnv* env = nullptr;
        if (vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) != JNI_OK) return nullptr;
        jclass log = env->FindClass("probe/HandOverLog");
        jmethodID await = log ? env->GetStaticMethodID(log, "awaitMain", "()V") : nullptr;
        if (await) env->CallStaticVoidMethod(log, await);
        bool ok = await && !env->ExceptionCheck();
        vm->DetachCurrentThread();
        return ok ? vm : nullptr;
    }

    // One hand-over on a fresh foreign thread, as a worker does it.
    void handOver(JavaVM* vm, const char* mainClass, RecordingChannel& channel) {
        std::thread worker([&] {
            JNIEnv* env = nullptr;
            ASSERT_EQ(vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr), JNI_OK);
            serveHandOver(vm, env, W(mainClass), channel, false);
            // Detached: a second detach is refused.
            JNIEnv* again = nullptr;
            EXPECT_EQ(vm->GetEnv(reinterpret_cast<void**>(&again), JNI_VERSION_1_2), JNI_EDETACHED);
        });
        worker.join();
    }

    std::string finish() {
        vmThread_.join();
        EXPECT_EQ(vmResult_, static_cast<uint32_t>(VmThreadSucceeded));
        std::ifstream in(output_.hostPath() + "/out.txt", std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    ScratchFolder output_;
    Launcher launcher_;
    std::thread vmThread_;
    std::atomic<uint32_t> vmResult_{99};
};

TEST_F(HandOverTest, VoidFormAnswersZeroAndReceivesTheArguments) {
    JavaVM* vm = startMain("probe/HandOverVoid");
    ASSERT_NE(vm, nullptr);
    RecordingChannel first({W("a"), W(""), W("b c"), W("Äpp 日本"), W("\xF0\x9F\x98\x80")});
    handOver(vm, "probe/HandOverVoid", first);
    RecordingChannel none({W("")});
    handOver(vm, "probe/HandOverVoid", none);
    RecordingChannel last({W("release")});
    handOver(vm, "probe/HandOverVoid", last);
    EXPECT_EQ(first.answers, std::vector<int32_t>({0}));
    EXPECT_EQ(none.answers, std::vector<int32_t>({0}));
    EXPECT_EQ(last.answers, std::vector<int32_t>({0}));
    EXPECT_EQ(first.reads, 1);
    EXPECT_EQ(finish(),
              "main count=0\n"
              "void count=5 [a] [] [b c] [Äpp 日本] [\xF0\x9F\x98\x80] main=false\n"
              "void count=1 [] main=false\n"
              "void count=1 [release] main=false\n");
}

// The form with the later launch's working directory is preferred, so that a
// program can resolve relative document names where the user typed them.
TEST_F(HandOverTest, TheWorkingDirectoryReachesTheFormThatTakesIt) {
    JavaVM* vm = startMain("probe/HandOverFolder");
    ASSERT_NE(vm, nullptr);
    RecordingChannel folder({W("rel.txt")}, W("/home/u/d\xC3\xB6" "cs"));
    handOver(vm, "probe/HandOverFolder", folder);
    RecordingChannel last({W("release")});
    handOver(vm, "probe/HandOverFolder", last);
    EXPECT_EQ(folder.answers, std::vector<int32_t>({3}));
    EXPECT_EQ(finish(),
              "main count=0\n"
              "folder /home/u/d\xC3\xB6" "cs count=1 [rel.txt] main=false\n"
              "folder  count=1 [release] main=false\n");
}

TEST_F(HandOverTest, IntFormAnswersItsResultOrOneWhenItThrows) {
    JavaVM* vm = startMain("probe/HandOverInt");
    ASSERT_NE(vm, nullptr);
    RecordingChannel seven({W("x")});
    handOver(vm, "probe/HandOverInt", seven);
    RecordingChannel thrower({W("throw")});
    handOver(vm, "probe/HandOverInt", thrower);
    RecordingChannel last({W("release")});
    handOver(vm, "probe/HandOverInt", last);
    EXPECT_EQ(seven.answers, std::vector<int32_t>({7}));
    EXPECT_EQ(thrower.answers, std::vector<int32_t>({1}));
    EXPECT_EQ(last.answers, std::vector<int32_t>({7}));
    EXPECT_EQ(finish(),
              "main count=0\n"
              "int count=1 [x] main=false\n"
              "int count=1 [throw] main=false\n"
              "int count=1 [release] main=false\n");
}

TEST_F(HandOverTest, NonAsciiMainClassIsFound) {
    const char* name = "probe/HandOverÜbergabe日本𐐀";
    JavaVM* vm = startMain(name);
    ASSERT_NE(vm, nullptr);
    RecordingChannel channel({W("release"), W("ü")});
    handOver(vm, name, channel);
    EXPECT_EQ(channel.answers, std::vector<int32_t>({7}));
    EXPECT_EQ(finish(), "main count=0\nint count=2 [release] [ü] main=false\n");
}

TEST_F(HandOverTest, NoSecondaryMainOrNoClassGivesNoAnswer) {
    JavaVM* vm = startMain("probe/HandOverVoid");
    ASSERT_NE(vm, nullptr);
    // Recorder has main only; the other class does not exist. Neither reads
    // the arguments nor answers, and the worker still detaches.
    for (const char* name : {"probe/Recorder", "probe/NoSuchClass"}) {
        RecordingChannel channel({W("a")});
        handOver(vm, name, channel);
        EXPECT_TRUE(channel.answers.empty()) << name;
        EXPECT_EQ(channel.reads, 0) << name;
    }
    RecordingChannel last({W("release")});
    handOver(vm, "probe/HandOverVoid", last);
    EXPECT_EQ(finish(), "main count=0\nvoid count=1 [release] main=false\n");
}

}  // namespace
