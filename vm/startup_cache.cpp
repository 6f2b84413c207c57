#include "vm/startup_cache.h"

#include <jvmti.h>
#include <string.h>

#include "launcher/environment.h"
#include "launcher/launcher.h"
#include "launcher/launcher_settings.h"
#include "runtime/runtime_layout.h"
#include "runtime/version.h"
#include "support/platform.h"
#include "support/trace.h"
#include "vm/jar_manifest.h"

const char16_t* const kCacheJobVariable = u"VEDA_LAUNCHER_CACHE_JOB";

// --- The release file -------------------------------------------------------

static NarrowString releaseValue(const NarrowString& text, const char* key, bool& found) {
    const size_t keyLength = strlen(key);
    found = false;
    size_t line = 0;
    while (line < text.size()) {
        size_t end = text.find('\n', line);
        if (end == NarrowString::npos) end = text.size();
        if (text.compare(line, keyLength, key) == 0 && line + keyLength < end && text[line + keyLength] == '=') {
            size_t from = line + keyLength + 1;
            size_t to = end;
            while (to > from && (text[to - 1] == '\r' || text[to - 1] == ' ')) --to;
            if (to - from >= 2 && text[from] == '"' && text[to - 1] == '"') {
                ++from;
                --to;
            }
            found = true;
            return text.substr(from, to - from);
        }
        line = end + 1;
    }
    return NarrowString();
}

static bool containsIgnoringCase(const NarrowString& text, const char* word) {
    NarrowString lower = text;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower.find(word) != NarrowString::npos;
}

RuntimeRelease parseRuntimeRelease(const NarrowString& text) {
    RuntimeRelease release;
    bool found = false;
    NarrowString version = releaseValue(text, "JAVA_VERSION", found);
    RuntimeVersion parsed;
    if (found && parseVersion(fromUtf8(version.data(), version.size()), 0, parsed)) {
        release.known = true;
        release.version = fromUtf8(version.data(), version.size());
        // Before 9 the feature release is the second number ("1.8.0_392").
        release.feature = static_cast<uint32_t>(parsed.major == 1 ? parsed.minor : parsed.major);
    }
    NarrowString variant = releaseValue(text, "JVM_VARIANT", found);
    if (found) {
        release.hotSpot = containsIgnoringCase(variant, "hotspot");
    } else {
        // Runtimes that do not say are HotSpot, except the other virtual
        // machine's builds that name it only through their implementor.
        NarrowString implementor = releaseValue(text, "IMPLEMENTOR", found);
        release.hotSpot = !containsIgnoringCase(implementor, "openj9") && !containsIgnoringCase(implementor, "ibm") &&
                          !containsIgnoringCase(implementor, "international business machines");
    }
    return release;
}

// --- The user's options -----------------------------------------------------

// The name of a -XX: option without its sign and value: "AOTCache" of
// "-XX:AOTCache=x", "AutoCreateSharedArchive" of "-XX:+AutoCreateSharedArchive".
static WideString advancedOptionName(const WideString& option) {
    WideString name = option.substr(4);
    if (name.startsWith(u"+") || name.startsWith(u"-")) name = name.substr(1);
    size_t equals = name.find(u'=');
    return equals == WideString::npos ? name : name.left(equals);
}

UserOptionFacts userOptionFacts(const List<WideString>& options) {
    static const char16_t* const kArchiveOptions[] = {
        u"SharedArchiveFile", u"ArchiveClassesAtExit", u"AutoCreateSharedArchive", u"SharedClassListFile",
        u"DumpLoadedClassList", u"RecordDynamicDumpInfo", u"CacheDataStore", nullptr};
    static const char16_t* const kModuleLimits[] = {u"--patch-module", u"--upgrade-module-path", u"--limit-modules",
                                                    u"-Djdk.module.patch", u"-Djdk.module.upgrade.path",
                                                    u"-Djdk.module.limitmods", nullptr};
    UserOptionFacts facts;
    for (const WideString& option : options) {
        if (option.startsWith(u"-Xlog")) facts.namesLog = true;
        if (option.startsWith(u"-Xshare")) facts.namesArchive = true;
        if (option.startsWith(u"-XX:")) {
            WideString name = advancedOptionName(option);
            if (name.startsWith(u"AOT")) facts.namesArchive = true;
            for (const char16_t* const* archive = kArchiveOptions; *archive; ++archive)
                if (name == *archive) facts.namesArchive = true;
        }
        for (const char16_t* const* limit = kModuleLimits; *limit; ++limit)
            if (option.startsWith(*limit)) facts.limitsModules = true;
        if (option.startsWith(u"-XX:MaxMetaspaceSize=")) facts.limitsMetadata = true;
        if (option.startsWith(u"-XX:StartFlightRecording") || option == u"-XX:+FlightRecorder")
            facts.flightRecording = true;
    }
    return facts;
}

List<WideString> splitRuntimeOptions(const WideString& text) {
    List<WideString> options;
    WideString option;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == u' ' || text[i] == u'\t' || text[i] == u'\n' || text[i] == u'\r') {
            if (!option.empty()) options.push_back(option);
            option.clear();
        } else {
            option += text[i];
        }
    }
    return options;
}

bool optionForCreator(const WideString& option) {
    // Heap size, collector and object layout decide the archived objects;
    // the module options what is archived. The unlocking options let the
    // others through.
    static const char16_t* const kPrefixes[] = {u"-Xmx", u"--add-modules", u"--module-path", u"--add-exports",
                                                u"--add-opens", u"--add-reads", u"--enable-preview", u"-Djdk.module.",
                                                nullptr};
    static const char16_t* const kAdvanced[] = {u"MaxHeapSize", u"UseCompressedOops", u"UseCompressedClassPointers",
                                                u"UseCompactObjectHeaders", u"ObjectAlignmentInBytes", u"ZGenerational",
                                                u"UnlockExperimentalVMOptions", u"UnlockDiagnosticVMOptions", nullptr};
    for (const char16_t* const* prefix = kPrefixes; *prefix; ++prefix)
        if (option.startsWith(*prefix)) return true;
    if (!option.startsWith(u"-XX:")) return false;
    const WideString name = advancedOptionName(option);
    if (name.startsWith(u"Use") && name.endsWith(u"GC")) return true;
    for (const char16_t* const* advanced = kAdvanced; *advanced; ++advanced)
        if (name == *advanced) return true;
    return false;
}

