#include "launcher/restart.h"

#include "instance/single_instance.h"
#include "splash/runtime_splash.h"
#include "splash/splash.h"
#include "support/messages.h"
#include "support/platform.h"
#include "support/trace.h"

const char16_t* const kStartAgainVariable = u"VEDA_LAUNCHER_AGAIN";

static const uint64_t kRestartWindowMs = 60000;
static const size_t kRestartsPerWindow = 5;

// "process=<id>;users=no;signal=<n>;times=<t>,<t>;file=<path>" and, after a
// line end, the runtime's words (which may hold anything).
WideString encodeStartAgainMark(const StartAgainMark& mark) {
    WideString text = u"process=" + decimalUnsigned(mark.process);
    if (mark.withoutUserOptions) text += u";users=no";
    if (mark.signal) text += u";signal=" + decimalUnsigned(mark.signal);
    if (mark.heldLock >= 0) text += u";lock=" + decimalUnsigned(static_cast<uint64_t>(mark.heldLock));
    if (!mark.restartTimes.empty()) {
        text += u";times=";
        for (size_t i = 0; i < mark.restartTimes.size(); ++i)
            text += (i ? u"," : u"") + decimalUnsigned(mark.restartTimes[i]);
    }
    // A path holds no line end; ';' may be in it, so it comes last.
    if (!mark.file.empty()) text += u";file=" + mark.file;
    return text + u"\n" + mark.words;
}

static bool readNumber(const WideString& text, uint64_t& number) {
    if (text.empty() || text.size() > 19) return false;
    number = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9') return false;
        number = number * 10 + static_cast<uint64_t>(text[i] - u'0');
    }
    return true;
}

bool decodeStartAgainMark(const WideString& text, StartAgainMark& mark) {
    mark = StartAgainMark();
    size_t end = text.find(u'\n');
    if (end == WideString::npos) return false;
    WideString fields = text.left(end);
    mark.words = text.substr(end + 1);
    size_t at = 0;
    bool haveProcess = false;
    while (at < fields.size()) {
        size_t equals = fields.find(u'=', at);
        if (equals == WideString::npos) return false;
        WideString name = fields.substr(at, equals - at);
        if (name == u"file") {
            mark.file = fields.substr(equals + 1);
            break;
        }
        size_t next = fields.find(u';', equals);
        if (next == WideString::npos) next = fields.size();
        WideString value = fields.substr(equals + 1, next - equals - 1);
        at = next + 1;
        uint64_t number = 0;
        if (name == u"process") {
            if (!readNumber(value, number) || number > 0xFFFFFFFFu) return false;
            mark.process = static_cast<uint32_t>(number);
            haveProcess = true;
        } else if (name == u"users") {
            mark.withoutUserOptions = value == u"no";
        } else if (name == u"signal") {
            if (!readNumber(value, mark.signal)) return false;
        } else if (name == u"lock") {
            if (!readNumber(value, number) || number > 0x7FFFFFFF) return false;
            mark.heldLock = static_cast<int64_t>(number);
        } else if (name == u"times") {
            for (const WideString& time : splitAt(value, u',')) {
                if (!readNumber(time, number)) return false;
                mark.restartTimes.push_back(number);
            }
        } else {
            return false;
        }
    }
    return haveProcess;
}

bool restartAllowed(List<uint64_t>& times, uint64_t now) {
    List<uint64_t> recent;
    for (uint64_t time : times)
        if (time <= now && now - time < kRestartWindowMs) recent.push_back(time);
    times = recent;
    if (times.size() >= kRestartsPerWindow) return false;
    times.push_back(now);
    return true;
}

bool parseRestartCode(const WideString& value, int32_t& code) {
    WideString text = value;
    bool negative = !text.empty() && text[0] == u'-';
    if (negative) text = text.substr(1);
    uint64_t number = 0;
    if (!readNumber(text, number) || number > (negative ? 0x80000000ull : 0x7FFFFFFFull) || number == 0)
        return false;
    code = negative ? static_cast<int32_t>(0 - number) : static_cast<int32_t>(number);
    return true;
}

void takeStartAgainMark(Launcher& launcher) {
    WideString text;
    if (!platform::readEnvironment(kStartAgainVariable, text)) return;
    platform::removeEnvironment(kStartAgainVariable);
    StartAgainMark mark;
    // Only the launcher's own new start counts: a variable a program or a
    // user passed on is ignored.
    if (!decodeStartAgainMark(text, mark) || mark.process != platform::startingProcessId()) {
        TRACE_EVENT("start again").field("result", "ignored: not started again by this program");
        return;
    }
    launcher.again = mark;
    TRACE_EVENT("start again")
        .field("restarts", static_cast<int64_t>(mark.restartTimes.size()))
        .field("without user options", mark.withoutUserOptions);
}

// An update removed or broke the executable, say: the user learns why the
// program did not come back.
static void reportNotStartedAgain(Launcher& launcher) {
    WideString program;
    if (!platform::modulePath(program)) program.clear();
    reportError(errorBoxOwner(launcher), LaunchError::named(MsgNotStartedAgain, program));
}

