// The diagnostics trace: when the environment variable VEDA_LAUNCHER_TRACE
// names a file, one line per event is appended to it (UTF-8): time stamp,
// process id, event name, then the event's fields as name="value". Each line
// is written with one append, so several processes can share the file.
//
//     TRACE_EVENT("candidate").field("version", text).field("home", home);
//
// The variable is read once. Without it nothing after TRACE_EVENT is
// evaluated: the guard is a single test of a flag. The first line that
// cannot be written ends the trace for the rest of the process.
#ifndef SUPPORT_TRACE_H
#define SUPPORT_TRACE_H

#include <stdint.h>

#include "support/wide_string.h"

namespace trace {

// True when the variable names a file and no line has failed; read on the first call.
bool enabled();
// Forgets the variable's value, so that the next call reads it again (tests).
void reread();

// One line, written when the object goes out of scope.
class Line {
public:
    explicit Line(const char* event);
    ~Line();
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    Line& field(const char* name, const WideString& value);
    Line& field(const char* name, const char* value);
    Line& field(const char* name, int64_t value);

private:
    NarrowString text_;
};

// The text of one line without its time stamp and process id: the event
// name and its fields, values in double quotes with inner quotes doubled.
NarrowString formatField(const char* name, const NarrowString& value);

}  // namespace trace

#define TRACE_EVENT(event) \
    if (!::trace::enabled()) { \
    } else \
        ::trace::Line(event)

#endif
