// When "Output File" and "Error File" name one file: the identity check of
// the host's platform (the Windows side, with letter case, runs end to end).
#include <unistd.h>

#include "support/platform.h"
#include "test_support.h"

namespace {

TEST(SameFile, NamesOfOneExistingFile) {
    ScratchFolder folder;
    folder.write("logs/app.log", "");
    folder.write("logs/other.log", "");
    folder.write("logs/sub/x", "");
    ASSERT_EQ(link((folder.hostPath() + "/logs/app.log").c_str(), (folder.hostPath() + "/logs/hard.log").c_str()), 0);
    WorkingDirectory here(folder.hostPath());
    const struct {
        const char* b;  // below the folder, or relative with "./"
        bool same;
    } cases[] = {
        {"logs\\app.log", true},
        {"logs\\sub\\..\\app.log", true},
        {"logs\\hard.log", true},
        {"./logs/app.log", true},
        {"logs\\other.log", false},
        {"logs\\missing.log", false},
    };
    WideString a = folder.path() + u"logs\\app.log";
    for (const auto& c : cases) {
        WideString b = c.b[0] == '.' ? W(c.b) : folder.path() + W(c.b);
        EXPECT_EQ(platform::sameFile(a, b), c.same) << c.b;
    }
}

}  // namespace
