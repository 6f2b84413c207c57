#include "support/dialog_linux.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/platform.h"
#include "support/platform_linux.h"

extern char** environ;

namespace dialogs {

namespace {

// The door into dialog mode: the launcher's process id, the inode of the
// request pipe it hands over, and the token it writes first on that pipe.
const char kDoorVariable[] = "VEDA_LAUNCHER_DIALOG";
// The dialog process's descriptors: the request in, the answer out.
const int kRequestFd = 3;
const int kAnswerFd = 4;
// The dialog process's exit code when it showed nothing.
const int kNotShownExit = 100;
// The first byte of the answer: GTK has started, the dialog comes next.
const char kReady = '+';
const size_t kTokenBytes = 32;

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

NarrowString readAll(int fd, size_t limit = static_cast<size_t>(-1)) {
    NarrowString bytes;
    char buffer[4096];
    while (bytes.size() < limit) {
        size_t want = limit - bytes.size() < sizeof buffer ? limit - bytes.size() : sizeof buffer;
        ssize_t n = read(fd, buffer, want);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
}

// Fields as a 4-byte length (little-endian) and the bytes, one after another:
// the kind, the window class, then the kind's own fields.
NarrowString encode(const Request& request, const NarrowString& windowClass) {
    NarrowString bytes;
    List<NarrowString> all;
    all.push_back(request.kind);
    all.push_back(windowClass);
    for (const NarrowString& field : request.fields) all.push_back(field);
    for (const NarrowString& field : all) {
        uint32_t size = static_cast<uint32_t>(field.size());
        for (int i = 0; i < 4; ++i) bytes += static_cast<char>((size >> (8 * i)) & 0xFF);
        bytes += field;
    }
    return bytes;
}

bool decode(const NarrowString& bytes, Request& request, NarrowString& windowClass) {
    List<NarrowString> all;
    size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < 4) return false;
        uint32_t size = 0;
        for (int i = 0; i < 4; ++i) size |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
        at += 4;
        if (bytes.size() - at < size) return false;
        all.push_back(bytes.substr(at, size));
        at += size;
    }
    if (all.size() < 2) return false;
    request.kind = all[0];
    windowClass = all[1];
    request.fields.assign(all.begin() + 2, all.end());
    return true;
}

class Pipe {
public:
    Pipe() {
        if (pipe2(fds_, O_CLOEXEC) != 0) fds_[0] = fds_[1] = -1;
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    bool ok() const { return fds_[0] >= 0; }
    int readEnd() const { return fds_[0]; }
    int writeEnd() const { return fds_[1]; }
    void closeRead() {
        if (fds_[0] >= 0) close(fds_[0]);
        fds_[0] = -1;
    }
    void closeWrite() {
        if (fds_[1] >= 0) close(fds_[1]);
        fds_[1] = -1;
    }

private:
    int fds_[2];
};

// Hex digits from the system's random source; false when it gives none.
bool randomToken(NarrowString& token) {
    platform::FileDescriptor source(open("/dev/urandom", O_RDONLY | O_CLOEXEC));
    if (source.get() < 0) return false;
    NarrowString bytes = readAll(source.get(), kTokenBytes / 2);
    if (bytes.size() != kTokenBytes / 2) return false;
    static const char digits[] = "0123456789abcdef";
    token.clear();
    for (char byte : bytes) {
        token += digits[(static_cast<unsigned char>(byte) >> 4) & 0xF];
        token += digits[static_cast<unsigned char>(byte) & 0xF];
    }
    return true;
}

// The environment of the dialog process: this one's, with the door.
List<NarrowString> dialogEnvironment(const NarrowString& door) {
    List<NarrowString> all;
    for (char** entry = environ; *entry; ++entry)
        if (strncmp(*entry, kDoorVariable, sizeof kDoorVariable - 1) != 0 || (*entry)[sizeof kDoorVariable - 1] != '=')
            all.push_back(*entry);
    all.push_back(NarrowString(kDoorVariable) + "=" + door);
    return all;
}

WideString (*mainClassSource)() = nullptr;

// What the door variable of this process named, once isDialogProcess
// found it true.
struct Door {
    pid_t launcher = 0;
    NarrowString token;
} door;

bool parseDoor(const char* text, pid_t& launcher, unsigned long long& inode, NarrowString& token) {
    long long pid = 0;
    int used = 0;
    if (sscanf(text, "%lld:%llu:%n", &pid, &inode, &used) != 2 || used <= 0 || pid <= 1) return false;
    token = text + used;
    if (token.size() != kTokenBytes) return false;
    launcher = static_cast<pid_t>(pid);
    return true;
}

// Every descriptor but the standard streams and the two pipes: the
// program's files and sockets stay the program's.
void closeInheritedDescriptors() {
    struct rlimit limit;
    int most = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < 65536
                   ? static_cast<int>(limit.rlim_cur)
                   : 65536;
    for (int fd = 3; fd < most; ++fd)
        if (fd != kRequestFd && fd != kAnswerFd) close(fd);
}

}  // namespace

bool wantedFor(const char* setting, bool inputIsTerminal, bool errorIsTerminal) {
    if (setting && strcasecmp(setting, "always") == 0) return true;
    if (setting && strcasecmp(setting, "never") == 0) return false;
    // A terminal on either side: someone who reads the standard error, or a
    // script whose output is captured, and no one to answer a dialog.
    return !inputIsTerminal && !errorIsTerminal;
}

bool wanted() { return wantedFor(getenv("VEDA_LAUNCHER_DIALOGS"), isatty(0) == 1, isatty(2) == 1); }

void setMainClassSource(WideString (*mainClass)()) { mainClassSource = mainClass; }

NarrowString windowClassOf(const WideString& mainClass) {
    // The runtime's toolkit names its windows' class after the main class
    // with each dot as a dash; a class given with slashes is the same class.
    NarrowString name = toUtf8(mainClass);
    for (size_t i = 0; i < name.size(); ++i)
        if (name[i] == '.' || name[i] == '/') name[i] = '-';
    return shownText(name);
}

NarrowString shownText(const NarrowString& bytes) {
    NarrowString out;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
    for (size_t i = 0; i < bytes.size();) {
        size_t length = platform::utf8Sequence(p + i, bytes.size() - i);
        if (p[i] == 0) {
            out += "\xE2\x90\x80";  // U+2400, the symbol for NUL
        } else if (length == 0) {
            out += "\xEF\xBF\xBD";  // U+FFFD
        } else {
            out.append(bytes.data() + i, length);
            i += length;
            continue;
        }
        ++i;
    }
    return out;
}

int show(const Request& request, NarrowString* answer, const WideString* message) {
    Pipe in, out;
    NarrowString token;
    struct stat pipeInfo;
    if (!in.ok() || !out.ok() || !randomToken(token) || fstat(in.readEnd(), &pipeInfo) != 0) return kNotShown;
    // The token first, into the empty pipe before the dialog process starts.
    if (!writeAll(in.writeEnd(), token.data(), token.size())) return kNotShown;
    char doorText[64];
    snprintf(doorText, sizeof doorText, "%lld:%llu:", static_cast<long long>(getpid()),
             static_cast<unsigned long long>(pipeInfo.st_ino));
    // Above the two descriptors the dialog process receives them on, so that
    // placing one never overwrites the other.
    int requestSource = fcntl(in.readEnd(), F_DUPFD_CLOEXEC, 10);
    int answerSource = fcntl(out.writeEnd(), F_DUPFD_CLOEXEC, 10);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, requestSource, kRequestFd);
    posix_spawn_file_actions_adddup2(&actions, answerSource, kAnswerFd);
    // The dialog starts with the system's signal handling, whatever the
    // runtime set for its own threads.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    List<NarrowString> environment = dialogEnvironment(NarrowString(doorText) + token);
    List<char*> envp;
    for (NarrowString& entry : environment) envp.push_back(&entry[0]);
    envp.push_back(nullptr);
    // The program's own name, as ps and the desktop show it; the image is
    // this process's own, wherever the name now leads.
    WideString module;
    NarrowString name = platform::modulePath(module) ? platform::toNative(module) : NarrowString("launcher");
    char* argv[] = {&name[0], nullptr};
    pid_t child = 0;
    // No shell and no file: the request travels through the pipe only.
    int failed = posix_spawn(&child, "/proc/self/exe", &actions, &attributes, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (requestSource >= 0) close(requestSource);
    if (answerSource >= 0) close(answerSource);
    if (failed || requestSource < 0 || answerSource < 0) return kNotShown;
    in.closeRead();
    out.closeWrite();
    // A dialog process that ends early must not end this one by SIGPIPE:
    // the write fails instead, and the dialog's exit code tells.
    NarrowString bytes = encode(request, mainClassSource ? windowClassOf(mainClassSource()) : NarrowString());
    sigset_t pipeSignal, previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    writeAll(in.writeEnd(), bytes.data(), bytes.size());
    in.closeWrite();
    struct timespec noWait = {0, 0};
    while (sigtimedwait(&pipeSignal, nullptr, &noWait) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    bool ready = readAll(out.readEnd(), 1) == NarrowString(1, kReady);
    if (ready && message) platform::writeStandardError(*message);
    NarrowString text = ready ? readAll(out.readEnd()) : NarrowString();
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!ready || !WIFEXITED(status) || WEXITSTATUS(status) == kNotShownExit) return kNotShown;
    if (answer) *answer = text;
    return WEXITSTATUS(status);
}

bool isDialogProcess() {
    const char* text = getenv(kDoorVariable);
    pid_t launcher = 0;
    unsigned long long inode = 0;
    NarrowString token;
    if (!text || !parseDoor(text, launcher, inode, token)) return false;
    // Only the launcher that named itself, and only on the pipe it named:
    // nothing is read from a descriptor that is not that pipe.
    struct stat request;
    if (getppid() != launcher || fstat(kRequestFd, &request) != 0 || !S_ISFIFO(request.st_mode) ||
        static_cast<unsigned long long>(request.st_ino) != inode)
        return false;
    door.launcher = launcher;
    door.token = token;
    return true;
}

int dialogProcessMain(const char* programPath) {
    // Ends with the launcher: a dialog left over would answer no one. The
    // launcher may have ended before the signal was asked for.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != door.launcher) return kNotShownExit;
    unsetenv(kDoorVariable);
    closeInheritedDescriptors();
    if (readAll(kRequestFd, kTokenBytes) != door.token) return kNotShownExit;
    Request request;
    NarrowString windowClass;
    if (!decode(readAll(kRequestFd), request, windowClass)) return kNotShownExit;
    close(kRequestFd);
    static const struct {
        const char* kind;
        DialogFunction function;
    } kKinds[] = {
        {"message", messageDialog},
        {"missing-runtime", missingRuntimeDialog},
        {"exception", exceptionDialog},
    };
    DialogFunction function = nullptr;
    for (const auto& kind : kKinds)
        if (request.kind == kind.kind) function = kind.function;
    static gtk::Functions functions;
    if (!function || !gtk::load(functions)) return kNotShownExit;
    // The process's and the window's name and class: the program's, not
    // "exe" of the image's path.
    const char* slash = programPath ? strrchr(programPath, '/') : nullptr;
    const char* name = slash ? slash + 1 : programPath ? programPath : "launcher";
    prctl(PR_SET_NAME, name);
    functions.g_set_prgname(name);
    int argc = 0;
    char** argv = nullptr;
    if (!functions.init_check(&argc, &argv)) return kNotShownExit;
    // After the start, which sets the class from the name; before any window.
    if (!windowClass.empty()) functions.gdk_set_program_class(windowClass.c_str());
    if (!writeAll(kAnswerFd, &kReady, 1)) return kNotShownExit;
    NarrowString answer;
    int code = function(functions, request.fields, answer);
    writeAll(kAnswerFd, answer.data(), answer.size());
    return code;
}

// ---- Reading a dialog back, for the tests ----

namespace {

struct DumpState {
    gtk::Functions* gtk;
    gtk::Widget* dialog;
    int originX, originY;
    NarrowString text;
};

NarrowString quoted(const char* text) {
    NarrowString result = "\"";
    for (const char* c = text ? text : ""; *c; ++c) {
        if (*c == '"' || *c == '\\') result += '\\';
        if (*c == '\n') {
            result += "\\n";
            continue;
        }
        result += *c;
    }
    return result + "\"";
}

const char* typeName(gtk::Functions& gtk, gtk::Widget* widget) {
    // A GObject starts with its class, which starts with its type.
    size_t type = **reinterpret_cast<size_t**>(widget);
    return gtk.g_type_name(type);
}

void describe(gtk::Widget* widget, void* data) {
    DumpState& state = *static_cast<DumpState*>(data);
    gtk::Functions& gtk = *state.gtk;
    NarrowString type = typeName(gtk, widget);
    const char* text = nullptr;
    char* owned = nullptr;
    if (type == "GtkLabel") {
        text = gtk.label_get_text(widget);
    } else if (type == "GtkButton" || type == "GtkLinkButton") {
        text = gtk.button_get_label(widget);
    } else if (type == "GtkEntry") {
        text = gtk.entry_get_text(widget);
    } else if (type == "GtkTextView") {
        char start[256], end[256];  // two GtkTextIter, opaque and smaller than this
        void* buffer = gtk.text_view_get_buffer(widget);
        gtk.text_buffer_get_bounds(buffer, start, end);
        text = owned = gtk.text_buffer_get_text(buffer, start, end, 1);
    }
    int x = 0, y = 0;
    gtk.widget_translate_coordinates(widget, state.dialog, 0, 0, &x, &y);
    gtk::Allocation place;
    gtk.widget_get_allocation(widget, &place);
    char line[160];
    snprintf(line, sizeof line, " sensitive=%d focus=%d x=%d y=%d w=%d h=%d\n", gtk.widget_is_sensitive(widget) ? 1 : 0,
             gtk.widget_is_focus(widget) ? 1 : 0, state.originX + x, state.originY + y, place.width, place.height);
    state.text += "widget type=" + quoted(type.c_str()) + " text=" + quoted(text) + line;
    if (owned) gtk.g_free(owned);
    if (gtk.g_type_check_instance_is_a(widget, gtk.container_get_type())) gtk.container_forall(widget, describe, data);
}

int dumpSoon(void* dialog);

gtk::Functions* watched = nullptr;

}  // namespace

void dumpWidgets(gtk::Functions& gtk, gtk::Widget* dialog) {
    const char* file = getenv("VEDA_LAUNCHER_DIALOG_DUMP");
    if (!file || !*file) return;
    DumpState state{&gtk, dialog, 0, 0, NarrowString()};
    gtk.gdk_window_get_origin(gtk.widget_get_window(dialog), &state.originX, &state.originY);
    state.text = "title=" + quoted(gtk.window_get_title(dialog)) + "\n";
    gtk.container_forall(dialog, describe, &state);
    state.text += "end\n";
    // Written whole under a temporary name: a reader never sees half of it.
    NarrowString temporary = NarrowString(file) + ".part";
    FILE* out = fopen(temporary.c_str(), "wb");
    if (!out) return;
    fwrite(state.text.data(), 1, state.text.size(), out);
    fclose(out);
    rename(temporary.c_str(), file);
}

namespace {
int dumpSoon(void* dialog) {
    if (!watched->widget_get_mapped(dialog)) return 1;  // again later
    dumpWidgets(*watched, dialog);
    return 0;
}
}  // namespace

void watch(gtk::Functions& gtk, gtk::Widget* dialog) {
    const char* file = getenv("VEDA_LAUNCHER_DIALOG_DUMP");
    if (!file || !*file) return;
    watched = &gtk;
    // Once it is mapped and laid out: its places are known then.
    gtk.g_timeout_add(50, dumpSoon, dialog);
}

static void wrapAnywhere(gtk::Widget* widget, void* data) {
    gtk::Functions& gtk = *static_cast<gtk::Functions*>(data);
    if (NarrowString(typeName(gtk, widget)) != "GtkLabel") return;
    gtk.label_set_line_wrap(widget, 1);
    gtk.label_set_line_wrap_mode(widget, gtk::kWrapWordChar);
}

int messageDialog(gtk::Functions& gtk, const List<NarrowString>& fields, NarrowString&) {
    if (fields.size() < 2) return kNotShownExit;
    // The button's text as on Windows ("OK", not the toolkit's own).
    gtk::Widget* dialog = gtk.message_dialog_new(nullptr, gtk::kDialogModal, gtk::kMessageError, gtk::kButtonsNone,
                                                 "%s", shownText(fields[1]).c_str());
    gtk.dialog_add_button(dialog, "OK", 1);
    gtk.window_set_title(dialog, shownText(fields[0]).c_str());
    gtk.window_set_position(dialog, gtk::kPositionCenter);
    // A long word (a path, a class name) wraps instead of widening the box
    // beyond the screen.
    gtk.container_forall(gtk.message_dialog_get_message_area(dialog), wrapAnywhere, &gtk);
    watch(gtk, dialog);
    gtk.dialog_run(dialog);
    gtk.widget_destroy(dialog);
    return 1;
}

}  // namespace dialogs
