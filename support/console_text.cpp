#include "support/console_text.h"

WideString consoleLines(const WideString& text) {
    WideString lines;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t unit = text[i];
        if (unit == u'\n') {
            // A "\r\n" already in the text stays as it is.
            if (i == 0 || text[i - 1] != u'\r') lines += u'\r';
            lines += u'\n';
        } else if (unit == u'\r') {
            // A lone carriage return becomes a full line break.
            lines += u'\r';
            if (i + 1 >= text.size() || text[i + 1] != u'\n') lines += u'\n';
        } else {
            lines += unit;
        }
    }
    if (!lines.endsWith(u'\n')) lines += u"\r\n";
    return lines;
}

int32_t consoleEventExitCode(uint32_t event) {
    if (event == kConsoleLogoff) return 0;
    return event == kConsoleCtrlC || event == kConsoleCtrlBreak ? 130 : 143;
}
