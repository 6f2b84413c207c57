#include "support/messages.h"

#include "support/platform.h"

static MessageArgument textArgument(const WideString& text) {
    MessageArgument argument;
    argument.text = text;
    return argument;
}

static MessageArgument numberArgument(int32_t number) {
    MessageArgument argument;
    argument.isNumber = true;
    argument.number = number;
    return argument;
}

LaunchError LaunchError::plain(MessageId id) { return LaunchError{id, {}, {}}; }

// The failure's detail: the system's own words where it has them (then the
// message says them in place of a number), else its error code.
static MessageArgument failureDetail() {
    int32_t code = static_cast<int32_t>(platform::lastError());
    WideString words = platform::lastErrorText();
    return words.empty() ? numberArgument(code) : textArgument(words);
}

LaunchError LaunchError::system(MessageId description) {
    MessageArgument detail = failureDetail();
    return LaunchError{MsgWindowsException, {textArgument(platform::messageText(description)), detail}, {}};
}

LaunchError LaunchError::library(const WideString& path) {
    MessageArgument detail = failureDetail();
    return LaunchError{MsgVmLibraryNotLoaded, {textArgument(path), detail}, {}};
}

int creationReasonId(int32_t result) {
    if (result <= -1 && result >= -6) return MsgReasonUnknown + (-1 - result);
    return 0;
}

LaunchError LaunchError::vmCreation(int32_t result) {
    int reason = creationReasonId(result);
    WideString reasonText = reason ? platform::messageText(static_cast<MessageId>(reason)) : WideString();
    return LaunchError{MsgJniException,
                       {textArgument(platform::messageText(MsgVmNotCreated)), textArgument(reasonText)}, {}};
}

LaunchError LaunchError::named(MessageId id, const WideString& name) {
    return LaunchError{id, {textArgument(name)}, {}};
}

LaunchError LaunchError::withDetail(const WideString& words) const {
    LaunchError error = *this;
    error.detail = words;
    return error;
}

WideString formatMessage(const WideString& format, const List<MessageArgument>& arguments) {
    WideString result;
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        char16_t c = format[i];
        if (c != u'%' || i + 1 >= format.size()) {
            result += c;
            continue;
        }
        char16_t kind = format[i + 1];
        if (kind == u'%') {
            result += u'%';
            ++i;
        } else if (kind == u's' || kind == u'd') {
            if (next < arguments.size()) {
                const MessageArgument& argument = arguments[next];
                if (kind == u'd')
                    result += decimal(argument.isNumber ? argument.number : 0);
                else if (!argument.isNumber)
                    result += argument.text;
                else
                    result += decimal(argument.number);
            }
            ++next;
            ++i;
        } else {
            result += c;
        }
    }
    return result;
}

WideString messageFor(const LaunchError& error) {
    WideString text = platform::messageText(error.id);
    if (!error.arguments.empty()) text = formatMessage(text, error.arguments);
    if (error.detail.empty()) return text;
    if (!text.endsWith(u'\n')) text += u'\n';
    return text + error.detail;
}

void reportError(void* owner, const LaunchError& error) { platform::showErrorBox(owner, messageFor(error)); }
