// Where the settings file and its per-user copy are, and the launcher's own
// settings read into the Launcher record.
#include "launcher/launcher_settings.h"

#include <sys/stat.h>

#include "launcher/launcher.h"
#include "test_support.h"

namespace {

typedef std::vector<std::string> Strings;

const char* const kMainClass = "[Java Runtime Environment]\nMain Class=com.example.App\n";
const char* const kNoMainClassMessage = "Main class was not specified in INI file.";

bool isFolder(const WideString& path) {
    struct stat info;
    return stat(platform::host::hostPath(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

TEST(SettingsLocationTest, ExtensionOfTheFileNameOnly) {
    struct Case {
        const char* module;
        const char* settings;
    } cases[] = {
        {"C:\\App\\Launcher.exe", "C:\\App\\Launcher.ini"},
        {"C:\\App\\my.tool.exe", "C:\\App\\my.tool.ini"},
        {"C:\\my.app\\launcher", "C:\\my.app\\launcher.ini"},
        {"C:\\v1.2\\Pair", "C:\\v1.2\\Pair.ini"},
        {"C:/v1.2/Pair", "C:/v1.2/Pair.ini"},
        {"C:\\App\\launcher.", "C:\\App\\launcher.ini"},
        {"C:\\App\\launcher", "C:\\App\\launcher.ini"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(U(settingsPathFor(W(c.module))), c.settings) << c.module;
}

class LauncherSettingsTest : public LauncherTest {
protected:
    // Reads the settings of `text` (the file beside the launcher).
    bool read(const std::string& text) {
        settings(text);
        return readLauncherSettings(launcher);
    }
    Launcher launcher;
};

TEST_F(LauncherSettingsTest, SettingsFilePathOfLongAndMissingModulePaths) {
    std::string longFolder = "C:\\" + std::string(150, 'd') + "\\" + std::string(150, 'e') + "\\";
    platform::host::setModulePath(W((longFolder + "launcher.exe").c_str()));
    WideString path;
    ASSERT_TRUE(settingsFilePath(launcher, path));
    EXPECT_EQ(U(path), longFolder + "launcher.ini");

    platform::host::setModulePath(W("C:\\App\\launcher"));
    ASSERT_TRUE(settingsFilePath(launcher, path));
    EXPECT_EQ(U(path), "C:\\App\\launcher.ini");

    platform::host::failModulePath(2);
    EXPECT_FALSE(readLauncherSettings(launcher));
    EXPECT_EQ(U(platform::host::shownMessages()),
              Strings({"Windows exception: failed to get the module path (errno = 2).\n"}));
}

TEST_F(LauncherSettingsTest, PerUserPathIsBuiltFromAppDataProductAndFileName) {
    std::string longAppData = "C:\\" + std::string(400, 'p');
    struct Case {
        const char* appData;  // nullptr: undefined
        const char* productName;
        const char* productCode;
        const char* source;
        std::string path;
    } cases[] = {
        {"C:\\Users\\u\\AppData", "A/B:C", "1.0", "C:\\App\\Launcher.exe", "C:\\Users\\u\\AppData\\ABC\\1.0\\Launcher.ini"},
        {"C:\\D", "\\?\"|><:/*My App*", "c", "C:\\App\\a.b.exe", "C:\\D\\My App\\c\\a.b.ini"},
        {"C:\\D", "P", "c", "C:\\my.app\\launcher", "C:\\D\\P\\c\\launcher.ini"},
        {"C:\\D", "P", "c", "pair.exe", "C:\\D\\P\\c\\pair.ini"},
        {"C:\\D", "", "", "x.exe", "C:\\D\\\\\\x.ini"},
        {nullptr, "P", "c", "C:\\App\\Launcher.exe", "\\P\\c\\Launcher.ini"},
        {longAppData.c_str(), "P", "c", "C:\\App\\Launcher.exe", longAppData + "\\P\\c\\Launcher.ini"},
    };
    for (const Case& c : cases) {
        platform::host::clearEnvironment();
        if (c.appData) platform::host::setEnvironment(W("APPDATA"), W(c.appData));
        launcher.productName = W(c.productName);
        launcher.productCode = W(c.productCode);
        EXPECT_EQ(U(perUserSettingsPath(launcher, W(c.source), false)), c.path) << c.source;
    }
}

TEST_F(LauncherSettingsTest, PerUserFoldersAreCreatedOnlyWhenAsked) {
    platform::host::setEnvironment(W("APPDATA"), folder.path() + u"roaming");
    folder.write("roaming/.keep", "");
    launcher.productName = W("Product");
    launcher.productCode = W("Code");
    WideString path = ownPerUserSettingsPath(launcher, false);
    EXPECT_EQ(path, folder.path() + u"roaming\\Product\\Code\\launcher.ini");
    EXPECT_FALSE(isFolder(folder.path() + u"roaming\\Product"));
    EXPECT_EQ(ownPerUserSettingsPath(launcher, true), path);
    EXPECT_TRUE(isFolder(folder.path() + u"roaming\\Product\\Code"));

    std::string longFolder = "C:\\" + std::string(200, 'f') + "\\" + std::string(100, 'g') + "\\";
    platform::host::setModulePath(W((longFolder + "Long Name.exe").c_str()));
    EXPECT_EQ(ownPerUserSettingsPath(launcher, false), folder.path() + u"roaming\\Product\\Code\\Long Name.ini");

    platform::host::failModulePath(3);
    EXPECT_TRUE(ownPerUserSettingsPath(launcher, false).empty());
    EXPECT_EQ(platform::host::shownMessages().size(), 1u);
}

TEST_F(LauncherSettingsTest, DefaultsWhenOnlyTheMainClassIsGiven) {
    ASSERT_TRUE(read(kMainClass));
    EXPECT_EQ(U(launcher.mainClass), "com/example/App");
    EXPECT_EQ(U(versionText(launcher.minimumVersion)), "0.0.0.0");
    EXPECT_TRUE(isUnbounded(launcher.maximumVersion));
    EXPECT_EQ(launcher.maximumVersion.major, 0);
    EXPECT_EQ(launcher.jvmType, 0);
    EXPECT_TRUE(launcher.acceptBothKinds && launcher.jdkPreferred && launcher.jrePreferred);
    EXPECT_TRUE(launcher.sunAllowed && launcher.sunFavoured);
    EXPECT_FALSE(launcher.jrockitAllowed || launcher.jrockitFavoured || launcher.ibmAllowed || launcher.ibmFavoured);
    EXPECT_TRUE(launcher.preferredVersions.empty());
    EXPECT_TRUE(launcher.jrePath.empty() && launcher.systemPath.empty() && launcher.libraryPath.empty());
    EXPECT_TRUE(launcher.pairProduct.empty() && launcher.productName.empty() && launcher.productCode.empty());
    EXPECT_FALSE(launcher.isService || launcher.omitServiceName || launcher.failureCheck ||
                 launcher.overrideWorkingDir || launcher.pairReturnCode);
    EXPECT_TRUE(platform::host::shownMessages().empty());
}

TEST_F(LauncherSettingsTest, MissingMainClassShowsMessage210) {
    const char* files[] = {nullptr, "", "[Java Runtime Environment]\nMain Class=\nJVM Type=server\n",
                           "[Application]\nMain Class=com.example.App\n"};
    for (const char* file : files) {
        platform::host::shownMessages().clear();
        if (file) settings(file);
        Launcher fresh;
        EXPECT_FALSE(readLauncherSettings(fresh)) << (file ? file : "(no file)");
        EXPECT_EQ(U(platform::host::shownMessages()), Strings({kNoMainClassMessage})) << (file ? file : "(no file)");
    }
}

TEST_F(LauncherSettingsTest, VersionBounds) {
    struct Case {
        const char* minimum;
        const char* maximum;
        RuntimeVersion min, max;
    } cases[] = {
        {"any", "any", {0, 0, 0, 0, 4}, {65535, 65535, 65535, 65535, 4}},
        {"Any", "ANY", {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}},  // not the keyword: parsed, no digits
        {"1.6", "1.6", {1, 6, 0, 0, 2}, {1, 6, 65535, 65535, 2}},
        {"1.6.0_24", "1.7.0_45", {1, 6, 0, 24, 4}, {1, 7, 0, 45, 4}},
        {"", "1", {0, 0, 0, 0, 0}, {1, 65535, 65535, 65535, 1}},
    };
    for (const Case& c : cases) {
        Launcher fresh;
        settings(std::string(kMainClass) + "Minimum Version=" + c.minimum + "\nMaximum Version=" + c.maximum + "\n");
        ASSERT_TRUE(readLauncherSettings(fresh));
        const RuntimeVersion* got[] = {&fresh.minimumVersion, &fresh.maximumVersion};
        const RuntimeVersion* want[] = {&c.min, &c.max};
        for (int i = 0; i < 2; ++i) {
            EXPECT_TRUE(sameVersion(*got[i], *want[i])) << c.minimum << " / " << c.maximum << " bound " << i << ": "
                                                        << U(versionText(*got[i]));
            EXPECT_EQ(got[i]->groupCount, want[i]->groupCount) << c.minimum << " / " << c.maximum;
        }
    }
}

TEST_F(LauncherSettingsTest, SwitchesComparedExactlyOrInAnyCase) {
    struct Case {
        const char* line;  // section and key=value
        const char* value;
        bool (*check)(const Launcher&);
        bool expected;
    } cases[] = {
        {"JVM Type=", "server", [](const Launcher& l) { return l.jvmType == 1; }, true},
        {"JVM Type=", "favor_server", [](const Launcher& l) { return l.jvmType == 2; }, true},
        {"JVM Type=", "Server", [](const Launcher& l) { return l.jvmType == 0; }, true},
        {"JVM Type=", "FAVOR_SERVER", [](const Launcher& l) { return l.jvmType == 0; }, true},
        {"JVM Type=", "client", [](const Launcher& l) { return l.jvmType == 0; }, true},
        {"[Application]\nApplication Type=", "service", [](const Launcher& l) { return l.isService; }, true},
        {"[Application]\nApplication Type=", "Service", [](const Launcher& l) { return l.isService; }, false},
        {"[Application]\nFailure Check=", "yes", [](const Launcher& l) { return l.failureCheck; }, true},
        {"[Application]\nFailure Check=", "YES", [](const Launcher& l) { return l.failureCheck; }, true},
        {"[Application]\nFailure Check=", "y", [](const Launcher& l) { return l.failureCheck; }, false},
        {"[Application]\nFailure Check=", "true", [](const Launcher& l) { return l.failureCheck; }, false},
        {"[Application]\nOverride WorkingDir=", "yEs", [](const Launcher& l) { return l.overrideWorkingDir; }, true},
        {"[Application]\nOverride WorkingDir=", "1", [](const Launcher& l) { return l.overrideWorkingDir; }, false},
        {"[Application]\nPair Return Code=", "Yes", [](const Launcher& l) { return l.pairReturnCode; }, true},
        {"[Application]\nPair Return Code=", "no", [](const Launcher& l) { return l.pairReturnCode; }, false},
    };
    for (const Case& c : cases) {
        Launcher fresh;
        settings(std::string(kMainClass) + c.line + c.value + "\n");
        ASSERT_TRUE(readLauncherSettings(fresh));
        EXPECT_EQ(c.check(fresh), c.expected) << c.line << c.value;
    }
}

TEST_F(LauncherSettingsTest, OmitServiceNameIsReadOnlyForServices) {
    ASSERT_TRUE(read(std::string(kMainClass) + "[Application]\nApplication Type=desktop\nOmit Service Name=x\n"));
    EXPECT_FALSE(launcher.omitServiceName);
    Launcher service;
    settings(std::string(kMainClass) + "[Application]\nApplication Type=service\nOmit Service Name=x\n");
    ASSERT_TRUE(readLauncherSettings(service));
    EXPECT_TRUE(service.isService && service.omitServiceName);
}

TEST_F(LauncherSettingsTest, JvmSourceFlags) {
    struct Case {
        const char* value;
        bool acceptBothKinds, jdkPreferred, jrePreferred;
    } cases[] = {
        {"", true, true, true},
        {"favor_JRE", true, false, true},
        {"favor_JDK", true, true, false},
        {"only_JRE", false, false, true},
        {"only_JDK", false, true, false},
        {"FAVOR_JRE", false, false, false},
        {"only_jdk", false, false, false},
        {"favour_JRE", false, false, false},
    };
    for (const Case& c : cases) {
        Launcher fresh;
        settings(std::string(kMainClass) + "JVM Source=" + c.value + "\n");
        ASSERT_TRUE(readLauncherSettings(fresh));
        EXPECT_EQ(fresh.acceptBothKinds, c.acceptBothKinds) << c.value;
        EXPECT_EQ(fresh.jdkPreferred, c.jdkPreferred) << c.value;
        EXPECT_EQ(fresh.jrePreferred, c.jrePreferred) << c.value;
    }
}

TEST_F(LauncherSettingsTest, VmProviderTable) {
    struct Case {
        const char* value;
        bool jrockitAllowed, jrockitFavoured, sunAllowed, sunFavoured, ibmAllowed, ibmFavoured;
    } cases[] = {
        {"", false, false, true, true, false, false},
        {"sun", false, false, true, true, false, false},
        {"jrockit", true, true, false, false, false, false},
        {"JRockit", true, true, false, false, false, false},
        {"ibm", false, false, false, false, true, true},
        {"favor_sun", true, false, true, true, true, false},
        {"favor_jrockit", true, true, true, false, true, false},
        {"favor_ibm", true, false, true, false, true, true},
        {"FAVOR_IBM", true, false, true, false, true, true},
        {"any", true, false, true, false, true, false},
        {"Any", true, false, true, false, true, false},
        {"any ibm", false, false, true, true, false, false},
    };
    for (const Case& c : cases) {
        Launcher fresh;
        settings(std::string(kMainClass) + "VM Provider=" + c.value + "\n");
        ASSERT_TRUE(readLauncherSettings(fresh));
        bool got[] = {fresh.jrockitAllowed, fresh.jrockitFavoured, fresh.sunAllowed,
                      fresh.sunFavoured,    fresh.ibmAllowed,      fresh.ibmFavoured};
        bool want[] = {c.jrockitAllowed, c.jrockitFavoured, c.sunAllowed, c.sunFavoured, c.ibmAllowed, c.ibmFavoured};
        for (int i = 0; i < 6; ++i) EXPECT_EQ(got[i], want[i]) << c.value << ", flag " << i;
    }
}

TEST_F(LauncherSettingsTest, TextValuesAreTakenAsWritten) {
    ASSERT_TRUE(read(std::string(kMainClass) +
                     "Preferred versions=1.5; 1.6;;1.7 ;\nSystem Path=C:\\Tools;%WINDIR%\nLibrary Path=lib\n"
                     "JRE Path=%JAVA_HOME%\n[Application]\nPair Product=C:\\App\\app64.exe\n"
                     "[Product Information]\nProduct Name=My: App\nProduct Code=42\n"));
    EXPECT_EQ(U(launcher.preferredVersions), Strings({"1.5", " 1.6", "", "1.7 "}));
    EXPECT_EQ(U(launcher.systemPath), "C:\\Tools;%WINDIR%");
    EXPECT_EQ(U(launcher.libraryPath), "lib");
    EXPECT_EQ(U(launcher.jrePath), "%JAVA_HOME%");
    EXPECT_EQ(U(launcher.pairProduct), "C:\\App\\app64.exe");
    EXPECT_EQ(U(launcher.productName), "My: App");
    EXPECT_EQ(U(launcher.productCode), "42");
}

TEST_F(LauncherSettingsTest, BuiltInValuesLieUnderTheFileButNotUnderProductInformation) {
    platform::host::setBuiltInSettings(NarrowString(
        "[Java Runtime Environment]\nMain Class=builtin.Main\nJVM Type=server\nVirtual Machine Parameters=-Xmx1g\n"
        "[Product Information]\nProduct Name=Built In\n"));
    ASSERT_TRUE(read("[Java Runtime Environment+]\nJVM Type=favor_server\n"));
    EXPECT_EQ(U(launcher.mainClass), "builtin/Main");
    EXPECT_EQ(launcher.jvmType, 0);  // "server favor_server" is neither word
    EXPECT_TRUE(launcher.productName.empty());

    Launcher overridden;
    settings("[Java Runtime Environment]\nMain Class=file.Main\n");
    ASSERT_TRUE(readLauncherSettings(overridden));
    EXPECT_EQ(U(overridden.mainClass), "file/Main");
    EXPECT_EQ(overridden.jvmType, 1);
}

// "JRE Path" may come from the per-user copy of the settings file.
TEST_F(LauncherSettingsTest, PerUserJrePath) {
    struct Case {
        const char* name;
        bool ntFamily;
        bool service;
        const char* perUser;  // nullptr: no per-user copy
        const char* jrePath;
    } cases[] = {
        {"per-user value wins", true, false, "[Java Runtime Environment]\nJRE Path=C:\\User\\jre\n", "C:\\User\\jre"},
        {"existing copy without the key hides the main value", true, false, "[Other]\nk=v\n", ""},
        {"empty existing copy hides the main value", true, false, "", ""},
        {"no copy", true, false, nullptr, "C:\\Main\\jre"},
        {"not the NT family", false, false, "[Java Runtime Environment]\nJRE Path=C:\\User\\jre\n", "C:\\Main\\jre"},
        {"service", true, true, "[Java Runtime Environment]\nJRE Path=C:\\User\\jre\n", "C:\\Main\\jre"},
    };
    for (const Case& c : cases) {
        ScratchFolder appData;
        platform::host::setEnvironment(W("APPDATA"), appData.path() + u"Roaming");
        platform::host::setNtFamily(c.ntFamily);
        if (c.perUser) appData.write("Roaming/AcmeTools/7/launcher.ini", c.perUser);
        settings(std::string(kMainClass) + "JRE Path=C:\\Main\\jre\n[Application]\nApplication Type=" +
                 (c.service ? "service" : "") + "\n[Product Information]\nProduct Name=Acme/Tools\nProduct Code=7\n");
        Launcher fresh;
        ASSERT_TRUE(readLauncherSettings(fresh)) << c.name;
        EXPECT_EQ(U(fresh.jrePath), c.jrePath) << c.name;
    }
}

}  // namespace
