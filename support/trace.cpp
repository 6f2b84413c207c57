#include "support/trace.h"

#include <atomic>

#include "support/platform.h"

namespace trace {

namespace {

const char16_t* const kVariable = u"VEDA_LAUNCHER_TRACE";

// The trace file, read from the environment once. The first call comes from
// the launcher thread during the runtime search, before any other thread
// exists; later threads only read the settled value.
WideString file;
bool read = false;
// Set by the first line that cannot be written: an unreachable file (a
// share that times out) would otherwise cost its time-out on every event.
std::atomic<bool> gaveUp{false};

const WideString& traceFile() {
    if (!read) {
        if (!platform::readEnvironment(kVariable, file)) file.clear();
        read = true;
    }
    return file;
}

}  // namespace

bool enabled() { return !gaveUp.load(std::memory_order_relaxed) && !traceFile().empty(); }

void reread() {
    read = false;
    gaveUp = false;
}

NarrowString formatField(const char* name, const NarrowString& value) {
    NarrowString text(name);
    text += "=\"";
    for (char c : value) {
        // One event, one line: line breaks inside a value are shown, not written.
        if (c == '"')
            text += "\"\"";
        else if (c == '\r')
            text += "\\r";
        else if (c == '\n')
            text += "\\n";
        else
            text += c;
    }
    text += '"';
    return text;
}

Line::Line(const char* event) : text_(event) {}

Line::~Line() {
    NarrowString line = platform::localTimeStamp();
    line += " pid=";
    line += toUtf8(decimalUnsigned(platform::processId()));
    line += ' ';
    line += text_;
    line += "\r\n";
    // A trace that cannot be written must not change the launch.
    if (!platform::appendToFile(traceFile(), line)) gaveUp = true;
}

Line& Line::field(const char* name, const WideString& value) {
    text_ += ' ';
    text_ += formatField(name, toUtf8(value));
    return *this;
}

Line& Line::field(const char* name, const char* value) {
    text_ += ' ';
    text_ += formatField(name, NarrowString(value));
    return *this;
}

Line& Line::field(const char* name, int64_t value) {
    text_ += ' ';
    text_ += name;
    text_ += '=';
    text_ += toUtf8(decimal(value));
    return *this;
}

}  // namespace trace
