// The runtime's own splash library ("splashscreen.dll" in its bin folder).
#ifndef SPLASH_RUNTIME_SPLASH_H
#define SPLASH_RUNTIME_SPLASH_H

#include "support/wide_string.h"

class Launcher;

// The runtime's splash library beside the bin folder of jvmLibraryPath
// (home\bin\client\jvm.dll gives home\bin\splashscreen.dll) when that file
// exists; otherwise empty.
WideString findRuntimeSplashLibrary(const WideString& jvmLibraryPath);

// The image path as the library's 8-bit argument: the ANSI form when it is
// exact, else the short (8.3) form when that is exact. False when neither
// exists.
bool runtimeSplashImageName(const WideString& imagePath, NarrowString& name);

// Hands the image to the library: SplashInit, SplashLoadFile, then
// SplashSetFileJarName. True when the library took it; runtimeSplashClose is
// then its SplashClose (or null). False, with runtimeSplashClose left null,
// when the launcher's own window is to show the image instead.
bool startRuntimeSplash(Launcher& launcher, const WideString& libraryPath, const WideString& imagePath);

// Takes the library's splash down (SplashClose) when it holds one; a second
// call does nothing.
void closeRuntimeSplash(Launcher& launcher);

#endif
