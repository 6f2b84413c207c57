#include "vm/vm_start.h"

#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "instance/hand_over.h"
#include "launcher/environment.h"
#include "launcher/launcher.h"
#include "launcher/restart.h"
#include "splash/runtime_splash.h"
#include "splash/splash.h"
#include "support/messages.h"
#include "support/platform.h"
#include "support/trace.h"
#include "vm/exception_text.h"
#include "vm/redirect.h"
#include "vm/startup_cache.h"

bool loadVmLibrary(Launcher& launcher) {
    void* library = platform::loadLibrary(launcher.jvmLibraryPath);
    if (!library) {
        reportError(errorBoxOwner(launcher), LaunchError::library(launcher.jvmLibraryPath));
        return false;
    }
    platform::noteRuntimeLibrary(library);
    launcher.createJavaVM =
        reinterpret_cast<CreateJavaVMFunction>(platform::librarySymbol(library, "JNI_CreateJavaVM"));
    if (!launcher.createJavaVM) {
        reportError(errorBoxOwner(launcher), LaunchError::system(MsgNoCreateJavaVM));
        return false;
    }
    launcher.getDefaultJavaVMInitArgs = reinterpret_cast<GetDefaultJavaVMInitArgsFunction>(
        platform::librarySymbol(library, "JNI_GetDefaultJavaVMInitArgs"));
    if (!launcher.getDefaultJavaVMInitArgs) {
        reportError(errorBoxOwner(launcher), LaunchError::system(MsgNoCreateJavaVM));
        return false;
    }
    return true;
}

static uint32_t threadEntry(void* argument) { return vmThreadBody(*static_cast<Launcher*>(argument)); }

uint32_t startVmThread(Launcher& launcher) {
    if (launcher.threadStackSize == 0) {
        JDK1_1InitArgs query;
        memset(&query, 0, sizeof query);
        query.version = 0x00010001;
        launcher.getDefaultJavaVMInitArgs(&query);
        launcher.threadStackSize = query.javaStackSize > 0 ? static_cast<uint32_t>(query.javaStackSize) : 0;
    }
    uint32_t result = VmThreadFailed;
    if (!platform::runOnThread(launcher.threadStackSize, threadEntry, &launcher, result))
        result = vmThreadBody(launcher);
    return result;
}

uint32_t vmThreadBody(Launcher& launcher) {
    if (!createVm(launcher)) return VmThreadFailed;
    checkStartupCacheUse(launcher);
    switch (runMainClass(launcher)) {
        case MainResult::Returned: return VmThreadSucceeded;
        case MainResult::Threw: return VmThreadMainThrew;
        default:
            // A thread that ends still attached would keep DestroyJavaVM
            // waiting for ever in the teardown.
            launcher.javaVM->DetachCurrentThread();
            return VmThreadFailed;
    }
}

// The hooks reach the launcher through the process-wide pointer; with no
// listener they return and the virtual machine goes on with its own exit.
static void JNICALL exitHook(jint code) {
    TRACE_EVENT("exit hook").field("code", static_cast<int64_t>(code));
    Launcher* launcher = currentLauncher();
    // System.exit, a signal, Stop in the exception dialog: the runtime has
    // written its recording and the process ends right after this hook.
    if (launcher) finishStartupCache(*launcher);
    if (launcher && launcher->vmListener) launcher->vmListener->exit(code);
    if (launcher && !launcher->creatingVm) restartOnRequest(*launcher, code);
}

// The runtime ended creation itself (a heap it cannot reserve, an agent
// that is missing): the process ends when this hook returns.
static void creationEnded(Launcher& launcher) {
    launcher.creatingVm = false;
    startWithoutUserOptions(launcher);
    reportError(errorBoxOwner(launcher), LaunchError::vmCreation(-1).withDetail(
                                             platform::fromAnsi(launcher.runtimeWords.data(), launcher.runtimeWords.size())));
    // A creation that failed ends the launch with -1, however it failed.
    TRACE_EVENT("exit").field("code", static_cast<int64_t>(-1)).field("from", "the runtime ended its creation");
    platform::exitNow(-1);
}