static StartAgainMark markForNewStart(const Launcher& launcher) {
    StartAgainMark mark;
    mark.process = platform::processId();
    mark.signal = launcher.again.signal;
    mark.restartTimes = launcher.again.restartTimes;
    return mark;
}

// The supervisor's part of a restart: the first instance's role outlives
// the ending run (Windows: its block, which says the program restarts),
// until the next run has taken it over.
struct SupervisedRole {
    Launcher* launcher;
    void* kept = nullptr;
};

static void keepRole(void* context) {
    SupervisedRole& role = *static_cast<SupervisedRole*>(context);
    if (!role.kept) role.kept = keepInstanceBlock(*role.launcher);
}

bool superviseRuns(Launcher& launcher, int32_t& code) {
    uint64_t signalValue = 0;
    void* signal = platform::createRestartSignal(signalValue);
    if (!signal) return false;
    List<uint64_t> times;
    SupervisedRole role{&launcher};
    for (bool first = true;; first = false) {
        StartAgainMark mark;
        mark.process = platform::processId();
        mark.signal = signalValue;
        mark.restartTimes = times;
        bool restartAsked = false;
        bool started = platform::superviseRun(kStartAgainVariable, encodeStartAgainMark(mark), signal, keepRole,
                                              &role, code, restartAsked);
        // The run before took the role over from what was kept, or ended.
        if (!restartAsked) {
            letGoOfInstanceBlock(role.kept);
            role.kept = nullptr;
        }
        if (!started) {
            TRACE_EVENT("restart").field("result", "could not start a run").field("error", static_cast<int64_t>(platform::lastError()));
            letGoOfInstanceBlock(role.kept);
            // Before any run, the program runs in this process, without restarts.
            if (first) return false;
            reportNotStartedAgain(launcher);
            code = -1;
            return true;
        }
        if (!restartAsked) return true;
        if (!restartAllowed(times, platform::monotonicMilliseconds())) {
            TRACE_EVENT("restart").field("code", static_cast<int64_t>(code)).field("result", "refused: too many");
            letGoOfInstanceBlock(role.kept);
            reportError(errorBoxOwner(launcher), LaunchError::plain(MsgTooManyRestarts));
            return true;
        }
        TRACE_EVENT("restart").field("code", static_cast<int64_t>(code)).field("result", "started again");
    }
}

void restartOnRequest(Launcher& launcher, int32_t code) {
    if (!launcher.restartWanted || code != launcher.restartCode) return;
    if (!platform::kRestartInPlace) {
        // The supervising process starts the next run once this one ended.
        if (launcher.again.signal) {
            TRACE_EVENT("restart").field("code", static_cast<int64_t>(code)).field("result", "asked for");
            abandonSingleInstance(launcher);
            platform::raiseRestartSignal(launcher.again.signal);
        } else {
            TRACE_EVENT("restart").field("code", static_cast<int64_t>(code)).field("result", "no supervising process");
        }
        return;
    }
    StartAgainMark mark = markForNewStart(launcher);
    if (!restartAllowed(mark.restartTimes, platform::monotonicMilliseconds())) {
        TRACE_EVENT("restart").field("code", static_cast<int64_t>(code)).field("result", "refused: too many");
        reportError(errorBoxOwner(launcher), LaunchError::plain(MsgTooManyRestarts));
        return;
    }
    TRACE_EVENT("restart").field("code", static_cast<int64_t>(code)).field("result", "started again");
    // The program's threads are stopped for good: later launches must find
    // no first instance that never answers; the new run becomes it.
    mark.heldLock = abandonSingleInstance(launcher);
    platform::startAgain(kStartAgainVariable, encodeStartAgainMark(mark), static_cast<intptr_t>(mark.heldLock));
    TRACE_EVENT("restart").field("result", "could not start again").field("error", static_cast<int64_t>(platform::lastError()));
    reportNotStartedAgain(launcher);
}

void startWithoutUserOptions(Launcher& launcher) {
    if (launcher.userFileOptions == 0 || launcher.again.withoutUserOptions) return;
    StartAgainMark mark = markForNewStart(launcher);
    mark.withoutUserOptions = true;
    mark.file = launcher.userOptionsFile;
    mark.words = platform::fromAnsi(launcher.runtimeWords.data(), launcher.runtimeWords.size());
    TRACE_EVENT("options file").field("path", mark.file).field("result", "refused by the runtime; starting without it");
    closeSplash(launcher);
    closeRuntimeSplash(launcher);
    // Nothing of the program ran. Where the process executes itself anew the
    // new start takes over its role; else this process, which waits for the
    // new start, gives it up.
    if (platform::kRestartInPlace)
        mark.heldLock = abandonSingleInstance(launcher);
    else
        releaseSingleInstance(launcher);
    platform::startAgain(kStartAgainVariable, encodeStartAgainMark(mark), static_cast<intptr_t>(mark.heldLock));
    TRACE_EVENT("options file").field("result", "could not start again").field("error", static_cast<int64_t>(platform::lastError()));
}