bool optionShapesArchive(const WideString& option) {
    // Heap size and collector decide the archive's object layout; module
    // options and agents what is loaded. Properties and logging do not.
    static const char16_t* const kShaping[] = {u"-XX:", u"-Xmx", u"--", u"-Djdk.module.", u"-javaagent", u"-agent",
                                               nullptr};
    if (option.startsWith(u"-XX:") && advancedOptionName(option).startsWith(u"Print")) return false;
    for (const char16_t* const* prefix = kShaping; *prefix; ++prefix)
        if (option.startsWith(*prefix)) return true;
    return false;
}

// --- The decision -----------------------------------------------------------

CacheDecision decideStartupCache(const CacheSituation& s) {
    if (!s.enabled) return {CachePlan::None, "not asked for"};
    if (!s.release.known) return {CachePlan::None, "the runtime's release file gives no version"};
    if (s.release.feature < 13) return {CachePlan::None, "the runtime is older than 13"};
    if (!s.release.hotSpot) return {CachePlan::None, "the runtime's virtual machine is not HotSpot"};
    if (!s.defaultArchive) return {CachePlan::None, "the runtime has no default archive (classes.jsa)"};
    if (s.user.namesArchive) return {CachePlan::None, "the parameters name an archive or AOT option"};
    if (s.user.limitsModules) return {CachePlan::None, "the parameters patch, upgrade or limit modules"};
    if (s.directoryOnClassPath)
        return {CachePlan::None, "a non-empty folder on the class or module path (or named by a jar) cannot be archived"};
    if (*s.folderProblem) return {CachePlan::None, s.folderProblem};
    const bool aot = s.release.feature >= 25;
    if (s.validCache)
        return aot ? CacheDecision{CachePlan::AotUse, "a valid ahead-of-time cache"}
                   : CacheDecision{CachePlan::ArchiveUse, "a valid archive"};
    if (!s.javaCommand) return {CachePlan::None, "no valid cache, and no bin/java to create one"};
    if (s.creationFailed) return {CachePlan::None, "no valid cache, and its creation failed before"};
    if (s.creationUnderWay) return {CachePlan::None, "no valid cache, and another launch's creation of it is under way"};
    // What the runtime refuses to record under ends a recording run with
    // the runtime's own exit code: never a recording then.
    if (s.lowOnSpace) return {CachePlan::None, "no valid cache, and too little free space to record one"};
    if (aot && s.user.limitsMetadata)
        return {CachePlan::None, "no valid cache, and the parameters limit the metadata a recording needs"};
    if (aot && s.user.flightRecording)
        return {CachePlan::None, "no valid cache, and the parameters ask for flight recording, which recording turns off"};
    // 13 to 24 could also write a dynamic archive themselves, but a static
    // one made from the class list starts the program sooner and keeps the
    // dump out of the program's exit.
    return aot ? CacheDecision{CachePlan::AotRecord, "no valid cache: recording for its creation after the program"}
               : CacheDecision{CachePlan::ClassListRecord, "no valid archive: listing the classes for its creation after the program"};
}

List<WideString> startupCacheOptions(const CacheDecision& decision, const CacheSituation& s, const CacheFiles& files) {
    List<WideString> options;
    switch (decision.plan) {
        case CachePlan::None: return options;
        case CachePlan::AotUse: options.push_back(u"-XX:AOTCache=" + files.cache); break;
        case CachePlan::AotRecord:
            options.push_back(u"-XX:AOTMode=record");
            options.push_back(u"-XX:AOTConfiguration=" + files.recording);
            // Its closing line ("recorded: <file>") is printed past the
            // logging options: the launcher leaves that line out of the
            // program's output, and nothing else of the runtime's.
            break;
        case CachePlan::ArchiveUse: options.push_back(u"-XX:SharedArchiveFile=" + files.cache); break;
        case CachePlan::ClassListRecord: options.push_back(u"-XX:DumpLoadedClassList=" + files.recording); break;
    }
    // A stale or unusable archive is reported on the program's output.
    if (!s.user.namesLog) {
        options.push_back(u"-Xlog:cds=off");
        options.push_back(u"-Xlog:cds+dynamic=off");
        if (s.release.feature >= 24) options.push_back(u"-Xlog:aot=off");
    }
    return options;
}

List<WideString> startupCacheCreation(const CacheDecision& decision, const WideString& javaCommand,
                                      const WideString& vmName, const CacheFiles& files,
                                      const List<WideString>& userOptions, const WideString& classPath) {
    List<WideString> command;
    if (decision.plan != CachePlan::AotRecord && decision.plan != CachePlan::ClassListRecord) return command;
    command.push_back(javaCommand);
    // The virtual machine the launch used: another one (the client one of a
    // runtime that has both) refuses the cache on every launch.
    if (!vmName.empty()) command.push_back(u"-" + vmName);
    if (decision.plan == CachePlan::AotRecord) {
        command.push_back(u"-XX:AOTMode=create");
        command.push_back(u"-XX:AOTConfiguration=" + files.recording);
        command.push_back(u"-XX:AOTCache=" + files.fresh);
    } else {
        command.push_back(u"-Xshare:dump");
        command.push_back(u"-XX:SharedClassListFile=" + files.recording);
        command.push_back(u"-XX:SharedArchiveFile=" + files.fresh);
    }
    command.push_back(u"-Xlog:disable");
    // The cache holds for the class path and the options it was made with.
    for (const WideString& option : userOptions)
        if (optionForCreator(option)) command.push_back(option);
    command.push_back(u"-Djava.class.path=" + classPath);
    return command;
}

