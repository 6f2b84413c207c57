// Command-line text -> trimWhiteSpace -> splitCommandLine, then the
// properties the launcher's argument handling relies on.
#include "fuzz_support.h"
#include "launcher/command_line.h"

namespace {

bool isWhiteSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

// The trimmed text is the input minus white space at both ends, nothing else.
void checkTrim(const WideString& raw, const WideString& text) {
    FUZZ_REQUIRE(text.size() <= raw.size());
    if (text.empty()) {
        for (size_t i = 0; i < raw.size(); ++i) FUZZ_REQUIRE(isWhiteSpace(raw[i]));
        return;
    }
    FUZZ_REQUIRE(!isWhiteSpace(text[0]) && !isWhiteSpace(text.last()));
    size_t begin = 0;
    while (isWhiteSpace(raw[begin])) ++begin;
    FUZZ_REQUIRE(raw.substr(begin, text.size()) == text);
    for (size_t i = begin + text.size(); i < raw.size(); ++i) FUZZ_REQUIRE(isWhiteSpace(raw[i]));
    FUZZ_REQUIRE(trimWhiteSpace(text) == text);
}

// The arguments, in order, account for the whole text: each is either a
// stretch without spaces, or the inside of a quoted stretch (whose closing
// quote only the last argument may lack), and only spaces lie between them.
void checkArgumentsCoverText(const WideString& text, const List<WideString>& arguments) {
    FUZZ_REQUIRE(arguments.empty() == text.empty());
    size_t total = 0;
    for (const WideString& a : arguments) total += a.size();
    FUZZ_REQUIRE(total <= text.size());

    size_t at = 0;
    for (size_t k = 0; k < arguments.size(); ++k) {
        const WideString& a = arguments[k];
        FUZZ_REQUIRE(at < text.size());
        FUZZ_REQUIRE(text[at] != u' ');
        if (text[at] == u'"') {
            FUZZ_REQUIRE(!fuzzContains(a, u'"'));
            FUZZ_REQUIRE(at + 1 + a.size() <= text.size());
            FUZZ_REQUIRE(text.substr(at + 1, a.size()) == a);
            at += 1 + a.size();
            if (at == text.size()) {
                FUZZ_REQUIRE(k + 1 == arguments.size());
                break;
            }
            FUZZ_REQUIRE(text[at] == u'"');
            ++at;
        } else {
            FUZZ_REQUIRE(!a.empty());
            FUZZ_REQUIRE(!fuzzContains(a, u' '));
            FUZZ_REQUIRE(at + a.size() <= text.size());
            FUZZ_REQUIRE(text.substr(at, a.size()) == a);
            at += a.size();
            FUZZ_REQUIRE(at == text.size() || text[at] == u' ');
        }
        while (at < text.size() && text[at] == u' ') ++at;
    }
    FUZZ_REQUIRE(at == text.size());
}

bool sameList(const List<WideString>& a, const List<WideString>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) return false;
    return true;
}

// Arguments written back in the syntax split again to the same list: quoted
// when none holds a quote, and bare when none needs quoting.
void checkRejoin(const List<WideString>& arguments) {
    bool quotable = true;
    bool bare = true;
    for (const WideString& a : arguments) {
        if (fuzzContains(a, u'"')) quotable = false;
        if (a.empty() || a[0] == u'"' || fuzzContains(a, u' ')) bare = false;
    }
    if (quotable) {
        WideString joined;
        for (size_t i = 0; i < arguments.size(); ++i) joined += (i ? u" \"" : u"\"") + arguments[i] + u"\"";
        FUZZ_REQUIRE(sameList(splitCommandLine(trimWhiteSpace(joined)), arguments));
    }
    if (bare) {
        WideString joined;
        for (size_t i = 0; i < arguments.size(); ++i) joined += (i ? u" " : u"") + arguments[i];
        // Bare arguments may start or end in other white space, which
        // trimming would take off the joined line.
        if (trimWhiteSpace(joined) == joined) FUZZ_REQUIRE(sameList(splitCommandLine(joined), arguments));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    WideString raw = fuzzText(data, size);
    WideString text = trimWhiteSpace(raw);
    checkTrim(raw, text);
    List<WideString> arguments = splitCommandLine(text);
    checkArgumentsCoverText(text, arguments);
    checkRejoin(arguments);
    return 0;
}
