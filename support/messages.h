// The message table, the record of one failure to report, and reportError.
// Failures are reported where they are detected; nothing travels up.
#ifndef SUPPORT_MESSAGES_H
#define SUPPORT_MESSAGES_H

#include <stdint.h>

#include "support/wide_string.h"

enum MessageId : int {
    MsgWindowsException = 202,
    MsgJniException = 203,
    MsgComError = 204,
    MsgJniExceptionShort = 205,
    MsgJreNotFoundServer = 206,
    MsgJreNotFound = 207,
    MsgNoModulePath = 208,
    MsgNoClassPath = 209,
    MsgNoMainClass = 210,
    MsgMainClassNotLoaded = 211,
    MsgNoCreateJavaVM = 212,
    MsgVmNotCreated = 213,
    MsgBrowseTitle = 214,
    MsgMainClassNotFound = 215,
    MsgNoMainMethod = 216,
    MsgLatestVersion = 217,
    MsgMaximumVersion = 218,
    MsgMinimumVersion = 219,
    MsgVersionRequired = 220,
    MsgVersionBetween = 221,
    MsgVmLibraryNotLoaded = 222,
    MsgFailedToInitialize = 223,
    MsgFailedToInitializeModule = 224,
    MsgReasonUnknown = 225,
    MsgReasonDetached = 226,
    MsgReasonVersion = 227,
    MsgReasonMemory = 228,
    MsgReasonExists = 229,
    MsgReasonArguments = 230,
    MsgOptionWithoutValue = 232,
    MsgOptionOfTheSettings = 233,
    MsgUserOptionsIgnored = 234,
    MsgTooManyRestarts = 235,
    MsgNotStartedAgain = 236,
};

// One value to fill into a format: a text or a signed 32-bit number.
struct MessageArgument {
    bool isNumber = false;
    WideString text;
    int32_t number = 0;
};

// One failure to report, in one of four shapes.
struct LaunchError {
    MessageId id;
    List<MessageArgument> arguments;

    // 209, 210, 216: the text is shown unchanged.
    static LaunchError plain(MessageId id);
    // 202 with a description id (208, 212): reads the last-error code first,
    // so no other system call comes between the failure and the code.
    static LaunchError system(MessageId description);
    // 222: the library path and the last-error code.
    static LaunchError library(const WideString& path);
    // 203: the description 213 and the reason for a creation result code.
    static LaunchError vmCreation(int32_t result);
    // 211, 215, 232, 233, 234: one name.
    static LaunchError named(MessageId id, const WideString& name);
    // The same error with words of another's (the runtime's own) after it.
    LaunchError withDetail(const WideString& words) const;
    WideString detail;
};

// Reason text id for a failed creation result, or 0 when there is none.
int creationReasonId(int32_t result);

// printf-style substitution of %s (text) and %d (number); "%%" gives "%".
// The result is as long as it needs to be: nothing is cut.
WideString formatMessage(const WideString& format, const List<MessageArgument>& arguments);

// The text of a LaunchError, as the message box shows it.
WideString messageFor(const LaunchError& error);

// Shows the error in a modal message box owned by owner (may be null).
void reportError(void* owner, const LaunchError& error);

#endif
