// The packaging command's decisions: the description's checks, the
// deliveries' layout and the texts made from a description, the pictures
// and compression it writes, and the Linux launcher's file addresses.
#include <gtest/gtest.h>

#include "support/file_address.h"
#include "tools/package/deflate.h"
#include "tools/package/description.h"
#include "tools/package/layout.h"
#include "tools/package/picture.h"

namespace {

const char kDescription[] =
    "[Package]\n"
    "Name=HelloApp\n"
    "Title=Hello App\n"
    "Version=1.2.3.0\n"
    "Vendor=Example Company\n"
    "Maintainer=Example Company <hello@example.com>\n"
    "Icon=art\\hello.png\n"
    "Files=hello.jar;lib\\extra.jar\n"
    "Built-in Sections=Java Runtime Environment\n"
    "[Package Runtime]\n"
    "windows-x64=runtimes\\x64\n"
    "linux-x64=jlink\n"
    "[Package File Types]\n"
    "hello=Hello document;art\\doc.png\n"
    "[Package URL Schemes]\n"
    "hello-app=Hello link\n"
    "[Java Runtime Environment]\n"
    "Main Class=demo.HelloApp\n"
    "; kept as written\n"
    "[Class Path]\n"
    "Class Path=\\lib\\*.jar\n";

Description parsed(const std::string& text) {
    Description d;
    std::vector<DescriptionError> errors;
    EXPECT_TRUE(parseDescription(text, d, errors)) << (errors.empty() ? "" : errors[0].text);
    return d;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(PackageDescriptionTest, ErrorsNameTheirLine) {
    const std::string base = kDescription;
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = base;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    struct Case {
        std::string text;
        int line;
        const char* says;
    } cases[] = {
        {replaced("Version=1.2.3.0", "Version=1.2.3"), 4, "four numbers"},
        {replaced("Version=1.2.3.0", "Version=1.2.3.4"), 4, "the fourth must be 0"},
        {replaced("Version=1.2.3.0", "Version=256.0.0.0"), 4, "cannot order"},
        {replaced("Vendor=Example Company", "Vendor=Example Company\nColour=red"), 6, "unknown key \"Colour\""},
        {replaced("[Package Runtime]", "[Package Runtimes]"), 10, "unknown section"},
        {replaced("hello=Hello document;art\\doc.png", "he llo=Hello"), 14, "extension"},
        {replaced("hello-app=Hello link", "9app=x"), 16, "URL scheme"},
        {replaced("Name=HelloApp\n", ""), 0, "needs \"Name\""},
        {replaced("Maintainer=Example Company <hello@example.com>", "Maintainer=Example Company"), 0, "e-mail"},
        {replaced("[Package]\n", "Orphan=1\n[Package]\n"), 1, "outside any section"},
    };
    for (const Case& c : cases) {
        Description d;
        std::vector<DescriptionError> errors;
        EXPECT_FALSE(parseDescription(c.text, d, errors)) << c.says;
        ASSERT_EQ(errors.size(), 1u) << c.says;
        EXPECT_EQ(errors[0].line, c.line) << c.says;
        EXPECT_TRUE(contains(errors[0].text, c.says)) << errors[0].text;
    }
}

TEST(PackageDescriptionTest, ValuesAndSettings) {
    Description d = parsed(kDescription);
    EXPECT_EQ(d.icon, "art/hello.png");
    EXPECT_EQ(d.files, (std::vector<std::string>{"hello.jar", "lib/extra.jar"}));
    EXPECT_EQ(d.packageName, "helloapp");
    EXPECT_EQ(d.windowClass, "demo-HelloApp");
    EXPECT_EQ(d.fileTypes[0].mimeType, "application/x-helloapp-hello");
    EXPECT_EQ(d.runtime(Target::WindowsX64).kind, RuntimeChoice::Folder);
    EXPECT_EQ(d.runtime(Target::WindowsX86).kind, RuntimeChoice::None);
    EXPECT_EQ(d.runtime(Target::LinuxX64).kind, RuntimeChoice::Jlink);
    EXPECT_EQ(d.settingsText(true), "[Java Runtime Environment]\r\nMain Class=demo.HelloApp\r\n; kept as written\r\n");
    EXPECT_EQ(d.settingsText(false), "[Class Path]\r\nClass Path=\\lib\\*.jar\r\n");
    // Every version of one product gets the same upgrade code.
    EXPECT_EQ(d.upgradeCode, derivedUpgradeCode("Example Company", "HelloApp"));
    EXPECT_EQ(derivedUpgradeCode("Example Company", "HelloApp"), "{41B2D7AB-A64E-8438-99C6-EF77D1FF4C3C}");
}

TEST(PackageLayoutTest, ApplicationFolders) {
    Description d = parsed(kDescription);
    std::vector<ApplicationFile> files = {{"hello.jar", "/src/hello.jar"}, {"extra.jar", "/src/lib/extra.jar"}};
    struct Case {
        Target target;
        std::vector<std::string> paths;
    } cases[] = {
        {Target::WindowsX64, {"HelloApp.exe", "HelloApp.ini", "hello.ico", "lib/hello.jar", "lib/extra.jar", "jre"}},
        {Target::WindowsX86, {"HelloApp.exe", "HelloApp.ini", "hello.ico", "lib/hello.jar", "lib/extra.jar"}},
        {Target::LinuxX64, {"HelloApp", "HelloApp.ini", "HelloApp.png", "lib/hello.jar", "lib/extra.jar", "jre"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> paths;
        for (const LayoutItem& item : applicationLayout(d, c.target, files)) paths.push_back(item.path);
        EXPECT_EQ(paths, c.paths) << targetInfo(c.target).name;
    }
    EXPECT_EQ(deliveryName(d, Target::LinuxX64), "HelloApp-1.2.3.0-linux-x64");
}

TEST(PackageLayoutTest, LinuxModes) {
    Description d = parsed(kDescription);
    struct Case {
        const char* path;
        uint32_t mode;
    } cases[] = {
        {"HelloApp", 0755},          {"HelloApp.ini", 0644},          {"lib/hello.jar", 0644},
        {"jre/bin/java", 0755},      {"jre/lib/jspawnhelper", 0755},  {"jre/lib/server/libjvm.so", 0644},
        {"jre/lib/modules", 0644},   {"lib/native.so", 0644},         {"jre/release", 0644},
    };
    for (const Case& c : cases) EXPECT_EQ(linuxFileMode(d, c.path), c.mode) << c.path;
}

TEST(PackageLayoutTest, DesktopEntryAndFileTypes) {
    Description d = parsed(kDescription);
    std::string entry = desktopEntry(d, "/opt/helloapp/HelloApp", "helloapp");
    EXPECT_TRUE(contains(entry, "\nExec=/opt/helloapp/HelloApp %U\n")) << entry;
    EXPECT_TRUE(contains(entry, "\nMimeType=application/x-helloapp-hello;x-scheme-handler/hello-app;\n")) << entry;
    EXPECT_TRUE(contains(entry, "\nStartupWMClass=demo-HelloApp\n")) << entry;
    EXPECT_TRUE(contains(entry, "\nIcon=helloapp\n")) << entry;
    // Without URL schemes the desktop passes paths; a path with blanks is quoted.
    d.urlSchemes.clear();
    EXPECT_TRUE(contains(desktopEntry(d, "/opt/My App/HelloApp", "x"), "\nExec=\"/opt/My App/HelloApp\" %F\n"));
    EXPECT_TRUE(contains(desktopEntry(d, "/opt/a\"b$/App", "x"), "\nExec=\"/opt/a\\\\\"b\\\\$/App\" %F\n"));
    EXPECT_TRUE(contains(mimeInfo(d), "<mime-type type=\"application/x-helloapp-hello\">"));
    EXPECT_TRUE(contains(mimeInfo(d), "<glob pattern=\"*.hello\"/>"));
    EXPECT_TRUE(contains(debianControl(d, 42), "Package: helloapp\nVersion: 1.2.3.0\nArchitecture: amd64\n"));
    EXPECT_EQ(lintianOverrides(d), "helloapp: dir-or-file-in-opt\n");
}

TEST(PackageLayoutTest, InstallerSource) {
    Description d = parsed(kDescription);
    std::string source = installerSource(d, Target::WindowsX64, "windows-x64/HelloApp",
                                         {"HelloApp.exe", "jre/bin/java.dll", "jre-tools/a.txt", "lib/hello.jar"});
    for (const char* part : {
             "InstallScope=\"perUser\"", "Version=\"1.2.3\"", "<MajorUpgrade ", "Win64=\"yes\"",
             "UpgradeCode=\"{41B2D7AB-A64E-8438-99C6-EF77D1FF4C3C}\"",
             "Key=\"Software\\Classes\\.hello\" Type=\"string\" Value=\"HelloApp.hello\"",
             "Key=\"Software\\Classes\\HelloApp.hello\\shell\\open\\command\" Type=\"string\" "
             "Value=\"&quot;[INSTALLDIR]HelloApp.exe&quot; &quot;%1&quot;\"",
             "Key=\"Software\\Classes\\hello-app\" Name=\"URL Protocol\"",
             "Value=\"[INSTALLDIR]hello.ico\"", "<Shortcut Id=\"menu\" Name=\"Hello App\"",
             "Source=\"windows-x64/HelloApp/jre/bin/java.dll\""})
        EXPECT_TRUE(contains(source, part)) << part;
    // A folder closes before a sibling whose name only starts like it.
    size_t jre = source.find("Name=\"jre\""), bin = source.find("Name=\"bin\""), tools = source.find("Name=\"jre-tools\"");
    ASSERT_TRUE(jre != std::string::npos && bin != std::string::npos && tools != std::string::npos);
    EXPECT_TRUE(jre < bin && bin < tools);
    EXPECT_TRUE(contains(source.substr(bin, tools - bin), "</Directory>\n            </Directory>"));
}

TEST(PackagePictureTest, CompressionAndPictures) {
    Bytes data;
    for (int i = 0; i < 200000; ++i) data.push_back(static_cast<uint8_t>(i % 251 < 100 ? i % 7 : (i * 2654435761u) >> 24));
    Bytes packed = deflateAll(data), unpacked;
    EXPECT_LT(packed.size(), data.size());
    ASSERT_TRUE(inflateAll(packed.data(), packed.size(), data.size(), unpacked));
    EXPECT_EQ(unpacked, data);

    Picture picture;
    picture.width = picture.height = 300;
    for (uint32_t i = 0; i < 300 * 300; ++i) {
        const uint8_t pixel[4] = {static_cast<uint8_t>(i % 300 < 150 ? 255 : 0), 0, 0, 255};
        picture.rgba.insert(picture.rgba.end(), pixel, pixel + 4);
    }
    Picture read;
    std::string error;
    ASSERT_TRUE(readPng(pngFile(picture), read, error)) << error;
    EXPECT_EQ(read.rgba, picture.rgba);
    Picture small = scaledPicture(picture, 2);
    EXPECT_EQ(small.rgba, (Bytes{255, 0, 0, 255, 0, 0, 0, 255, 255, 0, 0, 255, 0, 0, 0, 255}));
    Bytes icon = iconFile(picture, {16, 256});
    EXPECT_EQ(read16(&icon[4]), 2u);
    EXPECT_EQ(icon[6], 16);
    EXPECT_EQ(icon[22], 0);  // 256 is written as 0
}

TEST(FileAddressTest, LocalAddressesBecomePaths) {
    struct Case {
        const char* address;
        const char* path;  // nullptr: left as it is
    } cases[] = {
        {"file:///tmp/a%20b.hello", "/tmp/a b.hello"},
        {"FILE://localhost/home/me/%C3%A9t%C3%A9.txt", "/home/me/\xC3\xA9t\xC3\xA9.txt"},
        {"file://server/share/a", nullptr},
        {"file:///tmp/bad%2", nullptr},
        {"file:///tmp/nul%00", nullptr},
        {"file:///tmp/a?query", nullptr},
        {"/tmp/plain path", nullptr},
        {"hello-app://open", nullptr},
    };
    for (const Case& c : cases) {
        NarrowString path("unchanged");
        EXPECT_EQ(fileAddressPath(NarrowString(c.address), path), c.path != nullptr) << c.address;
        EXPECT_EQ(std::string(path.c_str()), c.path ? c.path : "unchanged") << c.address;
    }
}

}  // namespace