// The runtime may also end the process while it starts without either
// hook (a help text it was asked for): where that exit runs the launcher's
// handlers (one C library for both, Linux), it is a creation that ended.
static void exitDuringCreation() {
    Launcher* launcher = currentLauncher();
    if (launcher && launcher->creatingVm) creationEnded(*launcher);
}

static void JNICALL abortHook() {
    Launcher* launcher = currentLauncher();
    if (launcher && launcher->creatingVm) creationEnded(*launcher);
    // A recording that could not be written: the program's own exit code.
    if (launcher) startupCacheAborted(*launcher);
    if (launcher && launcher->vmListener) launcher->vmListener->abort();
}

// Everything the runtime prints goes where it was meant to go; while the
// virtual machine is being created its words are kept too, for the message
// about a creation that fails (a windowed program has nowhere to print).
// A recording run leaves out the start-up cache's own lines and nothing of
// the runtime's others: its "recorded: <file>", and once the program has
// started, what the runtime says about the cache it could not write (with
// the heading it puts above that). Such a run passes its output on by lines.
namespace {
struct RuntimeLines {
    void* stream = nullptr;
    NarrowString pending;  // the line so far
    NarrowString heading;  // "Error occurred ...", until the next line tells whose it is
};
RuntimeLines runtimeLines;

bool isCacheLine(const Launcher& launcher, const NarrowString& line) {
    if (line.find(launcher.startupCacheWork.ownLine) != NarrowString::npos) return true;
    return !launcher.creatingVm && line.find("AOT cache") != NarrowString::npos;
}

void passRuntimeLine(const Launcher& launcher, void* stream, const NarrowString& line) {
    bool cacheLine = isCacheLine(launcher, line);
    if (!runtimeLines.heading.empty() && !cacheLine) platform::writeRuntimeText(stream, runtimeLines.heading);
    runtimeLines.heading.clear();
    if (cacheLine) return;
    if (!launcher.creatingVm && line.compare(0, 42, "Error occurred during initialization of VM") == 0) {
        runtimeLines.heading = line;
        return;
    }
    platform::writeRuntimeText(stream, line);
}
}  // namespace

// While the virtual machine is created, its words wait: when creation
// fails they are said once, in the launcher's message; when it succeeds
// they follow as printed (a bounded amount: then they pass at once).
struct RuntimeText {
    void* stream;
    NarrowString text;
};
static List<RuntimeText> runtimeTexts;
static size_t runtimeTextBytes = 0;
static const size_t kHeldRuntimeBytes = 65536;

// The runtime prints from any of its threads, each output under its own
// lock only: the hook's state has one of its own.
class HookLock {
public:
    HookLock() {
        while (flag_.test_and_set(std::memory_order_acquire)) platform::sleepMilliseconds(0);
    }
    ~HookLock() { flag_.clear(std::memory_order_release); }

private:
    static std::atomic_flag flag_;
};
std::atomic_flag HookLock::flag_ = ATOMIC_FLAG_INIT;

static jint JNICALL vfprintfHook(FILE* stream, const char* format, va_list arguments) {
    Launcher* launcher = currentLauncher();
    NarrowString text = platform::formatRuntimeText(format, arguments);
    HookLock lock;
    if (launcher && launcher->creatingVm) {
        // A file of the runtime's own (its log) gets its lines at once.
        if (!platform::standardRuntimeStream(stream)) {
            platform::writeRuntimeText(stream, text);
            return static_cast<jint>(text.size());
        }
        if (launcher->runtimeWords.size() < 8192) launcher->runtimeWords += text;
        if (runtimeTextBytes + text.size() <= kHeldRuntimeBytes) {
            runtimeTextBytes += text.size();
            runtimeTexts.push_back(RuntimeText{stream, text});
            return static_cast<jint>(text.size());
        }
        for (const RuntimeText& held : runtimeTexts) platform::writeRuntimeText(held.stream, held.text);
        runtimeTexts.clear();
    }
    if (!launcher || launcher->startupCacheWork.ownLine.empty()) {
        platform::writeRuntimeText(stream, text);
        return static_cast<jint>(text.size());
    }
    if (runtimeLines.stream != stream && !runtimeLines.pending.empty()) {
        platform::writeRuntimeText(runtimeLines.stream, runtimeLines.pending);
        runtimeLines.pending.clear();
    }
    runtimeLines.stream = stream;
    runtimeLines.pending += text;
    size_t end;
    while ((end = runtimeLines.pending.find('\n')) != NarrowString::npos) {
        NarrowString line = runtimeLines.pending.substr(0, end + 1);
        runtimeLines.pending.erase(0, end + 1);
        passRuntimeLine(*launcher, stream, line);
    }
    return static_cast<jint>(text.size());
}

