// The Linux edge's decisions: how the shared settings file's paths are
// taken, versions from folder names, processors from ELF headers, and
// settings written back in the file's own encoding.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "launcher/environment.h"
#include "launcher/launcher_settings.h"
#include "launcher/launcher.h"
#include "runtime/elf_image.h"
#include "runtime/installed_runtimes.h"
#include "runtime/java_home.h"
#include "runtime/pe_image.h"
#include "support/dialog_linux.h"
#include "support/platform.h"
#include "support/platform_linux.h"
#include "support/trace.h"

namespace {

std::string utf8(const WideString& text) { return std::string(toUtf8(text).c_str()); }

// Variables set (or, with null, removed) for one test, given back after it.
class Variables {
public:
    Variables(std::initializer_list<std::pair<const char*, const char*>> values) {
        for (const auto& value : values) {
            const char* old = getenv(value.first);
            saved_.push_back({value.first, old ? old : "", old != nullptr});
            set(value.first, value.second);
        }
    }
    ~Variables() {
        for (const Saved& saved : saved_) set(saved.name.c_str(), saved.had ? saved.value.c_str() : nullptr);
    }
    static void set(const char* name, const char* value) {
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }

private:
    struct Saved {
        std::string name, value;
        bool had;
    };
    std::vector<Saved> saved_;
};

std::string utf16(const char16_t* text) {
    std::string bytes;
    for (; *text; ++text) {
        bytes += static_cast<char>(*text & 0xFF);
        bytes += static_cast<char>(*text >> 8);
    }
    return bytes;
}

TEST(LinuxSettingsPaths, WindowsFormsAreClassifiedThenConverted) {
    struct Row {
        const char16_t* value;
        PathForm form;
        const char* native;  // after settingsPath; "" when passed over
    } rows[] = {
        {u"\\lib\\app.jar", PathForm::Relative, "/lib/app.jar"},  // stays relative to the launcher's folder
        {u"lib\\app.jar", PathForm::Relative, "lib/app.jar"},
        {u"/opt/app/lib/app.jar", PathForm::Absolute, "/opt/app/lib/app.jar"},
        {u"C:\\Program Files\\Java", PathForm::Foreign, ""},
        {u"c:relative", PathForm::Foreign, ""},
        {u"\\\\server\\share\\x.jar", PathForm::Foreign, ""},
        {u"logs/out.log", PathForm::Relative, "logs/out.log"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(utf8(row.value));
        EXPECT_EQ(settingsPathForm(row.value), row.form);
        WideString value = row.value;
        EXPECT_EQ(settingsPath(value, u"Class Path"), row.form != PathForm::Foreign);
        EXPECT_EQ(utf8(value), row.native);
    }
}

TEST(LinuxSettingsPaths, ListsSplitAtSemicolonsAndColons) {
    List<WideString> items = settingsList(u"\\lib\\a.jar;/opt/b.jar:lib/c.jar;C:\\x.jar:d:/y.jar:e");
    std::string joined;
    for (const WideString& item : items) joined += utf8(item) + "|";
    // A drive's colon separates nothing.
    EXPECT_EQ(joined, "\\lib\\a.jar|/opt/b.jar|lib/c.jar|C:\\x.jar|d:/y.jar|e|");
}

TEST(LinuxSettingsPaths, SettingsFileIsTheWholeNameWithIniAppended) {
    EXPECT_EQ(utf8(settingsPathFor(u"/opt/app/MyApp")), "/opt/app/MyApp.ini");
    EXPECT_EQ(utf8(settingsPathFor(u"/opt/v1.2/org.example.App")), "/opt/v1.2/org.example.App.ini");
}

TEST(LinuxRuntimeVersions, FromFolderNames) {
    struct Row {
        const char16_t* name;
        bool parses;
        const char* version;
    } rows[] = {
        {u"java-17-openjdk-amd64", true, "17.0.0.0"},
        {u"java-1.17.0-openjdk-amd64", true, "17.0.0.0"},
        {u"jdk-21.0.2", true, "21.0.2.0"},
        {u"jdk1.8.0_392", true, "1.8.0.392"},
        {u"temurin-25-jdk-amd64", true, "25.0.0.0"},
        {u"default-java", false, ""},
        // Java 8 as Debian, Ubuntu and Red Hat name it is 1.8; the others as they say.
        {u"java-8-openjdk-amd64", true, "1.8.0.0"},
        {u"java-1.8.0-openjdk-amd64", true, "1.8.0.0"},
        {u"java-1.8.0-openjdk-1.8.0.392.b08-4.el8.x86_64", true, "1.8.0.0"},
        {u"jre-1.8.0-openjdk", true, "1.8.0.0"},
        {u"java-11-openjdk-amd64", true, "11.0.0.0"},
        {u"java-11-openjdk-11.0.21.0.9-2.el8.x86_64", true, "11.0.0.0"},
        {u"java-17-openjdk-17.0.9.0.9-2.el8.x86_64", true, "17.0.0.0"},
        {u"java-21-openjdk-amd64", true, "21.0.0.0"},
        {u"java-21-openjdk-21.0.1.0.12-2.el9.x86_64", true, "21.0.0.0"},
        {u"jdk-8u392", true, "1.8.0.0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(utf8(row.name));
        RuntimeVersion version;
        ASSERT_EQ(folderNameVersion(row.name, version), row.parses);
        if (!row.parses) continue;
        char text[64];
        snprintf(text, sizeof text, "%d.%d.%d.%d", version.major, version.minor, version.micro, version.update);
        EXPECT_STREQ(text, row.version);
    }
}

TEST(LinuxLibraries, ProcessorFromTheElfHeader) {
    auto header = [](uint8_t elfClass, uint16_t machine, uint16_t type) {
        std::string bytes(64, '\0');
        bytes[0] = 0x7F, bytes[1] = 'E', bytes[2] = 'L', bytes[3] = 'F';
        bytes[4] = static_cast<char>(elfClass), bytes[5] = 1;
        bytes[16] = static_cast<char>(type), bytes[18] = static_cast<char>(machine & 0xFF);
        bytes[19] = static_cast<char>(machine >> 8);
        return bytes;
    };
    struct Row {
        uint8_t elfClass;
        uint16_t machine;
        uint16_t type;
        bool valid;
        uint16_t expected;
    } rows[] = {
        {2, 62, 3, true, kMachineAmd64},   // x86-64 shared object
        {1, 3, 3, true, kMachineI386},     // 32-bit x86
        {2, 183, 3, true, kMachineArm64},  // aarch64
        {1, 62, 3, true, 0x7F3E},          // x32: not this launcher's
        {2, 62, 1, false, 0},              // a relocatable object
        {3, 62, 3, false, 0},              // no such class
    };
    for (const Row& row : rows) {
        std::string bytes = header(row.elfClass, row.machine, row.type);
        uint16_t machine = 0;
        EXPECT_EQ(elfMachine(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), machine), row.valid);
        if (row.valid) {
            EXPECT_EQ(machine, row.expected);
        }
    }
    uint16_t machine = 0;
    EXPECT_FALSE(elfMachine(reinterpret_cast<const uint8_t*>("MZ"), 2, machine));
}

class LinuxSettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/launcher-settings-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        path_ = folder_ + "/App.ini";
    }
    void TearDown() override {
        unlink(path_.c_str());
        rmdir(folder_.c_str());
    }
    void writeBytes(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
    std::string readBytes() {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }
    WideString path() { return platform::fromNative(path_.c_str()); }
    std::string folder_, path_;
};

TEST_F(LinuxSettingsFileTest, WritingKeepsTheEncodingAndTheOtherLines) {
    struct Row {
        const char* name;
        std::string before;
        std::string after;
    } rows[] = {
        {"UTF-8 with CRLF, key replaced", "; note\r\n[Java Runtime Environment]\r\nJRE Path=old\r\nMain Class=A\r\n",
         "; note\r\n[Java Runtime Environment]\r\nJRE Path=/opt/jdk \xC3\xA9\r\nMain Class=A\r\n"},
        {"UTF-8 mark kept, key added to its section", "\xEF\xBB\xBF[java runtime environment]\nMain Class=A\n\n[Other]\nx=1\n",
         "\xEF\xBB\xBF[java runtime environment]\nMain Class=A\nJRE Path=/opt/jdk \xC3\xA9\n\n[Other]\nx=1\n"},
        {"no section yet", "[Other]\nx=1\n", "[Other]\nx=1\n[Java Runtime Environment]\nJRE Path=/opt/jdk \xC3\xA9\n"},
        // Where the reader finds it: the first of two sections, a header with a comment.
        {"the first section", "[Java Runtime Environment] ; runtime\nx=1\n\n[Java Runtime Environment]\nJRE Path=b\n",
         "[Java Runtime Environment] ; runtime\nx=1\nJRE Path=/opt/jdk \xC3\xA9\n\n[Java Runtime Environment]\nJRE Path=b\n"},
        {"UTF-16", utf16(u"\uFEFF[A]\n"),
         utf16(u"\uFEFF[A]\n[Java Runtime Environment]\nJRE Path=/opt/jdk \u00e9\n")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        writeBytes(row.before);
        // A read first: the cached parse must not hide the write.
        char16_t buffer[64];
        platform::readProfileString(path(), u"Java Runtime Environment", u"JRE Path", buffer, 64);
        ASSERT_TRUE(platform::writeProfileString(path(), u"Java Runtime Environment", u"JRE Path", u"/opt/jdk \u00e9"));
        EXPECT_EQ(readBytes(), row.after);
        platform::readProfileString(path(), u"Java Runtime Environment", u"JRE Path", buffer, 64);
        EXPECT_EQ(utf8(WideString(buffer)), "/opt/jdk \xC3\xA9");
    }
}

TEST(LinuxEnvironment, WindowsPlacesAreDefinedWhereTheEnvironmentLacksThem) {
    struct Row {
        const char* text;
        const char* expanded;
    } rows[] = {
        {"%TEMP%\\MyApp\\out.log", "/var/tmp/user\\MyApp\\out.log"},
        {"%tmp%", "/var/tmp/user"},
        {"%APPDATA%", "/home/user/.config"},
        {"%LocalAppData%", "/home/user/data"},
        {"%USERPROFILE%", "/home/user"},
        {"%UNKNOWN%", "%UNKNOWN%"},
    };
    Variables variables{{"TEMP", nullptr},      {"TMP", nullptr},         {"APPDATA", nullptr},
                        {"LOCALAPPDATA", nullptr}, {"USERPROFILE", nullptr}, {"UNKNOWN", nullptr},
                        {"TMPDIR", "/var/tmp/user"}, {"HOME", "/home/user"}, {"XDG_CONFIG_HOME", nullptr},
                        {"XDG_DATA_HOME", "/home/user/data"}};
    for (const Row& row : rows) {
        WideString expanded;
        ASSERT_TRUE(platform::expandEnvironment(platform::fromNative(row.text), expanded));
        EXPECT_EQ(utf8(expanded), row.expanded) << row.text;
    }
    // The system's own value, where there is one.
    Variables set{{"TEMP", "/own"}, {"TMPDIR", nullptr}, {"XDG_DATA_HOME", "relative"}};
    WideString expanded;
    platform::expandEnvironment(u"%TEMP%:%TMP%:%LOCALAPPDATA%", expanded);
    EXPECT_EQ(utf8(expanded), "/own:/tmp:/home/user/.local/share");
}

TEST(LinuxSettingsPaths, PerUserCopyWithoutProductLiesInAFolderOfItsOwn) {
    Variables variables{{"XDG_CONFIG_HOME", "/home/user/.config"}};
    struct Row {
        const char16_t* name;
        const char16_t* code;
        const char* path;
    } rows[] = {
        {u"", u"", "/home/user/.config/MyApp/MyApp.ini"},
        {u"Product", u"", "/home/user/.config/Product//MyApp.ini"},
        {u"Product", u"2", "/home/user/.config/Product/2/MyApp.ini"},
        {u"", u"2", "/home/user/.config//2/MyApp.ini"},
    };
    for (const Row& row : rows) {
        Launcher launcher;
        launcher.productName = row.name;
        launcher.productCode = row.code;
        EXPECT_EQ(utf8(perUserSettingsPath(launcher, u"/opt/app/MyApp", false)), row.path);
    }
}

TEST(LinuxEnvironment, LibraryFoldersGoAheadOfTheRuntimesOwnAndThePathOnlyWhenSet) {
    WideString self;
    ASSERT_TRUE(platform::modulePath(self));
    std::string folder = utf8(self.left(self.findLast(u'/')));
    struct Row {
        const char16_t* libraryPath;
        const char* variableBefore;  // LD_LIBRARY_PATH; null: unset
        const char* pathBefore;      // PATH; null: unset
        const char* variable;        // while the virtual machine starts
        const char* path;
    } rows[] = {
        {u"/opt/app/native:lib", nullptr, "/usr/bin", "/opt/app/native:lib:@", "/usr/bin:/jdk/bin"},
        {u"/opt/app/native", "/user/lib", nullptr, "/opt/app/native:@:/user/lib", nullptr},
        {u"/opt/app/native", "", "", "/opt/app/native:@", ""},
        {u"", "/user/lib", "/usr/bin", "/user/lib", "/usr/bin:/jdk/bin"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(utf8(row.libraryPath));
        Variables variables{{"LD_LIBRARY_PATH", row.variableBefore}, {"PATH", row.pathBefore}};
        Launcher launcher;
        launcher.libraryPath = row.libraryPath;
        launcher.jvmLibraryPath = u"/jdk/lib/server/libjvm.so";
        prepareEnvironment(launcher);
        // No option: the runtime's default (with the system's JNI folders) stays.
        for (const NarrowString& option : launcher.vmOptions)
            EXPECT_EQ(option.find("java.library.path"), NarrowString::npos) << option.c_str();
        std::string expected = row.variable;
        if (expected.find('@') != std::string::npos) expected.replace(expected.find('@'), 1, folder);
        const char* variable = getenv("LD_LIBRARY_PATH");
        EXPECT_EQ(variable ? variable : "(unset)", expected);
        const char* path = getenv("PATH");
        EXPECT_STREQ(path ? path : "(unset)", row.path ? row.path : "(unset)");
        // The program's children inherit the user's own value.
        restoreLibraryVariable(launcher);
        variable = getenv("LD_LIBRARY_PATH");
        EXPECT_STREQ(variable ? variable : "(unset)", row.variableBefore ? row.variableBefore : "(unset)");
    }
}

// Runtime homes under a search root that stands in for the system's, with
// libraries that are images headers only.
class LinuxSearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/launcher-search-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        make(root_ + "/usr/lib/jvm");
        make(root_ + "/bin");
    }
    void TearDown() override { system(("rm -rf '" + root_ + "'").c_str()); }
    static void make(const std::string& folder) { system(("mkdir -p '" + folder + "'").c_str()); }
    static void file(const std::string& path, const std::string& bytes) {
        make(path.substr(0, path.rfind('/')));
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string image(uint16_t machine) {
        std::string bytes(64, '\0');
        bytes[0] = 0x7F, bytes[1] = 'E', bytes[2] = 'L', bytes[3] = 'F', bytes[4] = 2, bytes[5] = 1, bytes[16] = 3;
        bytes[18] = static_cast<char>(machine & 0xFF), bytes[19] = static_cast<char>(machine >> 8);
        return bytes;
    }
    // A home below the root: its release (none when empty), a kit or not,
    // its library below lib/ (Java 8 kits below jre/lib/amd64/).
    std::string home(const std::string& relative, const std::string& release, bool kit, bool old = false,
                     const std::string& library = image(62)) {
        std::string home = root_ + "/" + relative;
        std::string runtime = old ? home + "/jre" : home;
        file(runtime + (old ? "/lib/amd64/server/libjvm.so" : "/lib/server/libjvm.so"), library);
        file(runtime + "/bin/java", "");
        if (!release.empty()) file(home + "/release", "JAVA_VERSION=\"" + release + "\"\n");
        if (kit) file(home + "/bin/javac", "");
        return home;
    }
    void link(const std::string& target, const std::string& name) {
        make(name.substr(0, name.rfind('/')));
        ASSERT_EQ(symlink(target.c_str(), name.c_str()), 0) << name;
    }
    // The folder the search chose below the root, or "none".
    std::string chosen(Launcher& launcher, const char* path) {
        Variables variables{{"VEDA_LAUNCHER_SEARCH_ROOT", root_.c_str()}, {"PATH", path}};
        if (!runtimeFromInstalledFolders(launcher)) return "none";
        return relative(launcher.jvmLibraryPath);
    }
    std::string relative(const WideString& library) {
        std::string text = utf8(library);
        if (text.compare(0, root_.size() + 1, root_ + "/") == 0) text = text.substr(root_.size() + 1);
        size_t lib = text.rfind("/lib/");
        return lib == std::string::npos ? text : text.substr(0, lib);
    }
    std::string root_;
};

TEST_F(LinuxSearchTest, TheUsersOrTheSystemsChoiceComesBeforeTheNewest) {
    home("usr/lib/jvm/java-17-openjdk-amd64", "17.0.9", true);
    home("usr/lib/jvm/java-21-openjdk-amd64", "21.0.1", true);
    home("usr/lib/jvm/temurin-25-jdk-amd64", "25", true);
    home("opt/sdk/java/11.0.20", "11.0.20", true);
    link(root_ + "/usr/lib/jvm/java-17-openjdk-amd64", root_ + "/usr/lib/jvm/default-java");
    std::string sdk = root_ + "/opt/sdk/java/11.0.20/bin";
    struct Row {
        const char* path;       // what the search path holds: no java, the alternative, a user's tool
        const char* minimum;
        const char* preferred;  // "Preferred versions"
        const char* chosen;
    } rows[] = {
        {"", "", "", "usr/lib/jvm/default-java"},                       // the system's default
        {"java-21", "", "", "usr/lib/jvm/java-21-openjdk-amd64"},       // the alternative chosen
        {"sdk", "", "", "opt/sdk/java/11.0.20"},                        // a user's own tool
        {"sdk", "17", "", "usr/lib/jvm/temurin-25-jdk-amd64"},          // outside the bounds: the newest
        {"", "", "21;17", "usr/lib/jvm/java-21-openjdk-amd64"},         // another named before it
        {"", "", "25;17", "usr/lib/jvm/temurin-25-jdk-amd64"},
        {"", "", "17;21", "usr/lib/jvm/default-java"},
        {"", "", "1.6", "usr/lib/jvm/default-java"},                    // nothing found is named
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.path) + " / " + row.minimum + " / " + row.preferred);
        unlink((root_ + "/bin/java").c_str());
        std::string path = root_ + "/bin";
        if (std::string(row.path) == "java-21")
            link(root_ + "/usr/lib/jvm/java-21-openjdk-amd64/bin/java", root_ + "/bin/java");
        if (std::string(row.path) == "sdk") path = sdk + ":" + path;
        Launcher launcher;
        if (*row.minimum) launcher.minimumVersion = parseVersion(platform::fromNative(row.minimum), 0);
        if (*row.preferred) launcher.preferredVersions = splitAt(platform::fromNative(row.preferred), u';');
        EXPECT_EQ(chosen(launcher, path.c_str()), row.chosen);
    }
}