// --- The folder and its files -----------------------------------------------

const char16_t* const kCacheFolderName = u"veda-launcher-cache";

List<WideString> cacheFolderParts(const WideString& productName, const WideString& productCode,
                                  const WideString& executableName) {
    List<WideString> parts = programFolderParts(productName, productCode, executableName);
    if (!parts.empty()) parts.push_back(kCacheFolderName);
    return parts;
}

static bool isKey(const WideString& text) {
    if (text.size() != 16) return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (!((text[i] >= u'0' && text[i] <= u'9') || (text[i] >= u'a' && text[i] <= u'f'))) return false;
    return true;
}

static bool parseDecimal(const WideString& text, uint64_t& value);

bool isCacheFileName(const WideString& name) {
    static const char16_t* const kKeyFiles[] = {u".rec", u".failed", u".lock", nullptr};
    static const char16_t* const kRunFiles[] = {u".aot", u".jsa", u".aotconf", u".classlist", u".job", u".rtmp",
                                                u".vmlog", nullptr};
    size_t dot = name.find(u'.');
    if (dot == WideString::npos) return false;
    const WideString stem = name.left(dot), kind = name.substr(dot);
    for (const char16_t* const* k = kKeyFiles; *k; ++k)
        if (kind == *k) return isKey(stem);
    uint64_t process = 0;
    for (const char16_t* const* k = kRunFiles; *k; ++k)
        if (kind == *k)
            return stem.size() > 17 && stem[16] == u'-' && isKey(stem.left(16)) &&
                   parseDecimal(stem.substr(17), process) && process != 0 && process <= 0xffffffffu;
    return false;
}

// --- Hash and record --------------------------------------------------------

static uint64_t rotate(uint64_t value, int bits) { return (value << bits) | (value >> (64 - bits)); }
static uint64_t word(const uint8_t* p) {
    uint64_t value;
    memcpy(&value, p, 8);
    return value;
}

uint64_t contentHash(const uint8_t* data, size_t size) {
    const uint64_t k1 = 0x9E3779B185EBCA87ull, k2 = 0xC2B2AE3D27D4EB4Full, k3 = 0x165667B19E3779F9ull;
    // Four independent lanes keep the processor busy; every byte counts.
    uint64_t lane[4] = {k1 + k2, k2, 0, 0 - k1};
    size_t at = 0;
    for (; at + 32 <= size; at += 32)
        for (int i = 0; i < 4; ++i) lane[i] = rotate(lane[i] + word(data + at + 8 * i) * k2, 31) * k1;
    uint64_t hash = rotate(lane[0], 1) + rotate(lane[1], 7) + rotate(lane[2], 12) + rotate(lane[3], 18) + size;
    for (; at + 8 <= size; at += 8) hash = rotate(hash ^ (word(data + at) * k2), 27) * k1 + k3;
    for (; at < size; ++at) hash = rotate(hash ^ (data[at] * k3), 11) * k1;
    hash ^= hash >> 33;
    hash *= k2;
    hash ^= hash >> 29;
    hash *= k3;
    return hash ^ (hash >> 32);
}

static WideString hex16(uint64_t value) {
    WideString text;
    for (int shift = 60; shift >= 0; shift -= 4) text += static_cast<char16_t>(u"0123456789abcdef"[(value >> shift) & 15]);
    return text;
}

NarrowString formatCacheRecord(const CacheRecord& record) {
    return toUtf8(record.fileName + u"\n" + decimalUnsigned(record.size) + u"\n" + hex16(record.hash) + u"\n" +
                  decimalUnsigned(record.changed) + u"\n");
}

static bool parseDecimal(const WideString& text, uint64_t& value) {
    value = 0;
    if (text.empty() || text.size() > 19) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9') return false;
        value = value * 10 + static_cast<uint64_t>(text[i] - u'0');
    }
    return true;
}

bool parseCacheRecord(const NarrowString& text, CacheRecord& record) {
    List<WideString> lines = splitAt(fromUtf8(text.data(), text.size()), u'\n');
    if (!text.empty() && text[text.size() - 1] != '\n') return false;  // cut short
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    if (lines.size() != 4 || lines[0].empty() || lines[2].size() != 16) return false;
    if (lines[0].find(u'/') != WideString::npos || lines[0].find(u'\\') != WideString::npos) return false;
    uint64_t size = 0, hash = 0, changed = 0;
    if (!parseDecimal(lines[1], size) || !parseDecimal(lines[3], changed)) return false;
    for (size_t i = 0; i < lines[2].size(); ++i) {
        char16_t c = lines[2][i];
        int digit = c >= u'0' && c <= u'9' ? c - u'0' : c >= u'a' && c <= u'f' ? c - u'a' + 10 : -1;
        if (digit < 0) return false;
        hash = hash << 4 | static_cast<uint64_t>(digit);
    }
    record = CacheRecord{lines[0], size, hash, changed};
    return true;
}

// --- Carrying it out --------------------------------------------------------

static WideString fileNameOf(const WideString& path) {
    size_t slash = path.findLast(platform::kPathSeparator);
    return slash == WideString::npos ? path : path.substr(slash + 1);
}

static WideString inFolder(const WideString& folder, const WideString& name) {
    return folder + platform::kPathSeparator + name;
}

// A complete archive begins with the runtime's archive mark, which the
// runtime writes last: a dump that broke off leaves none.
static bool archiveLooksComplete(const platform::ReadOnlyMapping& file) {
    if (!file.isOpen() || file.size() < 4) return false;
    uint32_t magic;
    memcpy(&magic, file.data(), 4);
    return magic == 0xf00baba2u || magic == 0xf00baba8u;
}

static bool readRecord(const WideString& folder, const WideString& key, CacheRecord& record) {
    platform::ReadOnlyMapping file(inFolder(folder, key + u".rec"));
    if (!file.isOpen()) return false;
    return parseCacheRecord(NarrowString(reinterpret_cast<const char*>(file.data()), file.size()), record);
}

