// The JNI side of one hand-over in the first instance: a worker thread,
// attached to the running virtual machine, passes a second instance's
// arguments to the main class's static secondaryMain and answers.
#ifndef INSTANCE_HAND_OVER_H
#define INSTANCE_HAND_OVER_H

#include <stdint.h>

#include <jni.h>

#include "support/wide_string.h"

// Where a hand-over gets its arguments and sends its answer.
class HandOverChannel {
public:
    // The second instance's arguments, read when the method is known.
    virtual List<WideString> arguments() = 0;
    // The later launch's working directory (empty when it did not travel).
    virtual WideString workingDirectory() = 0;
    virtual void answer(int32_t value) = 0;
    // The main class has no secondaryMain: the arguments are dropped.
    virtual void unserved() {}

protected:
    ~HandOverChannel() = default;
};

// The main class, looked up exactly as the virtual-machine thread does:
// FindClass with the modified UTF-8 form of the slash-form name. Null when
// not found (a pending exception has then been described).
jclass findMainClass(JNIEnv* env, const WideString& mainClass);

// Whether the class has a secondaryMain that a hand-over can call; nothing
// is left pending.
bool hasSecondaryMain(JNIEnv* env, jclass mainType);

// On an attached thread: finds secondaryMain(String[], String) (the later
// launch's working directory second), void form first, then the int form,
// then the same forms of secondaryMain(String[]); calls it and answers. The void form
// answers 0 before the call; the int form answers its result, or 1 when it
// throws. Nothing found: no answer. A pending exception is described.
void callSecondaryMain(JNIEnv* env, const WideString& mainClass, HandOverChannel& channel);

// Whether the program is still running rather than shutting down (its
// shutdown hooks running): a hand-over taken then would never be answered.
bool programRunning(JNIEnv* env);

// callSecondaryMain, then the detach; a thread of a runtime that must not
// detach stays attached and sleeps for good instead.
void serveHandOver(JavaVM* vm, JNIEnv* env, const WideString& mainClass, HandOverChannel& channel,
                   bool stayAttached);

#endif
