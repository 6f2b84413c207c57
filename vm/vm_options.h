// Everything the virtual machine is started with: class path, options,
// memory shares, the thread's stack size, output files and extra arguments.
#ifndef VM_VM_OPTIONS_H
#define VM_VM_OPTIONS_H

#include <stdint.h>

#include "support/wide_string.h"

class Launcher;

// The memory bases of the "P" (physical) and "T" (free address space) shares.
struct MemoryBases {
    uint64_t physicalBytes = 0;
    uint64_t availableVirtualBytes = 0;
};

// Splits "Virtual Machine Parameters" into options (quoted stretches keep blanks).
List<WideString> splitVmParameters(const WideString& value);
// Removes quote pairs; a doubled closing quote leaves one literal quote.
WideString removeQuotes(const WideString& option);
// -Xms/-Xmx/-Xss given as a share of memory: ends in "P", "p", "T" or "t".
bool isMemoryShare(const WideString& option);
// Rewrites -Xms/-Xmx/-Xss options given as a share of memory ("P"/"T").
WideString applyMemoryShare(const WideString& option, const MemoryBases& bases);
// Byte count of a -Xss option's size, or 0 when it cannot be read or does not fit.
uint32_t stackSizeOf(const WideString& option);

// What the java command does with options written as two words, or that it
// takes itself: "--add-opens x" becomes "--add-opens=x" (and "-p x"
// "--module-path=x"), "-server" and "-client" are dropped. False, naming
// the option in offending, for one that lacks its value (missingValue) or
// that belongs in "Class Path" or "Main Class" (the class path, -jar, -m).
bool javaCommandOptions(const List<WideString>& options, List<WideString>& result, WideString& offending,
                        bool& missingValue);
// The same for the lines of an options file: what would break the
// launcher's own contract (those refused above, "-Djava.class.path=") or
// lacks its value is left out with a trace line naming the file.
List<WideString> optionsFileOptions(const List<WideString>& lines, const WideString& file);
// Whether the java command takes this option's value as the next word.
bool optionTakesNextWord(const WideString& option);

// "-Dsun.java.command=<main class> <arguments>", as the java command sets
// it (tools name the process by it); empty when an option sets it already.
WideString javaCommandProperty(const WideString& mainClass, const List<WideString>& arguments,
                               const List<WideString>& options);

// Builds the class path, option list, stack size, output files and extra
// arguments; false (after message 209 where it applies) ends the launch.
bool buildVmOptions(Launcher& launcher);

#endif