// The record replaces the last one in one step, so readers see one or the other.
static bool writeRecord(const WideString& folder, const WideString& key, const CacheRecord& record) {
    WideString temporary = inFolder(folder, key + u"-" + decimalUnsigned(platform::processId()) + u".rtmp");
    platform::deleteFile(temporary);
    if (platform::appendToFile(temporary, formatCacheRecord(record)) &&
        platform::replaceFile(temporary, inFolder(folder, key + u".rec")))
        return true;
    platform::deleteFile(temporary);
    return false;
}

// The recorded cache when it is still the file that was recorded.
static bool validCache(const WideString& folder, const WideString& key, WideString& path, const char** why) {
    CacheRecord record;
    *why = "no record";
    if (!readRecord(folder, key, record)) return false;
    path = inFolder(folder, record.fileName);
    platform::FileFacts facts;
    *why = "the recorded file is missing, or not a file of this user's own";
    if (platform::ownership(path, false) != platform::Ownership::Own || !platform::fileFacts(path, facts)) return false;
    *why = "the file's size differs from the record";
    if (facts.size != record.size) return false;
    // Not written since its hash was taken.
    const uint64_t stamp = platform::changeStamp(path);
    if (stamp != 0 && stamp == record.changed) return true;
    {
        platform::ReadOnlyMapping file(path);
        *why = "the file's hash differs from the record";
        if (!file.isOpen() || file.size() != record.size || contentHash(file.data(), file.size()) != record.hash)
            return false;
    }
    // The same bytes under a new stamp (a copied or restored folder): the
    // next launch need not hash them again.
    record.changed = stamp;
    writeRecord(folder, key, record);
    return true;
}

// The name up to its extension: the files of one recording and its
// creation share it ("<key>-<process>").
static WideString stemOf(const WideString& name) {
    size_t dot = name.find(u'.');
    return dot == WideString::npos ? name : name.left(dot);
}

// Whether another launch or creation still writes a file: a recording (or
// a record on its way) whose process runs (its name ends in the process id),
// or any file of a job its creator holds.
static bool fileInUse(const WideString& folder, const WideString& name) {
    const WideString stem = stemOf(name);
    // A key's lock while a creator holds it (removed, it would lock nothing).
    if (name.endsWith(u".lock")) {
        platform::ExclusiveFile probe;
        return !probe.take(inFolder(folder, name)) && platform::fileExists(inFolder(folder, name));
    }
    if (name.endsWith(u".classlist") || name.endsWith(u".aotconf") || name.endsWith(u".rtmp")) {
        size_t dash = stem.findLast(u'-');
        uint64_t id = 0;
        if (dash != WideString::npos && parseDecimal(stem.substr(dash + 1), id) && id != 0 && id <= 0x7fffffff &&
            platform::processRunning(static_cast<uint32_t>(id)))
            return true;
    }
    WideString job = inFolder(folder, stem + u".job");
    platform::ExclusiveFile probe;
    return !probe.take(job) && platform::fileExists(job);
}

// The caches of other keys kept beside a new one: two executables (or
// option sets) that share the folder keep theirs instead of taking turns.
static const size_t kOtherKeysKept = 3;

// Keeps the folder from growing: every cache file goes (older keys,
// broken-off writes) but the key's record, the file it names, its lock, the
// one kept, and the same of the newest other keys; except what another
// launch or creation still writes. Only names the cache makes are touched.
// A file in use elsewhere may refuse; the next recording takes it.
static void removeOthers(const WideString& folder, const WideString& key, const WideString& kept) {
    CacheRecord record;
    if (!readRecord(folder, key, record)) record.fileName = kept;
    List<WideString> keep = {key + u".rec", key + u".lock", kept, record.fileName};
    const List<WideString> names = platform::findFiles(inFolder(folder, u"*"));
    // The other records, newest first.
    List<WideString> others;
    List<uint64_t> written;
    for (const WideString& name : names) {
        platform::FileFacts facts;
        if (!isCacheFileName(name) || !name.endsWith(u".rec") || name == key + u".rec" ||
            !platform::fileFacts(inFolder(folder, name), facts))
            continue;
        size_t at = 0;
        while (at < others.size() && written[at] >= facts.modified) ++at;
        others.insert(others.begin() + static_cast<ptrdiff_t>(at), name.left(16));
        written.insert(written.begin() + static_cast<ptrdiff_t>(at), facts.modified);
    }
    for (size_t i = 0; i < others.size() && i < kOtherKeysKept; ++i) {
        CacheRecord theirs;
        if (!readRecord(folder, others[i], theirs)) continue;
        for (const WideString& name : {others[i] + u".rec", others[i] + u".lock", others[i] + u".failed", theirs.fileName})
            keep.push_back(name);
    }
    for (const WideString& name : names) {
        bool staying = !isCacheFileName(name);
        for (const WideString& own : keep) staying = staying || name == own;
        if (!staying && !fileInUse(folder, name)) platform::deleteFile(inFolder(folder, name));
    }
}

// Records a complete cache file of the key under its own name. Its writer
// has ended: the stamp taken first is the stamp of the bytes hashed.
static bool recordCache(const WideString& folder, const WideString& key, const WideString& fileName) {
    WideString path = inFolder(folder, fileName);
    CacheRecord record;
    record.fileName = fileName;
    record.changed = platform::changeStamp(path);
    {
        platform::ReadOnlyMapping file(path);
        if (!archiveLooksComplete(file)) {
            TRACE_EVENT("startup cache").field("record", path).field("reason", "no complete archive was written");
            platform::deleteFile(path);
            return false;
        }
        record.size = file.size();
        record.hash = contentHash(file.data(), file.size());
    }
    if (!writeRecord(folder, key, record)) return false;
    removeOthers(folder, key, fileName);
    TRACE_EVENT("startup cache").field("recorded", path).field("size", static_cast<int64_t>(record.size));
    return true;
}

