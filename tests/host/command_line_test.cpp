// Splitting of the command line and of the "Cmd" setting into arguments.
#include "launcher/command_line.h"

#include "launcher/launcher.h"
#include "test_support.h"

namespace {

typedef std::vector<std::string> Strings;

class CommandLineTest : public PlatformTest {};

TEST_F(CommandLineTest, SplitterRules) {
    struct Case {
        const char* line;
        Strings arguments;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"\"C:\\Program Files\\App\\app.exe\" a \"b c\" d", {"C:\\Program Files\\App\\app.exe", "a", "b c", "d"}},
        {"a  b     c", {"a", "b", "c"}},
        // An empty pair of quotes is an empty argument, also at the end.
        {"\"\"", {""}},
        {"a \"\" b", {"a", "", "b"}},
        {"a \"\"", {"a", ""}},
        {"\"\"\"\"", {"", ""}},
        // A quoted part followed directly by more text gives two arguments.
        {"\"ab\"cd", {"ab", "cd"}},
        {"\"ab\"\"cd\"", {"ab", "cd"}},
        {"\"ab\"   \"c d\"  e", {"ab", "c d", "e"}},
        // An unterminated quote: the rest of the line, without the quote.
        {"a \"b c  d", {"a", "b c  d"}},
        {"\"", {""}},
        {"a \"", {"a", ""}},
        // Only the space separates; tabs are ordinary characters.
        {"a\tb c", {"a\tb", "c"}},
        // A quote inside an unquoted argument is an ordinary character.
        {"a\"b c\"d", {"a\"b", "c\"d"}},
        // No escaping: the backslash before a quote does not protect it.
        {"\"a\\\" b", {"a\\", "b"}},
        {"C:\\dir\\ x", {"C:\\dir\\", "x"}},
        {"-nosplash /nosplash", {"-nosplash", "/nosplash"}},
        {"\xd0\xb4\xd0\xbe\xd0\xba \"\xe6\x96\x87 \xe4\xbb\xb6\"", {"\xd0\xb4\xd0\xbe\xd0\xba", "\xe6\x96\x87 \xe4\xbb\xb6"}},
    };
    for (const Case& c : cases) EXPECT_EQ(U(splitCommandLine(W(c.line))), c.arguments) << "line: " << c.line;
}

TEST_F(CommandLineTest, TrimRemovesWhiteSpaceAtBothEndsOnly) {
    struct Case {
        const char* text;
        const char* trimmed;
    } cases[] = {
        {"", ""},
        {" \t\r\n", ""},
        {"  a b  ", "a b"},
        {"\ta\tb\r\n", "a\tb"},
        {"x", "x"},
    };
    for (const Case& c : cases) EXPECT_EQ(U(trimWhiteSpace(W(c.text))), c.trimmed) << c.text;
}

TEST_F(CommandLineTest, ArgumentsDropTheProgramNameAfterTrimming) {
    struct Case {
        const char* commandLine;
        Strings arguments;
    } cases[] = {
        {"", {}},
        {"   ", {}},
        {"app.exe", {}},
        {"\"C:\\Program Files\\App\\app.exe\"", {}},
        {" \t \"C:\\Program Files\\App\\app.exe\"  -nosplash  \"my file.txt\" \t\r\n", {"-nosplash", "my file.txt"}},
        // Leading white space must not turn into an empty program name.
        {"  app.exe a", {"a"}},
        {"app.exe \"\" b", {"", "b"}},
    };
    for (const Case& c : cases) {
        platform::host::setCommandLine(W(c.commandLine));
        Launcher launcher;
        launcher.arguments.push_back(W("stale"));
        readArguments(launcher);
        EXPECT_EQ(U(launcher.arguments), c.arguments) << "command line: " << c.commandLine;
    }
}

}  // namespace
