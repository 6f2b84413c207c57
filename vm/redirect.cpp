#include "vm/redirect.h"

#include <jni.h>

#include "launcher/launcher.h"
#include "support/platform.h"
#include "support/trace.h"
#include "vm/ensure_folders.h"
#include "vm/vm_start.h"

namespace {

// A new PrintStream straight on a FileOutputStream of the file (no buffer
// between them, so every print reaches the file at once), or null.
jobject openPrintStream(JNIEnv* env, const WideString& file) {
    ensureFolders(file);
    jstring name = newJavaString(env, file);
    if (!name) return nullptr;
    jobject printStream = nullptr;
    jclass fileClass = env->FindClass("java/io/FileOutputStream");
    jmethodID fileInit = fileClass ? env->GetMethodID(fileClass, "<init>", "(Ljava/lang/String;)V") : nullptr;
    jobject fileStream = fileInit ? env->NewObject(fileClass, fileInit, name) : nullptr;
    if (fileStream) {
        jclass printClass = env->FindClass("java/io/PrintStream");
        jmethodID printInit = printClass ? env->GetMethodID(printClass, "<init>", "(Ljava/io/OutputStream;)V") : nullptr;
        if (printInit) printStream = env->NewObject(printClass, printInit, fileStream);
        if (printClass) env->DeleteLocalRef(printClass);
        env->DeleteLocalRef(fileStream);
    }
    if (fileClass) env->DeleteLocalRef(fileClass);
    env->DeleteLocalRef(name);
    return printStream;
}

// System.setOut or System.setErr with the stream.
bool installPrintStream(JNIEnv* env, const char* setter, jobject stream) {
    jclass system = env->FindClass("java/lang/System");
    if (!system) return false;
    jmethodID method = env->GetStaticMethodID(system, setter, "(Ljava/io/PrintStream;)V");
    if (method) env->CallStaticVoidMethod(system, method, stream);
    env->DeleteLocalRef(system);
    if (!method) return false;
    if (env->ExceptionCheck()) {
        env->ExceptionDescribe();
        return false;
    }
    return true;
}

// Opens the file and installs it; on success the print stream is handed to
// kept when asked for, else released.
bool redirect(JNIEnv* env, const WideString& file, const char* setter, jobject* kept) {
    jobject stream = openPrintStream(env, file);
    if (!stream) return false;
    bool installed = installPrintStream(env, setter, stream);
    if (installed && kept) {
        *kept = stream;
    } else {
        env->DeleteLocalRef(stream);
    }
    return installed;
}

// The stream stays as it was; the reason goes to the trace, and to the
// standard error only where that is no user's terminal.
void redirectionFailed(JNIEnv* env, const char* stream, const WideString& file) {
    TRACE_EVENT("not redirected").field("stream", stream).field("file", file);
    if (!env->ExceptionCheck()) return;
    if (platform::kFailedRedirectionDescribed)
        env->ExceptionDescribe();
    else
        env->ExceptionClear();
}

}  // namespace

bool redirectStandardOutput(Launcher& launcher, const WideString& file) {
    return redirect(launcher.jniEnv, file, "setOut", nullptr);
}

bool redirectStandardError(Launcher& launcher, const WideString& file) {
    return redirect(launcher.jniEnv, file, "setErr", nullptr);
}

void redirectStandardStreams(Launcher& launcher) {
    JNIEnv* env = launcher.jniEnv;
    jobject outStream = nullptr;
    if (!launcher.outputFile.empty() && !redirect(env, launcher.outputFile, "setOut", &outStream))
        redirectionFailed(env, "output", launcher.outputFile);
    if (!launcher.errorFile.empty()) {
        bool installed;
        // One file named by both settings is opened once: two independent
        // streams on it would each write from its start, over each other.
        // The output file is open, so the two names are compared as the
        // file system resolves them (letter case, short names, links).
        if (outStream && platform::sameFile(launcher.outputFile, launcher.errorFile)) {
            installed = installPrintStream(env, "setErr", outStream);
        } else {
            installed = redirectStandardError(launcher, launcher.errorFile);
        }
        if (!installed) redirectionFailed(env, "error", launcher.errorFile);
    }
    if (outStream) env->DeleteLocalRef(outStream);
}
