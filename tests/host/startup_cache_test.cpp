// The start-up cache's decisions: runtime version and variant x settings x
// cache state x the user's options -> the options the runtime receives.
#include "vm/startup_cache.h"

#include "vm/jar_manifest.h"

#include <string>

#include "test_support.h"

namespace {

const char* const kTemurin25 = "IMPLEMENTOR=\"Eclipse Adoptium\"\nJAVA_VERSION=\"25.0.3\"\nJVM_VARIANT=\"Hotspot\"\n";
const char* const kDebian17 = "IMPLEMENTOR=\"Debian\"\nJAVA_RUNTIME_VERSION=\"17.0.15+6\"\nJAVA_VERSION=\"17.0.15\"\n";
const char* const kOff = " -Xlog:cds=off -Xlog:cds+dynamic=off";
const char* const kOff24 = " -Xlog:cds=off -Xlog:cds+dynamic=off -Xlog:aot=off";
const char* const kRecord = "-XX:AOTMode=record -XX:AOTConfiguration=R";

std::string release(const char* version, const char* more = "") {
    return std::string("JAVA_VERSION=\"") + version + "\"\n" + more;
}

struct Row {
    std::string release;
    bool valid;
    const char* user;        // "Virtual Machine Parameters", blank-separated
    std::string options;     // what the runtime receives, blank-separated
    bool enabled = true;
    bool defaultArchive = true;
    bool javaCommand = true;
    bool directory = false;  // a non-empty folder on the class path
    bool writable = true;
    bool failed = false;     // the creation of this key failed before
    bool lowOnSpace = false;
    bool underWay = false;   // another launch's creator holds the key
};

std::string joined(const List<WideString>& options) {
    std::string text;
    for (const WideString& option : options) text += (text.empty() ? "" : " ") + U(option);
    return text;
}

TEST(StartupCacheTest, DecisionsGiveTheseOptions) {
    const std::string o(kOff), o24(kOff24), record(kRecord);
    const Row rows[] = {
        // The setting.
        {kTemurin25, true, "", "", false},
        // 25 and later: the ahead-of-time cache, or a recording for it.
        {kTemurin25, true, "", ("-XX:AOTCache=C" + o24)},
        {kTemurin25, false, "-Xmx1g", (record + o24)},
        {kTemurin25, false, "", "", true, true, false},  // no bin/java to create it
        {kTemurin25, true, "", ("-XX:AOTCache=C" + o24), true, true, false},
        {release("26"), false, "", (record + o24)},
        // 13 to 24: a static archive, or the class list it is made from.
        {kDebian17, true, "", ("-XX:SharedArchiveFile=C" + o)},
        {kDebian17, false, "", ("-XX:DumpLoadedClassList=R" + o)},
        {release("13"), false, "", ("-XX:DumpLoadedClassList=R" + o)},
        {release("21.0.2"), true, "", ("-XX:SharedArchiveFile=C" + o)},
        {release("24"), false, "", ("-XX:DumpLoadedClassList=R" + o24)},
        {kDebian17, false, "", "", true, true, false},
        // A key whose creation failed records no more; a valid cache still serves.
        {kDebian17, false, "", "", true, true, true, false, true, true},
        {kTemurin25, true, "", ("-XX:AOTCache=C" + o24), true, true, true, false, true, true},
        // Nothing for older runtimes, other virtual machines, unknown versions.
        {release("12.0.2"), false, "", ""},
        {release("1.8.0_392"), false, "", ""},
        {release("21", "JVM_VARIANT=\"Openj9\"\n"), false, "", ""},
        {release("17.0.9", "IMPLEMENTOR=\"IBM Corporation\"\n"), false, "", ""},
        {"IMPLEMENTOR=\"Debian\"\n", false, "", ""},
        // Nor without the default archive, with a folder on the class path,
        // an unwritable folder.
        {kDebian17, true, "", "", true, false},
        {kTemurin25, true, "", "", true, true, true, true},
        {kDebian17, false, "", "", true, true, true, false, false},
        // Nor when the user names an archive or AOT option or limits modules.
        {kDebian17, true, "-XX:SharedArchiveFile=/x.jsa", ""},
        {kDebian17, true, "-Xshare:off", ""},
        {release("21"), true, "-XX:-AutoCreateSharedArchive", ""},
        {kTemurin25, true, "-XX:AOTCacheOutput=/x.aot", ""},
        {kTemurin25, true, "-XX:AOTMode=off", ""},
        {kDebian17, true, "-XX:ArchiveClassesAtExit=/x.jsa", ""},
        {kDebian17, false, "-XX:DumpLoadedClassList=/x.list", ""},
        {kTemurin25, false, "--limit-modules=java.base", ""},
        {kDebian17, false, "--patch-module=java.base=/p", ""},
        {kDebian17, false, "--upgrade-module-path=/u", ""},
        // Nor a recording the runtime would refuse, or that would stop what
        // the parameters ask for; a valid cache still serves.
        {kTemurin25, false, "-XX:MaxMetaspaceSize=64m", ""},
        {kTemurin25, true, "-XX:MaxMetaspaceSize=64m", ("-XX:AOTCache=C" + o24)},
        {kDebian17, false, "-XX:MaxMetaspaceSize=64m", ("-XX:DumpLoadedClassList=R" + o)},
        {kTemurin25, false, "-XX:StartFlightRecording=filename=a.jfr", ""},
        {kTemurin25, false, "", "", true, true, true, false, true, false, true},
        {kDebian17, false, "", "", true, true, true, false, true, false, true},
        {kDebian17, true, "", ("-XX:SharedArchiveFile=C" + o), true, true, true, false, true, false, true},
        // One creation per key at a time.
        {kTemurin25, false, "", "", true, true, true, false, true, false, false, true},
        // The user's own -Xlog keeps the runtime's messages.
        {kDebian17, true, "-Xlog:cds", "-XX:SharedArchiveFile=C"},
        {kTemurin25, true, "-Xlog:aot=info", "-XX:AOTCache=C"},
    };
    for (const Row& row : rows) {
        CacheSituation s;
        s.enabled = row.enabled;
        s.release = parseRuntimeRelease(NarrowString(row.release.c_str()));
        s.defaultArchive = row.defaultArchive;
        s.javaCommand = row.javaCommand;
        s.directoryOnClassPath = row.directory;
        s.user = userOptionFacts(splitAt(W(row.user), u' '));
        s.folderProblem = row.writable ? "" : "the cache folder cannot be written";
        s.lowOnSpace = row.lowOnSpace;
        s.creationUnderWay = row.underWay;
        s.validCache = row.valid;
        s.creationFailed = row.failed;
        CacheFiles files{u"C", u"R", u"N"};
        EXPECT_EQ(joined(startupCacheOptions(decideStartupCache(s), s, files)), row.options)
            << row.release << " valid=" << row.valid << " user=" << row.user;
    }
}

TEST(StartupCacheTest, CreatorsMakeTheCacheFromTheRecording) {
    const struct {
        CachePlan plan;
        std::string command;
    } rows[] = {
        {CachePlan::AotRecord,
         "J -client -XX:AOTMode=create -XX:AOTConfiguration=R -XX:AOTCache=N -Xlog:disable -Xmx1g -XX:+UseZGC "
         "--add-modules=java.sql -Djava.class.path=a.jar"},
        {CachePlan::ClassListRecord,
         "J -client -Xshare:dump -XX:SharedClassListFile=R -XX:SharedArchiveFile=N -Xlog:disable -Xmx1g -XX:+UseZGC "
         "--add-modules=java.sql -Djava.class.path=a.jar"},
        {CachePlan::ArchiveUse, ""},
        {CachePlan::AotUse, ""},
    };
    for (const auto& row : rows) {
        CacheDecision decision{row.plan, ""};
        CacheFiles files{u"C", u"R", u"N"};
        // Agents, logs, ports and the program's files stay the program's.
        const char* user = "-Xmx1g -Dapp=1 -javaagent:a.jar -agentlib:jdwp=transport=dt_socket,server=y,address=5005 "
                           "-XX:+LogVMOutput -XX:LogFile=vm.log -XX:+HeapDumpOnOutOfMemoryError -XX:OnError=x "
                           "-XX:StartFlightRecording -Xlog:gc -XX:+UseZGC --add-modules=java.sql";
        EXPECT_EQ(joined(startupCacheCreation(decision, u"J", u"client", files, splitAt(W(user), u' '), u"a.jar")), row.command)
            << static_cast<int>(row.plan);
    }
}

TEST(StartupCacheTest, KeyTakesTheOptionsThatShapeTheArchive) {
    const struct {
        const char* option;
        bool shapes;
    } rows[] = {
        {"-Xmx2g", true},         {"-XX:+UseZGC", true},        {"--add-modules=java.sql", true},
        {"-javaagent:a.jar", true}, {"-Djdk.module.main=m", true}, {"-Xms64m", false},
        {"-Dapp.mode=x", false},  {"-Xlog:cds", false},         {"-XX:+PrintGCDetails", false},
    };
    for (const auto& row : rows) EXPECT_EQ(optionShapesArchive(W(row.option)), row.shapes) << row.option;
}

TEST(StartupCacheTest, TheCacheLivesInAFolderOfItsOwnInsideTheProducts) {
    const struct {
        const char* name;
        const char* code;
        const char* parts;  // "/"-joined; empty: no cache
    } rows[] = {
        {"Acme", "A1", "Acme/A1/veda-launcher-cache"},
        {"Acme", "", "Acme/veda-launcher-cache"},
        {"", "", "MyApp/veda-launcher-cache"},
        {"", "A1", "A1/veda-launcher-cache"},
        // The name loses what the per-user settings folder drops.
        {"Acme: Editor?", "A1", "Acme Editor/A1/veda-launcher-cache"},
        {"Acme/..", "A1", "Acme../A1/veda-launcher-cache"},
        // Parts that would leave the product's folder: no cache at all.
        {"Acme", "..", ""},
        {"Acme", "../..", ""},
        {"Acme", ".", ""},
        {"Acme", "...", ""},
        {"Acme", "a/b", ""},
        {"Acme", "a\\b", ""},
        {"Acme", "C:x", ""},
        {"..", "", ""},
        {"/", "", "MyApp/veda-launcher-cache"},
    };
    for (const auto& row : rows) {
        std::string parts;
        for (const WideString& part : cacheFolderParts(W(row.name), W(row.code), u"MyApp"))
            parts += (parts.empty() ? "" : "/") + U(part);
        EXPECT_EQ(parts, row.parts) << row.name << " | " << row.code;
    }
}

TEST(StartupCacheTest, TheTidyingKnowsOnlyTheCachesOwnNames) {
    const struct {
        const char* name;
        bool own;
    } rows[] = {
        {"0123456789abcdef.rec", true},          {"0123456789abcdef.failed", true},
        {"0123456789abcdef.lock", true},         {"0123456789abcdef-42.aot", true},
        {"0123456789abcdef-42.jsa", true},       {"0123456789abcdef-42.aotconf", true},
        {"0123456789abcdef-42.classlist", true}, {"0123456789abcdef-42.job", true},
        {"0123456789abcdef-42.rtmp", true},      {"0123456789abcdef-42.vmlog", true},
        {"appdata.db", false},                   {"app.log", false},
        {"index.sqlite", false},                 {"0123456789ABCDEF.rec", false},
        {"0123456789abcde.rec", false},          {"0123456789abcdef-.aot", false},
        {"0123456789abcdef-0.aot", false},       {"0123456789abcdef-42.rec", false},
        {"0123456789abcdef.aot", false},         {"0123456789abcdef-42.aot.bak", false},
        {"0123456789abcdef-4x.jsa", false},      {".bashrc", false},
    };
    for (const auto& row : rows) EXPECT_EQ(isCacheFileName(W(row.name)), row.own) << row.name;
}

TEST(StartupCacheTest, RecordRoundTripsAndRefusesDamage) {
    CacheRecord record{u"0123456789abcdef-42.aot", 14950400, 0x60cda48c79ae38d5ull, 1796670133888571000ull};
    NarrowString text = formatCacheRecord(record);
    CacheRecord read;
    ASSERT_TRUE(parseCacheRecord(text, read));
    EXPECT_EQ(U(read.fileName), "0123456789abcdef-42.aot");
    EXPECT_EQ(read.size, 14950400u);
    EXPECT_EQ(read.hash, 0x60cda48c79ae38d5ull);
    EXPECT_EQ(read.changed, 1796670133888571000ull);
    const char* const damaged[] = {
        "a.aot\n12\n60cda48c79ae38d5\n7",        // cut short
        "a.aot\n12\n60cda48c79ae38\n7\n",        // hash too short
        "a.aot\n1x\n60cda48c79ae38d5\n7\n",      // size not a number
        "a.aot\n12\n60cda48c79ae38d5\n\n",       // no stamp
        "../a.aot\n12\n60cda48c79ae38d5\n7\n",   // outside the folder
        "\n12\n60cda48c79ae38d5\n7\n",           // no name
        "a.aot\n12\n60cda48c79ae38d5\n",         // a record of the last version
        "a.aot\n12\n60cda48c79ae38d5\n7\nx\n",   // more lines
    };
    for (const char* text : damaged) EXPECT_FALSE(parseCacheRecord(NarrowString(text), read)) << text;
}

TEST(StartupCacheTest, HashSeesEveryByteAndTheLength) {
    uint8_t bytes[101];
    for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    const uint64_t whole = contentHash(bytes, sizeof bytes);
    for (size_t i = 0; i < sizeof bytes; ++i) {
        bytes[i] ^= 0x10;
        EXPECT_NE(contentHash(bytes, sizeof bytes), whole) << "byte " << i;
        bytes[i] ^= 0x10;
    }
    for (size_t cut = 0; cut < sizeof bytes; ++cut) EXPECT_NE(contentHash(bytes, cut), whole) << "length " << cut;
    uint8_t zeros[64] = {};
    EXPECT_NE(contentHash(zeros, 32), contentHash(zeros, 64));
}


std::string fromHex(const char* hex) {
    std::string bytes;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) bytes += static_cast<char>(std::stoi(std::string(hex + i, 2), nullptr, 16));
    return bytes;
}

