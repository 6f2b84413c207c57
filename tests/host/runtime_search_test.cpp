// The runtime search: "JRE Path", a runtime beside the executable, the
// vendors' registry keys in both registry views, and the choice among the
// runtimes found. Stand-in runtimes are folders holding empty jvm.dll files.
#include "runtime/runtime_search.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "launcher/launcher_settings.h"
#include "runtime/pe_image.h"
#include "test_support.h"

namespace {

typedef std::vector<std::string> Strings;

const char* const kJdk = "Software\\JavaSoft\\Java Development Kit\\";
const char* const kJre = "Software\\JavaSoft\\Java Runtime Environment\\";
const char* const kJRockitJre = "Software\\JRockit\\Java Runtime Environment\\";
const char* const kJRockitJdk = "Software\\JRockit\\Java Development Kit\\";
const char* const kIbm = "Software\\IBM\\Java2 Runtime Environment\\";

std::string image(uint16_t machine, uint32_t offset = 0x80, size_t size = 0x200, const char* signature = "PE") {
    return peImage(machine, 0, size, offset, signature);
}

class RuntimeSearchTest : public LauncherTest {
protected:
    // Creates <name>\bin\<vm>\jvm.dll for each vm; returns the folder without
    // its trailing backslash.
    WideString runtime(const std::string& name, const std::vector<const char*>& vms, const std::string& content = "") {
        for (const char* vm : vms) folder.write(name + "/bin/" + vm + "/jvm.dll", content);
        return folder.path() + W(name.c_str());
    }
    // A development kit: its runtime lies in <name>\jre\.
    WideString kit(const std::string& name, const std::vector<const char*>& vms) {
        runtime(name + "/jre", vms);
        return folder.path() + W(name.c_str());
    }
    void registerRuntime(const char* key, const char* subkey, const WideString& home, bool otherView = false) {
        platform::host::setRegistryValue(otherView, W(key) + W(subkey), W("JavaHome"), home);
    }
    // Reads the settings: the main class plus lines of section "Java Runtime Environment".
    void configure(const std::string& lines = "") {
        settings("[Java Runtime Environment]\nMain Class=App\n" + lines);
        ASSERT_TRUE(readLauncherSettings(launcher));
    }
    std::string library(const std::string& relative) { return U(folder.path()) + relative; }
    Strings opened() { return U(platform::host::openedRegistryKeys()); }
    // The keys opened among the five of the runtimes from before Java 9.
    Strings openedClassic() {
        Strings keys;
        for (const std::string& key : opened()) {
            std::string path = key.substr(key.find(':') + 1);
            for (int i = 0; i < 5; ++i)
                if (path == U(WideString(kVendorKeys[i].path))) keys.push_back(key);
        }
        return keys;
    }

