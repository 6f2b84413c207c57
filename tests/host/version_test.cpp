// Runtime version numbers: parsing, ordering, range, preference, text.
#include "runtime/version.h"

#include "test_support.h"

namespace {

RuntimeVersion V(int32_t major, int32_t minor, int32_t micro, int32_t update, int32_t groups = 4) {
    return RuntimeVersion{major, minor, micro, update, groups};
}

std::string show(const RuntimeVersion& v) {
    return std::to_string(v.major) + "," + std::to_string(v.minor) + "," + std::to_string(v.micro) + "," +
           std::to_string(v.update) + " (" + std::to_string(v.groupCount) + " groups)";
}

const int32_t M = 65535;

TEST(VersionTest, ParseTakesUpToFourDigitGroups) {
    struct Case {
        const char* text;
        int32_t fill;
        bool ok;
        RuntimeVersion expected;
    } cases[] = {
        {"1.6.0_24", 0, true, V(1, 6, 0, 24, 4)},
        {"1.7", 0, true, V(1, 7, 0, 0, 2)},
        {"1.7", M, true, V(1, 7, M, M, 2)},
        {"1", M, true, V(1, M, M, M, 1)},
        {"0", M, true, V(0, M, M, M, 1)},
        {"jre1.6.0_24-b07", 0, true, V(1, 6, 0, 24, 5)},
        {"jre1.7", 0, true, V(1, 7, 0, 0, 2)},
        {"1..6", 0, true, V(1, 6, 0, 0, 2)},
        {"1._6", 0, true, V(1, 6, 0, 0, 2)},
        {" 10 - 20 x 30 ", M, true, V(10, 20, 30, M, 3)},
        {"007.08", 0, true, V(7, 8, 0, 0, 2)},
        {"1.2.3.4.5.6", 0, true, V(1, 2, 3, 4, 5)},
        // A fifth group is never read, however large.
        {"1.2.3.4.99999999999", 0, true, V(1, 2, 3, 4, 5)},
        {"2147483647", 0, true, V(2147483647, 0, 0, 0, 1)},
        {"1.2147483647.2147483640", 0, true, V(1, 2147483647, 2147483640, 0, 3)},
        // Values that do not fit a signed 32-bit number fail the whole parse.
        {"2147483648", 0, false, V(0, 0, 0, 0, 0)},
        {"2147483649", M, false, V(0, 0, 0, 0, 0)},
        {"2147483650", 0, false, V(0, 0, 0, 0, 0)},
        {"1.6.2147483648", M, false, V(0, 0, 0, 0, 0)},
        {"1.99999999999999999999", 0, false, V(0, 0, 0, 0, 0)},
        // Without digits: the zero version whatever the fill.
        {"any", M, false, V(0, 0, 0, 0, 0)},
        {"", M, false, V(0, 0, 0, 0, 0)},
        {"\xef\xbc\x91.\xef\xbc\x96", 0, false, V(0, 0, 0, 0, 0)},  // full-width digits are not digits
    };
    for (const Case& c : cases) {
        RuntimeVersion v = V(9, 9, 9, 9, 9);
        EXPECT_EQ(parseVersion(W(c.text), c.fill, v), c.ok) << c.text;
        EXPECT_EQ(show(v), show(c.expected)) << c.text << " fill " << c.fill;
        EXPECT_EQ(show(parseVersion(W(c.text), c.fill)), show(c.expected)) << c.text;
    }
}

TEST(VersionTest, CompareIsNumericAndIgnoresGroupCount) {
    struct Case {
        RuntimeVersion a, b;
        int result;
    } cases[] = {
        {V(1, 6, 0, 24), V(1, 6, 0, 3), 1},
        {V(1, 6, 0, 3), V(1, 6, 0, 24), -1},
        {V(1, 10, 0, 0), V(1, 9, 0, 0), 1},
        {V(2, 0, 0, 0), V(1, 99, 99, 99), 1},
        {V(1, 6, 1, 0), V(1, 6, 0, 99), 1},
        {V(1, 6, 0, 0, 2), V(1, 6, 0, 0, 4), 0},
        {V(-1, 0, 0, 0), V(0, 0, 0, 0), -1},
        {V(M, M, M, M), V(2147483647, 0, 0, 0), -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(compareVersions(c.a, c.b), c.result) << show(c.a) << " vs " << show(c.b);
        EXPECT_EQ(compareVersions(c.b, c.a), -c.result) << show(c.b) << " vs " << show(c.a);
        EXPECT_EQ(sameVersion(c.a, c.b), c.result == 0) << show(c.a) << " vs " << show(c.b);
    }
}

TEST(VersionTest, RangeIsInclusiveAndAZeroMaximumIsNoBound) {
    struct Case {
        const char* version;
        const char* minimum;  // parsed with fill 0
        const char* maximum;  // parsed with fill 65535
        bool inRange;
    } cases[] = {
        {"1.6.0_24", "1.6", "1.6", true},
        {"1.7", "1.6", "1.6", false},
        {"1.5.0_22", "1.6", "", false},
        {"99.0", "1.6", "", true},        // absent maximum
        {"99.0", "1.6", "any", true},     // unparsable maximum is no bound either
        {"1.6.0.24", "1.6.0.24", "1.6.0.24", true},
        {"1.6.0.25", "1.6.0.24", "1.6.0.24", false},
        {"1.6.0.23", "1.6.0.24", "1.6.0.24", false},
        {"1.10", "1.9", "1.9", false},
        {"1.9.0.5", "1.9", "1.9", true},
        {"1.10", "1.9", "", true},
        {"1.6", "", "1.6.0_10", true},
        {"0", "", "", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(inVersionRange(parseVersion(W(c.version), 0), parseVersion(W(c.minimum), 0),
                                 parseVersion(W(c.maximum), M)),
                  c.inRange)
            << c.version << " in [" << c.minimum << ", " << c.maximum << "]";
    }
    // A maximum of "any" admits every real version; a minimum of "any" is no lower bound.
    EXPECT_TRUE(inVersionRange(V(2147483647, 0, 0, 0), V(0, 0, 0, 0), V(2147483647, M, M, M)));
    EXPECT_TRUE(inVersionRange(V(1, 8, 0, 402), V(0, 0, 0, 0), V(M, M, M, M)));
    EXPECT_TRUE(inVersionRange(V(0, 0, 0, 0), V(0, 0, 0, 0), V(M, M, M, M)));
}

TEST(VersionTest, PreferredPatternsTreatTrailingZerosAsWildcards) {
    struct Case {
        const char* pattern;
        RuntimeVersion v;
        bool matches;
    } cases[] = {
        {"1.6", V(1, 6, 0, 24), true},
        {"1.6", V(1, 6, 1, 5), true},
        {"1.6", V(1, 7, 0, 0), false},
        {"1.6.0", V(1, 6, 1, 5), true},
        {"1.6.0.0", V(1, 6, 3, 0), true},
        {"1.6.0_24", V(1, 6, 0, 24), true},
        {"1.6.0_24", V(1, 6, 0, 25), false},
        {"1.6.0_24", V(1, 6, 1, 24), false},
        {"1.0", V(1, 9, 9, 9), true},
        {"1.0", V(2, 0, 0, 0), false},
        {"1.0.0.24", V(1, 0, 0, 24), true},
        {"1.0.0.24", V(1, 5, 0, 24), false},
        {"jdk1.7", V(1, 7, 0, 45), true},
        // Items that name no version match nothing, not even the zero version.
        {"", V(1, 6, 0, 0), false},
        {"", V(0, 0, 0, 0), false},
        {"latest", V(1, 8, 0, 0), false},
        {"0", V(1, 6, 0, 0), false},
        {"0.0.0.0", V(0, 0, 0, 0), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(matchesPreferred(parseVersion(W(c.pattern), 0), c.v), c.matches) << c.pattern << " vs " << show(c.v);
}

TEST(VersionTest, UnboundedMeansAllZeroOrAll65535) {
    EXPECT_TRUE(isUnbounded(V(0, 0, 0, 0, 0)));
    EXPECT_TRUE(isUnbounded(V(M, M, M, M)));
    EXPECT_FALSE(isUnbounded(V(0, 0, 0, 1)));
    EXPECT_FALSE(isUnbounded(V(M, M, M, 0)));
    EXPECT_FALSE(isUnbounded(V(1, M, M, M)));
}

TEST(VersionTest, TextPrintsUpToTheLastRealNumber) {
    struct Case {
        RuntimeVersion v;
        const char* text;
    } cases[] = {
        {V(1, 6, 0, 24), "1.6.0.24"},
        {V(1, 6, 0, 0), "1.6"},
        {V(1, 0, 0, 0), "1.0"},
        {V(1, 6, M, M), "1.6"},
        {V(1, 0, 5, 0), "1.0.5"},
        {V(0, 0, 0, 0), "0.0.0.0"},
        {V(M, M, M, M), "0.0.0.0"},
        {V(1, M, M, M), "1"},  // a bare major maximum
        {V(0, 0, 0, 7), "0.0.0.7"},
        {V(0, 5, 0, 0), "0.5"},
        {V(1, M, 5, M), "1.65535.5"},
        {V(-1, 2, 0, 0), "-1.2"},
        {V(2147483647, 0, 0, 0), "2147483647.0"},
    };
    for (const Case& c : cases) EXPECT_EQ(U(versionText(c.v)), c.text) << show(c.v);
    // The bounds as the settings produce them.
    EXPECT_EQ(U(versionText(parseVersion(W("1"), M))), "1");
    EXPECT_EQ(U(versionText(parseVersion(W("1"), 0))), "1.0");
    EXPECT_EQ(U(versionText(parseVersion(W("1.7"), M))), "1.7");
}

// Version texts of current runtimes (registry subkeys, "CurrentVersion",
// release files), read by the same lenient parser, and the bounds a
// settings file sets against them.
TEST(VersionTest, CurrentRuntimeVersionTexts) {
    struct Case {
        const char* text;
        RuntimeVersion expected;
    } cases[] = {
        {"17", V(17, 0, 0, 0, 1)},
        {"17.0.9", V(17, 0, 9, 0, 3)},
        {"17.0.9.9", V(17, 0, 9, 9, 4)},
        {"17.0.9+9", V(17, 0, 9, 9, 4)},
        {"21.0.1.12", V(21, 0, 1, 12, 4)},
        {"1.8.0_392", V(1, 8, 0, 392, 4)},
        {"zulu-17", V(17, 0, 0, 0, 1)},
        {"11.0.21+9-LTS", V(11, 0, 21, 9, 4)},
        {"17.0.9+9-b07", V(17, 0, 9, 9, 5)},
    };
    for (const Case& c : cases) {
        RuntimeVersion v;
        EXPECT_TRUE(parseVersion(W(c.text), 0, v)) << c.text;
        EXPECT_EQ(show(v), show(c.expected)) << c.text;
    }

    struct Bound {
        const char* minimum;
        const char* maximum;
        const char* version;
        bool admitted;
    } bounds[] = {
        {"1.8", "", "17", true},
        {"1.8", "", "1.8.0_392", true},
        {"1.8", "", "1.7.0_80", false},
        {"", "11", "11", true},
        {"", "11", "11.0.21+9", true},
        {"", "11", "11.99.99.99", true},
        {"", "11", "12", false},
        {"", "11", "17.0.9", false},
        {"11", "11", "11.0.2", true},
        {"11", "11", "1.8.0_392", false},
        {"17.0.9", "", "17.0.9+9", true},
        {"17.0.10", "", "17.0.9+9", false},
    };
    for (const Bound& b : bounds) {
        RuntimeVersion minimum = parseVersion(W(b.minimum), 0);
        RuntimeVersion maximum = parseVersion(W(b.maximum), M);
        EXPECT_EQ(inVersionRange(parseVersion(W(b.version), 0), minimum, maximum), b.admitted)
            << b.version << " in [" << b.minimum << ", " << b.maximum << "]";
    }
}

}  // namespace

namespace {

// The awareness the java command of a runtime gives its program: 9 and
// later scale per monitor, 8 and older are system aware; an unknown
// version is taken for a current one.
TEST(VersionTest, RuntimesThatScalePerMonitor) {
    struct Case {
        const char* version;
        bool perMonitor;
    } cases[] = {
        {"1.8.0_402", false}, {"1.7", false}, {"1.9", true}, {"9", true}, {"17.0.2", true}, {"25", true}, {"", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(scalesPerMonitor(parseVersion(W(c.version), 0)), c.perMonitor) << c.version;
}

}  // namespace
