// The Launcher record: all state of one launch, and the fixed sequence of
// initialisation, run and teardown that the entry point drives.
#ifndef LAUNCHER_LAUNCHER_H
#define LAUNCHER_LAUNCHER_H

#include <stdint.h>

#include <string>

#include <jni.h>

#include "runtime/version.h"
#include "support/wide_string.h"

// Receives the virtual machine's exit and abort hooks. The launcher installs
// none; an embedding may.
class VmListener {
public:
    virtual void exit(int32_t code) = 0;
    virtual void abort() = 0;

protected:
    ~VmListener() = default;
};

class SplashWindow;  // splash/splash.h

// The start-up cache's work after the program (vm/startup_cache.cpp): the
// archive the runtime writes at exit, or the ahead-of-time cache's creation.
struct StartupCacheWork {
    WideString folder;
    WideString key;
    WideString recording;        // the recording run's file
    WideString fresh;            // the cache the creator writes
    List<WideString> creation;   // the creator's command: program, then arguments
    WideString used;             // the cache this launch gives the runtime
    NarrowString ownLine;        // what marks the runtime's line about the recording
    bool finished = false;
    int32_t programCode = 0;     // the launch's exit code once main has ended
};

// What a launch that the launcher started again itself is told through its
// environment (launcher/restart.h): a restart of the program, or a launch
// without the user's options file, which the runtime refused.
struct StartAgainMark {
    uint32_t process = 0;          // the process that started it again
    bool withoutUserOptions = false;
    uint64_t signal = 0;           // Windows: the supervising process's restart event
    List<uint64_t> restartTimes;   // earlier restarts, in monotonic milliseconds
    int64_t heldLock = -1;         // Linux: the single-instance lock, still held
    WideString file;               // the options file left out
    WideString words;              // the runtime's words about it
};

// Which registry vendor key a runtime came from; None for a runtime taken
// from "JRE Path", from beside the executable or from the dialog.
enum class RuntimeVendor { None, JavaSoft, JRockit, Ibm };

typedef jint(JNICALL* CreateJavaVMFunction)(JavaVM**, void**, void*);
typedef jint(JNICALL* GetDefaultJavaVMInitArgsFunction)(void*);

class Launcher {
public:
    Launcher();
    ~Launcher();
    Launcher(const Launcher&) = delete;
    Launcher& operator=(const Launcher&) = delete;

    bool initialise();
    int32_t run();

    VmListener* vmListener = nullptr;
    void* splashThread = nullptr;
    uint32_t splashThreadId = 0;
    WideString splashImagePath;
    WideString splashShadow;
    int32_t jvmType = 0;
    WideString jvmLibraryPath;
    JavaVM* javaVM = nullptr;
    JNIEnv* jniEnv = nullptr;
    WideString mainClass;
    RuntimeVersion foundVersion;
    RuntimeVersion minimumVersion;
    RuntimeVersion maximumVersion;
    List<WideString> arguments;
    SplashWindow* splashWindow = nullptr;
    void* messageOwner = nullptr;
    bool isService = false;
    bool omitServiceName = false;
    bool jdkPreferred = false;
    bool jrePreferred = false;
    bool acceptBothKinds = true;
    bool jrockitAllowed = false;
    bool sunAllowed = true;
    bool ibmAllowed = false;
    bool jrockitFavoured = false;
    bool sunFavoured = true;
    bool ibmFavoured = false;
    WideString productName;
    WideString productCode;
    List<NarrowString> vmOptions;
    List<WideString> preferredVersions;
    WideString jrePath;
    WideString libraryPath;
    // Where "Library Path" goes into the library variable (Linux): its value
    // as the user had it, given back once the virtual machine has read it,
    // so that the program's children inherit the user's own.
    bool libraryVariableChanged = false;
    bool libraryVariableWasSet = false;
    WideString libraryVariableBefore;
    void* instanceBlock = nullptr;
    void* instanceMapping = nullptr;
    void* instanceListener = nullptr;
    bool isPrimaryInstance = false;
    bool singleInstance = false;
    WideString outputFile;
    WideString errorFile;
    WideString systemPath;
    WideString extraArguments;
    WideString pairProduct;
    bool pairReturnCode = false;
    bool failureCheck = false;
    bool overrideWorkingDir = false;
    uint32_t threadStackSize = 0;
    void (*runtimeSplashClose)() = nullptr;
    void* vmReadyEvent = nullptr;
    bool pairLaunch = false;
    // Started by its paired program (a pair launch marks its child): this
    // launch never starts the paired program in turn.
    bool startedByPartner = false;
    CreateJavaVMFunction createJavaVM = nullptr;
    GetDefaultJavaVMInitArgsFunction getDefaultJavaVMInitArgs = nullptr;
    // The vendor key of the runtime the search chose.
    RuntimeVendor runtimeVendor = RuntimeVendor::None;
    // Single instance: the listener's own thread id (first instance); the
    // mutex held while handing over, and the first instance's process
    // (second instance). On Linux instanceListener holds the listener with
    // its socket and lock, and firstInstanceProcess the connection to the
    // first instance, which ends when that process ends.
    uint32_t instanceListenerId = 0;
    void* instanceMutex = nullptr;
    void* firstInstanceProcess = nullptr;
    // The number of the request this launch posted (Windows), 0 for none.
    uint32_t handOverRequest = 0;
    // "Start-up Cache=auto"; the class path and the parameters as the
    // runtime receives them (vm/vm_options.cpp), for the cache's key.
    bool startupCache = false;
    WideString classPath;
    List<WideString> userVmOptions;
    StartupCacheWork startupCacheWork;
    // The options files (vm/options_file.h): the user's own file (its path
    // is the program's veda.launcher.vmoptions) and how many options came
    // from it, for a creation the runtime refuses.
    WideString userOptionsFile;
    size_t userFileOptions = 0;
    // "Restart Exit Code": System.exit with it starts the program again.
    bool restartWanted = false;
    int32_t restartCode = 0;
    // Windows: this process only starts the runs and waits for each.
    bool supervising = false;
    StartAgainMark again;
    // While the virtual machine is being created, and its words meanwhile
    // (a refused option, a heap it cannot reserve), for the message.
    bool creatingVm = false;
    NarrowString runtimeWords;
};

// The launcher of this process, for the virtual machine's hooks.
Launcher* currentLauncher();

#endif
