// The executable's path and folder, the working directory, environment
// expansion and the environment prepared for the Java program.
#include "launcher/environment.h"

#include <string.h>

#include "launcher/launcher.h"
#include "support/platform.h"
#include "test_support.h"

namespace {

using platform::host::environment;
using platform::host::setEnvironment;

class EnvironmentTest : public PlatformTest {};

const char* const kNoModulePathMessage = "Windows exception: failed to get the module path (errno = 5).\n";

TEST_F(EnvironmentTest, ModulePathIsReturnedWholeHoweverLong) {
    std::string longPath = "C:\\" + std::string(140, 'a') + "\\" + std::string(140, 'b') + "\\launcher.exe";
    platform::host::setModulePath(W(longPath.c_str()));
    Launcher launcher;
    WideString path, folder;
    ASSERT_TRUE(modulePath(launcher, path));
    EXPECT_EQ(U(path), longPath);
    ASSERT_TRUE(executableFolder(launcher, folder));
    EXPECT_EQ(U(folder), longPath.substr(0, longPath.size() - strlen("launcher.exe")));
    applyWorkingDirectory(launcher);
    EXPECT_EQ(U(platform::host::currentDirectory()), longPath.substr(0, longPath.size() - strlen("\\launcher.exe")));
    EXPECT_TRUE(platform::host::shownMessages().empty());
}

TEST_F(EnvironmentTest, UnknownModulePathShowsMessage202AndChangesNothing) {
    platform::host::failModulePath(5);
    Launcher launcher;
    WideString path, folder;
    EXPECT_FALSE(modulePath(launcher, path));
    EXPECT_FALSE(executableFolder(launcher, folder));
    applyWorkingDirectory(launcher);
    EXPECT_TRUE(platform::host::currentDirectory().empty());
    EXPECT_EQ(U(platform::host::shownMessages()), std::vector<std::string>(3, kNoModulePathMessage));
}

TEST_F(EnvironmentTest, FolderAndWorkingDirectoryFollowTheLastBackslash) {
    struct Case {
        const char* module;
        const char* folder;            // executableFolder
        const char* workingDirectory;  // after applyWorkingDirectory
    } cases[] = {
        {"C:\\App\\Launcher.exe", "C:\\App\\", "C:\\App"},
        {"C:\\a.b\\c\\d.exe", "C:\\a.b\\c\\", "C:\\a.b\\c"},
        {"C:\\Launcher.exe", "C:\\", "C:"},
        {"\\\\server\\share\\app.exe", "\\\\server\\share\\", "\\\\server\\share"},
        {"launcher.exe", "", "D:\\Before"},
        // A backslash at position 0 changes nothing.
        {"\\launcher.exe", "\\", "D:\\Before"},
    };
    for (const Case& c : cases) {
        platform::host::reset();
        platform::host::setModulePath(W(c.module));
        platform::setCurrentDirectory(W("D:\\Before"));
        Launcher launcher;
        WideString folder = W("stale");
        EXPECT_TRUE(executableFolder(launcher, folder)) << c.module;
        EXPECT_EQ(U(folder), c.folder) << c.module;
        applyWorkingDirectory(launcher);
        EXPECT_EQ(U(platform::host::currentDirectory()), c.workingDirectory) << c.module;
    }
}

TEST_F(EnvironmentTest, RuntimeFoldersDerivedFromTheLibraryPath) {
    struct Case {
        const char* library;
        const char* home;
        const char* bin;
        const char* homeWithSeparator;
    } cases[] = {
        {"C:\\Java\\jre\\bin\\client\\jvm.dll", "C:\\Java\\jre", "C:\\Java\\jre\\bin", "C:\\Java\\jre\\"},
        {"C:\\Java\\jre\\bin\\server\\jvm.dll", "C:\\Java\\jre", "C:\\Java\\jre\\bin", "C:\\Java\\jre\\"},
        {"D:\\jdk7\\jre\\bin\\server\\jvm.dll", "D:\\jdk7\\jre", "D:\\jdk7\\jre\\bin", "D:\\jdk7\\jre\\"},
        {"C:\\bin\\client\\jvm.dll", "C:", "C:\\bin", "C:\\"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(U(runtimeHome(W(c.library))), c.home) << c.library;
        EXPECT_EQ(U(runtimeBinFolder(W(c.library))), c.bin) << c.library;
        EXPECT_EQ(U(runtimeHomeWithSeparator(W(c.library))), c.homeWithSeparator) << c.library;
    }
    // A cut is skipped when no backslash is left.
    EXPECT_EQ(U(runtimeHome(W("bin\\client\\jvm.dll"))), "bin");
    EXPECT_EQ(U(runtimeHome(W("jvm.dll"))), "jvm.dll");
}

TEST_F(EnvironmentTest, PreparedEnvironmentValues) {
    struct Case {
        const char* systemPath;
        const char* libraryPath;
        const char* oldPath;  // nullptr: Path undefined
        const char* newPath;
        const char* libraryOption;  // nullptr: no option
    } cases[] = {
        {"", "", "C:\\Windows", "C:\\Windows;C:\\Java\\jre\\bin", nullptr},
        {"C:\\Tools", "", "C:\\Windows", "C:\\Tools;C:\\Windows;C:\\Java\\jre\\bin", nullptr},
        {"C:\\Tools;", "", "C:\\Windows", "C:\\Tools;C:\\Windows;C:\\Java\\jre\\bin", nullptr},
        {"%TOOLS%\\bin", "", "C:\\Windows", "D:\\t\\bin;C:\\Windows;C:\\Java\\jre\\bin", nullptr},
        {"", "", nullptr, "%Path%;C:\\Java\\jre\\bin", nullptr},
        // The configured value and the executable folder are separate items.
        {"", "C:\\native", "C:\\Windows", "C:\\Windows;C:\\Java\\jre\\bin",
         "-Djava.library.path=C:\\native;C:\\App\\;.;C:\\Windows;C:\\Java\\jre\\lib"},
        {"", "C:\\native;", "C:\\Windows", "C:\\Windows;C:\\Java\\jre\\bin",
         "-Djava.library.path=C:\\native;C:\\App\\;.;C:\\Windows;C:\\Java\\jre\\lib"},
        // %Path% in the library path is the value before Path is replaced.
        {"C:\\Tools", "%TOOLS%", "C:\\Windows", "C:\\Tools;C:\\Windows;C:\\Java\\jre\\bin",
         "-Djava.library.path=D:\\t;C:\\App\\;.;C:\\Windows;C:\\Java\\jre\\lib"},
    };
    for (const Case& c : cases) {
        platform::host::reset();
        platform::host::setModulePath(W("C:\\App\\launcher.exe"));
        setEnvironment(W("TOOLS"), W("D:\\t"));
        if (c.oldPath) setEnvironment(W("PATH"), W(c.oldPath));
        Launcher launcher;
        launcher.jvmLibraryPath = W("C:\\Java\\jre\\bin\\server\\jvm.dll");
        launcher.systemPath = W(c.systemPath);
        launcher.libraryPath = W(c.libraryPath);
        prepareEnvironment(launcher);
        SCOPED_TRACE(std::string("system path '") + c.systemPath + "', library path '" + c.libraryPath + "'");
        EXPECT_EQ(U(environment(W("VEDA_JVM_PATH"))), "C:\\Java\\jre\\bin\\server\\jvm.dll");
        EXPECT_EQ(U(environment(W("VEDA_JVM_HOME"))), "C:\\Java\\jre");
        EXPECT_EQ(U(environment(W("Path"))), c.newPath);
        if (c.libraryOption) {
            ASSERT_EQ(launcher.vmOptions.size(), 1u);
            EXPECT_EQ(launcher.vmOptions[0].c_str(), std::string(c.libraryOption));
        } else {
            EXPECT_TRUE(launcher.vmOptions.empty());
            EXPECT_TRUE(launcher.libraryPath.empty());
        }
        EXPECT_TRUE(platform::host::shownMessages().empty());
    }
}

}  // namespace
