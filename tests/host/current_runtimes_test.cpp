// The places where current runtimes are found: the registry keys of Java 9
// and later and of the current vendors' installers, JAVA_HOME with its
// release file, the full path of the library taken, and the trace that
// explains the choice.
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "launcher/launcher_settings.h"
#include "runtime/java_home.h"
#include "runtime/pe_image.h"
#include "runtime/runtime_search.h"
#include "support/trace.h"
#include "test_support.h"

namespace {

typedef std::vector<std::string> Strings;

std::string image(uint16_t machine) { return peImage(machine); }

class CurrentRuntimesTest : public LauncherTest {
protected:
    // <name>\bin\<vm>\jvm.dll for each vm; returns the folder (no trailing backslash).
    WideString runtime(const std::string& name, const std::vector<const char*>& vms = {"server"},
                       const std::string& content = "") {
        for (const char* vm : vms) folder.write(name + "/bin/" + vm + "/jvm.dll", content);
        return folder.path() + W(name.c_str());
    }
    void value(const std::string& key, const char* name, const WideString& data, bool otherView = false) {
        platform::host::setRegistryValue(otherView, W(("Software\\" + key).c_str()), W(name), data);
    }
    void configure(const std::string& lines = "") {
        settings("[Java Runtime Environment]\nMain Class=App\n" + lines);
        ASSERT_TRUE(readLauncherSettings(launcher));
    }
    std::string library(const std::string& relative) { return U(folder.path()) + relative; }