TEST_F(LinuxSearchTest, JavaEightOfTheDistributionsIsOnePointEight) {
    // Debian's and Ubuntu's Java 8: no release file, the runtime in jre/, and
    // /usr/bin/java a link into jre/bin/.
    home("usr/lib/jvm/java-8-openjdk-amd64", "", true, true);
    link(root_ + "/usr/lib/jvm/java-8-openjdk-amd64/jre/bin/java", root_ + "/bin/java");
    for (const char* maximum : {"1.8", ""}) {
        Launcher launcher;
        if (*maximum) launcher.maximumVersion = parseVersion(platform::fromNative(maximum), 65535);
        launcher.preferredVersions = splitAt(u"1.8", u';');
        EXPECT_EQ(chosen(launcher, (root_ + "/bin").c_str()), "usr/lib/jvm/java-8-openjdk-amd64/jre") << maximum;
        EXPECT_EQ(utf8(versionText(launcher.foundVersion)), "1.8") << maximum;
    }
    RuntimeVersion version;
    ASSERT_TRUE(homeVersion(platform::fromNative((root_ + "/usr/lib/jvm/java-8-openjdk-amd64/jre/").c_str()), version));
    EXPECT_EQ(utf8(versionText(version)), "1.8");
}

TEST_F(LinuxSearchTest, JvmSourceDecidesInEveryPlace) {
    std::string kit = home("usr/lib/jvm/jdk-21", "21", true);
    std::string jre = home("usr/lib/jvm/jre-17", "17", false);
    link(kit + "/bin/java", root_ + "/bin/java");
    struct Row {
        bool only;        // only_JDK or only_JRE
        bool kits;        // which kind
        const char* javaHome;
        const char* chosen;
    } rows[] = {
        {true, false, nullptr, "usr/lib/jvm/jre-17"},  // the kit on the search path is not taken
        {true, true, nullptr, "usr/lib/jvm/jdk-21"},
        {true, true, "jre-17", "usr/lib/jvm/jdk-21"},  // nor a JAVA_HOME without the compiler
        {true, false, "jdk-21", "usr/lib/jvm/jre-17"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.kits ? "only_JDK" : "only_JRE") + " / " + (row.javaHome ? row.javaHome : "-"));
        Launcher launcher;
        launcher.acceptBothKinds = false;
        launcher.jdkPreferred = row.kits;
        launcher.jrePreferred = !row.kits;
        std::string home = row.javaHome ? root_ + "/usr/lib/jvm/" + row.javaHome : std::string();
        Variables variables{{"JAVA_HOME", row.javaHome ? home.c_str() : nullptr}};
        bool fromJavaHome = row.javaHome && runtimeFromJavaHome(launcher);
        EXPECT_FALSE(fromJavaHome);
        EXPECT_EQ(chosen(launcher, (root_ + "/bin").c_str()), row.chosen);
    }
}

