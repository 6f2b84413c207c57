#include "instance/hand_over.h"

#include "support/platform.h"
#include "vm/vm_start.h"

jclass findMainClass(JNIEnv* env, const WideString& mainClass) {
    // The same route as the virtual-machine thread's: a class name beyond
    // the ANSI code page would not survive a conversion to it.
    jstring name = newJavaString(env, mainClass);
    if (!name) {
        if (env->ExceptionCheck()) env->ExceptionDescribe();
        return nullptr;
    }
    const char* utf = env->GetStringUTFChars(name, nullptr);
    if (!utf) {
        env->ExceptionDescribe();
        env->DeleteLocalRef(name);
        return nullptr;
    }
    jclass found = env->FindClass(utf);
    if (!found) env->ExceptionDescribe();
    env->ReleaseStringUTFChars(name, utf);
    env->DeleteLocalRef(name);
    return found;
}

// The forms of secondaryMain, in the order they are looked for.
static const struct {
    const char* signature;
    bool withFolder;
    bool returnsInt;
} kSecondaryForms[] = {
    {"([Ljava/lang/String;Ljava/lang/String;)V", true, false},
    {"([Ljava/lang/String;Ljava/lang/String;)I", true, true},
    {"([Ljava/lang/String;)V", false, false},
    {"([Ljava/lang/String;)I", false, true},
};

bool hasSecondaryMain(JNIEnv* env, jclass mainType) {
    bool found = false;
    for (const auto& form : kSecondaryForms) {
        found = found || env->GetStaticMethodID(mainType, "secondaryMain", form.signature) != nullptr;
        if (env->ExceptionCheck()) env->ExceptionClear();
    }
    return found;
}

void callSecondaryMain(JNIEnv* env, const WideString& mainClass, HandOverChannel& channel) {
    jclass mainType = findMainClass(env, mainClass);
    if (!mainType) return;
    jmethodID method = nullptr;
    bool withFolder = false;
    bool returnsInt = false;
    for (const auto& form : kSecondaryForms) {
        method = env->GetStaticMethodID(mainType, "secondaryMain", form.signature);
        withFolder = form.withFolder;
        returnsInt = form.returnsInt;
        if (method) break;
        // The last lookup's error stays pending: it is described below.
        if (&form != &kSecondaryForms[3] && env->ExceptionCheck()) env->ExceptionClear();
    }
    if (!method) channel.unserved();
    jobjectArray array = method ? newArgumentArray(env, channel.arguments()) : nullptr;
    jstring folder = array && withFolder ? newJavaString(env, channel.workingDirectory()) : nullptr;
    if (array && (!withFolder || folder)) {
        jvalue parameters[2];
        parameters[0].l = array;
        parameters[1].l = folder;
        if (returnsInt) {
            jint result = env->CallStaticIntMethodA(mainType, method, parameters);
            // A method that throws has no result of its own; 1 tells the
            // second instance that the hand-over failed.
            channel.answer(env->ExceptionCheck() ? 1 : result);
        } else {
            channel.answer(0);
            env->CallStaticVoidMethodA(mainType, method, parameters);
        }
    }
    if (env->ExceptionCheck()) env->ExceptionDescribe();
    if (folder) env->DeleteLocalRef(folder);
    if (array) env->DeleteLocalRef(array);
    env->DeleteLocalRef(mainType);
}

bool programRunning(JNIEnv* env) {
    bool running = false;
    jclass runtimeType = env->FindClass("java/lang/Runtime");
    jclass threadType = env->FindClass("java/lang/Thread");
    jmethodID getRuntime =
        runtimeType ? env->GetStaticMethodID(runtimeType, "getRuntime", "()Ljava/lang/Runtime;") : nullptr;
    jmethodID add = runtimeType ? env->GetMethodID(runtimeType, "addShutdownHook", "(Ljava/lang/Thread;)V") : nullptr;
    jmethodID remove =
        runtimeType ? env->GetMethodID(runtimeType, "removeShutdownHook", "(Ljava/lang/Thread;)Z") : nullptr;
    jmethodID construct = threadType ? env->GetMethodID(threadType, "<init>", "()V") : nullptr;
    jobject runtime = getRuntime ? env->CallStaticObjectMethod(runtimeType, getRuntime) : nullptr;
    jobject probe = runtime && add && remove && construct ? env->NewObject(threadType, construct) : nullptr;
    if (probe) {
        env->CallVoidMethod(runtime, add, probe);
        running = !env->ExceptionCheck();
        if (running) env->CallBooleanMethod(runtime, remove, probe);
    }
    // "Shutdown in progress" is the answer sought, not a fault to print.
    if (env->ExceptionCheck()) env->ExceptionClear();
    if (probe) env->DeleteLocalRef(probe);
    if (runtime) env->DeleteLocalRef(runtime);
    if (threadType) env->DeleteLocalRef(threadType);
    if (runtimeType) env->DeleteLocalRef(runtimeType);
    return running;
}

void serveHandOver(JavaVM* vm, JNIEnv* env, const WideString& mainClass, HandOverChannel& channel,
                   bool stayAttached) {
    callSecondaryMain(env, mainClass, channel);
    if (stayAttached) platform::sleepForever();
    vm->DetachCurrentThread();
}
