// The icon drawing scripts: an option is never taken for the output name.
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "test_support.h"

namespace {

int run(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(IconScripts, AnswerHelpAndRefuseOptionsWithoutWriting) {
    ScratchFolder folder;
    WorkingDirectory here(folder.hostPath());
    const struct {
        const char* script;
        const char* defaultName;
    } scripts[] = {{"resources/make_icon.py", "launcher.ico"}, {"sample/make_icon.py", "HelloApp.ico"}};
    for (const auto& s : scripts) {
        std::string script = std::string("python3 ") + LAUNCHER_SOURCE_DIR + "/" + s.script;
        EXPECT_EQ(run(script + " --help >usage.txt"), 0) << s.script;
        EXPECT_EQ(run("grep -q '^usage: make_icon.py \\[OUTPUT.ico\\]' usage.txt"), 0) << s.script;
        EXPECT_EQ(run(script + " --size 16 2>/dev/null"), 2) << s.script;
        EXPECT_EQ(run(script + " a.ico b.ico 2>/dev/null"), 2) << s.script;
        struct stat info;
        for (const char* name : {"--help", "--size", "16", "a.ico", "b.ico", s.defaultName})
            EXPECT_NE(stat(name, &info), 0) << s.script << " wrote " << name;
        EXPECT_EQ(run(script + " out.ico"), 0) << s.script;
        EXPECT_EQ(stat("out.ico", &info), 0) << s.script;
        remove("out.ico");
    }
}

}  // namespace
