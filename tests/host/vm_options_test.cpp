// The virtual machine's options: class path, parameters, memory shares,
// the thread's stack size, output files and extra arguments.
#include "vm/vm_options.h"

#include <string.h>

#include <algorithm>

#include "launcher/launcher.h"
#include "vm/options_file.h"
#include "test_support.h"

namespace {

typedef std::vector<std::string> Strings;

const char* const kNoClassPathMessage = "Java Class Path was not specified in INI file.";

// Options as users copy them from the java command: the two-word forms are
// joined, what the java command ignores is dropped, and what the launcher
// decides itself is refused, naming the option.
TEST(VmParametersTest, OptionsAsTheJavaCommandTakesThem) {
    struct Case {
        Strings written;
        Strings given;   // when accepted
        const char* offending;  // null: accepted
        bool missingValue;
    } cases[] = {
        {{"--add-opens", "java.base/java.lang=ALL-UNNAMED", "-Xmx1g"},
         {"--add-opens=java.base/java.lang=ALL-UNNAMED", "-Xmx1g"}, nullptr, false},
        {{"--add-opens=java.base/java.lang=ALL-UNNAMED"}, {"--add-opens=java.base/java.lang=ALL-UNNAMED"}, nullptr, false},
        {{"-p", "/app/lib/fx", "--add-modules", "javafx.controls"},
         {"--module-path=/app/lib/fx", "--add-modules=javafx.controls"}, nullptr, false},
        {{"--add-exports", "a/b=c", "--add-reads", "a=b", "--limit-modules", "m", "--upgrade-module-path", "u",
          "--patch-module", "m=p", "--enable-native-access", "ALL-UNNAMED", "--module-path", "x"},
         {"--add-exports=a/b=c", "--add-reads=a=b", "--limit-modules=m", "--upgrade-module-path=u",
          "--patch-module=m=p", "--enable-native-access=ALL-UNNAMED", "--module-path=x"}, nullptr, false},
        // The value is the next word, whatever it looks like.
        {{"--add-modules", "-Dx=1"}, {"--add-modules=-Dx=1"}, nullptr, false},
        {{"-server", "-Da", "-client"}, {"-Da"}, nullptr, false},
        {{"-Da", "--add-opens"}, {}, "--add-opens", true},
        {{"-p"}, {}, "-p", true},
        {{"-cp", "x.jar"}, {}, "-cp", false},
        {{"-classpath", "x.jar"}, {}, "-classpath", false},
        {{"--class-path=x.jar"}, {}, "--class-path=x.jar", false},
        {{"-jar", "x.jar"}, {}, "-jar", false},
        {{"-m", "app/app.Main"}, {}, "-m", false},
        {{"--module=app/app.Main"}, {}, "--module=app/app.Main", false},
        // Only the option itself: a property that merely starts alike passes.
        {{"-cpx", "-mx64m", "--modules"}, {"-cpx", "-mx64m", "--modules"}, nullptr, false},
    };
    for (const Case& c : cases) {
        List<WideString> written, given;
        for (const std::string& option : c.written) written.push_back(W(option.c_str()));
        WideString offending;
        bool missing = false;
        bool accepted = javaCommandOptions(written, given, offending, missing);
        EXPECT_EQ(accepted, c.offending == nullptr) << c.written[0];
        if (accepted) {
            EXPECT_EQ(U(given), c.given) << c.written[0];
        } else {
            EXPECT_EQ(U(offending), c.offending);
            EXPECT_EQ(missing, c.missingValue) << c.offending;
        }
    }
}

TEST(VmParametersTest, TheCommandPropertyNamesTheMainClassAndArguments) {
    List<WideString> arguments = {W("a b"), W("doc.txt")};
    EXPECT_EQ(U(javaCommandProperty(W("com/example/App"), arguments, {W("-Xmx1g")})),
              "-Dsun.java.command=com.example.App a b doc.txt");
    EXPECT_EQ(U(javaCommandProperty(W("App"), {}, {})), "-Dsun.java.command=App");
    EXPECT_TRUE(javaCommandProperty(W("App"), arguments, {W("-Dsun.java.command=Mine")}).empty());
}

TEST(VmParametersTest, SplittingKeepsQuotedBlanks) {
    struct Case {
        const char* value;
        Strings options;
    } cases[] = {
        {"", {}},
        {"   ", {}},
        {" -Xmx64m", {"-Xmx64m"}},
        {"-Dname=\"a b\" -Xmx64m", {"-Dname=\"a b\"", "-Xmx64m"}},
        {"  -Da   -Db  ", {"-Da", "-Db"}},
        {"-Da\t-Db", {"-Da\t-Db"}},
        {"\"-Dx=a b\"c d", {"\"-Dx=a b\"c", "d"}},
        // A doubled closing quote closes the stretch together.
        {"-Dq=\"x\"\"y z", {"-Dq=\"x\"\"y", "z"}},
        {"-Dq=\"x\"\"y z\"", {"-Dq=\"x\"\"y", "z\""}},
        // An unpaired quote opens nothing.
        {"-Da=\"x y", {"-Da=\"x", "y"}},
        {"-Da=\"\" -Db", {"-Da=\"\"", "-Db"}},
        {"-Da=\"1 2\" \"3 4\"", {"-Da=\"1 2\"", "\"3 4\""}},
    };
    for (const Case& c : cases) EXPECT_EQ(U(splitVmParameters(W(c.value))), c.options) << c.value;
}

TEST(VmParametersTest, QuoteRemoval) {
    struct Case {
        const char* option;
        const char* result;
    } cases[] = {
        {"-Xmx64m", "-Xmx64m"},
        {"-Dname=\"a b\"", "-Dname=a b"},
        {"-Dq=\"x\"\"y", "-Dq=x\"y"},
        {"\"-Dx=1\"", "-Dx=1"},
        {"a\"b\"c\"d", "abc\"d"},
        {"-Da=\"\"", "-Da="},
        {"\"\"\"\"", "\"\""},
        {"\"unpaired", "\"unpaired"},
        {"\"a\"\"b\"c", "a\"b\"c"},  // the quote after b finds no partner
        {"\"a\"\"b\"c\"", "a\"bc"},
    };
    for (const Case& c : cases) EXPECT_EQ(U(removeQuotes(W(c.option))), c.result) << c.option;
}

TEST(VmParametersTest, MemoryShares) {
    const MemoryBases twoGiB{2147483648ull, 2147483648ull};
    const MemoryBases large{8589934592ull, 140737488355328ull};  // 8 GiB, 128 TiB of address space
    const MemoryBases beyondDouble{2147483648ull, ((1ull << 53) + 1) << 10};
    struct Case {
        const char* option;
        const MemoryBases* bases;
        const char* result;
    } cases[] = {
        {"-Xmx50P", &twoGiB, "-Xmx1048576K"},
        {"-Xmx50:256:512P", &twoGiB, "-Xmx524288K"},
        {"-Xmx50:2048:512P", &twoGiB, "-Xmx2097152K"},
        {"-Xms25p", &twoGiB, "-Xms524288K"},
        {"-Xmx50T", &twoGiB, "-Xmx1048576K"},
        {"-Xss1t", &twoGiB, "-Xss20971K"},
        {"-Xmx33P", &twoGiB, "-Xmx692060K"},
        {"-Xmx50::512P", &twoGiB, "-Xmx524288K"},
        {"-Xmx50:0:0P", &twoGiB, "-Xmx1048576K"},
        {"-Xmx:256P", &twoGiB, "-Xmx262144K"},
        {"-Xmx50:1:2:3P", &twoGiB, "-Xmx2048K"},
        {"-Xmx=50P", &twoGiB, "-Xmx=1048576K"},
        {"-Xmx5a0P", &twoGiB, "-Xmx1048576K"},
        {"-XmxP", &twoGiB, "-XmxP0K"},
        {"-Xmx150P", &twoGiB, "-Xmx3145728K"},
        // Not a share: passed unchanged.
        {"-Xmx512m", &twoGiB, "-Xmx512m"},
        {"-Dlimit=50P", &twoGiB, "-Dlimit=50P"},
        {"-xmx50P", &twoGiB, "-xmx50P"},
        {"-XMX50P", &twoGiB, "-XMX50P"},
        {"-Xmn50P", &twoGiB, "-Xmn50P"},
        // Large bases are computed and printed exactly.
        {"-Xmx50P", &large, "-Xmx4194304K"},
        {"-Xmx50T", &large, "-Xmx68719476736K"},
        {"-Xmx33T", &large, "-Xmx45354854645K"},
        {"-Xmx100T", &beyondDouble, "-Xmx9007199254740993K"},
        {"-Xmx1:4194304P", &twoGiB, "-Xmx4294967296K"},
        {"-Xmx100:0:4194305P", &large, "-Xmx8388608K"},
    };
    for (const Case& c : cases) EXPECT_EQ(U(applyMemoryShare(W(c.option), *c.bases)), c.result) << c.option;
}

TEST(VmParametersTest, StackSizes) {
    struct Case {
        const char* option;
        uint32_t bytes;
    } cases[] = {
        {"-Xss512k", 524288},
        {"-Xss512K", 524288},
        {"-Xss1m", 1048576},
        {"-Xss1M", 1048576},
        {"-Xss1g", 1073741824},
        {"-Xss3G", 3221225472u},
        {"-Xss2048", 2048},
        {"-Xss0", 0},
        {"-Xss4294967295", 4294967295u},
        {"-Xss4194303k", 4294966272u},
        {"-Xss209715K", 214748160},
        // Unreadable, or too large for 32 bits: 0.
        {"-Xss4294967296", 0},
        {"-Xss4194304k", 0},
        {"-Xss4096m", 0},
        {"-Xss4g", 0},
        {"-Xss5g", 0},
        {"-Xss4194305k", 0},
        {"-Xss99999999999999999999999999k", 0},
        {"-Xssx", 0},
        {"-Xss", 0},
        {"-Xssk", 0},
        {"-Xss-1", 0},
        {"-Xss 512k", 0},
        {"-Xss1.5m", 0},
        {"-Xss1:2k", 0},
        {"-Xss512kb", 0},
        {"-Xss512t", 0},
        {"-Xmx512k", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(stackSizeOf(W(c.option)), c.bytes) << c.option;
}

// An options file's bytes, as users and programs write them, and what the
// launcher takes from them: one option per line, whole.
TEST(OptionsFileTest, LinesAsWritten) {
    struct Case {
        const char* name;
        std::string bytes;
        Strings options;
    } cases[] = {
        {"plain lines, either end", "-Xmx2g\r\n-Dproxy=a\n-Dlast=1\r-Dend=2", {"-Xmx2g", "-Dproxy=a", "-Dlast=1", "-Dend=2"}},
        {"blanks trimmed, kept inside", "  \t-Dpath=C:\\My Files\\x  \n", {"-Dpath=C:\\My Files\\x"}},
        {"comments and empty lines", "# more memory\n\n   \n  # indented\n-Xmx1g # not a comment\n",
         {"-Xmx1g # not a comment"}},
        {"quotes are the option's own", "-Dq=\"a b\"\n", {"-Dq=\"a b\""}},
        {"UTF-8 with a mark", "\xEF\xBB\xBF-Dname=\xC3\xA4\n", {"-Dname=\xC3\xA4"}},
        {"UTF-16 with a mark", std::string("\xFF\xFE-\0X\0s\0s\0" "1\0m\0\r\0\n\0#\0x\0", 20), {"-Xss1m"}},
        {"a module option and its value on one line", "--add-opens  java.base/java.lang=ALL-UNNAMED\n-p /a b\n",
         {"--add-opens", "java.base/java.lang=ALL-UNNAMED", "-p", "/a b"}},
        {"the class path and its value on one line", "-cp /y\n-Dx=1\n", {"-cp", "/y", "-Dx=1"}},
        {"nothing", "", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(U(optionsFileLines(NarrowString(c.bytes.data(), c.bytes.size()))), c.options) << c.name;
}

// The java command's rules apply to a file's lines too; what would break the
// launcher's contract is left out (with a trace line), never the launch.
TEST(OptionsFileTest, RulesOfTheParametersApply) {
    struct Case {
        Strings lines;
        Strings options;
    } cases[] = {
        {{"--add-opens", "java.base/java.lang=ALL-UNNAMED", "-p", "/fx"},
         {"--add-opens=java.base/java.lang=ALL-UNNAMED", "--module-path=/fx"}},
        {{"-server", "-Xmx1g"}, {"-Xmx1g"}},
        // Left out with their values, as the java command reads them.
        {{"-cp", "/y", "-Da=1", "-jar", "x.jar", "-Djava.class.path=/elsewhere", "--module=m/c", "-Db=2"},
         {"-Da=1", "-Db=2"}},
        {{"-Xshare:dump", "-Xlog:help", "-Xlog:gc", "-XX:+PrintFlagsRanges"}, {"-Xlog:gc"}},
        {{"-Da=1", "--add-modules"}, {"-Da=1"}},
        {{"-Djava.class.pathx=1"}, {"-Djava.class.pathx=1"}},
    };
    for (const Case& c : cases) {
        List<WideString> lines;
        for (const std::string& line : c.lines) lines.push_back(W(line.c_str()));
        EXPECT_EQ(U(optionsFileOptions(lines, W("Z:\\x.vmoptions"))), c.options) << c.lines[0];
    }
}

TEST(OptionsFileTest, WhereTheFilesLie) {
    EXPECT_EQ(U(besideOptionsPath(W("C:\\Apps\\v1.2\\My App.exe"))), "C:\\Apps\\v1.2\\My App.vmoptions");
    EXPECT_EQ(U(besideOptionsPath(W("C:\\Apps\\v1.2\\App"))), "C:\\Apps\\v1.2\\App.vmoptions");
    struct Case {
        const char* name;
        const char* code;
        const char* path;  // "" for none
    } cases[] = {
        {"", "", "A:\\My App\\My App.vmoptions"},
        {"Acme Editor", "", "A:\\Acme Editor\\My App.vmoptions"},
        {"Acme", "2.0", "A:\\Acme\\2.0\\My App.vmoptions"},
        {"", "2.0", "A:\\2.0\\My App.vmoptions"},
        {"Ac:me", "", "A:\\Acme\\My App.vmoptions"},
        {"Acme", "..", ""},
        {"Acme", "a\\b", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(U(userOptionsPath(W("A:"), W("C:\\Apps\\My App.exe"), W(c.name), W(c.code))), c.path)
            << c.name << "/" << c.code;
    EXPECT_EQ(U(userOptionsPath(W(""), W("C:\\Apps\\My App.exe"), W(""), W(""))), "");
}

class VmOptionsTest : public LauncherTest {
protected:
    bool build(const std::string& text) {
        settings(text);
        return buildVmOptions(launcher);
    }
    // Without the java command's property, which the launcher sets last.
    Strings options() const {
        Strings result;
        for (const NarrowString& option : launcher.vmOptions) result.push_back(option.c_str());
        EXPECT_FALSE(result.empty());
        if (!result.empty() && result.back().rfind("-Dsun.java.command=", 0) == 0) result.pop_back();
        return result;
    }
    std::string classPathOption() const {
        return launcher.vmOptions.empty() ? std::string("(none)") : std::string(launcher.vmOptions[0].c_str());
    }
    std::string inFolder(const std::string& relative) const { return U(folder.path()) + relative; }
    Launcher launcher;
};

// The class path entries in sorted order (a directory search may return
// names in any order).
Strings entries(const std::string& option) {
    const std::string prefix = "-Djava.class.path=";
    if (option.compare(0, prefix.size(), prefix) != 0) return {"(not a class-path option) " + option};
    Strings pieces = U(splitAt(W(option.substr(prefix.size()).c_str()), u';'));
    std::sort(pieces.begin(), pieces.end());
    return pieces;
}

TEST_F(VmOptionsTest, ClassPathComposition) {
    folder.write("lib/a.jar", "");
    folder.write("lib/b.jar", "");
    folder.write("lib/notes.txt", "");
    folder.write("lib/sub/c.jar", "");
    folder.write("app.jar", "");
    folder.write("libs/x.jar", "");
    platform::host::setEnvironment(W("APPDATA"), W("C:\\Users\\u\\AppData"));
    platform::host::setEnvironment(W("LIBS"), folder.path() + u"libs");
    const std::string root = inFolder("");
    struct Case {
        std::string value;
        Strings entries;  // sorted
    } cases[] = {
        {"\\lib\\*.jar", {root + "lib\\a.jar", root + "lib\\b.jar"}},
        {"\\app.jar", {root + "app.jar"}},
        {"\\lib\\sub\\*.jar;\\app.jar", {root + "app.jar", root + "lib\\sub\\c.jar"}},
        {"C:\\missing\\x.jar;\\missing.jar", {"C:\\missing\\x.jar"}},
        {"%APPDATA%\\x.jar", {"C:\\Users\\u\\AppData\\x.jar"}},
        {"\\\\server\\share\\x.jar", {"\\\\server\\share\\x.jar"}},
        {root + "lib\\*.jar", {root + "lib\\a.jar", root + "lib\\b.jar"}},
        {"%LIBS%\\*.jar", {root + "libs\\x.jar"}},
        {root + "lib\\*.zip;\\app.jar", {root + "app.jar"}},
        // Empty entries contribute nothing.
        {";\\app.jar", {root + "app.jar"}},
        {"\\app.jar;;C:\\y.jar;", {"C:\\y.jar", root + "app.jar"}},
        {"\\lib\\a.jar;\\lib\\a.jar", {root + "lib\\a.jar", root + "lib\\a.jar"}},
    };
    for (const Case& c : cases) {
        Launcher fresh;
        settings("[Class Path]\nClass Path=" + c.value + "\n");
        ASSERT_TRUE(buildVmOptions(fresh)) << c.value;
        ASSERT_FALSE(fresh.vmOptions.empty());
        std::string option = fresh.vmOptions[0].c_str();
        Strings expected = c.entries;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(entries(option), expected) << c.value;
        // An empty last entry would put the current directory on the class path.
        EXPECT_NE(option.back(), ';') << c.value;
    }
    EXPECT_TRUE(platform::host::shownMessages().empty());
}

TEST_F(VmOptionsTest, RelativeEntriesAreAppendedToTheFolderWithoutSeparator) {
    folder.write("lib/app.jar", "");
    ScratchFolder outer;
    outer.write("applib/app.jar", "");  // <outer>\app + lib\app.jar
    platform::host::setModulePath(outer.path() + u"app\\launcher.exe");
    outer.write("app/launcher.ini", "[Class Path]\nClass Path=lib\\app.jar\n");
    ASSERT_TRUE(buildVmOptions(launcher));
    EXPECT_EQ(classPathOption(), "-Djava.class.path=" + U(outer.path()) + "applib\\app.jar");
}

TEST_F(VmOptionsTest, LongLauncherFolderIsUsedWhole) {
    std::string deep = std::string(100, 'a') + "/" + std::string(100, 'b') + "/" + std::string(100, 'c');
    folder.write(deep + "/lib/app.jar", "");
    WideString exe = folder.write(deep + "/launcher.exe", "");
    folder.write(deep + "/launcher.ini", "[Class Path]\nClass Path=\\lib\\*.jar\n[Application]\nEmbedded Jar=Yes\n");
    platform::host::setModulePath(exe);
    ASSERT_GT(exe.size(), 320u);
    ASSERT_TRUE(buildVmOptions(launcher));
    std::string folderText = U(exe.left(exe.size() - strlen("launcher.exe")));
    EXPECT_EQ(classPathOption(), "-Djava.class.path=" + folderText + "lib\\app.jar;" + U(exe));
}

TEST_F(VmOptionsTest, EmbeddedJar) {
    folder.write("app.jar", "");
    struct Case {
        const char* text;
        bool ok;
        std::string classPath;
    } cases[] = {
        {"[Application]\nEmbedded Jar=yes\n", true, U(executable())},
        {"[Application]\nEmbedded Jar=YES\n[Class Path]\nClass Path=\\app.jar\n", true,
         inFolder("app.jar;") + U(executable())},
        {"[Application]\nEmbedded Jar=true\n", false, ""},
        {"[Class Path]\nClass Path=lib\\app.jar;;\n", false, ""},
        {"", false, ""},
    };
    for (const Case& c : cases) {
        platform::host::shownMessages().clear();
        Launcher fresh;
        settings(c.text);
        EXPECT_EQ(buildVmOptions(fresh), c.ok) << c.text;
        if (c.ok) {
            ASSERT_FALSE(fresh.vmOptions.empty());
            EXPECT_EQ(std::string(fresh.vmOptions[0].c_str()), "-Djava.class.path=" + c.classPath) << c.text;
            EXPECT_TRUE(platform::host::shownMessages().empty());
        } else {
            EXPECT_TRUE(fresh.vmOptions.empty()) << c.text;
            EXPECT_EQ(U(platform::host::shownMessages()), Strings({kNoClassPathMessage})) << c.text;
        }
    }
}

TEST_F(VmOptionsTest, NoSettingsPathBuildsNothing) {
    platform::host::failModulePath(2);
    EXPECT_FALSE(buildVmOptions(launcher));
    EXPECT_TRUE(launcher.vmOptions.empty());
}

TEST_F(VmOptionsTest, OptionOrderQuotingAndExpansion) {
    folder.write("app.jar", "");
    platform::host::setEnvironment(W("DATA"), W("C:\\My Data"));
    launcher.vmOptions.push_back(NarrowString("-Djava.library.path=C:\\native"));
    ASSERT_TRUE(build("[Class Path]\nClass Path=\\app.jar\n[Java Runtime Environment]\n"
                      "Virtual Machine Parameters= -Dname=\"a b\" -Xmx64m -Ddata=%DATA% -Xmx128m -Dq=\"x\"\"y "
                      "-Dundefined=%NOT_SET%\n"));
    EXPECT_EQ(options(), Strings({"-Djava.library.path=C:\\native", "-Djava.class.path=" + inFolder("app.jar"),
                                  "-Dname=a b", "-Xmx64m", "-Ddata=C:\\My Data", "-Xmx128m", "-Dq=x\"y",
                                  "-Dundefined=%NOT_SET%"}));
    EXPECT_EQ(launcher.threadStackSize, 0u);
}

TEST_F(VmOptionsTest, ParametersLayeredOverBuiltInValues) {
    folder.write("app.jar", "");
    platform::host::setBuiltInSettings(NarrowString("[Java Runtime Environment]\nVirtual Machine Parameters=-Xmx256m\n"
                                                    "[Class Path]\nClass Path=\\app.jar\n"));
    ASSERT_TRUE(build("[Java Runtime Environment+]\nVirtual Machine Parameters=-Dextra=1\n"));
    EXPECT_EQ(options(), Strings({"-Djava.class.path=" + inFolder("app.jar"), "-Xmx256m", "-Dextra=1"}));
}

TEST_F(VmOptionsTest, MemorySharesAndStackSize) {
    folder.write("app.jar", "");
    platform::host::setMemory(2147483648ull, 1073741824ull);
    struct Case {
        const char* parameters;
        Strings options;  // after the class path
        uint32_t stackSize;
    } cases[] = {
        {"-Xmx50P -Xms10:64T", {"-Xmx1048576K", "-Xms104857K"}, 0},
        {"-Xss512k", {"-Xss512k"}, 524288},
        {"-Xss512k -Xss1m", {"-Xss512k", "-Xss1m"}, 1048576},
        {"-Xss1m -Xssx", {"-Xss1m", "-Xssx"}, 0},
        {"-Xss1m -Xmx1g", {"-Xss1m", "-Xmx1g"}, 1048576},
        {"-Xss10P", {"-Xss209715K"}, 214748160},
        {"\"-Xss2m\"", {"-Xss2m"}, 2097152},
    };
    for (const Case& c : cases) {
        Launcher fresh;
        settings(std::string("[Class Path]\nClass Path=\\app.jar\n[Java Runtime Environment]\nVirtual Machine "
                             "Parameters=") + c.parameters + "\n");
        ASSERT_TRUE(buildVmOptions(fresh)) << c.parameters;
        Strings got;
        // Between the class path and the java command's property.
        for (size_t i = 1; i + 1 < fresh.vmOptions.size(); ++i) got.push_back(fresh.vmOptions[i].c_str());
        EXPECT_EQ(got, c.options) << c.parameters;
        EXPECT_EQ(fresh.threadStackSize, c.stackSize) << c.parameters;
    }
}

TEST_F(VmOptionsTest, OutputFilesAndExtraArguments) {
    folder.write("app.jar", "");
    platform::host::setEnvironment(W("LOGS"), W("C:\\Logs"));
    platform::host::setEnvironment(W("USER_ARG"), W("from env"));
    launcher.arguments = {W("doc.txt"), W("-nosplash")};
    ASSERT_TRUE(build("[Class Path]\nClass Path=\\app.jar\n[Application]\nOutput File=%LOGS%\\out.txt\n"
                      "Error File=%LOGS%\\%UNSET%.txt\nCmd=\"a b\"  c \"\" \"%USER_ARG%\" d\"e\n"));
    EXPECT_EQ(U(launcher.outputFile), "C:\\Logs\\out.txt");
    EXPECT_EQ(U(launcher.errorFile), "C:\\Logs\\%UNSET%.txt");
    EXPECT_EQ(U(launcher.extraArguments), "\"a b\"  c \"\" \"from env\" d\"e");
    EXPECT_EQ(U(launcher.arguments), Strings({"doc.txt", "-nosplash", "a b", "c", "from env", "d\"e"}));
}

// The settings' options, then the shipped file's, then the user's: the
// runtime takes the last -Xmx, so the user's wins. Shares, the stack size
// and references apply as in the settings; the program learns its file.
TEST_F(VmOptionsTest, OptionsFilesComeAfterTheSettingsTheUsersLast) {
    folder.write("app.jar", "");
    folder.write("launcher.vmoptions", "-Xmx1g\n-Dshipped=%SHIPPED%\n-Xss2m\n");
    folder.write("appdata/Acme/launcher.vmoptions", "# the user's\n-Xmx50P\n--add-opens java.base/java.lang=ALL-UNNAMED\n");
    platform::host::setMemory(2147483648ull, 1073741824ull);
    platform::host::setEnvironment(W("SHIPPED"), W("yes"));
    platform::host::setEnvironment(W("APPDATA"), folder.path() + u"appdata");
    launcher.productName = W("Acme");
    ASSERT_TRUE(build("[Class Path]\nClass Path=\\app.jar\n[Java Runtime Environment]\n"
                      "Virtual Machine Parameters=-Xmx256m\n"));
    std::string userFile = inFolder("appdata\\Acme\\launcher.vmoptions");
    EXPECT_EQ(launcher.vmOptions.back().c_str(), "-Dveda.launcher.vmoptions=" + userFile);
    launcher.vmOptions.pop_back();
    EXPECT_EQ(options(), Strings({"-Djava.class.path=" + inFolder("app.jar"), "-Xmx256m", "-Xmx1g", "-Dshipped=yes",
                                  "-Xss2m", "-Xmx1048576K", "--add-opens=java.base/java.lang=ALL-UNNAMED"}));
    EXPECT_EQ(launcher.threadStackSize, 2097152u);
    EXPECT_EQ(launcher.userFileOptions, 2u);

    // Started again because the runtime refused the user's file: without it
    // (the user is told once the virtual machine is up).
    Launcher again;
    again.productName = W("Acme");
    again.again.withoutUserOptions = true;
    again.again.file = W(userFile.c_str());
    again.again.words = W("Unrecognized VM option 'Bogus'\n");
    settings("[Class Path]\nClass Path=\\app.jar\n");
    ASSERT_TRUE(buildVmOptions(again));
    EXPECT_EQ(again.userFileOptions, 0u);
    EXPECT_EQ(std::string(again.vmOptions[2].c_str()), "-Dshipped=yes");
    EXPECT_EQ(std::string(again.vmOptions[3].c_str()), "-Xss2m");
    EXPECT_TRUE(platform::host::shownMessages().empty());
}

TEST_F(VmOptionsTest, NothingExtraWhenTheKeysAreAbsent) {
    folder.write("app.jar", "");
    launcher.arguments = {W("x")};
    ASSERT_TRUE(build("[Class Path]\nClass Path=\\app.jar\n"));
    EXPECT_TRUE(launcher.outputFile.empty() && launcher.errorFile.empty() && launcher.extraArguments.empty());
    EXPECT_EQ(U(launcher.arguments), Strings({"x"}));
    EXPECT_EQ(options(), Strings({"-Djava.class.path=" + inFolder("app.jar")}));
}

}  // namespace
