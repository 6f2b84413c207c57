#include "runtime/pe_image.h"
#include "runtime/runtime_layout.h"

static const char16_t* const kServerOnly[] = {u"bin\\server\\jvm.dll", nullptr};
static const char16_t* const kServerFirst[] = {u"bin\\server\\jvm.dll", u"bin\\client\\jvm.dll", u"bin\\classic\\jvm.dll",
                                               u"bin\\hotspot\\jvm.dll", u"bin\\server\\jvm.dll",
                                               u"bin\\jrockit\\jvm.dll", nullptr};
static const char16_t* const kClientFirst[] = {u"bin\\client\\jvm.dll", u"bin\\classic\\jvm.dll", u"bin\\hotspot\\jvm.dll",
                                               u"bin\\server\\jvm.dll", u"bin\\jrockit\\jvm.dll", nullptr};
static const char16_t* const kBundleFolders[] = {u"", u"jre\\", nullptr};
static const char16_t* const kBundleMarkers[] = {u"bin\\java.dll", nullptr};
static const char16_t* const kNoRoots[] = {nullptr};
static const SearchPlace kOrder[] = {SearchPlace::JrePath, SearchPlace::BesideExecutable, SearchPlace::Registry,
                                     SearchPlace::JavaHome, SearchPlace::End};

static const char* const kLibraryReasons[] = {
    "no jvm.dll of the \"JVM Type\" asked for", "no jvm.dll", "its jvm.dll is not an image",
    "its jvm.dll is for a processor neither this launcher nor \"Pair Product\" serves",
    "its jvm.dll cannot be read"};

const RuntimeLayout kRuntimeLayout = {
    kServerOnly, kServerFirst, kClientFirst, kBundleFolders, kBundleMarkers, u"jre\\", u"bin\\javac.exe",
    u"bin\\java.exe", kNoRoots, u"", kOrder, false, false, kLibraryReasons, false, u"splashscreen.dll", imageMachine,
};
