// Splitting of the command line (and of the "Cmd" setting) into arguments.
#ifndef LAUNCHER_COMMAND_LINE_H
#define LAUNCHER_COMMAND_LINE_H

#include "support/wide_string.h"

class Launcher;

// Only the space separates; a double quote at the start of an argument runs
// to the next double quote; no escapes. The input is already trimmed.
List<WideString> splitCommandLine(const WideString& text);

// Removes blanks, tabs and line breaks from both ends.
WideString trimWhiteSpace(const WideString& text);

// The process command line, split, without the program name.
void readArguments(Launcher& launcher);

#endif