TEST_F(LinuxSearchTest, ABrokenLibraryHasOneReasonEverywhere) {
    std::string broken = home("usr/lib/jvm/jdk-21", "21", true, false, image(62).substr(0, 10));
    home("usr/lib/jvm/jdk-22-arm", "22", true, false, image(183));
    file(root_ + "/usr/lib/jvm/.jdk-21.jinfo", "");
    std::string trace = root_ + "/trace.log";
    Variables variables{{"VEDA_LAUNCHER_TRACE", trace.c_str()}, {"JAVA_HOME", broken.c_str()}};
    trace::reread();
    Launcher launcher;
    EXPECT_FALSE(runtimeFromJavaHome(launcher));
    EXPECT_EQ(chosen(launcher, (root_ + "/bin").c_str()), "none");
    Variables::set("VEDA_LAUNCHER_TRACE", nullptr);
    trace::reread();
    std::ifstream in(trace);
    std::string line, text;
    // The reason of the rejection whose place ends as given.
    std::map<std::string, std::string> reasons;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();  // the trace's lines end as on Windows
        text += line + "\n";
        size_t place = line.find(" rejected place=\"");
        size_t reason = line.find(" reason=\"");
        if (place == std::string::npos || reason == std::string::npos) continue;
        std::string name = line.substr(place + 17, line.find('"', place + 17) - place - 17);
        reasons[name.substr(name.rfind('/', name.size() - 2) + 1)] = line.substr(reason + 9, line.size() - reason - 10);
    }
    EXPECT_EQ(reasons["JAVA_HOME"], "its libjvm.so is not an image") << text;
    EXPECT_EQ(reasons["jdk-21/"], "its libjvm.so is not an image") << text;
    EXPECT_EQ(reasons["jdk-22-arm/"], "its libjvm.so is for a processor neither this launcher nor \"\"Pair Product\"\" serves")
        << text;
    // Only the runtime folders are counted, not "." and ".." or other files.
    EXPECT_NE(text.find("/usr/lib/jvm/\" folders=2\n"), std::string::npos) << text;
}