    Launcher launcher;
};

TEST_F(RuntimeSearchTest, JvmLibrarySubPathsPerType) {
    struct Case {
        std::vector<const char*> vms;
        int32_t type;
        const char* found;  // "" when none
    } cases[] = {
        {{"client", "server"}, 0, "bin\\client\\jvm.dll"},
        {{"client", "server"}, 1, "bin\\server\\jvm.dll"},
        {{"client", "server"}, 2, "bin\\server\\jvm.dll"},
        {{"client"}, 1, ""},
        {{"client"}, 2, "bin\\client\\jvm.dll"},
        {{"classic", "server"}, 0, "bin\\classic\\jvm.dll"},
        {{"hotspot", "jrockit"}, 0, "bin\\hotspot\\jvm.dll"},
        {{"hotspot", "classic"}, 2, "bin\\classic\\jvm.dll"},
        {{"client", "classic"}, 2, "bin\\client\\jvm.dll"},
        {{"hotspot", "server"}, 0, "bin\\hotspot\\jvm.dll"},
        {{"server", "jrockit"}, 0, "bin\\server\\jvm.dll"},
        {{"jrockit"}, 0, "bin\\jrockit\\jvm.dll"},
        {{"jrockit"}, 2, "bin\\jrockit\\jvm.dll"},
        {{"jrockit"}, 1, ""},
        {{"other"}, 0, ""},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::string name = "rt" + std::to_string(n++);
        WideString home = runtime(name, c.vms) + u"\\";
        bool serverVm = true;
        WideString found = findJvmLibrary(home, c.type, &serverVm);
        std::string expected = *c.found ? U(home) + c.found : "";
        EXPECT_EQ(U(found), expected) << name << " type " << c.type;
        EXPECT_EQ(serverVm, std::string(c.found) == "bin\\server\\jvm.dll") << name << " type " << c.type;
    }
}

TEST_F(RuntimeSearchTest, EmptyHomeSearchesTheCurrentDirectory) {
    runtime("cwd", {"hotspot"});
    WorkingDirectory inside(folder.hostPath() + "/cwd");
    EXPECT_EQ(U(findJvmLibrary(WideString(), 0)), "bin\\hotspot\\jvm.dll");
    EXPECT_EQ(U(findJvmLibrary(WideString(), 1)), "");
}

TEST_F(RuntimeSearchTest, RuntimeBesideTheExecutable) {
    struct Case {
        std::vector<const char*> files;
        const char* home;  // relative to the launcher's folder; nullptr: empty
    } cases[] = {
        {{}, nullptr},
        {{"bin/java.dll"}, ""},
        {{"jre/bin/java.dll"}, "jre\\"},
        {{"bin/java.dll", "jre/bin/java.dll"}, ""},
        {{"jre/java.dll", "bin/jvm.dll"}, nullptr},
    };
    for (const Case& c : cases) {
        ScratchFolder place;
        for (const char* file : c.files) place.write(file, "");
        platform::host::setModulePath(place.path() + u"launcher.exe");
        WideString home = W("stale");
        ASSERT_TRUE(runtimeBesideExecutable(launcher, home));
        EXPECT_EQ(U(home), c.home ? U(place.path()) + c.home : "");
    }
    platform::host::failModulePath(1);
    WideString home;
    EXPECT_FALSE(runtimeBesideExecutable(launcher, home));
    EXPECT_EQ(platform::host::shownMessages().size(), 1u);
}

TEST_F(RuntimeSearchTest, UnknownModulePathSkipsOnlyTheExecutablesFolder) {
    registerRuntime(kJre, "1.6", runtime("jre16", {"client"}));
    platform::host::failModulePath(1);
    launcher.jrePath = folder.path() + u"missing";
    ASSERT_TRUE(findRuntime(launcher));
    EXPECT_EQ(U(launcher.jvmLibraryPath), library("jre16\\bin\\client\\jvm.dll"));
    EXPECT_EQ(U(platform::host::shownMessages()),
              Strings({"Windows exception: failed to get the module path (errno = 1).\n"}));
}

TEST_F(RuntimeSearchTest, ConfiguredJrePathWithOrWithoutBackslash) {
    WideString home = runtime("configured", {"client", "server"});
    registerRuntime(kJre, "1.7", runtime("registered", {"client"}));
    const char* endings[] = {"", "\\"};
    for (const char* ending : endings) {
        platform::host::reset();
        platform::host::setModulePath(executable());
        Launcher fresh;
        fresh.jrePath = home + W(ending);
        fresh.foundVersion = RuntimeVersion{9, 9, 9, 9, 4};
        ASSERT_TRUE(findRuntime(fresh)) << ending;
        EXPECT_EQ(U(fresh.jvmLibraryPath), library("configured\\bin\\client\\jvm.dll"));
        EXPECT_EQ(fresh.foundVersion.major, 9);
        EXPECT_EQ(fresh.runtimeVendor, RuntimeVendor::None);
        EXPECT_TRUE(opened().empty());
    }
}

TEST_F(RuntimeSearchTest, RelativeJrePathIsTakenFromTheCurrentDirectory) {
    runtime("cwd/jre", {"server"});
    WorkingDirectory inside(folder.hostPath() + "/cwd");
    launcher.jrePath = W("jre");
    launcher.jvmType = 1;
    ASSERT_TRUE(findRuntime(launcher));
    // Made absolute at once, so that the library loaded is this one.
    EXPECT_EQ(U(launcher.jvmLibraryPath), library("cwd\\jre\\bin\\server\\jvm.dll"));
}

TEST_F(RuntimeSearchTest, JrePathWithoutTheRequiredTypeFallsThrough) {
    configure("JVM Type=server\nJRE Path=" + U(runtime("clientonly", {"client"})) + "\n");
    // Beside the executable: a runtime in jre\ that has a server VM.
    folder.write("jre/bin/java.dll", "");
    folder.write("jre/bin/server/jvm.dll", "");
    ASSERT_TRUE(findRuntime(launcher));
    EXPECT_EQ(U(launcher.jvmLibraryPath), library("jre\\bin\\server\\jvm.dll"));
    EXPECT_TRUE(opened().empty());
}

TEST_F(RuntimeSearchTest, BesideTheExecutableWithoutLibraryGoesOnToTheRegistry) {
    folder.write("bin/java.dll", "");
    registerRuntime(kJre, "1.6.0_24", runtime("jre16", {"client"}));
    configure();
    ASSERT_TRUE(findRuntime(launcher));
    EXPECT_EQ(U(launcher.jvmLibraryPath), library("jre16\\bin\\client\\jvm.dll"));
    EXPECT_EQ(U(versionText(launcher.foundVersion)), "1.6.0.24");
    EXPECT_EQ(launcher.runtimeVendor, RuntimeVendor::JavaSoft);
}

TEST_F(RuntimeSearchTest, RegistryChoosesTheHighestVersionAndUsesTheKitsJre) {
    registerRuntime(kJre, "1.6.0_24", runtime("jre16", {"client"}));
    registerRuntime(kJdk, "1.7.0_45", kit("jdk17", {"client"}));
    registerRuntime(kJre, "1.7", folder.path() + u"no-runtime-here");
    configure();
    ASSERT_TRUE(findRuntime(launcher));
    EXPECT_EQ(U(launcher.jvmLibraryPath), library("jdk17\\jre\\bin\\client\\jvm.dll"));
    EXPECT_EQ(U(versionText(launcher.foundVersion)), "1.7.0.45");
    EXPECT_EQ(launcher.runtimeVendor, RuntimeVendor::JavaSoft);
    EXPECT_FALSE(launcher.pairLaunch);
}

TEST_F(RuntimeSearchTest, JavaHomeValues) {
    WideString home = runtime("jre", {"client"});
    registerRuntime(kJre, "1.9", WideString());                    // empty value
    platform::host::addRegistryKey(false, W(kJre) + W("1.8"));     // no value
    registerRuntime(kJre, "1.7", home + u"\\");                    // trailing backslash kept single
    registerRuntime(kJre, "1.6", home);
    configure();
    List<RuntimeCandidate> candidates;
    scanVendorKey(launcher, candidates, kVendorKeys[1], false);
    ASSERT_EQ(candidates.size(), 2u);
    EXPECT_EQ(U(candidates[0].home), U(home) + "\\");
    EXPECT_EQ(U(candidates[1].home), U(home) + "\\");
    ASSERT_TRUE(findRuntime(launcher));
    EXPECT_EQ(U(launcher.jvmLibraryPath), library("jre\\bin\\client\\jvm.dll"));
    EXPECT_EQ(U(versionText(launcher.foundVersion)), "1.7");
}

TEST_F(RuntimeSearchTest, ServerTypeRejectsClientOnlyRuntimes) {
    registerRuntime(kJre, "1.7", runtime("client17", {"client"}));
    registerRuntime(kJdk, "1.6", kit("server16", {"server"}));
    configure("JVM Type=server\n");
    ASSERT_TRUE(findRuntime(launcher));
    EXPECT_EQ(U(launcher.jvmLibraryPath), library("server16\\jre\\bin\\server\\jvm.dll"));

    Launcher onlyClient;
    platform::host::reset();
    platform::host::setModulePath(executable());
    registerRuntime(kJre, "1.7", folder.path() + u"client17");
    onlyClient.jvmType = 1;
    EXPECT_FALSE(findRuntime(onlyClient));
    EXPECT_TRUE(onlyClient.jvmLibraryPath.empty());
    EXPECT_EQ(onlyClient.runtimeVendor, RuntimeVendor::None);
}

TEST_F(RuntimeSearchTest, FavorServerValidatesJavaSoftRuntimesClientFirst) {
    registerRuntime(kJre, "1.6", runtime("both16", {"client", "server"}));
    registerRuntime(kJdk, "1.5", kit("kit15", {"server"}));
    registerRuntime(kJre, "1.7", runtime("client17", {"client"}));
    configure("JVM Type=favor_server\n");

    List<RuntimeCandidate> candidates;
    scanVendorKey(launcher, candidates, kVendorKeys[1], false);
    ASSERT_EQ(candidates.size(), 2u);
    EXPECT_FALSE(candidates[0].serverVm);  // 1.6: client found first
    EXPECT_FALSE(candidates[1].serverVm);
    candidates.clear();
    scanVendorKey(launcher, candidates, kVendorKeys[0], false);
    ASSERT_EQ(candidates.size(), 1u);
    EXPECT_TRUE(candidates[0].serverVm);

    // The kit's server VM sorts before the newer client-first runtimes.
    ASSERT_TRUE(findRuntime(launcher));
    EXPECT_EQ(U(launcher.jvmLibraryPath), library("kit15\\jre\\bin\\server\\jvm.dll"));
    EXPECT_EQ(U(versionText(launcher.foundVersion)), "1.5");
}

TEST_F(RuntimeSearchTest, FavorServerFinalLookupUsesTheLaunchersType) {
    registerRuntime(kJre, "1.6", runtime("both16", {"client", "server"}));
    registerRuntime(kJRockitJre, "1.5", runtime("rock15", {"client", "server"}));
    configure("JVM Type=favor_server\nVM Provider=any\n");
    List<RuntimeCandidate> candidates;
    scanVendorKey(launcher, candidates, kVendorKeys[2], false);
    ASSERT_EQ(candidates.size(), 1u);
    EXPECT_TRUE(candidates[0].serverVm);  // only the JavaSoft runtime key is validated client first
    ASSERT_TRUE(findRuntime(launcher));
    EXPECT_EQ(U(launcher.jvmLibraryPath), library("rock15\\bin\\server\\jvm.dll"));
    EXPECT_EQ(launcher.runtimeVendor, RuntimeVendor::JRockit);

    Launcher javaSoftOnly;
    javaSoftOnly.jvmType = 2;
    javaSoftOnly.jdkPreferred = javaSoftOnly.jrePreferred = true;
    ASSERT_TRUE(findRuntime(javaSoftOnly));
    EXPECT_EQ(U(javaSoftOnly.jvmLibraryPath), library("both16\\bin\\server\\jvm.dll"));
}

TEST_F(RuntimeSearchTest, TwoSubkeysOfOneInstallationAreTwoCandidates) {
    WideString home = runtime("jre16", {"client"});
    registerRuntime(kJre, "1.6", home);
    registerRuntime(kJre, "1.6.0_24", home);
    configure();
    List<RuntimeCandidate> candidates;
    scanVendorKey(launcher, candidates, kVendorKeys[1], false);
    ASSERT_EQ(candidates.size(), 2u);
    ASSERT_EQ(chooseCandidate(launcher, candidates), 0);
    EXPECT_EQ(U(versionText(candidates[0].version)), "1.6.0.24");
    EXPECT_EQ(U(versionText(candidates[1].version)), "1.6");
    EXPECT_TRUE(candidates[0].preferred && candidates[1].preferred);
    EXPECT_EQ(candidates[0].vendor, RuntimeVendor::JavaSoft);
}

TEST_F(RuntimeSearchTest, FavorJrePutsTheRuntimeBeforeANewerKit) {
    registerRuntime(kJre, "1.6", runtime("jre16", {"client"}));
    registerRuntime(kJdk, "1.7", kit("jdk17", {"client"}));
    configure("JVM Source=favor_JRE\n");
    ASSERT_TRUE(findRuntime(launcher));
    EXPECT_EQ(U(launcher.jvmLibraryPath), library("jre16\\bin\\client\\jvm.dll"));
}

TEST_F(RuntimeSearchTest, PreferredVersionsAndVersionRange) {
    registerRuntime(kJre, "1.7", runtime("jre17", {"client"}));
    registerRuntime(kJre, "1.6.0_10", runtime("jre1610", {"client"}));
    registerRuntime(kJre, "1.6.0_24", runtime("jre1624", {"client"}));
    registerRuntime(kJre, "1.5.0_22", runtime("jre15", {"client"}));
    struct Case {
        const char* lines;
        const char* chosen;  // nullptr: none
    } cases[] = {
        {"", "1.7"},
        {"Preferred versions=1.5;1.6\n", "1.5.0.22"},
        {"Preferred versions=1.4;1.6\n", "1.6.0.24"},
        {"Preferred versions=1.6.0_10;1.7\n", "1.6.0.10"},
        {"Preferred versions=1.6.0\n", "1.6.0.24"},
        {"Preferred versions=1.8\n", "1.7"},
        {"Preferred versions=1\n", "1.7"},
        {"Preferred versions=;;latest;0;1.6\n", "1.6.0.24"},
        {"Minimum Version=1.6\nMaximum Version=1.6\n", "1.6.0.24"},
        {"Minimum Version=1.6.0_11\nPreferred versions=1.6\n", "1.6.0.24"},
        {"Maximum Version=1.6.0_10\n", "1.6.0.10"},
        {"Maximum Version=Any\n", "1.7"},
        {"Minimum Version=1.5\nMaximum Version=1.5.0_22\nPreferred versions=1.6\n", "1.5.0.22"},
        {"Minimum Version=1.8\n", nullptr},
    };
    for (const Case& c : cases) {
        Launcher fresh;
        settings(std::string("[Java Runtime Environment]\nMain Class=App\n") + c.lines);
        ASSERT_TRUE(readLauncherSettings(fresh));
        EXPECT_EQ(findRuntime(fresh), c.chosen != nullptr) << c.lines;
        EXPECT_EQ(U(fresh.jvmLibraryPath).empty(), c.chosen == nullptr) << c.lines;
        if (c.chosen) {
            EXPECT_EQ(U(versionText(fresh.foundVersion)), c.chosen) << c.lines;
        }
    }
}

TEST_F(RuntimeSearchTest, WhichVendorKeysAreOpened) {
    std::string jdk = std::string("own:") + kJdk, jre = std::string("own:") + kJre;
    std::string rjre = std::string("own:") + kJRockitJre, rjdk = std::string("own:") + kJRockitJdk;
    std::string ibm = std::string("own:") + kIbm;
    struct Case {
        const char* source;
        const char* provider;
        Strings keys;
    } cases[] = {
        {"", "", {jdk, jre}},
        {"", "jrockit", {rjre, rjdk}},
        {"", "ibm", {ibm}},
        {"", "any", {jdk, jre, rjre, rjdk, ibm}},
        {"", "favor_ibm", {jdk, jre, rjre, rjdk, ibm}},
        {"favor_JDK", "favor_jrockit", {jdk, jre, rjre, rjdk, ibm}},
        {"only_JRE", "any", {jre, rjre, ibm}},
        {"only_JDK", "favor_sun", {jdk, rjdk}},
        {"only_JDK", "ibm", {}},
        {"JRE only", "any", {}},
    };
    for (const Case& c : cases) {
        platform::host::reset();
        platform::host::setModulePath(executable());
        Launcher fresh;
        settings(std::string("[Java Runtime Environment]\nMain Class=App\nJVM Source=") + c.source +
                 "\nVM Provider=" + c.provider + "\n");
        ASSERT_TRUE(readLauncherSettings(fresh));
        for (int i = 0; i < 5; ++i) {
            const VendorKey& key = kVendorKeys[i];
            bool listed = std::find(c.keys.begin(), c.keys.end(), "own:" + U(WideString(key.path))) != c.keys.end();
            EXPECT_EQ(vendorKeySearched(fresh, key), listed) << c.source << "/" << c.provider << " " << U(WideString(key.path));
        }
        EXPECT_FALSE(findRuntime(fresh));
        EXPECT_EQ(openedClassic(), c.keys) << c.source << "/" << c.provider;
    }
}

TEST_F(RuntimeSearchTest, UnknownJvmSourceStillUsesJrePathAndTheExecutablesFolder) {
    registerRuntime(kJre, "1.7", runtime("registered", {"client"}));
    folder.write("bin/java.dll", "");
    folder.write("bin/client/jvm.dll", "");
    configure("JVM Source=JDK\n");
    ASSERT_TRUE(findRuntime(launcher));
    EXPECT_EQ(U(launcher.jvmLibraryPath), library("bin\\client\\jvm.dll"));
    EXPECT_EQ(launcher.runtimeVendor, RuntimeVendor::None);
    EXPECT_TRUE(opened().empty());
}

TEST_F(RuntimeSearchTest, VendorOfTheChosenRuntimeIsRecorded) {
    struct Case {
        const char* key;
        RuntimeVendor vendor;
    } cases[] = {
        {kJre, RuntimeVendor::JavaSoft},
        {kJRockitJre, RuntimeVendor::JRockit},
        {kJRockitJdk, RuntimeVendor::JRockit},
        {kIbm, RuntimeVendor::Ibm},
    };
    for (const Case& c : cases) {
        platform::host::reset();
        platform::host::setModulePath(executable());
        WideString home = runtime("vendor", {"client"});
        bool kit = std::string(c.key).find("Development Kit") != std::string::npos;
        if (kit) runtime("vendor/jre", {"client"});
        registerRuntime(c.key, "1.6.0_24", home);
        Launcher fresh;
        settings("[Java Runtime Environment]\nMain Class=App\nVM Provider=any\n");
        ASSERT_TRUE(readLauncherSettings(fresh));
        ASSERT_TRUE(findRuntime(fresh)) << c.key;
        EXPECT_EQ(fresh.runtimeVendor, c.vendor) << c.key;
        EXPECT_EQ(U(fresh.jvmLibraryPath), library(kit ? "vendor\\jre\\bin\\client\\jvm.dll" : "vendor\\bin\\client\\jvm.dll"));
    }
}

TEST_F(RuntimeSearchTest, OtherRegistryViewOnlyWithAPairedProduct) {
    // The host build's partner is x86: the other view's runtime is one.
    registerRuntime(kJre, "1.8.0_20", runtime("jre64", {"server"}, image(kMachineI386)), true);
    configure();
    EXPECT_FALSE(findRuntime(launcher));
    EXPECT_EQ(openedClassic(), Strings({std::string("own:") + kJdk, std::string("own:") + kJre}));
    EXPECT_FALSE(launcher.pairLaunch);

    Launcher paired;
    settings("[Java Runtime Environment]\nMain Class=App\n[Application]\nPair Product=C:\\App\\app64.exe\n");
    ASSERT_TRUE(readLauncherSettings(paired));
    size_t before = openedClassic().size();
    ASSERT_TRUE(findRuntime(paired));
    EXPECT_TRUE(paired.pairLaunch);
    EXPECT_EQ(U(paired.jvmLibraryPath), library("jre64\\bin\\server\\jvm.dll"));
    EXPECT_EQ(U(versionText(paired.foundVersion)), "1.8.0.20");
    EXPECT_EQ(paired.runtimeVendor, RuntimeVendor::JavaSoft);
    Strings all = openedClassic();
    Strings keys(all.begin() + before, all.end());
    EXPECT_EQ(keys, Strings({std::string("own:") + kJdk, std::string("own:") + kJre, std::string("other:") + kJdk,
                             std::string("other:") + kJre}));
}

TEST_F(RuntimeSearchTest, OtherViewRuntimeNotForThePartnerIsRejected) {
    // Registered in the other view, but built for this build's own processor
    // (or a third one): the paired program could not host it.
    struct Case {
        const char* version;  // each newer than the last, so it is the one chosen
        uint16_t machine;
    } cases[] = {{"1.8", kMachineAmd64}, {"1.9", 0xAA64}};
    for (const Case& c : cases) {
        uint16_t machine = c.machine;
        registerRuntime(kJre, c.version, runtime(std::string("jre") + c.version, {"client"}, image(machine)), true);
        Launcher paired;
        settings("[Java Runtime Environment]\nMain Class=App\n[Application]\nPair Product=C:\\App\\app64.exe\n");
        ASSERT_TRUE(readLauncherSettings(paired));
        EXPECT_FALSE(findRuntime(paired)) << machine;
        EXPECT_FALSE(paired.pairLaunch) << machine;
        EXPECT_TRUE(paired.jvmLibraryPath.empty()) << machine;
    }
}

TEST_F(RuntimeSearchTest, OwnViewRuntimeIsPreferredOverTheOtherView) {
    registerRuntime(kJre, "1.8", runtime("jre64", {"client"}), true);
    registerRuntime(kJre, "1.6", runtime("jre32", {"client"}));
    configure("[Application]\nPair Product=C:\\App\\app64.exe\n");
    ASSERT_TRUE(findRuntime(launcher));
    EXPECT_FALSE(launcher.pairLaunch);
    EXPECT_EQ(U(launcher.jvmLibraryPath), library("jre32\\bin\\client\\jvm.dll"));
    for (const std::string& key : opened()) EXPECT_EQ(key.rfind("own:", 0), 0u) << key;
}

TEST_F(RuntimeSearchTest, OrderingRules) {
    struct Item {
        const char* tag;
        const char* version;
        bool preferred;
        bool serverVm;
    };
    const std::vector<Item> mixed = {
        {"A", "1.7", false, false}, {"B", "1.6", true, false}, {"C", "1.8", true, true}, {"D", "1.5", false, true}};
    const std::vector<Item> ties = {
        {"A", "1.6", true, false}, {"B", "1.6.0", true, false}, {"C", "1.6.0.0", true, false}, {"D", "1.7", false, false}};
    struct Case {
        const std::vector<Item>* items;
        bool acceptBothKinds;
        int32_t jvmType;
        std::string order;
    } cases[] = {
        {&mixed, true, 0, "CBAD"},
        {&mixed, false, 0, "CABD"},
        {&mixed, true, 2, "CBDA"},
        {&mixed, false, 2, "CDAB"},
        {&mixed, true, 1, "CBAD"},
        {&ties, true, 0, "ABCD"},
        {&ties, false, 0, "DABC"},
    };
    for (const Case& c : cases) {
        List<RuntimeCandidate> candidates;
        for (const Item& item : *c.items) {
            RuntimeCandidate candidate;
            candidate.version = parseVersion(W(item.version), 0);
            candidate.home = W(item.tag);
            candidate.preferred = item.preferred;
            candidate.serverVm = item.serverVm;
            candidates.push_back(candidate);
        }
        launcher.acceptBothKinds = c.acceptBothKinds;
        launcher.jvmType = c.jvmType;
        orderCandidates(candidates, launcher);
        std::string order;
        for (const RuntimeCandidate& candidate : candidates) order += U(candidate.home);
        EXPECT_EQ(order, c.order) << "both kinds " << c.acceptBothKinds << ", type " << c.jvmType;
    }
    List<RuntimeCandidate> none;
    EXPECT_EQ(chooseCandidate(launcher, none), -1);

    // Many equal candidates keep the order in which they were found.
    List<RuntimeCandidate> many;
    for (int i = 0; i < 60; ++i) {
        RuntimeCandidate candidate;
        candidate.version = parseVersion(W(i % 3 == 0 ? "1.7" : "1.6"), 0);
        candidate.home = decimal(i);
        many.push_back(candidate);
    }
    launcher.acceptBothKinds = true;
    launcher.jvmType = 0;
    orderCandidates(many, launcher);
    std::string expected, order;
    for (int i = 0; i < 60; i += 3) expected += std::to_string(i) + " ";
    for (int i = 0; i < 60; ++i)
        if (i % 3 != 0) expected += std::to_string(i) + " ";
    for (const RuntimeCandidate& candidate : many) order += U(candidate.home) + " ";
    EXPECT_EQ(order, expected);
}


TEST(PeImageTest, MachineOfValidAndDamagedImages) {
    struct Case {
        const char* name;
        std::string bytes;
        bool valid;
        uint16_t machine;
    } cases[] = {
        {"i386", image(0x014C), true, 0x014C},
        {"amd64", image(0x8664), true, 0x8664},
        {"arm64", image(0xAA64), true, 0xAA64},
        {"header right after the offset field", image(0x014C, 0x40, 0x58), true, 0x014C},
        {"file header one byte short", image(0x014C, 0x40, 0x57), false, 0},
        {"offset at the end", image(0x014C, 0x200, 0x200), false, 0},
        {"offset beyond the end", image(0x014C, 0x1000, 0x200), false, 0},
        {"huge offset", image(0x014C, 0xFFFFFFF0u, 0x200), false, 0},
        {"largest offset", image(0x014C, 0xFFFFFFFFu, 0x200), false, 0},
        {"offset zero", image(0x014C, 0, 0x200), false, 0},
        {"bad signature", image(0x014C, 0x80, 0x200, "PX"), false, 0},
        {"no MZ", "ZM" + image(0x014C).substr(2), false, 0},
        {"shorter than the DOS header", image(0x014C).substr(0, 0x3F), false, 0},
        {"empty", std::string(), false, 0},
    };
    for (const Case& c : cases) {
        uint16_t machine = 0;
        std::vector<uint8_t> bytes(c.bytes.begin(), c.bytes.end());  // exact size, for the sanitizer
        EXPECT_EQ(imageMachine(bytes.empty() ? nullptr : bytes.data(), bytes.size(), machine), c.valid) << c.name;
        if (c.valid) {
            EXPECT_EQ(machine, c.machine) << c.name;
        }
    }
    {
        std::string bytes = image(0x014C);
        bytes[0x82] = 1;  // "PE" followed by a non-zero byte
        uint16_t machine;
        EXPECT_FALSE(imageMachine(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), machine));
    }
}

