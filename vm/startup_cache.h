// The start-up cache ("Start-up Cache=auto"): a class-data archive or an
// ahead-of-time cache that the launcher makes, checks and passes to the
// virtual machine for the program, one per key in a per-user cache folder.
//
// The decision is a pure function of what the runtime's release file says,
// the settings, the cache's state and the user's own options, so that a host
// table covers it; the rest gathers those facts and carries the decision out.
#ifndef VM_STARTUP_CACHE_H
#define VM_STARTUP_CACHE_H

#include <stddef.h>
#include <stdint.h>

#include "support/wide_string.h"

class Launcher;

// What a runtime's "release" file says about it.
struct RuntimeRelease {
    bool known = false;     // a JAVA_VERSION that parses
    uint32_t feature = 0;   // 8 for "1.8.0_392", 17 for "17.0.15", 25 for "25.0.3"
    bool hotSpot = false;   // JVM_VARIANT (or, without it, IMPLEMENTOR) names HotSpot
    WideString version;     // JAVA_VERSION as written
};
RuntimeRelease parseRuntimeRelease(const NarrowString& text);

// What the user's "Virtual Machine Parameters" mean to the cache.
struct UserOptionFacts {
    bool namesArchive = false;     // an archive or AOT option of their own
    bool limitsModules = false;    // --patch-module, --upgrade-module-path, --limit-modules
    bool namesLog = false;         // -Xlog in any form
    bool limitsMetadata = false;   // -XX:MaxMetaspaceSize: a recording needs about twice the metadata
    bool flightRecording = false;  // flight recording, which a recording run turns off
};
UserOptionFacts userOptionFacts(const List<WideString>& options);
// Whether an option changes what is archived (and so belongs to the key).
bool optionShapesArchive(const WideString& option);
// Whether the creator takes an option: only what shapes the archive's
// layout and contents (heap, collector, object layout, modules), never an
// agent, a log, a port or a file of the program's.
bool optionForCreator(const WideString& option);
// The options in the variables the runtime reads itself (JAVA_TOOL_OPTIONS,
// _JAVA_OPTIONS), blank-separated as the runtime splits them.
List<WideString> splitRuntimeOptions(const WideString& text);

// Everything the decision depends on.
struct CacheSituation {
    bool enabled = false;              // "Start-up Cache=auto"
    RuntimeRelease release;
    bool defaultArchive = false;       // the runtime's own classes.jsa beside its library
    bool javaCommand = false;          // <home>/bin/java, which creates a cache after the program
    bool directoryOnClassPath = false; // a non-empty folder among the class-path entries
    UserOptionFacts user;
    const char* folderProblem = "";    // why the cache's folder cannot be used; empty when it can
    bool lowOnSpace = false;           // too little free space for a recording and its cache
    bool validCache = false;           // a complete cache whose recorded size and hash match
    bool creationFailed = false;       // the creator failed for this key before
    bool creationUnderWay = false;     // another launch's creator holds this key
};
// The free space a recording and the cache made from it need at least.
constexpr uint64_t kCacheSpaceNeeded = 256ull << 20;

// Without a valid cache the program's run records what it loads, and a
// detached creator makes the cache from that once the program has ended.
enum class CachePlan {
    None,
    AotUse,         // 25+: -XX:AOTCache= the valid cache
    AotRecord,      // 25+: a recording run (-XX:AOTMode=record)
    ArchiveUse,     // 13-24: -XX:SharedArchiveFile= the valid archive
    ClassListRecord // 13-24: -XX:DumpLoadedClassList=, then a static archive
};

struct CacheDecision {
    CachePlan plan = CachePlan::None;
    const char* reason = "";
};
CacheDecision decideStartupCache(const CacheSituation& situation);

// The options a decision adds. cache is the valid cache's path (the Use
// plans), recording the file a recording run writes, fresh the path the
// creator writes the new cache to.
struct CacheFiles {
    WideString cache;
    WideString recording;
    WideString fresh;
};
List<WideString> startupCacheOptions(const CacheDecision& decision, const CacheSituation& situation,
                                     const CacheFiles& files);
// The creator's command after a recording run (empty for other plans): the
// runtime's java command with the launch's virtual machine (vmName, the
// folder of its library: "server", "client"), then its arguments, with the
// class path and the user's options that shape the cache.
List<WideString> startupCacheCreation(const CacheDecision& decision, const WideString& javaCommand,
                                      const WideString& vmName, const CacheFiles& files,
                                      const List<WideString>& userOptions, const WideString& classPath);

// The cache's folder: the product's folder under the per-user cache root
// ("Product Name", then "Product Code", or the executable's name without
// both), then a folder of the launcher's own, which holds nothing else. Empty
// when a part is not a single folder name (a separator, a drive, "." or "..").
extern const char16_t* const kCacheFolderName;
List<WideString> cacheFolderParts(const WideString& productName, const WideString& productCode,
                                  const WideString& executableName);
// Whether a file name is one the cache makes: "<key>.rec", "<key>.failed",
// "<key>.lock", or "<key>-<process>.<kind>" (recordings, caches, jobs, the
// record on its way). The tidying deletes nothing else.
bool isCacheFileName(const WideString& name);

// A 64-bit hash of bytes: fast enough to check a cache of a hundred
// megabytes on every launch.
uint64_t contentHash(const uint8_t* data, size_t size);

// The record of a complete cache: the cache file's name, size and hash, and
// its change stamp when the hash was taken. A file whose stamp is still the
// recorded one has not been written since, so its hash need not be taken
// again at every launch.
struct CacheRecord {
    WideString fileName;
    uint64_t size = 0;
    uint64_t hash = 0;
    uint64_t changed = 0;
};
NarrowString formatCacheRecord(const CacheRecord& record);
bool parseCacheRecord(const NarrowString& text, CacheRecord& record);

// After buildVmOptions: decides and appends the cache's options.
void applyStartupCache(Launcher& launcher);
// Before the virtual machine's teardown after main, and from the runtime's
// abort hook: a runtime that aborts because it cannot write its recording
// (and would end the process with exit code 1) leaves the failure mark, and
// once the program's code is known (main returned, System.exit) the process
// ends with it.
void guardStartupCacheTeardown(Launcher& launcher);
// Once the virtual machine is created with a cache: a runtime that refused
// it shares nothing at all (not even its default archive), so every launch
// would be slower than one without the setting. Such a cache is dropped and
// the key waits as after a failed creation, so that refusing, recording and
// creating cannot repeat on every launch. On a recording run it also
// watches for the code System.exit passes, which the abort then keeps.
void checkStartupCacheUse(Launcher& launcher);
void startupCacheAborted(Launcher& launcher);
// When the program has ended, on every exit path (main returned, System.exit,
// a signal, Stop in the exception dialog): starts the detached creation of
// the cache from what the run recorded. Once.
void finishStartupCache(Launcher& launcher);

// The detached creator's side: the launcher started again with the job's
// file in this variable runs the creation, records the cache and ends.
extern const char16_t* const kCacheJobVariable;
// True when this process is a creator; code is then its exit code.
bool runStartupCacheJob(int32_t& code);

#endif
