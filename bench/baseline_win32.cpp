// Start-up baseline: the least a Windows program must do to run a Java main
// method through the invocation API, with no settings, no runtime search, no
// extra thread and no C runtime. The launcher's start-up overhead is measured
// against this.
//
//   baseline.exe [jvm.dll [class path [main class]]]
//
// Defaults: jvm.dll and app.jar beside the program, main class standin/Records
// (slashes, as FindClass takes it). Exit code 0 once DestroyJavaVM returned;
// any failure writes one line to the error output and exits with 2.
//
// Built without the C runtime so that only kernel32 and user32 are imported
// (bench/startup.sh has the command line); the loops below are kept from
// turning into calls of strlen and memset, which would need it.

#include <windows.h>

#include <jni.h>

namespace {

typedef jint(JNICALL* GetDefaultJavaVMInitArgsFunction)(void*);
typedef jint(JNICALL* CreateJavaVMFunction)(JavaVM**, void**, void*);

const DWORD kPathUnits = 32768;
// Static buffers: large stack frames would need the C runtime's stack probe.
wchar_t g_jvmPath[kPathUnits];
wchar_t g_classPath[kPathUnits];
wchar_t g_mainClass[1024];
char g_classPathOption[3 * kPathUnits + 32];
char g_mainClassName[3 * 1024];

size_t length(const wchar_t* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

void copy(wchar_t* to, const wchar_t* from, size_t capacity) {
    size_t i = 0;
    for (; from[i] && i + 1 < capacity; ++i) to[i] = from[i];
    to[i] = 0;
}

[[noreturn]] void fail(const char* what) {
    // A GUI program has no console; with no error output to write to, the
    // message goes to a box (the reason this program links user32 at all).
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD size = 0;
    while (what[size]) ++size;
    DWORD written = 0;
    if (err == nullptr || err == INVALID_HANDLE_VALUE || !WriteFile(err, what, size, &written, nullptr) ||
        !WriteFile(err, "\r\n", 2, &written, nullptr))
        MessageBoxA(nullptr, what, "baseline", MB_OK | MB_ICONERROR);
    ExitProcess(2);
}

// The next argument of a command line: quoted stretches may hold spaces.
const wchar_t* nextArgument(const wchar_t* at, wchar_t* to, size_t capacity, bool& found) {
    while (*at == L' ' || *at == L'\t') ++at;
    found = *at != 0;
    size_t n = 0;
    bool quoted = false;
    for (; *at && (quoted || (*at != L' ' && *at != L'\t')); ++at) {
        if (*at == L'"') {
            quoted = !quoted;
        } else if (n + 1 < capacity) {
            to[n++] = *at;
        }
    }
    if (capacity) to[n] = 0;
    return at;
}

// The folder of this program, with its trailing backslash.
void ownFolder(wchar_t* to, DWORD capacity) {
    DWORD n = GetModuleFileNameW(nullptr, to, capacity);
    if (n == 0 || n >= capacity) fail("GetModuleFileNameW failed");
    while (n > 0 && to[n - 1] != L'\\' && to[n - 1] != L'/') --n;
    to[n] = 0;
}

void besideProgram(wchar_t* to, const wchar_t* name) {
    ownFolder(to, kPathUnits);
    size_t n = length(to);
    copy(to + n, name, kPathUnits - n);
}

void toAnsi(const wchar_t* text, char* to, int capacity) {
    if (WideCharToMultiByte(CP_ACP, 0, text, -1, to, capacity, nullptr, nullptr) == 0)
        fail("WideCharToMultiByte failed");
}

void readArguments() {
    static wchar_t scratch[kPathUnits];
    bool found = false;
    const wchar_t* at = nextArgument(GetCommandLineW(), scratch, kPathUnits, found);  // the program
    at = nextArgument(at, g_jvmPath, kPathUnits, found);
    if (!found) besideProgram(g_jvmPath, L"jvm.dll");
    at = nextArgument(at, g_classPath, kPathUnits, found);
    if (!found) besideProgram(g_classPath, L"app.jar");
    at = nextArgument(at, g_mainClass, 1024, found);
    if (!found) copy(g_mainClass, L"standin/Records", 1024);
}

int run() {
    readArguments();

    HMODULE library = LoadLibraryW(g_jvmPath);
    if (!library) fail("cannot load jvm.dll");
    GetDefaultJavaVMInitArgsFunction getDefaults = reinterpret_cast<GetDefaultJavaVMInitArgsFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, "JNI_GetDefaultJavaVMInitArgs")));
    CreateJavaVMFunction create = reinterpret_cast<CreateJavaVMFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, "JNI_CreateJavaVM")));
    if (!getDefaults || !create) fail("jvm.dll lacks the invocation functions");

    const char prefix[] = "-Djava.class.path=";
    for (size_t i = 0; i < sizeof prefix - 1; ++i) g_classPathOption[i] = prefix[i];
    toAnsi(g_classPath, g_classPathOption + sizeof prefix - 1, sizeof g_classPathOption - sizeof prefix);
    toAnsi(g_mainClass, g_mainClassName, sizeof g_mainClassName);

    JavaVMOption option;
    option.optionString = g_classPathOption;
    option.extraInfo = nullptr;
    JavaVMInitArgs arguments;
    arguments.version = 0x00010002;
    arguments.nOptions = 0;
    arguments.options = nullptr;
    arguments.ignoreUnrecognized = JNI_FALSE;
    getDefaults(&arguments);
    arguments.version = 0x00010002;
    arguments.nOptions = 1;
    arguments.options = &option;
    arguments.ignoreUnrecognized = JNI_FALSE;

    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    if (create(&vm, reinterpret_cast<void**>(&env), &arguments) != JNI_OK) fail("JNI_CreateJavaVM failed");

    jclass mainClass = env->FindClass(g_mainClassName);
    if (!mainClass) fail("main class not found");
    jmethodID main = env->GetStaticMethodID(mainClass, "main", "([Ljava/lang/String;)V");
    if (!main) fail("no main method");
    jclass stringClass = env->FindClass("java/lang/String");
    if (!stringClass) fail("java/lang/String not found");
    jobjectArray noArguments = env->NewObjectArray(0, stringClass, nullptr);
    if (!noArguments) fail("NewObjectArray failed");
    env->CallStaticVoidMethod(mainClass, main, noArguments);

    vm->DetachCurrentThread();
    vm->DestroyJavaVM();
    return 0;
}

}  // namespace

// The process entry point (no C runtime start-up code runs before it).
extern "C" void baselineStart() { ExitProcess(static_cast<UINT>(run())); }
