// The missing-runtime dialog's decisions: message, picked folders, link
// colours, where the pick is saved and how, and the launch around it.
#include "runtime/missing_runtime.h"

#include <fstream>
#include <iterator>

#include "launcher/launcher.h"
#include "runtime/missing_runtime_dialog_host.h"
#include "runtime/pe_image.h"
#include "support/platform.h"
#include "launcher/settings.h"
#include "test_support.h"

namespace {

typedef std::vector<std::string> Strings;

std::string image(uint16_t machine) { return peImage(machine); }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(MissingRuntimeMessageTest, PhraseAndTextFollowTheBoundsAndTheVmType) {
    const std::string unavailable = "The Java Runtime Environment (JRE) was not found. Please  download and install a JRE (";
    const std::string server =
        "The Java Runtime Environment (JRE) was not found. Please  download and install a JRE with a server JVM (";
    struct Case {
        RuntimeVersion minimum, maximum;
        int32_t jvmType;
        const char* phrase;
        bool serverText;
    } cases[] = {
        {{0, 0, 0, 0, 4}, {65535, 65535, 65535, 65535, 4}, 0, "latest version", false},
        {{0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}, 0, "latest version", false},
        {{65535, 65535, 65535, 65535, 4}, {0, 0, 0, 0, 0}, 0, "latest version", false},
        {{0, 0, 0, 0, 0}, {1, 7, 65535, 65535, 2}, 0, "maximum version 1.7", false},
        {{1, 6, 0, 0, 2}, {65535, 65535, 65535, 65535, 4}, 0, "minimum version 1.6", false},
        {{1, 6, 0, 24, 4}, {1, 6, 0, 24, 4}, 0, "version 1.6.0.24 is required", false},
        {{1, 6, 0, 0, 2}, {1, 6, 0, 99, 4}, 0, "version between 1.6 and 1.6.0.99", false},
        {{1, 6, 0, 0, 2}, {1, 6, 0, 99, 4}, 1, "version between 1.6 and 1.6.0.99", true},
        {{0, 0, 0, 0, 4}, {65535, 65535, 65535, 65535, 4}, 1, "latest version", true},
        // favor_server asks for no server VM in particular.
        {{0, 0, 0, 0, 4}, {65535, 65535, 65535, 65535, 4}, 2, "latest version", false},
    };
    for (const Case& c : cases) {
        Launcher launcher;
        launcher.minimumVersion = c.minimum;
        launcher.maximumVersion = c.maximum;
        launcher.jvmType = c.jvmType;
        EXPECT_EQ(U(versionPhrase(launcher)), c.phrase);
        EXPECT_EQ(U(missingRuntimeMessage(launcher)), (c.serverText ? server : unavailable) + c.phrase + ") from:");
        MissingRuntimeDialog dialog(launcher);
        EXPECT_EQ(dialog.message, missingRuntimeMessage(launcher));
        EXPECT_EQ(dialog.jvmType, c.jvmType);
    }
}

TEST(AnchorColourTest, ValuesOfTheColourKeys) {
    const uint32_t untouched = 0xDEADBEEF;
    struct Case {
        const char* text;
        uint32_t colour;  // 0x00BBGGRR, or untouched
    } cases[] = {
        {"0,0,255", 0xFF0000},
        {"128,0,128", 0x800080},
        {"1,2,3", 0x030201},
        {" 10,+20, 30", 0x1E140A},
        {"255,255,255", 0xFFFFFF},           // eleven characters
        {"255,255,2550", untouched},         // twelve
        {"256,257,-1", 0xFF0100},            // the lowest 8 bits
        {"12a,7x,9 b", 0x09070C},            // reading stops at the first other character
        {"red,green,5", 0x050000},           // no digits read as 0
        {",,1", 0x010000},
        {"1,2,3,4", 0x030201},               // the rest after the second comma
        {"1,2,", untouched},                 // nothing after the second comma
        {"1,2", untouched},                  // one comma
        {"", untouched},
        {"0x10,1,1", 0x010100},              // decimal only: "0" then stop
        {"\t5,6,7", 0x070605},
    };
    for (const Case& c : cases) {
        uint32_t colour = untouched;
        bool parsed = parseAnchorColour(W(c.text), colour);
        EXPECT_EQ(colour, c.colour) << c.text;
        EXPECT_EQ(parsed, c.colour != untouched) << c.text;
    }
}

class PickTest : public LauncherTest {
protected:
    // <name>\bin\<vm>\jvm.dll holding an image for the machine.
    WideString runtime(const std::string& name, const char* vm, uint16_t machine) {
        folder.write(name + "/bin/" + vm + "/jvm.dll", image(machine));
        return folder.path() + W(name.c_str());
    }
};

TEST_F(PickTest, PickedFolderDecidesOk) {
    WideString client = runtime("client", "client", ownMachine());
    WideString server = runtime("server", "server", ownMachine());
    WideString partner = runtime("partner", "client", partnerMachine());
    WideString arm = runtime("arm", "client", 0xAA64);
    folder.write("broken/bin/client/jvm.dll", "MZ but no image");
    WideString broken = folder.path() + W("broken");
    WideString kit = folder.path() + W("kit");
    runtime("kit/jre", "client", ownMachine());
    struct Case {
        const char* what;
        WideString picked;
        int32_t jvmType;
        bool paired;
        WideString library;  // empty: OK disabled
    } cases[] = {
        {"client runtime", client, 0, false, client + W("\\bin\\client\\jvm.dll")},
        {"trailing backslash kept single", client + W("\\"), 0, false, client + W("\\bin\\client\\jvm.dll")},
        {"server type needs a server VM", client, 1, false, W("")},
        {"server type", server, 1, false, server + W("\\bin\\server\\jvm.dll")},
        {"favor_server takes a client VM", client, 2, false, client + W("\\bin\\client\\jvm.dll")},
        {"no jre subfolder is tried", kit, 0, false, W("")},
        {"a kit's jre folder", kit + W("\\jre"), 0, false, kit + W("\\jre\\bin\\client\\jvm.dll")},
        {"partner build's runtime without a paired program", partner, 0, false, W("")},
        {"partner build's runtime with a paired program", partner, 0, true, partner + W("\\bin\\client\\jvm.dll")},
        {"a processor neither build hosts", arm, 0, true, W("")},
        {"not an image", broken, 0, true, W("")},
        {"folder without a runtime", folder.path() + W("nothing"), 0, false, W("")},
    };
    for (const Case& c : cases) {
        Launcher launcher;
        launcher.jvmType = c.jvmType;
        if (c.paired) launcher.pairProduct = W("C:\\pair\\Pair.exe");
        MissingRuntimeDialog dialog(launcher);
        EXPECT_EQ(dialog.pick(c.picked), !c.library.empty()) << c.what;
        EXPECT_EQ(U(dialog.jvmLibraryPath), U(c.library)) << c.what;
        EXPECT_TRUE(dialog.runtimeFolder.endsWith(u'\\')) << c.what;
        EXPECT_FALSE(dialog.runtimeFolder.endsWith(W("\\\\"))) << c.what;
    }
}

TEST_F(PickTest, ValidThenInvalidPickDisablesOkAgain) {
    WideString client = runtime("client", "client", ownMachine());
    Launcher launcher;
    MissingRuntimeDialog dialog(launcher);
    EXPECT_TRUE(dialog.pick(client));
    EXPECT_FALSE(dialog.pick(folder.path() + W("empty")));
    EXPECT_FALSE(dialog.canConfirm());
    EXPECT_EQ(U(dialog.runtimeFolder), U(folder.path() + W("empty\\")));
}

TEST_F(PickTest, DriveRootKeepsItsSingleBackslash) {
    Launcher launcher;
    MissingRuntimeDialog dialog(launcher);
    dialog.pick(W("Q:\\"));
    EXPECT_EQ(U(dialog.runtimeFolder), "Q:\\");
}

// Where the pick goes, for every kind of launch.
class TargetsTest : public LauncherTest {
protected:
    void SetUp() override {
        LauncherTest::SetUp();
        platform::host::setEnvironment(W("APPDATA"), folder.path() + W("appdata"));
        folder.write("appdata/.keep", "");
    }
};

TEST_F(TargetsTest, FilesThatReceiveThePick) {
    const std::string own = "launcher.ini";
    struct Case {
        const char* what;
        bool nt, service;
        const char *name, *code, *pair;
        Strings targets;  // relative to the scratch folder
    } cases[] = {
        {"named product", true, false, "Acme: Tools", "T1", "", {"appdata\\Acme Tools\\T1\\launcher.ini"}},
        {"no product code", true, false, "Acme", "", "", {own}},
        {"no product name", true, false, "", "T1", "", {own}},
        {"service", true, true, "Acme", "T1", "", {own}},
        {"old system", false, false, "Acme", "T1", "", {own}},
        {"paired, per user", true, false, "Acme", "T1", "C:\\pair\\Pair.exe",
         {"appdata\\Acme\\T1\\launcher.ini", "appdata\\Acme\\T1\\Pair.ini"}},
        {"paired, per user without names", true, false, "", "", "C:\\pair\\Pair.exe",
         {"appdata\\\\\\launcher.ini", "appdata\\\\\\Pair.ini"}},
        {"paired service", true, true, "Acme", "T1", "C:\\pair\\Pair.exe", {"C:\\pair\\Pair.ini", own}},
        {"paired on an old system", false, false, "Acme", "T1", "C:\\pair\\Pair.exe", {"C:\\pair\\Pair.ini", own}},
        {"pair name without a dot", true, false, "Acme", "T1", "C:\\pair\\Pair",
         {"appdata\\Acme\\T1\\launcher.ini", "appdata\\Acme\\T1\\Pair.ini"}},
        {"pair in a folder with a dot, service", true, true, "Acme", "T1", "C:\\v1.2\\Pair",
         {"C:\\v1.2\\Pair.ini", own}},
    };
    for (const Case& c : cases) {
        Launcher launcher;
        platform::host::setNtFamily(c.nt);
        launcher.isService = c.service;
        launcher.productName = W(c.name);
        launcher.productCode = W(c.code);
        launcher.pairProduct = W(c.pair);
        Strings expected;
        for (const std::string& target : c.targets)
            expected.push_back(target.rfind("C:", 0) == 0 ? target : U(folder.path()) + target);
        EXPECT_EQ(U(runtimeFolderTargets(launcher)), expected) << c.what;
    }
    // The per-user folders are made on the way.
    EXPECT_TRUE(platform::fileExists(folder.path() + W("appdata\\Acme Tools\\T1")));
}

// A settings file that holds only what its code page can: '?' for the rest.
class FakeStore : public JrePathStore {
public:
    FakeStore(bool exists, bool ansi, bool writable = true) : exists_(exists), ansi_(ansi), writable_(writable) {}
    bool exists() override { return exists_; }
    void createUnicode() override {
        log.push_back("create");
        exists_ = true;
        ansi_ = false;
    }
    void write(const WideString& value) override {
        log.push_back("write " + U(value));
        if (!writable_) return;
        value_ = value;
        if (!ansi_) return;
        std::u16string kept = value.str();
        for (char16_t& c : kept)
            if (c > 0xFF) c = u'?';
        value_ = WideString(kept);
    }
    WideString read() override { return value_; }
    void remove() override {
        log.push_back("remove");
        value_.clear();
    }
    Strings log;
    WideString value_;

private:
    bool exists_, ansi_, writable_;
};

TEST(SaveJrePathTest, WrittenValueIsReadBack) {
    const char* unicode = "C:\\Laufzeit \xE6\x97\xA5\xE6\x9C\xAC\\";  // outside every ANSI code page
    const char* latin = "C:\\J\xC3\xA4va\\";
    struct Case {
        const char* what;
        bool exists, ansi, writable;
        const char *folder, *shortFolder;
        JrePathSaved saved;
        Strings log;
        const char* stored;
    } cases[] = {
        {"new file is made Unicode first", false, true, true, unicode, "", JrePathSaved::Exactly,
         {"create", std::string("write ") + unicode}, unicode},
        {"existing Unicode file", true, false, true, unicode, "", JrePathSaved::Exactly,
         {std::string("write ") + unicode}, unicode},
        {"existing ANSI file holds the code page", true, true, true, latin, "C:\\JVA~1\\", JrePathSaved::Exactly,
         {std::string("write ") + latin}, latin},
        {"existing ANSI file takes the short form", true, true, true, unicode, "C:\\LAUFZE~1\\",
         JrePathSaved::ShortForm, {std::string("write ") + unicode, "write C:\\LAUFZE~1\\"}, "C:\\LAUFZE~1\\"},
        {"no short form: the value goes", true, true, true, unicode, "", JrePathSaved::Removed,
         {std::string("write ") + unicode, "remove"}, ""},
        {"short form equal to the folder is not tried again", true, true, true, unicode, unicode,
         JrePathSaved::Removed, {std::string("write ") + unicode, "remove"}, ""},
        {"read-only file", true, false, false, latin, "C:\\JVA~1\\", JrePathSaved::Removed,
         {std::string("write ") + latin, "write C:\\JVA~1\\", "remove"}, ""},
    };
    for (const Case& c : cases) {
        FakeStore store(c.exists, c.ansi, c.writable);
        EXPECT_EQ(saveJrePath(store, W(c.folder), W(c.shortFolder)), c.saved) << c.what;
        EXPECT_EQ(store.log, c.log) << c.what;
        EXPECT_EQ(U(store.value_), c.stored) << c.what;
    }
}

// The launch around the dialog: the host's stand-in for the user picks a
// folder and presses a button.
WideString pickedFolder;
int pressed = 1;

int pickAndPress(MissingRuntimeDialog& dialog) {
    dialog.pick(pickedFolder);
    return pressed;
}

class AskForRuntimeTest : public PickTest {
protected:
    void SetUp() override {
        PickTest::SetUp();
        platform::host::setEnvironment(W("APPDATA"), folder.path() + W("appdata"));
        settings("[Java Runtime Environment]\nMain Class=app.Main\n");
    }
    void TearDown() override { setMissingRuntimeDialogScript(nullptr); }
};

TEST_F(AskForRuntimeTest, FailedSearchShowsTheDialogOnceAndOkTakesThePick) {
    WideString picked = runtime("picked", "client", ownMachine());
    pickedFolder = picked;
    pressed = 1;
    setMissingRuntimeDialogScript(pickAndPress);
    Launcher launcher;
    ASSERT_TRUE(launcher.initialise());
    EXPECT_EQ(missingRuntimeDialogShowings(), 1);
    EXPECT_TRUE(platform::host::shownMessages().empty());
    EXPECT_EQ(U(launcher.jvmLibraryPath), U(picked + W("\\bin\\client\\jvm.dll")));
    EXPECT_FALSE(launcher.pairLaunch);
    // No product name: the settings file beside the executable keeps the pick.
    EXPECT_NE(readFile(folder.hostPath() + "/launcher.ini").find("JRE Path=" + U(picked) + "\\"), std::string::npos);

    // The next launch finds it without the dialog.
    setMissingRuntimeDialogScript(pickAndPress);
    Launcher next;
    ASSERT_TRUE(next.initialise());
    EXPECT_EQ(missingRuntimeDialogShowings(), 0);
    EXPECT_EQ(next.jvmLibraryPath, launcher.jvmLibraryPath);
}

TEST_F(AskForRuntimeTest, CancelOrOkWithoutLibraryFailsAndChangesNoFile) {
    std::string before = readFile(folder.hostPath() + "/launcher.ini");
    struct Case {
        const char* what;
        WideString picked;
        int button;
    } cases[] = {
        {"cancel after a good pick", runtime("good", "client", ownMachine()), 2},
        {"OK sent without a library", folder.path() + W("empty"), 1},
    };
    for (const Case& c : cases) {
        pickedFolder = c.picked;
        pressed = c.button;
        setMissingRuntimeDialogScript(pickAndPress);
        Launcher launcher;
        EXPECT_FALSE(launcher.initialise()) << c.what;
        EXPECT_EQ(missingRuntimeDialogShowings(), 1) << c.what;
        EXPECT_TRUE(launcher.jvmLibraryPath.empty()) << c.what;
        EXPECT_EQ(readFile(folder.hostPath() + "/launcher.ini"), before) << c.what;
    }
}

TEST_F(AskForRuntimeTest, PartnerRuntimeWithPairedProgramStartsIt) {
    settings("[Java Runtime Environment]\nMain Class=app.Main\n[Application]\nPair Product=" +
             U(folder.path()) + "Pair.exe\n");
    platform::host::setNtFamily(false);
    pickedFolder = runtime("partner", "client", partnerMachine());
    pressed = 1;
    setMissingRuntimeDialogScript(pickAndPress);
    Launcher launcher;
    ASSERT_TRUE(launcher.initialise());
    EXPECT_TRUE(launcher.pairLaunch);
    // Both the paired program's and the launcher's own settings file.
    std::string line = "JRE Path=" + U(pickedFolder) + "\\";
    // The paired program's file is new, so made Unicode as on Windows.
    for (const char* file : {"/Pair.ini", "/launcher.ini"}) {
        std::string bytes = readFile(folder.hostPath() + file);
        EXPECT_NE(U(decodeSettingsText(NarrowString(bytes.data(), bytes.size()))).find(line), std::string::npos) << file;
    }
}

}  // namespace