    Launcher launcher;
};

TEST_F(CurrentRuntimesTest, EachKeyFamilyIsFoundWithItsLayout) {
    struct Case {
        const char* key;       // under Software\, the version subkey and the path below it
        const char* valueName;
        const char* home;      // folder of the case
        const char* jvm;       // where the library lies in it
        const char* version;   // foundVersion
        const char* current;   // "CurrentVersion" of the key, or nullptr
    } cases[] = {
        {"JavaSoft\\JDK\\17", "JavaHome", "jdk17", "bin/server", "17.0", nullptr},
        {"JavaSoft\\JDK\\1.8", "JavaHome", "jdk8", "jre/bin/server", "1.8", nullptr},
        {"JavaSoft\\JRE\\21.0.1", "JavaHome", "jre21", "bin/server", "21.0.1", nullptr},
        {"Eclipse Adoptium\\JDK\\17.0.9.9\\hotspot\\MSI", "Path", "temurin17", "bin/server", "17.0.9.9", nullptr},
        {"Eclipse Adoptium\\JDK\\11.0.21.9\\openj9\\MSI", "Path", "temurin11j9", "bin/server", "11.0.21.9", nullptr},
        {"Eclipse Adoptium\\JRE\\17.0.9.9\\hotspot\\MSI", "Path", "temurinjre", "bin/server", "17.0.9.9", nullptr},
        {"Eclipse Adoptium\\JRE\\8.0.392.8\\openj9\\MSI", "Path", "temurinjre8", "bin/client", "1.8.0.392", nullptr},
        {"AdoptOpenJDK\\JDK\\11.0.2.9\\hotspot\\MSI", "Path", "adopt11", "bin/server", "11.0.2.9", nullptr},
        {"AdoptOpenJDK\\JDK\\8.0.282.8\\openj9\\MSI", "Path", "adopt8j9", "jre/bin/server", "1.8.0.282", nullptr},
        {"AdoptOpenJDK\\JRE\\16.0.1.9\\hotspot\\MSI", "Path", "adoptjre", "bin/server", "16.0.1.9", nullptr},
        {"AdoptOpenJDK\\JRE\\11.0.9.11\\openj9\\MSI", "Path", "adoptjre9", "bin/server", "11.0.9.11", nullptr},
        {"Microsoft\\JDK\\21.0.1.12\\hotspot\\MSI", "Path", "ms21", "bin/server", "21.0.1.12", nullptr},
        {"Azul Systems\\Zulu\\zulu-17", "InstallationPath", "zulu17", "bin/server", "17.0.9", "17.0.9"},
        {"Azul Systems\\Zulu\\zulu-11", "InstallationPath", "zulu11", "bin/server", "11.0", nullptr},
        {"Azul Systems\\Zulu\\zulu-8", "InstallationPath", "zulu8", "jre/bin/server", "1.8.0.392", "1.8.0_392"},
    };
    for (const Case& c : cases) {
        platform::host::reset();
        platform::host::setModulePath(executable());
        folder.write(std::string(c.home) + "/" + c.jvm + "/jvm.dll", "");
        std::string key = c.key;
        // The home value ends with a backslash in some installers and not in others.
        value(key, c.valueName, folder.path() + W(c.home) + (c.current ? u"\\" : u""));
        if (c.current) value(key, "CurrentVersion", W(c.current));
        Launcher fresh;
        fresh.jvmType = 2;
        ASSERT_TRUE(findRuntime(fresh)) << c.key;
        std::string jvm = std::string(c.home) + "/" + c.jvm + "/jvm.dll";
        for (char& ch : jvm)
            if (ch == '/') ch = '\\';
        EXPECT_EQ(U(fresh.jvmLibraryPath), library(jvm)) << c.key;
        EXPECT_EQ(U(versionText(fresh.foundVersion)), c.version) << c.key;
        // JavaSoft for "VM Provider", and never the IBM key's endless wait.
        EXPECT_EQ(fresh.runtimeVendor, RuntimeVendor::JavaSoft) << c.key;
        EXPECT_FALSE(fresh.pairLaunch) << c.key;
    }
}

TEST_F(CurrentRuntimesTest, NewKeysJoinTheCandidatePoolAndItsOrder) {
    value("JavaSoft\\Java Runtime Environment\\1.8.0_392", "JavaHome", runtime("jre8", {"client"}));
    value("Eclipse Adoptium\\JRE\\11.0.21.9\\hotspot\\MSI", "Path", runtime("jre11"));
    value("Microsoft\\JDK\\17.0.9.8\\hotspot\\MSI", "Path", runtime("jdk17"));
    value("Eclipse Adoptium\\JDK\\21.0.1.12\\hotspot\\MSI", "Path", runtime("jdk21", {"client"}));
    value("Azul Systems\\Zulu\\zulu-17", "InstallationPath", runtime("zulujre17"));
    folder.write("zulujdk11/bin/javac.exe", "");
    value("Azul Systems\\Zulu\\zulu-11", "InstallationPath", runtime("zulujdk11"));
    struct Case {
        const char* lines;
        const char* chosen;  // the home chosen, nullptr for none
    } cases[] = {
        {"", "jdk21"},
        {"Maximum Version=11\n", "jre11"},
        {"Minimum Version=1.8\nMaximum Version=1.8\n", "jre8"},
        {"Minimum Version=22\n", nullptr},
        {"Preferred versions=17;11\n", "jdk17"},  // the first 17 in sorted order: Microsoft before Zulu
        {"JVM Source=favor_JRE\n", "zulujre17"},
        {"JVM Source=only_JRE\n", "zulujre17"},
        {"JVM Source=only_JDK\nMaximum Version=16\n", "zulujdk11"},
        {"JVM Source=only_JDK\nMaximum Version=1.8\n", nullptr},
        {"JVM Type=favor_server\n", "jdk17"},
        {"JVM Type=server\nMaximum Version=20\n", "jdk17"},
        {"VM Provider=favor_ibm\n", "jdk21"},
        {"VM Provider=favor_sun\nJVM Source=favor_JDK\nMaximum Version=17\n", "jdk17"},
        {"VM Provider=jrockit\n", nullptr},
        {"VM Provider=ibm\n", nullptr},
    };
    for (const Case& c : cases) {
        Launcher fresh;
        settings(std::string("[Java Runtime Environment]\nMain Class=App\n") + c.lines);
        ASSERT_TRUE(readLauncherSettings(fresh));
        bool found = findRuntime(fresh);
        EXPECT_EQ(found, c.chosen != nullptr) << c.lines;
        if (found && c.chosen) {
            WideString path = fresh.jvmLibraryPath;
            EXPECT_EQ(U(path.left(path.find(u"\\bin\\"))), library(c.chosen)) << c.lines;
            EXPECT_EQ(fresh.runtimeVendor, RuntimeVendor::JavaSoft) << c.lines;
        }
    }
}

TEST_F(CurrentRuntimesTest, JavaEightOfTheCurrentVendorsIsOneEight) {
    value("Eclipse Adoptium\\JRE\\8.0.392.8\\hotspot\\MSI", "Path", runtime("temurin8"));
    value("Azul Systems\\Zulu\\zulu-8", "InstallationPath", runtime("zulu8"));
    value("Eclipse Adoptium\\JDK\\17.0.9.9\\hotspot\\MSI", "Path", runtime("temurin17"));
    struct Case {
        const char* lines;
        const char* chosen;
        const char* version;  // foundVersion
    } cases[] = {
        {"Maximum Version=1.8\n", "temurin8", "1.8.0.392"},
        {"Maximum Version=1.8.0_100\n", "zulu8", "1.8"},
        {"Preferred versions=1.8\n", "temurin8", "1.8.0.392"},
        {"Minimum Version=8\n", "temurin17", "17.0.9.9"},
    };
    for (const Case& c : cases) {
        Launcher fresh;
        settings(std::string("[Java Runtime Environment]\nMain Class=App\n") + c.lines);
        ASSERT_TRUE(readLauncherSettings(fresh));
        ASSERT_TRUE(findRuntime(fresh)) << c.lines;
        WideString path = fresh.jvmLibraryPath;
        EXPECT_EQ(U(path.left(path.find(u"\\bin\\"))), library(c.chosen)) << c.lines;
        EXPECT_EQ(U(versionText(fresh.foundVersion)), c.version) << c.lines;
    }
}

TEST_F(CurrentRuntimesTest, KindsAndVendorsOfTheNewKeys) {
    struct Case {
        const char* source;
        const char* provider;
        Strings searched;  // families searched among the new keys, by their path
    } cases[] = {
        {"", "", {"JDK", "JRE", "Zulu"}},
        {"only_JDK", "", {"JDK", "Zulu"}},
        {"only_JRE", "any", {"JRE", "Zulu"}},
        {"favor_JRE", "favor_ibm", {"JDK", "JRE", "Zulu"}},
        {"", "jrockit", {}},
        {"", "ibm", {}},
        {"JRE", "", {}},
    };
    for (const Case& c : cases) {
        Launcher fresh;
        settings(std::string("[Java Runtime Environment]\nMain Class=App\nJVM Source=") + c.source +
                 "\nVM Provider=" + c.provider + "\n");
        ASSERT_TRUE(readLauncherSettings(fresh));
        for (size_t i = 5; i < kVendorKeyCount; ++i) {
            const VendorKey& key = kVendorKeys[i];
            std::string family = key.kind == RuntimeKind::FromHome ? "Zulu"
                                 : key.kind == RuntimeKind::DevelopmentKit ? "JDK"
                                                                           : "JRE";
            bool listed = std::find(c.searched.begin(), c.searched.end(), family) != c.searched.end();
            EXPECT_EQ(vendorKeySearched(fresh, key), listed) << c.source << "/" << c.provider << " "
                                                             << U(WideString(key.path));
            EXPECT_EQ(key.vendor, RuntimeVendor::JavaSoft);
        }
    }
}

TEST_F(CurrentRuntimesTest, FavorServerValidatesOnlyTheOldRuntimeKeyClientFirst) {
    value("JavaSoft\\Java Runtime Environment\\1.8", "JavaHome", runtime("old", {"client", "server"}));
    value("JavaSoft\\JRE\\17", "JavaHome", runtime("new", {"client", "server"}));
    value("Eclipse Adoptium\\JRE\\11.0.21.9\\hotspot\\MSI", "Path", runtime("temurin", {"client", "server"}));
    configure("JVM Type=favor_server\n");
    struct Case {
        size_t key;
        bool serverVm;
    } cases[] = {{1, false}, {6, true}, {9, true}};
    for (const Case& c : cases) {
        List<RuntimeCandidate> candidates;
        scanVendorKey(launcher, candidates, kVendorKeys[c.key], false);
        ASSERT_EQ(candidates.size(), 1u) << U(WideString(kVendorKeys[c.key].path));
        EXPECT_EQ(candidates[0].serverVm, c.serverVm) << U(WideString(kVendorKeys[c.key].path));
    }
}

TEST_F(CurrentRuntimesTest, OtherRegistryViewWithAPairedProduct) {
    value("Eclipse Adoptium\\JDK\\17.0.9.9\\hotspot\\MSI", "Path", runtime("jdk17", {"server"}, image(kPartnerMachine)), true);
    configure();
    EXPECT_FALSE(findRuntime(launcher));

    Launcher paired;
    settings("[Java Runtime Environment]\nMain Class=App\n[Application]\nPair Product=C:\\App\\other.exe\n");
    ASSERT_TRUE(readLauncherSettings(paired));
    ASSERT_TRUE(findRuntime(paired));
    EXPECT_TRUE(paired.pairLaunch);
    EXPECT_EQ(U(paired.jvmLibraryPath), library("jdk17\\bin\\server\\jvm.dll"));
}

TEST_F(CurrentRuntimesTest, ReleaseFileVersion) {
    struct Case {
        const char* text;
        const char* version;  // nullptr: none
    } cases[] = {
        {"IMPLEMENTOR=\"Eclipse Adoptium\"\nJAVA_VERSION=\"17.0.9\"\nOS_NAME=\"Windows\"\n", "17.0.9"},
        {"JAVA_VERSION=\"1.8.0_392\"\r\n", "1.8.0.392"},
        {"JAVA_VERSION=21.0.1\n", "21.0.1"},
        {"JAVA_VERSION=\"11\"", "11.0"},
        {"JAVA_RUNTIME_VERSION=\"17.0.9+9\"\nJAVA_VERSION_DATE=\"2023-10-17\"\n", nullptr},
        {" JAVA_VERSION=\"17\"\n", nullptr},
        {"JAVA_VERSION=\"\"\n", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        RuntimeVersion version;
        bool found = releaseVersion(NarrowString(c.text), version);
        EXPECT_EQ(found, c.version != nullptr) << c.text;
        if (found && c.version) {
            EXPECT_EQ(U(versionText(version)), c.version) << c.text;
        }
    }
}

TEST_F(CurrentRuntimesTest, JavaHomeAfterTheRegistry) {
    struct Case {
        const char* name;
        const char* release;  // nullptr: no release file
        const char* jvm;      // where the library lies, nullptr: none
        uint16_t machine;
        const char* lines;    // settings
        bool pairProduct;
        bool found;
        bool pairLaunch;
    } cases[] = {
        {"plain", "JAVA_VERSION=\"17.0.9\"", "bin/server", kMachineAmd64, "", false, true, false},
        {"client", "JAVA_VERSION=\"17.0.9\"", "bin/client", kMachineAmd64, "", false, true, false},
        {"old kit", "JAVA_VERSION=\"1.8.0_392\"", "jre/bin/server", kMachineAmd64, "", false, true, false},
        {"no library", "JAVA_VERSION=\"17\"", nullptr, kMachineAmd64, "", false, false, false},
        {"client only for server", "JAVA_VERSION=\"17\"", "bin/client", kMachineAmd64, "JVM Type=server\n", false,
         false, false},
        {"within bounds", "JAVA_VERSION=\"11.0.21\"", "bin/server", kMachineAmd64,
         "Minimum Version=1.8\nMaximum Version=11\n", false, true, false},
        {"above the maximum", "JAVA_VERSION=\"17.0.9\"", "bin/server", kMachineAmd64, "Maximum Version=11\n", false,
         false, false},
        {"below the minimum", "JAVA_VERSION=\"1.8.0_392\"", "bin/server", kMachineAmd64, "Minimum Version=11\n",
         false, false, false},
        {"unknown version, no bounds", nullptr, "bin/server", kMachineAmd64, "Maximum Version=any\n", false, true,
         false},
        {"unknown version, a bound", nullptr, "bin/server", kMachineAmd64, "Minimum Version=1.8\n", false, false,
         false},
        {"partner's processor", "JAVA_VERSION=\"17\"", "bin/server", kMachineI386, "", false, false, false},
        {"partner's processor, paired", "JAVA_VERSION=\"17\"", "bin/server", kMachineI386, "", true, true, true},
        {"other processor, paired", "JAVA_VERSION=\"17\"", "bin/server", kMachineArm64, "", true, false, false},
        {"not an image", "JAVA_VERSION=\"17\"", "bin/server", 0, "", true, false, false},
    };
    for (const Case& c : cases) {
        platform::host::reset();
        platform::host::setModulePath(executable());
        std::string home = std::string("home-") + c.name;
        for (char& ch : home)
            if (ch == ' ' || ch == ',' || ch == '\'') ch = '-';
        if (c.release) folder.write(home + "/release", c.release);
        if (c.jvm) folder.write(home + "/" + c.jvm + "/jvm.dll", c.machine ? image(c.machine) : "not an image");
        folder.write(home + "/bin/java.exe", "");
        platform::host::setEnvironment(W("JAVA_HOME"), folder.path() + W(home.c_str()));
        Launcher fresh;
        settings(std::string("[Java Runtime Environment]\nMain Class=App\n") + c.lines +
                 (c.pairProduct ? "[Application]\nPair Product=C:\\App\\other.exe\n" : ""));
        ASSERT_TRUE(readLauncherSettings(fresh));
        EXPECT_EQ(findRuntime(fresh), c.found) << c.name;
        EXPECT_EQ(fresh.pairLaunch, c.pairLaunch) << c.name;
        if (c.found) {
            std::string jvm = home + "\\" + c.jvm + "\\jvm.dll";
            for (char& ch : jvm)
                if (ch == '/') ch = '\\';
            EXPECT_EQ(U(fresh.jvmLibraryPath), library(jvm)) << c.name;
            EXPECT_EQ(fresh.runtimeVendor, RuntimeVendor::None) << c.name;
        } else {
            EXPECT_TRUE(fresh.jvmLibraryPath.empty()) << c.name;
        }
    }
}

TEST_F(CurrentRuntimesTest, RuntimeRejectedInTheOtherViewLeavesNoVendorForJavaHome) {
    // The IBM runtime chosen in the other view is for this build's processor:
    // passed over, JAVA_HOME wins, and the IBM key's endless wait must not follow.
    value("IBM\\Java2 Runtime Environment\\1.8", "JavaHome", runtime("ibm", {"client"}, image(kBuildMachine)), true);
    runtime("javahome", {"server"}, image(kBuildMachine));
    folder.write("javahome/release", "JAVA_VERSION=\"17.0.9\"\n");
    platform::host::setEnvironment(W("JAVA_HOME"), folder.path() + u"javahome");
    configure("VM Provider=ibm\n[Application]\nPair Product=C:\\App\\other.exe\n");
    ASSERT_TRUE(findRuntime(launcher));
    EXPECT_EQ(U(launcher.jvmLibraryPath), library("javahome\\bin\\server\\jvm.dll"));
    EXPECT_FALSE(launcher.pairLaunch);
    EXPECT_EQ(launcher.runtimeVendor, RuntimeVendor::None);
    EXPECT_EQ(U(versionText(launcher.foundVersion)), "17.0.9");
}

TEST_F(CurrentRuntimesTest, RegistryRuntimeComesBeforeJavaHome) {
    value("JavaSoft\\JDK\\11", "JavaHome", runtime("registered", {"server"}, image(kMachineAmd64)));
    runtime("javahome", {"server"}, image(kMachineAmd64));
    platform::host::setEnvironment(W("JAVA_HOME"), folder.path() + u"javahome");
    configure();
    ASSERT_TRUE(findRuntime(launcher));
    EXPECT_EQ(U(launcher.jvmLibraryPath), library("registered\\bin\\server\\jvm.dll"));
}

TEST_F(CurrentRuntimesTest, LibraryInTheCurrentDirectoryIsNeverTaken) {
    // No java.dll beside the executable, a jvm library below the current
    // directory (a document's folder): the registry's runtime, or nothing.
    runtime("cwd", {"client"});
    WorkingDirectory inside(folder.hostPath() + "/cwd");
    configure();
    EXPECT_FALSE(findRuntime(launcher));
    value("JavaSoft\\JRE\\17", "JavaHome", runtime("registered"));
    ASSERT_TRUE(findRuntime(launcher));
    EXPECT_EQ(U(launcher.jvmLibraryPath), library("registered\\bin\\server\\jvm.dll"));
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class TraceTest : public CurrentRuntimesTest {
protected:
    void SetUp() override {
        CurrentRuntimesTest::SetUp();
        platform::host::setEnvironment(W("VEDA_LAUNCHER_TRACE"), folder.path() + u"trace.txt");
        trace::reread();
    }
    void TearDown() override {
        platform::host::reset();
        trace::reread();
        EXPECT_FALSE(trace::enabled());
    }
    // The lines of the trace without time stamp and process id.
    Strings events() {
        Strings lines;
        std::istringstream text(readFile(folder.hostPath() + "/trace.txt"));
        std::string line;
        while (std::getline(text, line)) {
            EXPECT_EQ(line.back(), '\r') << line;
            line.pop_back();
            // "YYYY-MM-DD hh:mm:ss.mmm pid=N "
            EXPECT_EQ(line.substr(4, 1) + line.substr(10, 1) + line.substr(13, 1) + line.substr(19, 1), "- :.") << line;
            std::string pid = " pid=" + std::to_string(getpid()) + " ";
            EXPECT_EQ(line.substr(23, pid.size()), pid) << line;
            lines.push_back(line.substr(23 + pid.size()));
        }
        return lines;
    }
};

TEST_F(TraceTest, FieldsAreQuotedOnOneLine) {
    EXPECT_EQ(trace::formatField("a", "plain"), "a=\"plain\"");
    EXPECT_EQ(trace::formatField("b", "say \"hi\""), "b=\"say \"\"hi\"\"\"");
    EXPECT_EQ(trace::formatField("c", "two\r\nlines"), "c=\"two\\r\\nlines\"");
    TRACE_EVENT("event").field("text", W("C:\\Program Files\\Zulu \xE2\x98\x95")).field("number", int64_t{-7});
    EXPECT_EQ(events(), Strings({"event text=\"C:\\Program Files\\Zulu \xE2\x98\x95\" number=-7"}));
}

TEST_F(TraceTest, AFailedWriteEndsTheTrace) {
    platform::host::setEnvironment(W("VEDA_LAUNCHER_TRACE"), folder.path() + u"later\\trace.txt");
    trace::reread();
    TRACE_EVENT("first");
    folder.write("later/other", "");  // the file could be written from now on
    TRACE_EVENT("second");
    EXPECT_FALSE(trace::enabled());
    std::ifstream written(folder.hostPath() + "/later/trace.txt");
    EXPECT_FALSE(written.is_open());
}

TEST_F(TraceTest, SearchWithRejectionsExplainsTheChoice) {
    value("JavaSoft\\JDK\\21", "JavaHome", runtime("jdk21", {"client"}, image(kMachineAmd64)));
    value("JavaSoft\\JRE\\8", "JavaHome", runtime("jre8", {"server"}, image(kMachineAmd64)));
    value("Microsoft\\JDK\\17.0.9.8\\hotspot\\MSI", "Path", runtime("jdk17", {"server"}, image(kMachineAmd64)));
    value("Microsoft\\JDK\\11.0.2\\hotspot\\MSI", "Path", folder.path() + u"nothing-here");
    value("Azul Systems\\Zulu\\zulu-15", "CurrentVersion", W("15.0.2"));
    configure("JVM Type=server\nMinimum Version=11\nJRE Path=missing\n");
    ASSERT_TRUE(findRuntime(launcher));
    std::string home = U(folder.path());
    Strings lines = events();
    auto has = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    std::string view = sizeof(void*) == 4 ? " (32-bit view)\"" : " (64-bit view)\"";
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[0], "look place=\"JRE Path\" home=\"missing\\\"");
    EXPECT_EQ(lines[1], "rejected place=\"JRE Path\" version=\"-\" reason=\"no jvm.dll\"");
    EXPECT_TRUE(has("skipped place=\"HKLM\\Software\\JRockit\\Java Runtime Environment\\<version>" + view +
                    " reason=\"not searched for \"\"VM Provider\"\"\""));
    EXPECT_TRUE(has("look place=\"HKLM\\Software\\Microsoft\\JDK\\<version>\\hotspot\\MSI" + view +
                    " value=\"Path\" subkeys=2"));
    EXPECT_TRUE(has("rejected place=\"HKLM\\Software\\JavaSoft\\JDK\\21" + view +
                    " version=\"21.0\" reason=\"no jvm.dll of the \"\"JVM Type\"\" asked for\""));
    EXPECT_TRUE(has("rejected place=\"HKLM\\Software\\JavaSoft\\JRE\\8" + view +
                    " version=\"1.8\" reason=\"outside the version bounds (\"\"Minimum Version\"\", \"\"Maximum "
                    "Version\"\")\""));
    EXPECT_TRUE(has("rejected place=\"HKLM\\Software\\Microsoft\\JDK\\11.0.2\\hotspot\\MSI" + view +
                    " version=\"11.0.2\" reason=\"no jvm.dll\""));
    EXPECT_TRUE(has("rejected place=\"HKLM\\Software\\Azul Systems\\Zulu\\zulu-15" + view +
                    " version=\"15.0.2\" reason=\"the key names no home folder\""));
    EXPECT_TRUE(has("candidate place=\"HKLM\\Software\\Microsoft\\JDK\\17.0.9.8\\hotspot\\MSI" + view +
                    " version=\"17.0.9.8\" kind=\"development kit\" processor=\"x64\" home=\"" + home +
                    "jdk17\\\" server=\"yes\" preferred=\"yes\""));
    EXPECT_EQ(lines.back(), "chosen place=\"HKLM\\Software\\Microsoft\\JDK\\17.0.9.8\\hotspot\\MSI" + view +
                                " version=\"17.0.9.8\" library=\"" + home + "jdk17\\bin\\server\\jvm.dll\" among=1");
}

TEST_F(TraceTest, JavaHomePassedOverForItsProcessor) {
    runtime("home32", {"client"}, image(kMachineI386));
    platform::host::setEnvironment(W("JAVA_HOME"), folder.path() + u"home32");
    configure("JVM Source=only_JRE\nVM Provider=ibm\n");
    EXPECT_FALSE(findRuntime(launcher));
    Strings lines = events();
    std::string home = U(folder.path()) + "home32\\";
    ASSERT_GE(lines.size(), 4u);
    Strings last(lines.end() - 4, lines.end());
    EXPECT_EQ(last, Strings({"look place=\"JAVA_HOME\" home=\"" + home + "\"",
                             "candidate place=\"JAVA_HOME\" version=\"unknown\" processor=\"x86\" library=\"" + home +
                                 "bin\\client\\jvm.dll\"",
                             "rejected place=\"JAVA_HOME\" version=\"unknown\" reason=\"its jvm.dll is for a processor "
                             "neither this launcher nor \"\"Pair Product\"\" serves\"",
                             "not found reason=\"no place held a runtime that fits the settings\""}));
}

TEST_F(TraceTest, JavaHomeAsUsersWriteIt) {
    runtime("jdk 21", {"server"}, image(kBuildMachine));
    folder.write("jdk 21/release", "JAVA_VERSION=\"21.0.1\"\n");
    std::string home = U(folder.path());
    struct Case {
        const char* value;  // JAVA_HOME below the scratch folder
        bool found;
        const char* last;   // the last trace line
    } cases[] = {
        {"\"jdk 21\"", true, nullptr},
        {"\"jdk 21\\\"", true, nullptr},
        {"missing", false,
         "rejected place=\"JAVA_HOME\" version=\"unknown\" reason=\"no such folder\""},
    };
    for (const Case& c : cases) {
        std::string value = c.value[0] == '"' ? "\"" + home + (c.value + 1) : home + c.value;
        platform::host::setEnvironment(W("JAVA_HOME"), W(value.c_str()));
        Launcher fresh;
        settings("[Java Runtime Environment]\nMain Class=App\nMinimum Version=11\n");
        ASSERT_TRUE(readLauncherSettings(fresh));
        EXPECT_EQ(findRuntime(fresh), c.found) << c.value;
        if (c.found) {
            EXPECT_EQ(U(fresh.jvmLibraryPath), library("jdk 21\\bin\\server\\jvm.dll")) << c.value;
        }
        Strings lines = events();
        if (c.last) {
            ASSERT_GE(lines.size(), 2u);
            EXPECT_EQ(lines[lines.size() - 2], c.last);
        }
    }
}

}  // namespace