bool createVm(Launcher& launcher) {
    List<JavaVMOption> options(launcher.vmOptions.size() + 3);
    // The hooks first: the runtime takes the options in order, and one it
    // refuses ends the reading (its words must reach the hook).
    options[0].optionString = const_cast<char*>("vfprintf");
    options[0].extraInfo = reinterpret_cast<void*>(&vfprintfHook);
    options[1].optionString = const_cast<char*>("abort");
    options[1].extraInfo = reinterpret_cast<void*>(&abortHook);
    options[2].optionString = const_cast<char*>("exit");
    options[2].extraInfo = reinterpret_cast<void*>(&exitHook);
    size_t count = 3;
    for (NarrowString& option : launcher.vmOptions) {
        TRACE_EVENT("vm option")
            .field("index", static_cast<int64_t>(count - 3))
            .field("text", platform::fromAnsi(option.data(), option.size()));
        options[count].optionString = &option[0];
        options[count].extraInfo = nullptr;
        ++count;
    }

    JavaVMInitArgs arguments;
    arguments.version = JNI_VERSION_1_2;
    arguments.nOptions = static_cast<jint>(count);
    arguments.options = options.data();
    arguments.ignoreUnrecognized = JNI_FALSE;

    static bool exitWatched = false;
    if (!exitWatched) exitWatched = atexit(exitDuringCreation) == 0;
    launcher.creatingVm = true;
    jint result = launcher.createJavaVM(&launcher.javaVM, reinterpret_cast<void**>(&launcher.jniEnv), &arguments);
    launcher.creatingVm = false;
    restoreLibraryVariable(launcher);
    if (result != 0) {
        launcher.javaVM = nullptr;
        launcher.jniEnv = nullptr;
        // The user's options file may be what the runtime refused: the
        // launch starts again without it (and returns here when it cannot).
        startWithoutUserOptions(launcher);
        reportError(errorBoxOwner(launcher),
                    LaunchError::vmCreation(result).withDetail(
                        platform::fromAnsi(launcher.runtimeWords.data(), launcher.runtimeWords.size())));
        return false;
    }
    {
        // What the runtime printed while it started, now that it is up.
        HookLock lock;
        for (const RuntimeText& text : runtimeTexts) platform::writeRuntimeText(text.stream, text.text);
        runtimeTexts.clear();
        launcher.runtimeWords.clear();
    }
    if (launcher.again.withoutUserOptions)
        reportError(errorBoxOwner(launcher), LaunchError::named(MsgUserOptionsIgnored, launcher.again.file)
                                                 .withDetail(launcher.again.words));
    redirectStandardStreams(launcher);
    return true;
}

jstring newJavaString(JNIEnv* env, const WideString& text) {
    jclass stringClass = env->FindClass("java/lang/String");
    if (!stringClass) return nullptr;
    jmethodID constructor = env->GetMethodID(stringClass, "<init>", "([C)V");
    jsize length = static_cast<jsize>(text.size());
    jcharArray units = constructor ? env->NewCharArray(length) : nullptr;
    jstring result = nullptr;
    if (units) {
        env->SetCharArrayRegion(units, 0, length, reinterpret_cast<const jchar*>(text.data()));
        if (!env->ExceptionCheck()) result = static_cast<jstring>(env->NewObject(stringClass, constructor, units));
        env->DeleteLocalRef(units);
    }
    // Local references are few before main runs: give back the class too.
    env->DeleteLocalRef(stringClass);
    return result;
}

