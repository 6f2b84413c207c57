#include "vm/console_control.h"

#include "launcher/launcher.h"

bool exitJavaProgram(JavaVM* vm, int32_t code) {
    JNIEnv* env = nullptr;
    JavaVMAttachArgs attach;
    attach.version = JNI_VERSION_1_2;
    attach.name = const_cast<char*>("Console control");
    attach.group = nullptr;
    if (vm->AttachCurrentThread(reinterpret_cast<void**>(&env), &attach) != 0 || !env) return false;
    jclass system = env->FindClass("java/lang/System");
    jmethodID exitMethod = system ? env->GetStaticMethodID(system, "exit", "(I)V") : nullptr;
    // The virtual machine's exit ends the process: nothing after this runs
    // unless the call failed.
    if (exitMethod) env->CallStaticVoidMethod(system, exitMethod, static_cast<jint>(code));
    if (env->ExceptionCheck()) env->ExceptionDescribe();
    if (system) env->DeleteLocalRef(system);
    vm->DetachCurrentThread();
    return false;
}

bool endJavaProgram(int32_t code) {
    Launcher* launcher = currentLauncher();
    // Before the virtual machine exists there is nothing to shut down.
    if (!launcher || !launcher->javaVM) return false;
    return exitJavaProgram(launcher->javaVM, code);
}