// A jar of one entry, the manifest, stored (method 0) or deflated (8).
std::string jarOf(const std::string& data, int method, size_t size) {
    auto le = [](std::string& out, uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) out += static_cast<char>(i < 4 ? value >> (8 * i) & 0xff : 0);
    };
    const std::string name = "META-INF/MANIFEST.MF";
    std::string local, central, end;
    le(local, 0x04034b50, 4), le(local, 20, 2), le(local, 0, 2), le(local, method, 2), le(local, 0, 8);
    le(local, data.size(), 4), le(local, size, 4), le(local, name.size(), 2), le(local, 0, 2);
    local += name + data;
    le(central, 0x02014b50, 4), le(central, 20, 4), le(central, 0, 2), le(central, method, 2), le(central, 0, 8);
    le(central, data.size(), 4), le(central, size, 4), le(central, name.size(), 2), le(central, 0, 12);
    le(central, 0, 4);
    central += name;
    le(end, 0x06054b50, 4), le(end, 0, 4), le(end, 1, 2), le(end, 1, 2), le(end, central.size(), 4);
    le(end, local.size(), 4), le(end, 0, 2);
    return local + central + end;
}

TEST(StartupCacheTest, TheKeySeesTheJarsAManifestNames) {
    // Deflated with dynamic and with fixed codes, by the zip library.
    const std::string dynamic = fromHex(
        "558db10ec3200c057724fe81256370da91b573ab4ed99dc4348ec0204055fbf7add8b2bd3b9df4ee28eca9b671a652398933173b69750b"
        "58ebf8c4b63b137801b40796bee277b84e8b3db4327fb3b7961d007d30e64096e58d8137587bee399083941b6c9dd7241eb4d2ea81919c"
        "c19ce1fcc42f49857aacd50f");
    const std::string fixed = fromHex("f34dcccb4c4b2d2ed10d4b2d2acecccfb35230d433e072ce492c2ed60d482cc9b052a8d0cb4a2cc224b900");
    const std::string plain = "Manifest-Version: 1.0\nMain-Class: a.B\n";
    const struct {
        std::string jar;
        bool readable;
        const char* entries;  // "|"-joined
    } rows[] = {
        // Continuation lines joined, escapes decoded, other schemes and other sections left out.
        {jarOf(dynamic, 8, 154), true, "lib/a.jar|lib/my b.jar|/opt/d.jar|conf/"},
        {jarOf(fixed, 8, 43), true, "x.jar|x.jar|x.jar|x.jar"},
        {jarOf(plain, 0, plain.size()), true, ""},
        {jarOf("class-path: a.jar\r\n", 0, 19), true, "a.jar"},
        {jarOf(dynamic.substr(0, 60), 8, 154), false, ""},
        {"PK not a zip archive at all", false, ""},
    };
    for (const auto& row : rows) {
        List<NarrowString> entries;
        EXPECT_EQ(jarClassPath(reinterpret_cast<const uint8_t*>(row.jar.data()), row.jar.size(), entries), row.readable);
        std::string joined;
        for (const NarrowString& entry : entries) joined += (joined.empty() ? "" : "|") + entry;
        EXPECT_EQ(joined, row.entries);
    }
}

}  // namespace
