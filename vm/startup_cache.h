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
};
UserOptionFacts userOptionFacts(const List<WideString>& options);
// Whether an option changes what is archived (and so belongs to the key).
bool optionShapesArchive(const WideString& option);

// Everything the decision depends on.
struct CacheSituation {
    bool enabled = false;              // "Start-up Cache=auto"
    RuntimeRelease release;
    bool defaultArchive = false;       // the runtime's own classes.jsa beside its library
    bool javaCommand = false;          // <home>/bin/java, for the creation after the program
    bool directoryOnClassPath = false; // a non-empty folder among the class-path entries
    UserOptionFacts user;
    bool folderWritable = false;
    bool validCache = false;           // a complete cache whose recorded size and hash match
};

enum class CachePlan {
    None,
    AotUse,        // 25+: -XX:AOTCache= the valid cache
    AotRecord,     // 25+: a recording run; the cache is created after the program
    AutoArchive,   // 19-24: -XX:+AutoCreateSharedArchive -XX:SharedArchiveFile=
    ArchiveUse,    // 13-18: -XX:SharedArchiveFile= the valid archive
    ArchiveAtExit, // 13-18: -XX:ArchiveClassesAtExit= a new archive
};

struct CacheDecision {
    CachePlan plan = CachePlan::None;
    const char* reason = "";
};
CacheDecision decideStartupCache(const CacheSituation& situation);

// The options a decision adds. cache is the valid cache's path (AotUse,
// ArchiveUse, AutoArchive with a valid archive), fresh the path a new one is
// written to, configuration the recording's file (AotRecord).
struct CacheFiles {
    WideString cache;
    WideString fresh;
    WideString configuration;
};
List<WideString> startupCacheOptions(const CacheDecision& decision, const CacheSituation& situation,
                                     const CacheFiles& files);

// A 64-bit hash of bytes: fast enough to check a cache of a hundred
// megabytes on every launch.
uint64_t contentHash(const uint8_t* data, size_t size);

// The record of a complete cache: the cache file's name, size and hash.
struct CacheRecord {
    WideString fileName;
    uint64_t size = 0;
    uint64_t hash = 0;
};
NarrowString formatCacheRecord(const CacheRecord& record);
bool parseCacheRecord(const NarrowString& text, CacheRecord& record);

// After buildVmOptions: decides and appends the cache's options.
void applyStartupCache(Launcher& launcher);
// When the program has ended, on every exit path (main returned, System.exit,
// a signal, Stop in the exception dialog): records the archive the runtime
// wrote, or starts the detached creation of the ahead-of-time cache. Once.
void finishStartupCache(Launcher& launcher);

// The detached creator's side: the launcher started again with the job's
// file in this variable runs the creation, records the cache and ends.
extern const char16_t* const kCacheJobVariable;
// True when this process is a creator; code is then its exit code.
bool runStartupCacheJob(int32_t& code);

#endif
