// The folder walk before an output file is opened: which folders are
// created, which failures stop it, and what is taken back.
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "support/platform.h"
#include "test_support.h"
#include "vm/ensure_folders.h"

namespace {

const uint32_t kExists = platform::kErrorAlreadyExists;
const uint32_t kPathNotFound = 3;
const uint32_t kAccessDenied = 5;
const uint32_t kBadNetPath = 53;

// Records the calls; a creation answers from the table (0 when absent).
class RecordingFolders : public FolderSystem {
public:
    std::vector<std::string> existing;
    std::map<std::string, uint32_t> answers;
    std::vector<std::string> calls;

    bool exists(const WideString& path) override {
        calls.push_back("exists " + U(path));
        for (const std::string& e : existing)
            if (e == U(path)) return true;
        return false;
    }
    uint32_t createDirectory(const WideString& path) override {
        calls.push_back("create " + U(path));
        auto found = answers.find(U(path));
        return found == answers.end() ? 0 : found->second;
    }
    bool removeDirectory(const WideString& path) override {
        calls.push_back("remove " + U(path));
        return true;
    }
};

struct WalkCase {
    const char* name;
    const char* path;
    std::vector<std::string> existing;
    std::map<std::string, uint32_t> answers;
    std::vector<std::string> calls;
    uint32_t result;
};

TEST(EnsureFolders, WalkTable) {
    const WalkCase cases[] = {
        {"drive path: every folder between drive and file", R"(C:\logs\app\out.log)", {}, {},
         {R"(exists C:\logs\app\out.log)", R"(create C:\logs)", R"(create C:\logs\app)"}, 0},
        {"an existing file: nothing done", R"(C:\logs\out.log)", {R"(C:\logs\out.log)"}, {},
         {R"(exists C:\logs\out.log)"}, 0},
        {"existing folders are passed", R"(C:\logs\app\out.log)", {},
         {{R"(C:\logs)", kExists}, {R"(C:\logs\app)", kExists}},
         {R"(exists C:\logs\app\out.log)", R"(create C:\logs)", R"(create C:\logs\app)"}, 0},
        {"a file in the root: no folder", R"(C:\out.log)", {}, {}, {R"(exists C:\out.log)"}, 0},
        {"relative: never looked up, first part never created", R"(logs\out.log)", {}, {}, {}, 0},
        {"relative with depth: below the first part only", R"(logs\sub\out.log)", {},
         {{R"(logs\sub)", kPathNotFound}}, {R"(create logs\sub)"}, kPathNotFound},
        {"a bare name", "out.log", {}, {}, {}, 0},
        {"root-relative: every folder on the current drive's root", R"(\a\b\out.log)", {}, {},
         {R"(exists \a\b\out.log)", R"(create \a)", R"(create \a\b)"}, 0},
        {"root-relative file in the root: no folder", R"(\out.log)", {}, {}, {R"(exists \out.log)"}, 0},
        {"two backslashes alone: nothing made", R"(\\)", {}, {}, {R"(exists \\)"}, 0},
        {"long-path prefix stays on the drive", R"(\\?\C:\x\y\f.log)", {}, {},
         {R"(exists \\?\C:\x\y\f.log)", R"(create \\?\C:\x)", R"(create \\?\C:\x\y)"}, 0},
        {"network: server and share failures passed over", R"(\\srv\share\a\b\f.log)", {},
         {{R"(\\srv\share)", kBadNetPath}},
         {R"(exists \\srv\share\a\b\f.log)", R"(create \\srv\share)", R"(create \\srv\share\a)",
          R"(create \\srv\share\a\b)"},
         kBadNetPath},
        {"network: a later failure does not stop the walk", R"(\\srv\share\a\b\f.log)", {},
         {{R"(\\srv\share)", kBadNetPath}, {R"(\\srv\share\a)", kAccessDenied}},
         {R"(exists \\srv\share\a\b\f.log)", R"(create \\srv\share)", R"(create \\srv\share\a)",
          R"(create \\srv\share\a\b)"},
         kAccessDenied},
        {"first folder fails: nothing to take back", R"(C:\locked\a\f.log)", {},
         {{R"(C:\locked)", kAccessDenied}},
         {R"(exists C:\locked\a\f.log)", R"(create C:\locked)"}, kAccessDenied},
        {"a folder made by this call is taken back", R"(C:\new\locked\f.log)", {},
         {{R"(C:\new\locked)", kAccessDenied}},
         {R"(exists C:\new\locked\f.log)", R"(create C:\new)", R"(create C:\new\locked)", R"(remove C:\new)"},
         kAccessDenied},
        {"a folder that was there before is kept", R"(C:\Users\locked\f.log)", {},
         {{R"(C:\Users)", kExists}, {R"(C:\Users\locked)", kAccessDenied}},
         {R"(exists C:\Users\locked\f.log)", R"(create C:\Users)", R"(create C:\Users\locked)"}, kAccessDenied},
        {"only one level is taken back", R"(C:\n1\n2\bad\f.log)", {},
         {{R"(C:\n1\n2\bad)", kAccessDenied}},
         {R"(exists C:\n1\n2\bad\f.log)", R"(create C:\n1)", R"(create C:\n1\n2)", R"(create C:\n1\n2\bad)",
          R"(remove C:\n1\n2)"},
         kAccessDenied},
        {"an empty path", "", {}, {}, {}, 0},
    };
    for (const WalkCase& c : cases) {
        RecordingFolders folders;
        folders.existing = c.existing;
        folders.answers = c.answers;
        EXPECT_EQ(ensureFolders(W(c.path), folders), c.result) << c.name;
        EXPECT_EQ(folders.calls, c.calls) << c.name;
    }
}

TEST(EnsureFolders, CreatesRealFolders) {
    ScratchFolder scratch;
    WideString file = scratch.path() + u"logs\\app\\out.log";
    EXPECT_EQ(ensureFolders(file), 0u);
    struct stat info;
    EXPECT_EQ(stat((scratch.hostPath() + "/logs/app").c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_NE(stat((scratch.hostPath() + "/logs/app/out.log").c_str(), &info), 0) << "the file is not made";
    // A second walk meets only existing folders.
    EXPECT_EQ(ensureFolders(scratch.path() + u"logs\\app\\other.log"), 0u);
}

TEST(EnsureFolders, TakesBackOnlyTheFolderItMade) {
    ScratchFolder scratch;
    // A name longer than any file system allows makes the creation below
    // fail, for the superuser too.
    std::string tooLong(300, 'x');
    ASSERT_EQ(mkdir((scratch.hostPath() + "/old").c_str(), 0755), 0);
    struct stat info;
    EXPECT_NE(ensureFolders(scratch.path() + u"old\\" + W(tooLong.c_str()) + u"\\f.log"), 0u);
    EXPECT_EQ(stat((scratch.hostPath() + "/old").c_str(), &info), 0) << "an empty folder that was there stays";
    EXPECT_NE(ensureFolders(scratch.path() + u"new\\" + W(tooLong.c_str()) + u"\\f.log"), 0u);
    EXPECT_NE(stat((scratch.hostPath() + "/new").c_str(), &info), 0) << "the folder made on the way is gone";
}

}  // namespace
