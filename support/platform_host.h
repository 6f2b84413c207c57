// Controls of the host build's platform services, for the tests: a fake
// registry, the captured message boxes, and settable process facts. File
// paths are Windows-style: "Z:\tmp\x" stands for /tmp/x, "\" for "/".
#ifndef SUPPORT_PLATFORM_HOST_H
#define SUPPORT_PLATFORM_HOST_H

#include <stdint.h>

#include <string>

#include "support/wide_string.h"

namespace platform {
namespace host {

// Windows-style path <-> host path.
std::string hostPath(const WideString& path);
WideString windowsPath(const std::string& hostPath);

void reset();  // everything below back to its default
void setModulePath(const WideString& path);  // default: this test program
void failModulePath(uint32_t errorCode);
void setCommandLine(const WideString& line);
void setLastError(uint32_t code);
void setNtFamily(bool nt);
void setMemory(uint64_t physicalBytes, uint64_t availableVirtualBytes);
void setBuiltInSettings(const NarrowString& bytes);  // empty: none
void clearEnvironment();
void setEnvironment(const WideString& name, const WideString& value);
WideString environment(const WideString& name);
WideString currentDirectory();
// The ANSI code page's repertoire: units above `highest` have no counterpart
// (default: every unit converts). Short (8.3) forms of paths (default: none).
void setAnsiHighest(char16_t highest);
void setShortPath(const WideString& path, const WideString& shortForm);

// The fake HKEY_LOCAL_MACHINE: keys in insertion order, per view.
void addRegistryKey(bool otherView, const WideString& path);
void setRegistryValue(bool otherView, const WideString& path, const WideString& name, const WideString& data);
// Keys opened during the search, as "view:path".
const List<WideString>& openedRegistryKeys();

// Texts of the message boxes shown, oldest first.
List<WideString>& shownMessages();

// The uncaught-exception dialog: the answer it gives (default 1, Ignore) and
// the trace texts it was shown, oldest first.
void setExceptionDialogResult(int result);
const List<WideString>& shownExceptionTraces();

// The executable's flavour (default: windowed). In the console flavour the
// error reports gather here, as written on the standard error.
void setConsoleFlavour(bool console);
const WideString& standardError();
// A console control event with its exit code, as the console flavour's
// handler passes it on: false when no handler is installed, else handled
// tells whether the handler took the event.
bool raiseConsoleControl(int32_t code, bool& handled);

}  // namespace host
}  // namespace platform

#endif
