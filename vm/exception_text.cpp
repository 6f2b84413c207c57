#include "vm/exception_text.h"

#include "support/platform.h"

namespace {

const int kIgnore = 1;

// The trace goes through bytes in this encoding on both sides: the default
// charset (the ANSI code page on Windows runtimes up to Java 17) would turn
// every character it lacks into "?".
const char16_t kTraceEncoding[] = u"UTF-8";

// A new object of the named class through its constructor, or null.
jobject newObject(JNIEnv* env, const char* className, const char* descriptor, jobject argument,
                  jobject encoding = nullptr) {
    jclass type = env->FindClass(className);
    if (!type) return nullptr;
    jmethodID constructor = env->GetMethodID(type, "<init>", descriptor);
    jobject object = nullptr;
    if (constructor)
        object = encoding   ? env->NewObject(type, constructor, argument, JNI_FALSE, encoding)
                 : argument ? env->NewObject(type, constructor, argument)
                            : env->NewObject(type, constructor);
    env->DeleteLocalRef(type);
    return object;
}

// The method of the object's own class, so that an override is found.
jmethodID instanceMethod(JNIEnv* env, jobject object, const char* name, const char* descriptor) {
    jclass type = env->GetObjectClass(object);
    if (!type) return nullptr;
    jmethodID method = env->GetMethodID(type, name, descriptor);
    env->DeleteLocalRef(type);
    return method;
}

// The exception printed into an in-memory stream, as a Java string, or null.
jstring printedTrace(JNIEnv* env, jthrowable exception) {
    jstring encoding = env->NewString(reinterpret_cast<const jchar*>(kTraceEncoding), 5);
    if (!encoding) return nullptr;
    jobject bytes = newObject(env, "java/io/ByteArrayOutputStream", "()V", nullptr);
    if (!bytes) {
        env->DeleteLocalRef(encoding);
        return nullptr;
    }
    jstring text = nullptr;
    jobject printStream =
        newObject(env, "java/io/PrintStream", "(Ljava/io/OutputStream;ZLjava/lang/String;)V", bytes, encoding);
    jmethodID print = printStream ? instanceMethod(env, exception, "printStackTrace", "(Ljava/io/PrintStream;)V") : nullptr;
    if (print) {
        env->CallVoidMethod(exception, print, printStream);
        // A trace that cannot print itself is described; what it printed
        // before failing still counts.
        if (env->ExceptionCheck()) env->ExceptionDescribe();
        jmethodID toString = instanceMethod(env, bytes, "toString", "(Ljava/lang/String;)Ljava/lang/String;");
        if (toString) {
            text = static_cast<jstring>(env->CallObjectMethod(bytes, toString, encoding));
            if (env->ExceptionCheck()) {
                env->ExceptionDescribe();
                if (text) env->DeleteLocalRef(text);
                text = nullptr;
            }
        }
    }
    if (printStream) env->DeleteLocalRef(printStream);
    env->DeleteLocalRef(bytes);
    env->DeleteLocalRef(encoding);
    return text;
}

}  // namespace

WideString exceptionTraceText(JNIEnv* env, jthrowable exception) {
    WideString result;
    jstring text = printedTrace(env, exception);
    if (text) {
        // The exact UTF-16 units: a localised message or a non-ASCII class
        // name would not survive the ANSI code page.
        jsize length = env->GetStringLength(text);
        const jchar* units = env->GetStringChars(text, nullptr);
        if (units) {
            result = WideString(reinterpret_cast<const char16_t*>(units), static_cast<size_t>(length));
            env->ReleaseStringChars(text, units);
        }
        env->DeleteLocalRef(text);
    }
    // A failed lookup or allocation leaves its exception pending.
    if (env->ExceptionCheck()) env->ExceptionDescribe();
    return result;
}

bool showUncaughtException(Launcher&, jthrowable exception, JNIEnv* env) {
    WideString text = exceptionTraceText(env, exception);
    if (text.empty()) return false;
    int answer = platform::showExceptionDialog(text);
    // No dialog could be shown (no display): the exception goes back to the
    // runtime, which reports it as its own and runs the program's handler.
    if (answer == platform::kExceptionDialogNotShown) {
        env->Throw(exception);
        return false;
    }
    return answer != kIgnore;
}
