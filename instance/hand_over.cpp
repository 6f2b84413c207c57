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

void callSecondaryMain(JNIEnv* env, const WideString& mainClass, HandOverChannel& channel) {
    jclass mainType = findMainClass(env, mainClass);
    if (!mainType) return;
    jmethodID method = env->GetStaticMethodID(mainType, "secondaryMain", "([Ljava/lang/String;)V");
    if (env->ExceptionCheck()) env->ExceptionClear();
    bool returnsInt = false;
    if (!method) {
        method = env->GetStaticMethodID(mainType, "secondaryMain", "([Ljava/lang/String;)I");
        returnsInt = true;
    }
    jobjectArray array = method ? newArgumentArray(env, channel.arguments()) : nullptr;
    if (array) {
        if (returnsInt) {
            jint result = env->CallStaticIntMethod(mainType, method, array);
            // A method that throws has no result of its own; 1 tells the
            // second instance that the hand-over failed.
            channel.answer(env->ExceptionCheck() ? 1 : result);
        } else {
            channel.answer(0);
            env->CallStaticVoidMethod(mainType, method, array);
        }
    }
    if (env->ExceptionCheck()) env->ExceptionDescribe();
    if (array) env->DeleteLocalRef(array);
    env->DeleteLocalRef(mainType);
}

void serveHandOver(JavaVM* vm, JNIEnv* env, const WideString& mainClass, HandOverChannel& channel,
                   bool stayAttached) {
    callSecondaryMain(env, mainClass, channel);
    if (stayAttached) platform::sleepForever();
    vm->DetachCurrentThread();
}
