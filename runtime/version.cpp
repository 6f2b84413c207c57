#include "runtime/version.h"

static int32_t* numbers(RuntimeVersion& v, int index) {
    switch (index) {
        case 0: return &v.major;
        case 1: return &v.minor;
        case 2: return &v.micro;
        default: return &v.update;
    }
}

static int32_t number(const RuntimeVersion& v, int index) {
    return *numbers(const_cast<RuntimeVersion&>(v), index);
}

static bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

static size_t nextDigit(const WideString& text, size_t from) {
    while (from < text.size() && !isDigit(text[from])) ++from;
    return from;
}

bool parseVersion(const WideString& text, int32_t fill, RuntimeVersion& version) {
    version = RuntimeVersion();
    size_t at = nextDigit(text, 0);
    if (at >= text.size()) return false;
    int k = 0;
    for (;;) {
        // Accumulate in 64 bits so a group beyond the signed 32-bit range is
        // caught whatever its last digit is.
        int64_t value = 0;
        while (at < text.size() && isDigit(text[at])) {
            value = value * 10 + (text[at] - u'0');
            if (value > INT32_MAX) {
                version = RuntimeVersion();
                return false;
            }
            ++at;
        }
        *numbers(version, k) = static_cast<int32_t>(value);
        at = nextDigit(text, at);
        if (at >= text.size()) break;
        if (++k == 4) break;
    }
    version.groupCount = k + 1;
    for (int i = version.groupCount; i < 4; ++i) *numbers(version, i) = fill;
    return true;
}

RuntimeVersion parseVersion(const WideString& text, int32_t fill) {
    RuntimeVersion version;
    parseVersion(text, fill, version);
    return version;
}

int compareVersions(const RuntimeVersion& a, const RuntimeVersion& b) {
    for (int i = 0; i < 4; ++i) {
        if (number(a, i) < number(b, i)) return -1;
        if (number(a, i) > number(b, i)) return 1;
    }
    return 0;
}

bool sameVersion(const RuntimeVersion& a, const RuntimeVersion& b) { return compareVersions(a, b) == 0; }

static bool allEqualTo(const RuntimeVersion& v, int32_t value) {
    return v.major == value && v.minor == value && v.micro == value && v.update == value;
}

bool inVersionRange(const RuntimeVersion& v, const RuntimeVersion& minimum, const RuntimeVersion& maximum) {
    if (compareVersions(v, minimum) < 0) return false;
    return allEqualTo(maximum, 0) || compareVersions(v, maximum) <= 0;
}

bool matchesPreferred(const RuntimeVersion& pattern, const RuntimeVersion& v) {
    // An empty or all-zero item names no version at all.
    if (allEqualTo(pattern, 0)) return false;
    if (sameVersion(pattern, v)) return true;
    int significant = 4;
    while (significant > 0 && number(pattern, significant - 1) == 0) --significant;
    for (int i = 0; i < significant; ++i)
        if (number(pattern, i) != number(v, i)) return false;
    return true;
}

bool isUnbounded(const RuntimeVersion& v) { return allEqualTo(v, 0) || allEqualTo(v, 65535); }

RuntimeVersion oldVersionForm(const RuntimeVersion& v) {
    if (v.major < 2 || v.major > 8) return v;
    int32_t groups = v.groupCount < 5 ? v.groupCount + 1 : 5;
    return RuntimeVersion{1, v.major, v.minor, v.micro, groups};
}

WideString versionText(const RuntimeVersion& v) {
    int last = -1;
    for (int i = 3; i >= 0; --i) {
        int32_t n = number(v, i);
        if (n != 0 && n != 65535) {
            last = i;
            break;
        }
    }
    if (last < 0) return WideString(u"0.0.0.0");
    // A bare major bound (minor 65535, as "Maximum Version" = 1 reads) prints
    // as the major alone; otherwise at least two numbers are printed.
    if (last == 0 && v.minor != 65535) last = 1;
    WideString text = decimal(v.major);
    for (int i = 1; i <= last; ++i) text += u"." + decimal(number(v, i));
    return text;
}

bool scalesPerMonitor(const RuntimeVersion& version) {
    if (version.major == 0) return true;
    if (version.major == 1) return version.minor > 8;
    return version.major > 8;
}
