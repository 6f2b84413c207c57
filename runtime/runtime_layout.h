// Where a runtime keeps what the runtime search looks for, and where the
// search looks, on this system: the only things in which the search differs
// between Windows and Linux. runtime_layout_windows.cpp and
// runtime_layout_linux.cpp hold the two tables.
#ifndef RUNTIME_RUNTIME_LAYOUT_H
#define RUNTIME_RUNTIME_LAYOUT_H

#include <stddef.h>
#include <stdint.h>

// The places of the runtime search, in the order a system tries them.
enum class SearchPlace {
    JrePath,           // "JRE Path"
    BesideExecutable,  // a runtime bundled with the application
    Registry,          // the vendors' registry keys (and the other view for "Pair Product")
    JavaHome,          // JAVA_HOME
    InstalledFolders,  // the folders where the system installs runtimes, and its or the user's choice
    End
};

struct RuntimeLayout {
    // The runtime library below a home, in the order tried, per "JVM Type":
    // "server", "favor_server", and the default; null-terminated lists.
    const char16_t* const* serverOnly;
    const char16_t* const* serverFirst;
    const char16_t* const* clientFirst;
    // Sub-folders of the executable's folder that may hold a bundled runtime,
    // in the order tried ("" is the folder itself), and the file that shows
    // a runtime is there.
    const char16_t* const* bundleFolders;
    const char16_t* const* bundleMarkers;
    // The folder of an old development kit's runtime, and the file that
    // makes a home a development kit.
    const char16_t* jreFolder;
    const char16_t* compiler;
    // The java command below a home.
    const char16_t* javaCommand;
    // Folders whose sub-folders are installed runtimes (null-terminated),
    // and the system's default runtime among them ("" for none).
    const char16_t* const* installedRoots;
    const char16_t* systemDefault;
    const SearchPlace* searchOrder;
    // A home without a version in its release file takes the version its
    // folder's name gives ("jdk-21.0.2", "java-17-openjdk-amd64").
    bool versionFromFolderName;
    // A library for a processor the launcher cannot host is passed over
    // wherever it is found, before anything tries to load it.
    bool passOverForeignLibraries;
    // The trace's reasons that name the runtime library: another "JVM
    // Type" only, none, not an image, another processor, unreadable.
    const char* const* libraryReasons;
    // The runtime's splash library: below its home, or (false) beside the
    // folder of its programs.
    bool splashBelowHome;
    const char16_t* splashLibrary;
    // The processor a library is built for (the kMachine codes of
    // runtime/pe_image.h); false when the bytes are no library of this system.
    bool (*libraryMachine)(const uint8_t* data, size_t size, uint16_t& machine);
};

extern const RuntimeLayout kRuntimeLayout;

#endif