TEST(PeImageTest, RealLauncherImages) {
    struct Case {
        std::string path;
        uint16_t machine;
    } cases[] = {
        {LAUNCHER_SOURCE_DIR "/dist/x86/launcher.exe", 0x014C},
        {LAUNCHER_SOURCE_DIR "/dist/x64/launcher.exe", 0x8664},
    };
    int checked = 0;
    for (const Case& c : cases) {
        std::ifstream file(c.path, std::ios::binary);
        if (!file) continue;
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        uint16_t machine = 0;
        EXPECT_TRUE(imageMachine(bytes.data(), bytes.size(), machine)) << c.path;
        EXPECT_EQ(machine, c.machine) << c.path;
        ++checked;
    }
    if (checked == 0) GTEST_SKIP() << "no cross-built launcher images in dist/";
}

TEST_F(RuntimeSearchTest, MachineCheckWithAPairedProduct) {
    // The host build hosts x86-64 images; x86 ones are for the paired program.
    struct Case {
        const char* name;
        std::string content;  // nullptr-like: "-" means no file
        bool pairProduct;
        bool pairLaunch;
    } cases[] = {
        {"i386", image(0x014C), true, true},
        {"amd64", image(0x8664), true, false},
        // Neither this build's nor the partner's: the paired program could
        // not host it either, so it counts as no image.
        {"arm64", image(0xAA64), true, false},
        {"i386 without a paired product", image(0x014C), false, false},
        {"truncated i386", image(0x014C).substr(0, 0x88), true, false},
        {"empty file", "", true, false},
        {"text file", "not an image", true, false},
        {"missing file", "-", true, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::string name = "machine" + std::to_string(n++) + ".dll";
        Launcher fresh;
        fresh.jvmLibraryPath = c.content == "-" ? folder.path() + W(name.c_str()) : folder.write(name, c.content);
        fresh.pairProduct = c.pairProduct ? W("C:\\App\\pair.exe") : WideString();
        fresh.pairLaunch = true;
        checkJvmMachine(fresh);
        EXPECT_EQ(fresh.pairLaunch, c.pairLaunch) << c.name;
    }
}

TEST_F(RuntimeSearchTest, MachineIsCheckedForJrePathButNotBesideTheExecutable) {
    WideString foreign = runtime("foreign", {"client"}, image(0x014C));
    WideString own = runtime("own", {"client"}, image(0x8664));
    struct Case {
        WideString jrePath;
        bool pairLaunch;
    } cases[] = {{foreign, true}, {own, false}};
    for (const Case& c : cases) {
        Launcher fresh;
        fresh.jrePath = c.jrePath;
        fresh.pairProduct = W("C:\\App\\pair.exe");
        ASSERT_TRUE(findRuntime(fresh));
        EXPECT_EQ(fresh.pairLaunch, c.pairLaunch) << c.jrePath;
    }
    folder.write("bin/java.dll", "");
    folder.write("bin/client/jvm.dll", image(0x014C));
    Launcher beside;
    beside.pairProduct = W("C:\\App\\pair.exe");
    ASSERT_TRUE(findRuntime(beside));
    EXPECT_EQ(U(beside.jvmLibraryPath), library("bin\\client\\jvm.dll"));
    EXPECT_FALSE(beside.pairLaunch);
}

}  // namespace
