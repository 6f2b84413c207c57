// Version text -> parseVersion (fill 0 and 65535), then the ordering,
// matching and printing built on the result. The input holds two texts
// separated by the first NUL byte, so comparisons see two fuzzed versions.
#include <string.h>

#include "fuzz_support.h"
#include "runtime/version.h"

namespace {

const int32_t kFills[] = {0, 65535};

int32_t number(const RuntimeVersion& v, int i) {
    return i == 0 ? v.major : i == 1 ? v.minor : i == 2 ? v.micro : v.update;
}

bool isZero(const RuntimeVersion& v) { return v.major == 0 && v.minor == 0 && v.micro == 0 && v.update == 0; }

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// What the text says, worked out from its digit runs: how many there are
// (5 standing for more than four), the first four as numbers, and whether one
// of those does not fit a signed 32-bit number.
struct DigitGroups {
    int count = 0;
    int64_t values[4] = {0, 0, 0, 0};
    bool tooLarge = false;
};

DigitGroups digitGroups(const WideString& text) {
    DigitGroups groups;
    size_t i = 0;
    while (i < text.size() && groups.count < 5) {
        if (!isDigit(text[i])) {
            ++i;
            continue;
        }
        size_t start = i;
        while (i < text.size() && isDigit(text[i])) ++i;
        if (groups.count < 4) {
            size_t first = start;
            while (first + 1 < i && text[first] == u'0') ++first;
            if (i - first > 10) {
                groups.tooLarge = true;
            } else {
                int64_t value = 0;
                for (size_t k = first; k < i; ++k) value = value * 10 + (text[k] - u'0');
                if (value > 2147483647) groups.tooLarge = true;
                groups.values[groups.count] = value;
            }
        }
        ++groups.count;
    }
    return groups;
}

void checkParse(const WideString& text, int32_t fill, const RuntimeVersion& v, bool ok) {
    DigitGroups groups = digitGroups(text);
    FUZZ_REQUIRE(ok == (groups.count > 0 && !groups.tooLarge));
    if (!ok) {
        FUZZ_REQUIRE(isZero(v) && v.groupCount == 0);
        return;
    }
    FUZZ_REQUIRE(v.groupCount >= 1 && v.groupCount <= 5);
    FUZZ_REQUIRE(v.groupCount == groups.count);
    for (int i = 0; i < 4; ++i) {
        FUZZ_REQUIRE(number(v, i) >= 0);
        FUZZ_REQUIRE(number(v, i) == (i < groups.count ? groups.values[i] : fill));
    }
}

// versionText prints the leading numbers up to the last that is neither 0
// nor 65535 (at least two of them), or "0.0.0.0" when there is none; it
// must read back as those same numbers.
void checkText(const RuntimeVersion& v) {
    WideString text = versionText(v);
    FUZZ_REQUIRE(!text.empty());
    bool allBounds = true;
    for (int i = 0; i < 4; ++i)
        if (number(v, i) != 0 && number(v, i) != 65535) allBounds = false;
    FUZZ_REQUIRE((text == WideString(u"0.0.0.0")) == allBounds);
    if (allBounds) return;

    RuntimeVersion back;
    FUZZ_REQUIRE(parseVersion(text, 0, back));
    FUZZ_REQUIRE(back.groupCount >= 1 && back.groupCount <= 4);
    FUZZ_REQUIRE(back.groupCount >= 2 || v.minor == 65535);
    for (int i = 0; i < 4; ++i) {
        if (i < back.groupCount) {
            FUZZ_REQUIRE(number(back, i) == number(v, i));
        } else {
            FUZZ_REQUIRE(number(v, i) == 0 || number(v, i) == 65535);
        }
    }
}

void checkOrder(const RuntimeVersion* versions, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const RuntimeVersion& a = versions[i];
        FUZZ_REQUIRE(compareVersions(a, a) == 0 && sameVersion(a, a));
        for (size_t j = 0; j < count; ++j) {
            const RuntimeVersion& b = versions[j];
            int ab = compareVersions(a, b);
            FUZZ_REQUIRE(ab >= -1 && ab <= 1);
            FUZZ_REQUIRE(ab == -compareVersions(b, a));
            FUZZ_REQUIRE(sameVersion(a, b) == (ab == 0));
            bool equalNumbers = true;
            for (int n = 0; n < 4; ++n) equalNumbers = equalNumbers && number(a, n) == number(b, n);
            FUZZ_REQUIRE(equalNumbers == (ab == 0));
            for (size_t k = 0; k < count; ++k) {
                const RuntimeVersion& c = versions[k];
                if (ab <= 0 && compareVersions(b, c) <= 0) FUZZ_REQUIRE(compareVersions(a, c) <= 0);
            }
            // An all-zero maximum is no bound; otherwise the range is inclusive.
            RuntimeVersion none;
            FUZZ_REQUIRE(inVersionRange(a, b, none) == (ab >= 0));
            if (!isZero(b)) FUZZ_REQUIRE(inVersionRange(a, a, b) == (ab <= 0));
            // A pattern without wildcards matches its own version only.
            if (number(a, 0) && number(a, 1) && number(a, 2) && number(a, 3))
                FUZZ_REQUIRE(matchesPreferred(a, b) == (ab == 0));
            // A match agrees on the pattern's first number at least.
            if (matchesPreferred(a, b)) FUZZ_REQUIRE(a.major == b.major);
        }
        FUZZ_REQUIRE(matchesPreferred(a, a) == !isZero(a));
        FUZZ_REQUIRE(!matchesPreferred(RuntimeVersion(), a));
        FUZZ_REQUIRE(isUnbounded(a) == (isZero(a) || (a.major == 65535 && a.minor == 65535 &&
                                                       a.micro == 65535 && a.update == 65535)));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* nul = static_cast<const uint8_t*>(memchr(data, 0, size));
    size_t firstSize = nul ? static_cast<size_t>(nul - data) : size;
    WideString texts[2] = {fuzzText(data, firstSize),
                           nul ? fuzzText(nul + 1, size - firstSize - 1) : WideString()};

    RuntimeVersion versions[4];
    size_t count = 0;
    for (const WideString& text : texts) {
        for (int32_t fill : kFills) {
            RuntimeVersion v;
            bool ok = parseVersion(text, fill, v);
            checkParse(text, fill, v, ok);
            RuntimeVersion plain = parseVersion(text, fill);
            FUZZ_REQUIRE(sameVersion(plain, v) && plain.groupCount == v.groupCount);
            checkText(v);
            versions[count++] = v;
        }
        // The fill only decides the numbers the text leaves out.
        const RuntimeVersion& low = versions[count - 2];
        const RuntimeVersion& high = versions[count - 1];
        FUZZ_REQUIRE(compareVersions(low, high) == ((low.groupCount >= 1 && low.groupCount < 4) ? -1 : 0));
    }
    checkOrder(versions, count);
    return 0;
}