// The cache's own folder, made when missing (the product's folders as
// anyone's, the last one private); empty, with the reason, when it cannot
// be used.
static WideString cacheFolderOf(Launcher& launcher, const char** why) {
    WideString module;
    // Without product information, the executable's name keeps programs apart.
    List<WideString> parts = cacheFolderParts(launcher.productName, launcher.productCode,
                                              platform::modulePath(module) ? fileNameOf(module) : WideString());
    WideString folder = platform::perUserCacheFolder();
    *why = "the product's name or code is not a single folder name";
    if (parts.empty()) return WideString();
    *why = "the cache folder cannot be written";
    if (folder.empty()) return WideString();
    platform::createDirectory(folder);
    for (size_t i = 0; i < parts.size(); ++i) {
        folder += platform::kPathSeparator + parts[i];
        if (i + 1 < parts.size())
            platform::createDirectory(folder);
        else
            platform::createPrivateDirectory(folder);
    }
    switch (platform::ownership(folder, true)) {
        case platform::Ownership::Own: break;
        case platform::Ownership::Missing: return WideString();
        default: *why = "the cache folder is not this user's own, or others may write to it"; return WideString();
    }
    if (!platform::writableFolder(folder)) return WideString();
    *why = "";
    return folder;
}

static WideString libraryFolder(const WideString& library) {
    size_t slash = library.findLast(platform::kPathSeparator);
    return slash == WideString::npos ? WideString() : library.left(slash + 1);
}

// A path a jar's Class-Path names, on this system: relative to the jar's
// folder, "/" written as the system's separator ("file:/C:/x" on Windows
// loses its first slash).
static WideString manifestEntryPath(const WideString& jar, const NarrowString& entry) {
    const WideString written = fromUtf8(entry.data(), entry.size());
    WideString path;
    for (size_t i = 0; i < written.size(); ++i) path += written[i] == u'/' ? platform::kPathSeparator : written[i];
    if (path[0] != platform::kPathSeparator) return jar.left(jar.findLast(platform::kPathSeparator) + 1) + path;
    if (path.size() > 2 && path[2] == u':') return path.substr(1);
    return path;
}

// One entry of the key: path, size and change stamp (which no copy carries
// over, unlike the modification time that "cp -p" keeps).
static void addKeyEntry(WideString& text, const WideString& path, const platform::FileFacts& facts) {
    text += u"\n" + path + u" " + decimalUnsigned(facts.size) + u" " + decimalUnsigned(platform::changeStamp(path));
}

// The key text: the runtime (library, size, change stamp, release version),
// every jar the program's classes can come from (the class path, the jars
// their manifests name, transitively, the module path's jars) with its size
// and change stamp, the shaping options.
static WideString keyText(Launcher& launcher, const RuntimeRelease& release, const List<WideString>& runtimeOptions,
                          bool& directoryOnClassPath) {
    WideString text = launcher.jvmLibraryPath;
    platform::FileFacts facts;
    platform::fileFacts(launcher.jvmLibraryPath, facts);
    text += u"\n" + decimalUnsigned(facts.size) + u" " + decimalUnsigned(platform::changeStamp(launcher.jvmLibraryPath)) +
            u" " + release.version;
    directoryOnClassPath = false;
    // Classes the runtime loads from a folder cannot be archived, and it
    // refuses the whole recording for them.
    List<WideString> paths = splitAt(launcher.classPath, platform::kListSeparator);
    for (size_t i = 0; i < paths.size() && i < 4096; ++i) {
        const WideString entry = paths[i];
        if (entry.empty()) continue;
        platform::fileFacts(entry, facts);
        if (facts.directory && !facts.emptyDirectory) directoryOnClassPath = true;
        addKeyEntry(text, entry, facts);
        if (!facts.exists || facts.directory) continue;
        platform::ReadOnlyMapping jar(entry);
        List<NarrowString> named;
        if (!jar.isOpen() || !jarClassPath(jar.data(), jar.size(), named)) continue;
        for (const NarrowString& name : named) {
            WideString path = manifestEntryPath(entry, name);
            bool seen = false;
            for (const WideString& known : paths) seen = seen || known == path;
            if (!seen) paths.push_back(path);
        }
    }
    for (const WideString& option : runtimeOptions) {
        WideString modulePath;
        if (option.startsWith(u"--module-path="))
            modulePath = option.substr(14);
        else if (option.startsWith(u"-Djdk.module.path="))
            modulePath = option.substr(18);
        for (const WideString& entry : splitAt(modulePath, platform::kListSeparator)) {
            if (entry.empty() || !platform::fileFacts(entry, facts)) continue;
            addKeyEntry(text, entry, facts);
            if (!facts.directory) continue;
            // A folder of modules: each jar in it; a folder there (an
            // exploded module) cannot be archived.
            for (const WideString& name : platform::findFiles(inFolder(entry, u"*"))) {
                if (name == u"." || name == u"..") continue;
                const WideString path = inFolder(entry, name);
                platform::fileFacts(path, facts);
                if (facts.directory) directoryOnClassPath = true;
                addKeyEntry(text, path, facts);
            }
        }
    }
    for (const WideString& option : runtimeOptions)
        if (optionShapesArchive(option)) text += u"\n" + option;
    return text;
}

// Marks a key whose creation the runtime refused: the launches that follow
// neither record nor create (a creation that always fails would make every
// launch a recording one); each adds a byte to the mark, and once it has
// grown to kFailedMarkLimit bytes the next launch records again, in case
// the cause has gone. The mark goes with the key.
static const uint64_t kFailedMarkLimit = 64;

static WideString failedMark(const WideString& folder, const WideString& key) {
    return inFolder(folder, key + u".failed");
}

static WideString keyLock(const WideString& folder, const WideString& key) { return inFolder(folder, key + u".lock"); }

