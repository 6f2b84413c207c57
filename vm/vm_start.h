// Hosting the virtual machine: loading the runtime library, the
// virtual-machine thread, creation, and the call of the main class.
#ifndef VM_VM_START_H
#define VM_VM_START_H

#include <stdint.h>

#include <jni.h>

#include "support/wide_string.h"

class Launcher;

// The JNI 1.1 initialisation record, still answered by runtimes for the
// default stack size query; current jni.h files no longer declare it.
struct JDK1_1InitArgs {
    jint version;
    char** properties;
    jint checkSource;
    jint nativeStackSize;
    jint javaStackSize;
    jint minHeapSize;
    jint maxHeapSize;
    jint verifyMode;
    char* classpath;
    jint(JNICALL* vfprintf)(void* stream, const char* format, void* arguments);
    void(JNICALL* exit)(jint code);
    void(JNICALL* abort)(void);
    jint enableClassGC;
    jint enableVerboseGC;
    jint disableAsyncGC;
    jint verbose;
    jboolean debugging;
    jint debugPort;
};

// Results of the virtual-machine thread.
enum VmThreadResult : uint32_t {
    VmThreadSucceeded = 0,
    VmThreadFailed = 1,
    // main ended with an exception: the launch must not count as a success.
    VmThreadMainThrew = 2,
};

enum class MainResult { Returned, Failed, Threw };

bool loadVmLibrary(Launcher& launcher);
// Runs the virtual-machine thread body on a thread of its own (or on the
// calling thread when none can be created) and gives its result.
uint32_t startVmThread(Launcher& launcher);
uint32_t vmThreadBody(Launcher& launcher);
bool createVm(Launcher& launcher);
MainResult runMainClass(Launcher& launcher);

// A new java/lang/String with exactly the string's UTF-16 units, or null.
jstring newJavaString(JNIEnv* env, const WideString& text);
// A String[] of the arguments (length 0 for none), or null.
jobjectArray newArgumentArray(JNIEnv* env, const List<WideString>& arguments);
// Calls System.exit(-1); returns only if the call fails.
void stopJavaProgram(JNIEnv* env);

#endif
