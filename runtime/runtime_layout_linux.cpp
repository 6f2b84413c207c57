#include "runtime/elf_image.h"
#include "runtime/runtime_layout.h"

// Current runtimes keep the library in lib/<type>/; those before Java 9 in
// lib/<processor>/<type>/ (below jre/ in a development kit).
static const char16_t* const kServerOnly[] = {u"lib/server/libjvm.so", u"lib/amd64/server/libjvm.so", nullptr};
static const char16_t* const kServerFirst[] = {u"lib/server/libjvm.so", u"lib/amd64/server/libjvm.so",
                                               u"lib/client/libjvm.so", u"lib/amd64/client/libjvm.so", nullptr};
static const char16_t* const kClientFirst[] = {u"lib/client/libjvm.so", u"lib/amd64/client/libjvm.so",
                                               u"lib/server/libjvm.so", u"lib/amd64/server/libjvm.so", nullptr};
static const char16_t* const kBundleFolders[] = {u"jre/", u"", nullptr};
static const char16_t* const kBundleMarkers[] = {u"lib/libjava.so", u"lib/amd64/libjava.so", nullptr};
static const char16_t* const kInstalledRoots[] = {u"/usr/lib/jvm/", u"/usr/java/", u"/opt/java/", u"/usr/local/java/",
                                                  nullptr};
// JAVA_HOME before the system's runtimes: here it is the user's own choice.
static const SearchPlace kOrder[] = {SearchPlace::JrePath, SearchPlace::BesideExecutable, SearchPlace::JavaHome,
                                     SearchPlace::InstalledFolders, SearchPlace::End};

static const char* const kLibraryReasons[] = {
    "no libjvm.so of the \"JVM Type\" asked for", "no libjvm.so", "its libjvm.so is not an image",
    "its libjvm.so is for a processor neither this launcher nor \"Pair Product\" serves",
    "its libjvm.so cannot be read"};

const RuntimeLayout kRuntimeLayout = {
    kServerOnly, kServerFirst, kClientFirst, kBundleFolders, kBundleMarkers, u"jre/", u"bin/javac",
    u"bin/java", kInstalledRoots, u"/usr/lib/jvm/default-java/", kOrder, true, true, kLibraryReasons, true, u"lib/libsplashscreen.so", elfMachine,
};
