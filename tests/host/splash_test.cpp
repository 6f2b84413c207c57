// The splash screen's decisions: the "Display" values and the choice between
// the runtime's library and the launcher's own window, the runtime library's
// path and calls, the window's geometry and the image checks.
#include "splash/splash.h"

#include <dlfcn.h>
#include <limits.h>

#include "launcher/launcher.h"
#include "splash/runtime_splash.h"
#include "support/platform.h"
#include "test_support.h"

namespace {

TEST(SplashDecisionTest, ShadowOnlyForExactlyTrue) {
    struct Case {
        const char* value;
        bool shadow;
    } cases[] = {
        {"true", true}, {"True", false}, {"TRUE", false}, {" true", false}, {"true ", false},
        {"yes", false}, {"1", false},    {"", false},     {"tru", false},
    };
    for (const Case& c : cases) EXPECT_EQ(splashShadowWanted(W(c.value)), c.shadow) << c.value;
}

TEST(SplashDecisionTest, RuntimeLibraryTriedForYesInAnyCaseWhenPresent) {
    struct Case {
        const char* preference;
        const char* library;
        bool tried;
    } cases[] = {
        {"Yes", "C:\\jre\\bin\\splashscreen.dll", true},  {"yes", "C:\\jre\\bin\\splashscreen.dll", true},
        {"YES", "C:\\jre\\bin\\splashscreen.dll", true},  {"yEs", "C:\\jre\\bin\\splashscreen.dll", true},
        {"Yes", "", false},                               {"", "C:\\jre\\bin\\splashscreen.dll", false},
        {"true", "C:\\jre\\bin\\splashscreen.dll", false}, {"Yes ", "C:\\jre\\bin\\splashscreen.dll", false},
        {"No", "C:\\jre\\bin\\splashscreen.dll", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tryRuntimeSplash(W(c.preference), W(c.library)), c.tried) << c.preference << " " << c.library;
}

TEST(SplashGeometryTest, CentredWithTruncatingDivision) {
    struct Case {
        int32_t screenWidth, screenHeight, width, height;
        SplashRect rect;
    } cases[] = {
        {1280, 1024, 64, 48, {608, 488, 672, 536}},
        {1280, 1024, 65, 49, {607, 487, 672, 536}},
        {1280, 1024, 0, 0, {640, 512, 640, 512}},
        {1280, 1024, 1280, 1024, {0, 0, 1280, 1024}},
        // Larger than the screen: negative edges, truncated toward zero
        // (-21 / 2 is -10, not -11), past both sides by about the same amount.
        {1280, 1024, 1301, 1031, {-10, -3, 1291, 1028}},
        {1280, 1024, 2560, 2048, {-640, -512, 1920, 1536}},
        {1281, 1025, 1280, 1024, {0, 0, 1280, 1024}},
    };
    for (const Case& c : cases) {
        SplashRect rect = centredSplashRect(c.screenWidth, c.screenHeight, c.width, c.height);
        EXPECT_EQ(rect.left, c.rect.left) << c.width << "x" << c.height;
        EXPECT_EQ(rect.top, c.rect.top) << c.width << "x" << c.height;
        EXPECT_EQ(rect.right, c.rect.right) << c.width << "x" << c.height;
        EXPECT_EQ(rect.bottom, c.rect.bottom) << c.width << "x" << c.height;
    }
}

TEST(SplashGeometryTest, HimetricToPixelsRoundsToNearest) {
    struct Case {
        int32_t himetric, pixelsPerInch, pixels;
    } cases[] = {
        {1693, 96, 64},  // 63.99: the picture loader's own rounding of 64 pixels
        {2540, 96, 96},     {0, 96, 0},          {26, 96, 1},         {13, 96, 0},
        {1270, 1, 1},       // exactly half: away from zero
        {-1270, 1, -1},     {1269, 1, 0},        {26458, 120, 1250},  {5080, 144, 288},
        {INT_MAX, 96, 81164736},  // no overflow on the way
    };
    for (const Case& c : cases)
        EXPECT_EQ(himetricToPixels(c.himetric, c.pixelsPerInch), c.pixels) << c.himetric << " at " << c.pixelsPerInch;
}

TEST(SplashImageTest, PngIsToldBySignature) {
    struct Case {
        std::string bytes;
        bool png;
    } cases[] = {
        {std::string("\x89PNG\r\n\x1a\n", 8), true},
        {std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), true},
        {std::string("\x89PNG\r\n\x1a", 7), false},  // cut short
        {std::string("\x89png\r\n\x1a\n", 8), false},
        {std::string("\x89PNG\n\n\x1a\n", 8), false},
        {"BM6\0\0\0", false},
        {"GIF89a", false},
        {std::string("\xFF\xD8\xFF\xE0", 4), false},
        {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(hasPngSignature(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()), c.png);
}

TEST(SplashImageTest, SizeLimitIs64MiB) {
    EXPECT_FALSE(splashImageSizeAccepted(0));
    EXPECT_TRUE(splashImageSizeAccepted(1));
    EXPECT_TRUE(splashImageSizeAccepted(64ull * 1024 * 1024));
    EXPECT_FALSE(splashImageSizeAccepted(64ull * 1024 * 1024 + 1));
    EXPECT_FALSE(splashImageSizeAccepted(1ull << 40));
}

class RuntimeSplashTest : public LauncherTest {};

TEST_F(RuntimeSplashTest, LibraryIsLookedForInTheBinFolder) {
    folder.write("jre/bin/client/jvm.dll", "");
    folder.write("jre/bin/splashscreen.dll", "");
    folder.write("bare/bin/client/jvm.dll", "");
    folder.write("slash/bin/splashscreen.dll", "");
    folder.write("splashscreen.dll", "");
    const WideString& F = folder.path();
    struct Case {
        WideString jvm;
        WideString library;
    } cases[] = {
        {F + u"jre\\bin\\client\\jvm.dll", F + u"jre\\bin\\splashscreen.dll"},
        {F + u"bare\\bin\\client\\jvm.dll", u""},
        // A forward slash at the end of the cut path takes no backslash.
        {F + u"slash\\bin/\\server\\jvm.dll", F + u"slash\\bin/splashscreen.dll"},
        // Two cuts of a path with only one backslash leave what is before it.
        {F.left(F.size() - 1) + u"\\jvm.dll", u""},
        {u"jvm.dll", u""},
        {u"", u""},
    };
    for (const Case& c : cases) EXPECT_EQ(U(findRuntimeSplashLibrary(c.jvm)), U(c.library)) << U(c.jvm);
}

TEST_F(RuntimeSplashTest, ImageNameIsAnsiOrItsShortForm) {
    struct Case {
        const char* path;
        char16_t ansiHighest;
        const char* shortPath;  // null: none
        bool named;
        const char* name;
    } cases[] = {
        {"C:\\App\\splash.bmp", 0xFF, nullptr, true, "C:\\App\\splash.bmp"},
        {"C:\\Café\\splash.bmp", 0xFF, nullptr, true, "C:\\Café\\splash.bmp"},
        // Beyond the code page: the short form when it converts exactly.
        {"C:\\日本\\splash.bmp", 0xFF, "C:\\8A2B~1\\splash.bmp", true, "C:\\8A2B~1\\splash.bmp"},
        {"C:\\日本\\splash.bmp", 0xFF, nullptr, false, ""},
        {"C:\\日本\\splash.bmp", 0xFF, "C:\\日本~1\\splash.bmp", false, ""},
        {"C:\\日本\\splash.bmp", 0xFFFF, nullptr, true, "C:\\日本\\splash.bmp"},
    };
    for (const Case& c : cases) {
        platform::host::reset();
        platform::host::setAnsiHighest(c.ansiHighest);
        if (c.shortPath) platform::host::setShortPath(W(c.path), W(c.shortPath));
        NarrowString name;
        EXPECT_EQ(runtimeSplashImageName(W(c.path), name), c.named) << c.path;
        if (c.named) {
            EXPECT_EQ(std::string(name.c_str()), c.name);
        }
    }
}

// The calls the host stand-in library has received so far.
std::string libraryCalls(const char* path) {
    void* library = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (!library) return "<not loaded>";
    auto calls = reinterpret_cast<const char* (*)()>(dlsym(library, "standinCalls"));
    std::string result = calls ? calls() : "<no record>";
    dlclose(library);
    return result;
}

TEST_F(RuntimeSplashTest, LibraryGetsItsThreeCallsInOrder) {
    Launcher launcher;
    WideString library = platform::host::windowsPath(HOST_SPLASH_LIBRARY);
    std::string before = libraryCalls(HOST_SPLASH_LIBRARY);
    if (before == "<not loaded>") before.clear();
    ASSERT_TRUE(startRuntimeSplash(launcher, library, u"C:\\App\\splash.bmp"));
    EXPECT_EQ(libraryCalls(HOST_SPLASH_LIBRARY),
              before + "SplashInit();SplashLoadFile(C:\\App\\splash.bmp);"
                       "SplashSetFileJarName(C:\\App\\splash.bmp,null);");
    ASSERT_NE(launcher.runtimeSplashClose, nullptr);
    launcher.runtimeSplashClose();
    EXPECT_EQ(libraryCalls(HOST_SPLASH_LIBRARY).substr(before.size()),
              "SplashInit();SplashLoadFile(C:\\App\\splash.bmp);SplashSetFileJarName(C:\\App\\splash.bmp,null);"
              "SplashClose();");
    launcher.runtimeSplashClose = nullptr;
}

TEST_F(RuntimeSplashTest, LibraryWithoutAnEntryPointIsNeverCalledNorClosed) {
    Launcher launcher;
    EXPECT_FALSE(startRuntimeSplash(launcher, platform::host::windowsPath(HOST_SPLASH_LIBRARY_WITHOUT_INIT),
                                    u"C:\\App\\splash.bmp"));
    // It has SplashClose, but was never initialised.
    EXPECT_EQ(launcher.runtimeSplashClose, nullptr);
    EXPECT_EQ(libraryCalls(HOST_SPLASH_LIBRARY_WITHOUT_INIT), "");
}

TEST_F(RuntimeSplashTest, UnnameableImageLeavesTheLibraryUnloaded) {
    Launcher launcher;
    platform::host::setAnsiHighest(0xFF);
    EXPECT_FALSE(startRuntimeSplash(launcher, platform::host::windowsPath(HOST_SPLASH_LIBRARY_WITHOUT_INIT),
                                    u"C:\\日本\\splash.bmp"));
    EXPECT_EQ(launcher.runtimeSplashClose, nullptr);
    EXPECT_FALSE(startRuntimeSplash(launcher, u"Z:\\no\\such\\splashscreen.dll", u"C:\\App\\splash.bmp"));
    EXPECT_EQ(launcher.runtimeSplashClose, nullptr);
}

class StartSplashTest : public LauncherTest {
protected:
    void TearDown() override { closeSplash(launcher); }
    Launcher launcher;
};

TEST_F(StartSplashTest, DisplayValuesComeFromTheSettingsFileOnly) {
    struct Case {
        const char* file;     // settings file text
        const char* builtIn;  // built-in settings text
        bool window;
        const char* image;
        const char* shadow;
    } cases[] = {
        {"[Display]\nSplash Screen=splash.bmp\nSplash Screen Shadow=true\n", "", true, "splash.bmp", "true"},
        {"[Display]\nSplash Screen=C:\\img\\s.png\n", "", true, "C:\\img\\s.png", ""},
        {"[Display]\nSplash Screen Shadow=true\n", "", false, "", ""},
        {"[Java Runtime Environment]\nMain Class=a.B\n", "[Display]\nSplash Screen=splash.bmp\n", false, "", ""},
        {"[Display]\nSplash Screen=\n", "[Display]\nSplash Screen=splash.bmp\n", false, "", ""},
        {"[Display+]\nSplash Screen=splash.bmp\n", "", false, "", ""},
    };
    for (const Case& c : cases) {
        closeSplash(launcher);
        settings(c.file);
        platform::host::setBuiltInSettings(NarrowString(c.builtIn));
        startSplash(launcher);
        EXPECT_EQ(launcher.splashWindow != nullptr, c.window) << c.file;
        EXPECT_EQ(U(launcher.splashImagePath), c.image) << c.file;
        EXPECT_EQ(U(launcher.splashShadow), c.shadow) << c.file;
        EXPECT_EQ(launcher.runtimeSplashClose, nullptr);
    }
    EXPECT_TRUE(platform::host::shownMessages().empty());
}

TEST_F(StartSplashTest, RuntimeLibraryWhenPreferredAndPresent) {
    // jvm.dll two levels below a copy of the host library named splashscreen.dll.
    folder.write("jre/bin/client/jvm.dll", "");
    std::string copy = "cp '" + std::string(HOST_SPLASH_LIBRARY) + "' '" + folder.hostPath() + "/jre/bin/splashscreen.dll'";
    ASSERT_EQ(system(copy.c_str()), 0);
    launcher.jvmLibraryPath = folder.path() + u"jre\\bin\\client\\jvm.dll";
    struct Case {
        const char* preference;
        bool runtime;
    } cases[] = {{"yes", true}, {"No", false}, {"", false}};
    for (const Case& c : cases) {
        closeSplash(launcher);
        launcher.runtimeSplashClose = nullptr;
        settings(std::string("[Display]\nSplash Screen=s.bmp\nPreffer Native Splash Screen=") + c.preference + "\n");
        startSplash(launcher);
        EXPECT_EQ(launcher.runtimeSplashClose != nullptr, c.runtime) << c.preference;
        EXPECT_EQ(launcher.splashWindow == nullptr, c.runtime) << c.preference;
    }
    // A runtime without the library: the own window even when preferred.
    closeSplash(launcher);
    launcher.runtimeSplashClose = nullptr;
    launcher.jvmLibraryPath = folder.path() + u"other\\bin\\client\\jvm.dll";
    settings("[Display]\nSplash Screen=s.bmp\nPreffer Native Splash Screen=Yes\n");
    startSplash(launcher);
    EXPECT_EQ(launcher.runtimeSplashClose, nullptr);
    EXPECT_NE(launcher.splashWindow, nullptr);
}

TEST_F(StartSplashTest, UnknownSettingsFileMeansNoSplashAndTheLaunchGoesOn) {
    settings("[Display]\nSplash Screen=splash.bmp\n");
    platform::host::failModulePath(5);
    startSplash(launcher);
    EXPECT_EQ(launcher.splashWindow, nullptr);
    EXPECT_TRUE(launcher.splashImagePath.empty());
    EXPECT_EQ(platform::host::shownMessages().size(), 1u);  // the module path's own report
}

TEST_F(StartSplashTest, SecondCloseDoesNothing) {
    settings("[Display]\nSplash Screen=splash.bmp\n");
    startSplash(launcher);
    ASSERT_NE(launcher.splashWindow, nullptr);
    closeSplash(launcher);
    EXPECT_EQ(launcher.splashWindow, nullptr);
    closeSplash(launcher);
    EXPECT_EQ(launcher.splashWindow, nullptr);
}

}  // namespace