jobjectArray newArgumentArray(JNIEnv* env, const List<WideString>& arguments) {
    jclass stringClass = env->FindClass("java/lang/String");
    if (!stringClass) return nullptr;
    jobjectArray array = env->NewObjectArray(static_cast<jsize>(arguments.size()), stringClass, nullptr);
    env->DeleteLocalRef(stringClass);
    if (!array) return nullptr;
    for (size_t i = 0; i < arguments.size(); ++i) {
        jstring argument = newJavaString(env, arguments[i]);
        if (!argument) {
            env->DeleteLocalRef(array);
            return nullptr;
        }
        env->SetObjectArrayElement(array, static_cast<jsize>(i), argument);
        env->DeleteLocalRef(argument);
        if (env->ExceptionCheck()) {
            env->DeleteLocalRef(array);
            return nullptr;
        }
    }
    return array;
}

void stopJavaProgram(JNIEnv* env) {
    jclass system = env->FindClass("java/lang/System");
    if (!system) return;
    jmethodID exitMethod = env->GetStaticMethodID(system, "exit", "(I)V");
    if (exitMethod) env->CallStaticVoidMethod(system, exitMethod, static_cast<jint>(-1));
    env->DeleteLocalRef(system);
    if (env->ExceptionCheck()) env->ExceptionDescribe();
}

// The local references of the virtual-machine thread are given back: a
// thread that stays attached (a runtime from the IBM key) would hold them
// for as long as the program runs.
static void deleteLocal(JNIEnv* env, jobject reference) {
    if (reference) env->DeleteLocalRef(reference);
}

// The entry point of a class without public static void main(String[]), as
// the java command of runtimes with today's launch protocol chooses it (25,
// and 21 to 24 with --enable-preview): the runtime's own finder picks a
// main(String[]) before a main(), static or not, declared or inherited. An
// instance method needs an object made with a non-private constructor
// without parameters. False (nothing pending) on runtimes without that
// protocol or when the class has no such entry point.
struct EntryPoint {
    jmethodID method = nullptr;
    bool isStatic = true;
    bool takesArguments = true;
    jmethodID constructor = nullptr;
};

static bool findEntryPoint(JNIEnv* env, jclass mainClass, EntryPoint& entry) {
    const jint kStatic = 0x0008, kPrivate = 0x0002;
    bool found = false;
    // Its name on 25 and later, then on 21 to 24.
    jclass finder = env->FindClass("jdk/internal/misc/MethodFinder");
    if (!finder) {
        env->ExceptionClear();
        finder = env->FindClass("jdk/internal/misc/MainMethodFinder");
    }
    jclass methodType = finder ? env->FindClass("java/lang/reflect/Method") : nullptr;
    jclass executableType = methodType ? env->FindClass("java/lang/reflect/Executable") : nullptr;
    jmethodID find = executableType ? env->GetStaticMethodID(finder, "findMainMethod",
                                                             "(Ljava/lang/Class;)Ljava/lang/reflect/Method;")
                                    : nullptr;
    jmethodID modifiers = find ? env->GetMethodID(executableType, "getModifiers", "()I") : nullptr;
    jmethodID parameters = modifiers ? env->GetMethodID(executableType, "getParameterCount", "()I") : nullptr;
    jobject method = parameters ? env->CallStaticObjectMethod(finder, find, mainClass) : nullptr;
    if (method && !env->ExceptionCheck()) {
        jint flags = env->CallIntMethod(method, modifiers);
        entry.takesArguments = env->CallIntMethod(method, parameters) == 1;
        entry.isStatic = (flags & kStatic) != 0;
        entry.method = env->FromReflectedMethod(method);
        found = entry.method && !env->ExceptionCheck();
        if (found && !entry.isStatic) {
            entry.constructor = env->GetMethodID(mainClass, "<init>", "()V");
            jobject reflected =
                entry.constructor ? env->ToReflectedMethod(mainClass, entry.constructor, JNI_FALSE) : nullptr;
            found = reflected && !env->ExceptionCheck() && (env->CallIntMethod(reflected, modifiers) & kPrivate) == 0;
            if (reflected) env->DeleteLocalRef(reflected);
        }
    }
    if (env->ExceptionCheck()) env->ExceptionClear();
    if (method) env->DeleteLocalRef(method);
    if (executableType) env->DeleteLocalRef(executableType);
    if (methodType) env->DeleteLocalRef(methodType);
    if (finder) env->DeleteLocalRef(finder);
    return found && !env->ExceptionCheck();
}

