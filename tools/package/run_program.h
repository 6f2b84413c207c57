// Running the build machine's tools (jdeps, jlink, dpkg-deb, wixl).
#ifndef TOOLS_PACKAGE_RUN_PROGRAM_H
#define TOOLS_PACKAGE_RUN_PROGRAM_H

#include <string>
#include <vector>

// The program's full path when it is on PATH (or given with a folder and
// exists), else empty.
std::string findProgram(const std::string& name);

// Runs arguments[0] with the others, its standard output collected in
// output when given, with its standard error too when errorsToo (else
// standard error passes through); the exit code, or -1 when it could not
// be started.
int runProgram(const std::vector<std::string>& arguments, std::string* output, bool errorsToo = false);

#endif