TEST(LinuxMemory, TheControlGroupsLowestLimitOnTheWayUp) {
    struct Row {
        const char* name;
        const char* groups;                                   // /proc/self/cgroup
        std::vector<std::pair<const char*, const char*>> limits;  // files below /sys/fs/cgroup
        uint64_t limit;
    } rows[] = {
        {"the lowest above a higher one", "0::/a/b/c\n",
         {{"a/b/c/memory.max", "max\n"}, {"a/b/memory.max", "2048\n"}, {"a/memory.max", "1024\n"}}, 1024},
        {"the lowest below higher ones", "0::/a/b/c\n",
         {{"a/b/c/memory.max", "512\n"}, {"a/b/memory.max", "2048\n"}, {"a/memory.max", "1024\n"}}, 512},
        {"none set", "0::/a/b\n", {{"a/b/memory.max", "max\n"}, {"a/memory.max", "max\n"}}, 0},
        {"a container's group missing below the mount", "0::/docker/1234\n", {{"memory.max", "3072\n"}}, 3072},
        {"version 1", "4:cpu,cpuacct:/x\n5:memory:/user.slice/app\n",
         {{"memory/user.slice/app/memory.limit_in_bytes", "9223372036854771712\n"},
          {"memory/user.slice/memory.limit_in_bytes", "4096\n"}, {"cpu/x/memory.limit_in_bytes", "1\n"}},
         4096},
    };
    for (const Row& row : rows) {
        char pattern[] = "/tmp/launcher-cgroup-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        std::string root = pattern;
        auto write = [](const std::string& path, const std::string& text) {
            system(("mkdir -p '" + path.substr(0, path.rfind('/')) + "'").c_str());
            std::ofstream(path) << text;
        };
        write(root + "/proc/self/cgroup", row.groups);
        for (const auto& limit : row.limits) write(root + "/sys/fs/cgroup/" + limit.first, limit.second);
        EXPECT_EQ(platform::controlGroupLimit(root.c_str()), row.limit) << row.name;
        system(("rm -rf '" + root + "'").c_str());
    }
}