// A new mark: the launches that follow wait again.
static void markFailed(const WideString& folder, const WideString& key, const WideString& why) {
    platform::deleteFile(failedMark(folder, key));
    platform::appendToFile(failedMark(folder, key), toUtf8(why + u"\n"));
}

// Whether this launch of the key is one that waits after a failed creation.
static bool waitsAfterFailure(const WideString& folder, const WideString& key) {
    const WideString mark = failedMark(folder, key);
    platform::FileFacts facts;
    if (platform::ownership(mark, false) != platform::Ownership::Own || !platform::fileFacts(mark, facts)) return false;
    if (facts.size < kFailedMarkLimit) return platform::appendToFile(mark, NarrowString("."));
    platform::deleteFile(mark);
    return false;
}

// Whether a creator holds the key's lock (a probe lets go at once).
static bool creationUnderWay(const WideString& folder, const WideString& key) {
    const WideString lock = keyLock(folder, key);
    platform::ExclusiveFile probe;
    return !probe.take(lock) && platform::fileExists(lock);
}

static void armRecordingGuard(StartupCacheWork& work);
static void watchProgramExit(Launcher& launcher);

static const char* planName(CachePlan plan) {
    switch (plan) {
        case CachePlan::AotUse: return "use the ahead-of-time cache";
        case CachePlan::AotRecord: return "record for an ahead-of-time cache";
        case CachePlan::ArchiveUse: return "use the archive";
        case CachePlan::ClassListRecord: return "list the classes for an archive";
        default: return "no cache";
    }
}

void applyStartupCache(Launcher& launcher) {
    CacheSituation s;
    s.enabled = launcher.startupCache;
    if (!s.enabled) return;
    WideString home = runtimeHomeWithSeparator(launcher.jvmLibraryPath);
    {
        platform::ReadOnlyMapping release(home + u"release");
        if (release.isOpen())
            s.release = parseRuntimeRelease(NarrowString(reinterpret_cast<const char*>(release.data()), release.size()));
    }
    s.defaultArchive = platform::fileExists(libraryFolder(launcher.jvmLibraryPath) + u"classes.jsa");
    WideString java = home + nativePath(kRuntimeLayout.javaCommand);
    s.javaCommand = platform::fileExists(java);
    // The runtime reads these variables itself: their options count as the
    // parameters do.
    List<WideString> runtimeOptions;
    for (const char16_t* variable : {u"JAVA_TOOL_OPTIONS", u"_JAVA_OPTIONS"}) {
        WideString value;
        if (platform::readEnvironment(variable, value))
            for (const WideString& option : splitRuntimeOptions(value)) runtimeOptions.push_back(option);
    }
    for (const WideString& option : launcher.userVmOptions) runtimeOptions.push_back(option);
    s.user = userOptionFacts(runtimeOptions);
    NarrowString keyBytes = toUtf8(keyText(launcher, s.release, runtimeOptions, s.directoryOnClassPath));
    WideString key = hex16(contentHash(reinterpret_cast<const uint8_t*>(keyBytes.data()), keyBytes.size()));

    WideString folder = cacheFolderOf(launcher, &s.folderProblem);
    // Something else in the place of the key's own files would make every
    // launch a recording one, or stop it.
    for (const WideString& name : {key + u".rec", key + u".failed", key + u".lock"})
        if (!*s.folderProblem && platform::ownership(inFolder(folder, name), false) == platform::Ownership::Other)
            s.folderProblem = "a file of this key in the cache folder is not this user's own";
    CacheFiles files;
    const char* invalid = "";
    if (!*s.folderProblem) {
        s.validCache = validCache(folder, key, files.cache, &invalid);
        if (!s.validCache) {
            s.creationFailed = waitsAfterFailure(folder, key);
            s.creationUnderWay = creationUnderWay(folder, key);
            uint64_t space = 0;
            s.lowOnSpace = platform::freeSpace(folder, space) && space < kCacheSpaceNeeded;
        }
    }

    CacheDecision decision = decideStartupCache(s);
    const bool aot = s.release.feature >= 25;
    WideString stem = inFolder(folder, key + u"-" + decimalUnsigned(platform::processId()));
    files.recording = stem + (aot ? u".aotconf" : u".classlist");
    files.fresh = stem + (aot ? u".aot" : u".jsa");
    TRACE_EVENT("startup cache")
        .field("decision", planName(decision.plan))
        .field("reason", decision.reason)
        .field("runtime", s.release.version)
        .field("folder", folder)
        .field("key", key)
        .field("cache", s.validCache ? files.cache : WideString(u"(none valid: ") + fromUtf8(invalid, strlen(invalid)) + u")");

    for (const WideString& option : startupCacheOptions(decision, s, files))
        launcher.vmOptions.push_back(platform::toAnsi(option));

    StartupCacheWork& work = launcher.startupCacheWork;
    work.folder = folder;
    work.key = key;
    const WideString libraryDirectory = libraryFolder(launcher.jvmLibraryPath);
    const WideString vmName = fileNameOf(libraryDirectory.left(libraryDirectory.size() ? libraryDirectory.size() - 1 : 0));
    work.creation = startupCacheCreation(decision, java, vmName, files, runtimeOptions, launcher.classPath);
    if (decision.plan == CachePlan::AotUse || decision.plan == CachePlan::ArchiveUse) work.used = files.cache;
    if (!work.creation.empty()) {
        if (decision.plan == CachePlan::AotRecord) work.ownLine = platform::toAnsi(u"recorded: " + files.recording);
        work.recording = files.recording;
        work.fresh = files.fresh;
        armRecordingGuard(work);
    }
}

