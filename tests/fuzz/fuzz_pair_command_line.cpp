// Command-line text -> commandLineRemainder: the paired program, started with
// its quoted path and that remainder, must split it into exactly the
// arguments this launcher split from its own command line.
#include "fuzz_support.h"
#include "instance/paired_product.h"
#include "launcher/command_line.h"

namespace {

List<WideString> argumentsOf(const WideString& commandLine) {
    List<WideString> arguments = splitCommandLine(trimWhiteSpace(commandLine));
    if (!arguments.empty()) arguments.erase(arguments.begin());
    return arguments;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    WideString line = fuzzText(data, size);
    WideString remainder = commandLineRemainder(line);
    // The remainder is a piece of the line, as typed.
    FUZZ_REQUIRE(line.find(remainder) != WideString::npos || remainder.empty());
    FUZZ_REQUIRE(remainder.empty() || remainder[0] != u' ');
    WideString paired = pairedCommandLine(u"C:\\Program Files\\App 64\\app64.exe", line);
    FUZZ_REQUIRE(argumentsOf(paired) == argumentsOf(line));
    return 0;
}
