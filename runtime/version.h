// Runtime version numbers: lenient parsing, ordering, range and preference
// matching, and the dotted text shown in messages.
#ifndef RUNTIME_VERSION_H
#define RUNTIME_VERSION_H

#include <stdint.h>

#include "support/wide_string.h"

struct RuntimeVersion {
    int32_t major = 0;
    int32_t minor = 0;
    int32_t micro = 0;
    int32_t update = 0;
    // How many digit groups the parsed text held: 0 (none, or failed), 1 to 4,
    // or 5 for more than four. Nothing decides on it.
    int32_t groupCount = 0;
};

// Whether the runtime's windows scale per monitor, as the java command of
// that runtime declares (9 and later, and an unknown version); Java 8 and
// older are system aware.
bool scalesPerMonitor(const RuntimeVersion& version);

// Parses the first four digit groups of text; numbers the text does not
// supply get fill. A text without digits, or with a group too large for a
// 32-bit signed number, gives the zero version and false.
bool parseVersion(const WideString& text, int32_t fill, RuntimeVersion& version);
RuntimeVersion parseVersion(const WideString& text, int32_t fill);

int compareVersions(const RuntimeVersion& a, const RuntimeVersion& b);
bool sameVersion(const RuntimeVersion& a, const RuntimeVersion& b);
// Inclusive range; an all-zero maximum sets no upper bound.
bool inVersionRange(const RuntimeVersion& v, const RuntimeVersion& minimum, const RuntimeVersion& maximum);
// Trailing zeros of the pattern are wildcards; an all-zero pattern matches nothing.
bool matchesPreferred(const RuntimeVersion& pattern, const RuntimeVersion& v);
// All four numbers 0, or all four 65535.
bool isUnbounded(const RuntimeVersion& v);
// The current vendors name Java 2 to 8 by their second number alone
// (8.0.392.8): the same version in the 1.x form that bounds and preferred
// versions use (1.8.0.392). Other versions are returned as they are.
RuntimeVersion oldVersionForm(const RuntimeVersion& v);
WideString versionText(const RuntimeVersion& v);

#endif
