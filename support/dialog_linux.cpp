#include "support/dialog_linux.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace dialogs {

namespace {

const char kModeVariable[] = "VEDA_LAUNCHER_DIALOG";
// The dialog process's descriptors: the request in, the answer out.
const int kRequestFd = 3;
const int kAnswerFd = 4;
// The dialog process's exit code when it showed nothing.
const int kNotShownExit = 100;

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

NarrowString readAll(int fd) {
    NarrowString bytes;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
}

// Fields as a 4-byte length (little-endian) and the bytes, one after another.
NarrowString encode(const Request& request) {
    NarrowString bytes;
    List<NarrowString> all;
    all.push_back(request.kind);
    for (const NarrowString& field : request.fields) all.push_back(field);
    for (const NarrowString& field : all) {
        uint32_t size = static_cast<uint32_t>(field.size());
        for (int i = 0; i < 4; ++i) bytes += static_cast<char>((size >> (8 * i)) & 0xFF);
        bytes += field;
    }
    return bytes;
}

bool decode(const NarrowString& bytes, Request& request) {
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
    if (all.empty()) return false;
    request.kind = all[0];
    request.fields.assign(all.begin() + 1, all.end());
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

// The environment of the dialog process: this one's, marked for dialog mode.
List<NarrowString> dialogEnvironment() {
    List<NarrowString> all;
    for (char** entry = environ; *entry; ++entry)
        if (strncmp(*entry, kModeVariable, sizeof kModeVariable - 1) != 0 || (*entry)[sizeof kModeVariable - 1] != '=')
            all.push_back(*entry);
    all.push_back(NarrowString(kModeVariable) + "=1");
    return all;
}

}  // namespace

bool wanted() {
    const char* forced = getenv("VEDA_LAUNCHER_DIALOGS");
    if (forced && strcmp(forced, "always") == 0) return true;
    if (forced && strcmp(forced, "never") == 0) return false;
    return !isatty(2);
}

int show(const Request& request, NarrowString* answer) {
    Pipe in, out;
    if (!in.ok() || !out.ok()) return kNotShown;
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
    List<NarrowString> environment = dialogEnvironment();
    List<char*> envp;
    for (NarrowString& entry : environment) envp.push_back(&entry[0]);
    envp.push_back(nullptr);
    char self[] = "/proc/self/exe";
    char* argv[] = {self, nullptr};
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
    NarrowString bytes = encode(request);
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
    NarrowString text = readAll(out.readEnd());
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) == kNotShownExit) return kNotShown;
    if (answer) *answer = text;
    return WEXITSTATUS(status);
}

bool isDialogProcess() {
    const char* mode = getenv(kModeVariable);
    return mode && strcmp(mode, "1") == 0;
}

int dialogProcessMain() {
    unsetenv(kModeVariable);
    Request request;
    if (!decode(readAll(kRequestFd), request)) return kNotShownExit;
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
    int argc = 0;
    char** argv = nullptr;
    if (!functions.init_check(&argc, &argv)) return kNotShownExit;
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
    snprintf(line, sizeof line, " sensitive=%d x=%d y=%d w=%d h=%d\n", gtk.widget_is_sensitive(widget) ? 1 : 0,
             state.originX + x, state.originY + y, place.width, place.height);
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

int messageDialog(gtk::Functions& gtk, const List<NarrowString>& fields, NarrowString&) {
    if (fields.size() < 2) return kNotShownExit;
    // The button's text as on Windows ("OK", not the toolkit's own).
    gtk::Widget* dialog = gtk.message_dialog_new(nullptr, gtk::kDialogModal, gtk::kMessageError, gtk::kButtonsNone,
                                                 "%s", fields[1].c_str());
    gtk.dialog_add_button(dialog, "OK", 1);
    gtk.window_set_title(dialog, fields[0].c_str());
    gtk.window_set_position(dialog, gtk::kPositionCenter);
    gtk.window_set_keep_above(dialog, 1);
    watch(gtk, dialog);
    gtk.dialog_run(dialog);
    gtk.widget_destroy(dialog);
    return 1;
}

}  // namespace dialogs
