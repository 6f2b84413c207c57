// Settings through the system's profile-string reader and writer.
#include "win_test_support.h"

#include "launcher/launcher.h"
#include "launcher/launcher_settings.h"
#include "launcher/settings.h"
#include "support/platform.h"
#include "tests/shared/settings_reader_rows.h"

namespace {

std::string utf16File(const std::wstring& text) {
    std::string bytes = "\xFF\xFE";
    for (wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

TEST(WinSettingsFile, ValuesOfAnyLengthAreReadWhole) {
    TempFolder folder;
    for (size_t length : {254u, 255u, 256u, 511u, 4000u, 70000u}) {
        std::wstring value(length, L'x');
        value[0] = L'a';
        value[length - 1] = L'z';
        std::wstring path = folder.write(L"long.ini", utf16File(L"[Class Path]\r\nClass Path=" + value + L"\r\n"));
        SettingsFile settings(W(path.c_str()));
        EXPECT_EQ(settings.read(W(L"Class Path"), W(L"Class Path")).size(), length);
        // Section and key names match without regard to case.
        EXPECT_EQ(settings.read(W(L"class path"), W(L"CLASS PATH")).size(), length);
    }
}

// The rows the host tests check against the launcher's own reader.
TEST(WinSettingsFile, ReadsEveryLineAsTheSharedTableSays) {
    TempFolder folder;
    int number = 0;
    for (const SettingsReaderRow& row : kSettingsReaderRows) {
        auto wide = [](const char* utf8) { return fromUtf8(utf8, strlen(utf8)); };
        // A file of its own per row: the system keeps files it has read.
        std::wstring name = L"table" + std::to_wstring(number++) + L".ini";
        std::wstring path = folder.write(name, utf16File(S(wide(row.text))));
        SettingsFile settings(W(path.c_str()));
        EXPECT_EQ(std::string(toUtf8(settings.read(wide(row.section), wide(row.key))).c_str()), row.value) << row.text << " / " << row.key;
    }
}

TEST(WinSettingsFile, SectionNamesAreWalkedWhole) {
    TempFolder folder;
    std::wstring text;
    for (int i = 0; i < 120; ++i) text += L"[Section number " + std::to_wstring(i) + L"]\r\nKey=" + std::to_wstring(i) + L"\r\n";
    std::wstring path = folder.write(L"many.ini", utf16File(text));
    SettingsFile settings(W(path.c_str()));
    List<WideString> names = settings.sectionNames();
    ASSERT_EQ(names.size(), 120u);
    EXPECT_EQ(S(names[0]), L"Section number 0");
    EXPECT_EQ(S(names[119]), L"Section number 119");
}

TEST(WinSettingsFile, WriteAndDeleteGoToTheFile) {
    TempFolder folder;
    WideString path = folder.wpath() + u"written.ini";
    SettingsFile settings(path);
    settings.write(W(L"Java Runtime Environment"), W(L"JRE Path"), W(L"C:\\Java\\jre"));
    EXPECT_EQ(S(SettingsFile(path).read(W(L"Java Runtime Environment"), W(L"JRE Path"))), L"C:\\Java\\jre");
    settings.deleteFile();
    EXPECT_FALSE(platform::fileExists(path));
}

TEST(WinSettingsFile, LayeredReadExtendsBuiltInValues) {
    TempFolder folder;
    std::wstring path = folder.write(
        L"layered.ini", utf16File(L"[Java Runtime Environment]\r\nMain Class=file.Main\r\n"
                                  L"[Java Runtime Environment+]\r\nVirtual Machine Parameters=-Xmx64m\r\n"));
    LayeredSettingsFile layered(W(path.c_str()), W(L"[Java Runtime Environment]\nMain Class=builtin.Main\n"
                                                   L"Virtual Machine Parameters=-Dbuilt=in\nJVM Type=server\n"));
    SettingsStore& store = static_cast<SettingsFile&>(layered);
    EXPECT_EQ(S(store.read(W(L"Java Runtime Environment"), W(L"Main Class"))), L"file.Main");
    EXPECT_EQ(S(store.read(W(L"Java Runtime Environment"), W(L"Virtual Machine Parameters"))),
              L"-Dbuilt=in -Xmx64m");
    EXPECT_EQ(S(store.read(W(L"Java Runtime Environment"), W(L"JVM Type"))), L"server");
    // Through the built-in base the layering holds too.
    SettingsStore& memory = static_cast<MemorySettings&>(layered);
    EXPECT_EQ(S(memory.read(W(L"Java Runtime Environment"), W(L"Main Class"))), L"file.Main");
}

// The settings file of this test program lies beside it: win_tests.ini.
class OwnSettings : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring module(self);
        iniPath_ = module.substr(0, module.rfind(L'.')) + L".ini";
        fileName_ = module.substr(module.rfind(L'\\') + 1);
        fileName_ = fileName_.substr(0, fileName_.rfind(L'.')) + L".ini";
        SetEnvironmentVariableW(L"APPDATA", appData_.path().substr(0, appData_.path().size() - 1).c_str());
    }
    void TearDown() override { DeleteFileW(iniPath_.c_str()); }
    void writeIni(const std::wstring& text) {
        HANDLE file = CreateFileW(iniPath_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        std::string bytes = utf16File(text);
        DWORD written;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }

    TempFolder appData_;
    std::wstring iniPath_;
    std::wstring fileName_;
};

TEST_F(OwnSettings, PerUserCopyUnderAppDataDecidesTheRuntimeFolder) {
    writeIni(L"[Product Information]\r\nProduct Name=A/B:C\r\nProduct Code=1.0\r\n"
             L"[Java Runtime Environment]\r\nMain Class=app.Main\r\nJRE Path=C:\\main\\jre\r\n");
    Launcher launcher;
    WideString perUser = ownPerUserSettingsPath(launcher, true);
    launcher.productName = W(L"A/B:C");
    launcher.productCode = W(L"1.0");
    perUser = ownPerUserSettingsPath(launcher, true);
    EXPECT_EQ(S(perUser), appData_.path() + L"ABC\\1.0\\" + fileName_);
    EXPECT_TRUE(platform::fileExists(appData_.wpath() + u"ABC\\1.0"));

    {
        Launcher reader;
        ASSERT_TRUE(readLauncherSettings(reader));
        EXPECT_EQ(S(reader.jrePath), L"C:\\main\\jre");  // no per-user copy yet
        EXPECT_EQ(S(reader.mainClass), L"app/Main");
    }
    SettingsFile(perUser).write(W(L"Java Runtime Environment"), W(L"JRE Path"), W(L"D:\\user\\jre"));
    {
        Launcher reader;
        ASSERT_TRUE(readLauncherSettings(reader));
        EXPECT_EQ(S(reader.jrePath), L"D:\\user\\jre");
    }
    // A copy without the key still hides the main file's value.
    SettingsFile(perUser).write(W(L"Java Runtime Environment"), W(L"JRE Path"), W(L""));
    WritePrivateProfileStringW(L"Java Runtime Environment", L"JRE Path", nullptr, S(perUser).c_str());
    {
        Launcher reader;
        ASSERT_TRUE(readLauncherSettings(reader));
        EXPECT_TRUE(reader.jrePath.empty());
    }
    // A service never reads the per-user copy.
    writeIni(L"[Product Information]\r\nProduct Name=A/B:C\r\nProduct Code=1.0\r\n"
             L"[Java Runtime Environment]\r\nMain Class=app.Main\r\nJRE Path=C:\\main\\jre\r\n"
             L"[Application]\r\nApplication Type=service\r\n");
    {
        Launcher reader;
        ASSERT_TRUE(readLauncherSettings(reader));
        EXPECT_TRUE(reader.isService);
        EXPECT_EQ(S(reader.jrePath), L"C:\\main\\jre");
    }
}

TEST_F(OwnSettings, MissingMainClassShowsNothingHereButFails) {
    writeIni(L"[Java Runtime Environment]\r\nJVM Type=server\r\n");
    Launcher launcher;
    // The message box would block a test: check the settings path and the
    // value instead; the box itself is shown in the end-to-end tests.
    WideString path;
    ASSERT_TRUE(settingsFilePath(launcher, path));
    EXPECT_EQ(S(path), iniPath_);
    EXPECT_TRUE(SettingsFile(path).read(W(L"Java Runtime Environment"), W(L"Main Class")).empty());
}

}  // namespace
