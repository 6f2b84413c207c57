// A runtime splash library for the host tests: its entry points append
// "Name(arguments)" to a list that the test reads through standinCalls().
// Built twice: whole, and without SplashInit (STANDIN_WITHOUT_INIT).
#include <string>

static std::string calls;

extern "C" {

const char* standinCalls() { return calls.c_str(); }

#ifndef STANDIN_WITHOUT_INIT
void SplashInit() { calls += "SplashInit();"; }
#endif

void SplashLoadFile(const char* file) { calls += std::string("SplashLoadFile(") + file + ");"; }

void SplashSetFileJarName(const char* file, const char* jar) {
    calls += std::string("SplashSetFileJarName(") + file + "," + (jar ? jar : "null") + ");";
}

void SplashClose() { calls += "SplashClose();"; }
}