// Whether the runtime shares classes: "sharing" in java.vm.info, as the
// java command's -version shows it. False only when it says it does not.
static bool runtimeSharesClasses(JNIEnv* env) {
    bool sharing = true;
    jclass system = env->FindClass("java/lang/System");
    jmethodID get = system ? env->GetStaticMethodID(system, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;")
                           : nullptr;
    jstring name = get ? env->NewStringUTF("java.vm.info") : nullptr;
    jstring value = name ? static_cast<jstring>(env->CallStaticObjectMethod(system, get, name)) : nullptr;
    const char* text = value && !env->ExceptionCheck() ? env->GetStringUTFChars(value, nullptr) : nullptr;
    if (text) {
        sharing = strstr(text, "sharing") != nullptr;
        env->ReleaseStringUTFChars(value, text);
    }
    if (env->ExceptionCheck()) env->ExceptionClear();
    if (value) env->DeleteLocalRef(value);
    if (name) env->DeleteLocalRef(name);
    if (system) env->DeleteLocalRef(system);
    return sharing;
}

void checkStartupCacheUse(Launcher& launcher) {
    StartupCacheWork& work = launcher.startupCacheWork;
    watchProgramExit(launcher);
    if (work.used.empty() || !launcher.jniEnv || runtimeSharesClasses(launcher.jniEnv)) return;
    TRACE_EVENT("startup cache").field("cache", work.used).field("result", "refused by the runtime: dropped; the key waits");
    platform::deleteFile(inFolder(work.folder, work.key + u".rec"));
    platform::deleteFile(work.used);
    markFailed(work.folder, work.key, u"the runtime refused the cache");
}

// --- A recording that aborts --------------------------------------------------
// A runtime that cannot write its recording at the end (25: a full disk, a
// file size limit, classes it cannot archive) aborts: its abort hook runs,
// then it ends the process with exit code 1, past the exit hook. Armed from
// the launch of a recording run until the exit hook or the teardown's
// return says the recording is whole; once main has returned, or the
// program has called System.exit, its own code is known and is kept.
namespace {
enum class Guard { Off, Armed, CodeKnown };
Guard g_guard = Guard::Off;
StartupCacheWork* g_guarded = nullptr;
}  // namespace

static void armRecordingGuard(StartupCacheWork& work) {
    g_guarded = &work;
    g_guard = Guard::Armed;
}

void guardStartupCacheTeardown(Launcher& launcher) {
    if (g_guard == Guard::Armed && g_guarded == &launcher.startupCacheWork) g_guard = Guard::CodeKnown;
}

// System.exit(n) and Runtime.halt(n) reach the runtime through
// java.lang.Shutdown.halt0, before it writes the recording: the code is
// taken on its way. The runtime's tool interface lets a native method's
// binding be redirected (registering the method again would print a
// warning on every such launch); halt0 is bound when it is first called,
// which is when the program ends.
namespace {
typedef void(JNICALL* HaltFunction)(JNIEnv*, jclass, jint);
HaltFunction g_halt = nullptr;
}  // namespace

static void JNICALL haltWithCode(JNIEnv* env, jclass type, jint code) {
    if (g_guard != Guard::Off && g_guarded) {
        g_guarded->programCode = code;
        g_guard = Guard::CodeKnown;
    }
    g_halt(env, type, code);
}

static bool isHalt(jvmtiEnv* jvmti, jmethodID method) {
    char* name = nullptr;
    if (jvmti->GetMethodName(method, &name, nullptr, nullptr) != JVMTI_ERROR_NONE || !name) return false;
    bool halt = strcmp(name, "halt0") == 0;
    jvmti->Deallocate(reinterpret_cast<unsigned char*>(name));
    jclass type = nullptr;
    char* signature = nullptr;
    if (!halt || jvmti->GetMethodDeclaringClass(method, &type) != JVMTI_ERROR_NONE ||
        jvmti->GetClassSignature(type, &signature, nullptr) != JVMTI_ERROR_NONE || !signature)
        return false;
    halt = strcmp(signature, "Ljava/lang/Shutdown;") == 0;
    jvmti->Deallocate(reinterpret_cast<unsigned char*>(signature));
    return halt;
}

static void JNICALL nativeMethodBound(jvmtiEnv* jvmti, JNIEnv*, jthread, jmethodID method, void* address,
                                      void** newAddress) {
    if (g_halt || !address || !newAddress || !isHalt(jvmti, method)) return;
    g_halt = reinterpret_cast<HaltFunction>(address);
    *newAddress = reinterpret_cast<void*>(&haltWithCode);
}

static void watchProgramExit(Launcher& launcher) {
    if (g_guard != Guard::Armed || g_guarded != &launcher.startupCacheWork || !launcher.javaVM) return;
    jvmtiEnv* jvmti = nullptr;
    if (launcher.javaVM->GetEnv(reinterpret_cast<void**>(&jvmti), JVMTI_VERSION_1_2) != JNI_OK || !jvmti) {
        TRACE_EVENT("startup cache").field("exit code", "not watched: the runtime has no tool interface");
        return;
    }
    jvmtiCapabilities wanted;
    memset(&wanted, 0, sizeof wanted);
    wanted.can_generate_native_method_bind_events = 1;
    jvmtiEventCallbacks callbacks;
    memset(&callbacks, 0, sizeof callbacks);
    callbacks.NativeMethodBind = &nativeMethodBound;
    if (jvmti->AddCapabilities(&wanted) != JVMTI_ERROR_NONE ||
        jvmti->SetEventCallbacks(&callbacks, static_cast<jint>(sizeof callbacks)) != JVMTI_ERROR_NONE ||
        jvmti->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_NATIVE_METHOD_BIND, nullptr) != JVMTI_ERROR_NONE) {
        TRACE_EVENT("startup cache").field("exit code", "not watched: the tool interface refused");
        jvmti->DisposeEnvironment();
    }
}

void startupCacheAborted(Launcher& launcher) {
    StartupCacheWork& work = launcher.startupCacheWork;
    if (g_guard == Guard::Off || g_guarded != &work) return;
    const bool codeKnown = g_guard == Guard::CodeKnown;
    g_guard = Guard::Off;
    work.finished = true;
    markFailed(work.folder, work.key, u"the runtime aborted while recording");
    platform::deleteFile(work.recording);
    TRACE_EVENT("startup cache")
        .field("create", "skipped")
        .field("reason", "the runtime aborted while recording")
        .field("exit code", static_cast<int64_t>(codeKnown ? work.programCode : 1));
    if (codeKnown) platform::exitNow(work.programCode);
}