TEST_F(LinuxSettingsFileTest, NamesThatAreNoUtf8SurviveTheFile) {
    // A folder named in Latin-1, as the system gives it, and a byte of the
    // same kind elsewhere in the file: both written back as they were.
    writeBytes("[Java Runtime Environment]\nMain Class=A\xE9\n");
    ASSERT_TRUE(platform::writeProfileString(path(), u"Java Runtime Environment", u"JRE Path",
                                             platform::fromNative("/opt/jdk-\xE9")));
    EXPECT_EQ(readBytes(), "[Java Runtime Environment]\nMain Class=A\xE9\nJRE Path=/opt/jdk-\xE9\n");
    char16_t buffer[64];
    platform::readProfileString(path(), u"Java Runtime Environment", u"JRE Path", buffer, 64);
    EXPECT_EQ(std::string(platform::toNative(WideString(buffer)).c_str()), "/opt/jdk-\xE9");
}

TEST(LinuxDialogs, ShownOnlyWithoutATerminalUnlessTheVariableSays) {
    struct Row {
        const char* setting;
        bool inputTerminal, errorTerminal, shown;
    } rows[] = {
        {nullptr, false, false, true},  // a menu or a file manager
        {nullptr, false, true, false},  // a terminal reads the standard error
        {nullptr, true, false, false},  // out=$(tool 2>&1) typed in a terminal
        {"", true, true, false},
        {"always", true, true, true},
        {"Always", true, false, true},
        {"NEVER", false, false, false},
        {"sometimes", false, false, true},  // no such value: the rule
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << (row.setting ? row.setting : "(unset)") << row.inputTerminal << row.errorTerminal);
        EXPECT_EQ(dialogs::wantedFor(row.setting, row.inputTerminal, row.errorTerminal), row.shown);
    }
}

TEST(LinuxDialogs, TextAsGtkTakesIt) {
    struct Row {
        std::string given, shown;
    } rows[] = {
        {"plain \xC3\xA9 \xF0\x9F\x98\x80", "plain \xC3\xA9 \xF0\x9F\x98\x80"},
        {std::string("Nul \0here", 9), "Nul \xE2\x90\x80here"},
        {"cut \xC3", "cut \xEF\xBF\xBD"},
        {"latin \xE9t\xE9", "latin \xEF\xBF\xBDt\xEF\xBF\xBD"},
        {"overlong \xC0\xAF", "overlong \xEF\xBF\xBD\xEF\xBF\xBD"},
        {"surrogate \xED\xA0\x80", "surrogate \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.shown);
        NarrowString shown = dialogs::shownText(NarrowString(row.given.data(), row.given.size()));
        EXPECT_EQ(std::string(shown.data(), shown.size()), row.shown);
    }
    EXPECT_EQ(std::string(dialogs::windowClassOf(u"org.example.App").c_str()), "org-example-App");
    EXPECT_EQ(std::string(dialogs::windowClassOf(u"org/example/App").c_str()), "org-example-App");
}

}  // namespace