MainResult runMainClass(Launcher& launcher) {
    JNIEnv* env = launcher.jniEnv;
    jstring name = newJavaString(env, launcher.mainClass);
    if (!name) {
        reportError(errorBoxOwner(launcher), LaunchError::named(MsgMainClassNotLoaded, launcher.mainClass));
        return MainResult::Failed;
    }
    const char* utf = env->GetStringUTFChars(name, nullptr);
    if (!utf) {
        env->ExceptionDescribe();
        deleteLocal(env, name);
        return MainResult::Failed;
    }
    jclass mainClass = env->FindClass(utf);
    if (!mainClass) {
        env->ExceptionDescribe();
        WideString shown = fromUtf8(utf, strlen(utf));
        env->ReleaseStringUTFChars(name, utf);
        deleteLocal(env, name);
        reportError(errorBoxOwner(launcher), LaunchError::named(MsgMainClassNotFound, shown));
        return MainResult::Failed;
    }
    env->ReleaseStringUTFChars(name, utf);
    deleteLocal(env, name);

    // Later launches' arguments would be dropped without a word.
    if (launcher.singleInstance && launcher.isPrimaryInstance && !hasSecondaryMain(env, mainClass)) {
        TRACE_EVENT("single instance").field("result", "the main class has no secondaryMain; later launches' arguments are dropped");
        platform::writeNotice(u"Single Instance is on, but the main class has no secondaryMain: the arguments of later launches are dropped.");
    }
    EntryPoint entry;
    entry.method = env->GetStaticMethodID(mainClass, "main", "([Ljava/lang/String;)V");
    if (!entry.method) {
        jthrowable missing = env->ExceptionOccurred();
        env->ExceptionClear();
        if (!findEntryPoint(env, mainClass, entry)) {
            if (missing) {
                env->Throw(missing);
                env->ExceptionDescribe();
            } else {
                reportError(errorBoxOwner(launcher), LaunchError::plain(MsgNoMainMethod));
            }
            deleteLocal(env, missing);
            deleteLocal(env, mainClass);
            return MainResult::Failed;
        }
        deleteLocal(env, missing);
    }
    jobjectArray array = newArgumentArray(env, launcher.arguments);
    if (!array) {
        env->ExceptionDescribe();
        deleteLocal(env, mainClass);
        return MainResult::Failed;
    }
    if (launcher.vmReadyEvent) platform::signalEvent(launcher.vmReadyEvent);

    if (entry.isStatic) {
        if (entry.takesArguments)
            env->CallStaticVoidMethod(mainClass, entry.method, array);
        else
            env->CallStaticVoidMethod(mainClass, entry.method);
    } else {
        jobject program = env->NewObject(mainClass, entry.constructor);
        if (program && entry.takesArguments) env->CallVoidMethod(program, entry.method, array);
        if (program && !entry.takesArguments) env->CallVoidMethod(program, entry.method);
        deleteLocal(env, program);
    }
    // Deleting is allowed with an exception pending.
    deleteLocal(env, array);
    deleteLocal(env, mainClass);

    bool neverDetaches = launcher.runtimeVendor == RuntimeVendor::Ibm;
    jthrowable exception = env->ExceptionOccurred();
    if (exception) {
        // The splash is gone before any dialog about the exception, the
        // runtime library's too: it would stay up behind the dialog and,
        // after Ignore, until the program ends.
        closeSplash(launcher);
        closeRuntimeSplash(launcher);
        // A console program has no dialog: the trace goes to its standard error.
        if (launcher.failureCheck && !platform::consoleFlavour()) {
            env->ExceptionClear();
            if (showUncaughtException(launcher, exception, env)) stopJavaProgram(env);
        } else if (neverDetaches) {
            // Without a detach the virtual machine never hands the exception
            // to the program's uncaught-exception handler: print it here.
            env->ExceptionDescribe();
        }
        // Otherwise the exception stays pending: the detach hands it to the
        // program's own handler (the default one prints it on System.err).
        deleteLocal(env, exception);
    }

    if (neverDetaches) platform::sleepForever();
    if (launcher.javaVM->DetachCurrentThread() != 0) return MainResult::Failed;
    // An exception that escaped main makes the launch fail, after Ignore too.
    return exception ? MainResult::Threw : MainResult::Returned;
}