// The creator's job file: the folder, the key, the recording, the new
// cache, then the command, a line each.
static const size_t kJobCommand = 4;

void finishStartupCache(Launcher& launcher) {
    StartupCacheWork& work = launcher.startupCacheWork;
    if (work.finished) return;
    work.finished = true;
    if (g_guarded == &work) g_guard = Guard::Off;
    if (work.creation.empty()) return;
    // The runtime writes the recording as it goes (the class list) or when
    // the program ends (the configuration): either way it is whole by now.
    platform::FileFacts facts;
    if (!platform::fileFacts(work.recording, facts) || !facts.exists || facts.size == 0) {
        TRACE_EVENT("startup cache").field("create", "skipped").field("reason", "the run recorded nothing");
        platform::deleteFile(work.recording);
        return;
    }
    WideString job = work.recording.left(work.recording.findLast(u'.')) + u".job";
    WideString text = work.folder + u"\n" + work.key + u"\n" + work.recording + u"\n" + work.fresh + u"\n";
    for (const WideString& item : work.creation) text += item + u"\n";
    platform::deleteFile(job);
    // Until the creator holds its job, another creator's tidying may take
    // the job away (the recording is safe while this process lives); that
    // creation is then lost, and the next launch records again.
    bool started = platform::appendToFile(job, toUtf8(text)) && platform::startDetachedSelf(kCacheJobVariable, job);
    TRACE_EVENT("startup cache").field("create", started ? "started" : "failed to start").field("job", job);
    if (!started) {
        platform::deleteFile(job);
        platform::deleteFile(work.recording);
    }
}

bool runStartupCacheJob(int32_t& code) {
    WideString job;
    if (!platform::readEnvironment(kCacheJobVariable, job) || job.empty()) return false;
    code = 1;
    // Held while the creation runs, so that another creator's tidying
    // leaves this one's files alone; a tidying that probes it just now lets
    // go at once.
    platform::ExclusiveFile held;
    for (int tries = 0; !held.take(job) && tries < 100 && platform::fileExists(job); ++tries)
        platform::sleepMilliseconds(20);
    List<WideString> lines;
    bool whole = false;
    {
        platform::ReadOnlyMapping file(job);
        whole = file.isOpen() && file.size() > 0 && file.data()[file.size() - 1] == '\n';
        if (whole) lines = splitAt(fromUtf8(reinterpret_cast<const char*>(file.data()), file.size()), u'\n');
    }
    if (!whole || lines.size() < kJobCommand + 2) {
        held.release();
        platform::deleteFile(job);
        return true;
    }
    const WideString folder = lines[0], key = lines[1], recording = lines[2], output = lines[3];
    List<WideString> arguments;
    for (size_t i = kJobCommand + 1; i < lines.size(); ++i) arguments.push_back(lines[i]);
    // The java command takes options from this variable; the program's
    // runtime, started through its library, does not. The runtime's own
    // variables may name agents, logs and ports: the command carries those
    // of their options that shape the cache.
    for (const char16_t* variable : {u"JDK_JAVA_OPTIONS", u"JAVA_TOOL_OPTIONS", u"_JAVA_OPTIONS"})
        platform::removeEnvironment(variable);

    // One creation per key at a time; the others give up at once (a
    // launch's probe of the lock lets go at once).
    const WideString lock = keyLock(folder, key);
    if (platform::ownership(lock, false) == platform::Ownership::Missing) platform::appendToFile(lock, NarrowString());
    platform::ExclusiveFile creating;
    for (int tries = 0; platform::ownership(lock, false) == platform::Ownership::Own && !creating.take(lock) && tries < 10;
         ++tries)
        platform::sleepMilliseconds(20);
    if (!creating.held()) {
        TRACE_EVENT("startup cache").field("created", output).field("outcome", "gave up: another creation of this key is under way");
        platform::deleteFile(recording);
        held.release();
        platform::deleteFile(job);
        return true;
    }

    // A creation of the same key that ended first (two first launches at
    // once) keeps its cache, which launches may already use.
    WideString existing;
    const char* why = "";
    uint32_t exitCode = 1;
    const char* outcome = "kept the valid cache made meanwhile";
    if (!validCache(folder, key, existing, &why)) {
        bool ran = platform::runSilently(lines[kJobCommand], arguments, exitCode);
        if (!ran) exitCode = static_cast<uint32_t>(-1);
        if (validCache(folder, key, existing, &why)) {
        } else if (ran && exitCode == 0 && recordCache(folder, key, fileNameOf(output))) {
            outcome = "recorded";
            code = 0;
        } else if (ran && exitCode != 0 && platform::fileExists(recording) &&
                   !validCache(folder, key, existing, &why)) {
            // The runtime refused this recording (not a process that was
            // killed, nor a recording that went away under a tidying).
            outcome = "failed: the next launches of this key do not record";
            markFailed(folder, key, decimalUnsigned(exitCode));
            removeOthers(folder, key, key + u".failed");
        } else {
            outcome = "failed";
        }
    }
    TRACE_EVENT("startup cache")
        .field("created", output)
        .field("exit code", static_cast<int64_t>(static_cast<int32_t>(exitCode)))
        .field("outcome", outcome);
    if (code != 0) platform::deleteFile(output);
    // The job goes last: while it is there, a creation is under way and the
    // record may still change.
    platform::deleteFile(recording);
    held.release();
    // Another creator's tidying may be probing the job just now, and on
    // Windows a file open elsewhere cannot be deleted.
    for (int tries = 0; !platform::deleteFile(job) && platform::fileExists(job) && tries < 50; ++tries)
        platform::sleepMilliseconds(20);
    return true;
}
