#include "launcher/command_line.h"

#include "launcher/launcher.h"
#include "support/platform.h"

static size_t skipSpaces(const WideString& text, size_t at) {
    while (at < text.size() && text[at] == u' ') ++at;
    return at;
}

List<WideString> splitCommandLine(const WideString& text) {
    List<WideString> arguments;
    size_t at = 0;
    while (at < text.size()) {
        size_t end;
        if (text[at] == u'"') {
            size_t close = text.find(u'"', at + 1);
            if (close == WideString::npos) {
                arguments.push_back(text.substr(at + 1));
                break;
            }
            arguments.push_back(text.substr(at + 1, close - at - 1));
            end = close + 1;
        } else {
            size_t space = text.find(u' ', at);
            if (space == WideString::npos) {
                arguments.push_back(text.substr(at));
                break;
            }
            arguments.push_back(text.substr(at, space - at));
            end = space;
        }
        at = skipSpaces(text, end);
    }
    return arguments;
}

static bool isWhiteSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

WideString trimWhiteSpace(const WideString& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && isWhiteSpace(text[begin])) ++begin;
    while (end > begin && isWhiteSpace(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

void readArguments(Launcher& launcher) {
    List<WideString> arguments;
    if (platform::argumentVector(arguments)) {
        for (const WideString& argument : arguments) launcher.arguments.push_back(argument);
        return;
    }
    arguments = splitCommandLine(trimWhiteSpace(platform::commandLine()));
    if (!arguments.empty()) arguments.erase(arguments.begin());
    launcher.arguments = arguments;
}
