// The start-up cache's decisions: runtime version and variant x settings x
// cache state x the user's options -> the options the runtime receives.
#include "vm/startup_cache.h"

#include <string>

#include "test_support.h"

namespace {

const char* const kTemurin25 = "IMPLEMENTOR=\"Eclipse Adoptium\"\nJAVA_VERSION=\"25.0.3\"\nJVM_VARIANT=\"Hotspot\"\n";
const char* const kDebian17 = "IMPLEMENTOR=\"Debian\"\nJAVA_RUNTIME_VERSION=\"17.0.15+6\"\nJAVA_VERSION=\"17.0.15\"\n";
const char* const kOff = " -Xlog:cds=off -Xlog:cds+dynamic=off";
const char* const kOff24 = " -Xlog:cds=off -Xlog:cds+dynamic=off -Xlog:aot=off";
const char* const kRecord = "-XX:AOTMode=record -XX:AOTConfiguration=R -XX:+UnlockDiagnosticVMOptions -XX:-DisplayVMOutput";

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
        s.folderWritable = row.writable;
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
         "J -XX:AOTMode=create -XX:AOTConfiguration=R -XX:AOTCache=N -Xlog:disable -Xmx1g -Djava.class.path=a.jar"},
        {CachePlan::ClassListRecord,
         "J -Xshare:dump -XX:SharedClassListFile=R -XX:SharedArchiveFile=N -Xlog:disable -Xmx1g -Djava.class.path=a.jar"},
        {CachePlan::ArchiveUse, ""},
        {CachePlan::AotUse, ""},
    };
    for (const auto& row : rows) {
        CacheDecision decision{row.plan, ""};
        CacheFiles files{u"C", u"R", u"N"};
        EXPECT_EQ(joined(startupCacheCreation(decision, u"J", files, splitAt(W("-Xmx1g -Dapp=1"), u' '), u"a.jar")),
                  row.command)
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

}  // namespace
