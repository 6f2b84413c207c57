// Dialogs on Linux, shown by a process of their own: the launcher starts its
// own executable again in dialog mode, hands it what to show through a pipe
// and reads the user's answer from another one. The dialog process loads
// GTK; the launcher's process, which hosts the virtual machine, never does.
#ifndef SUPPORT_DIALOG_LINUX_H
#define SUPPORT_DIALOG_LINUX_H

#include "support/gtk_linux.h"
#include "support/wide_string.h"

namespace dialogs {

// The rule: a message goes to standard error always, and is also shown as a
// dialog when neither standard input nor standard error is a terminal (a
// start from a menu or a file manager; a display must let GTK start too).
// VEDA_LAUNCHER_DIALOGS "always" or "never", in any letter case, decides
// instead; any other value is the rule.
bool wanted();
bool wantedFor(const char* setting, bool inputIsTerminal, bool errorIsTerminal);

// The class the program's windows get from the runtime (its main class with
// dashes for dots), given to the dialogs so that a desktop groups them with
// the program; the entry point names where the main class is read.
void setMainClassSource(WideString (*mainClass)());
NarrowString windowClassOf(const WideString& mainClass);

// Text as GTK takes it: valid UTF-8 without NUL. A NUL is shown as the
// symbol for it, a byte that is no UTF-8 as the replacement character.
NarrowString shownText(const NarrowString& bytes);

// What a dialog process shows: its kind and its texts.
struct Request {
    NarrowString kind;
    List<NarrowString> fields;
};

// The dialog process's answer when it could show nothing (no GTK, no display).
constexpr int kNotShown = -100;

// Shows the request in a dialog process and waits for it: the answer code,
// with the text the dialog gives back in answer, or kNotShown. A message
// given is written on the standard error once the dialog process can show
// the dialog, before it does.
int show(const Request& request, NarrowString* answer = nullptr, const WideString* message = nullptr);

// In the dialog process: true only when this process was started by a
// launcher's show (the door: a variable naming that launcher and the pipe
// it holds, then the token on that pipe); a variable alone is ignored. Then
// its whole work, whose result is its exit code.
bool isDialogProcess();
int dialogProcessMain(const char* programPath);

// For the dialogs' own files: the dialogs of each kind, run in the dialog
// process with GTK loaded and started. The result is the answer code.
typedef int (*DialogFunction)(gtk::Functions& gtk, const List<NarrowString>& fields, NarrowString& answer);
int messageDialog(gtk::Functions& gtk, const List<NarrowString>& fields, NarrowString& answer);
int missingRuntimeDialog(gtk::Functions& gtk, const List<NarrowString>& fields, NarrowString& answer);
int exceptionDialog(gtk::Functions& gtk, const List<NarrowString>& fields, NarrowString& answer);

// Tests read the dialog back through GTK itself: with VEDA_LAUNCHER_DIALOG_DUMP
// naming a file, the dialog's widgets (kind, text, sensitivity, place on the
// screen) are written there once it is on the screen and after each change.
void watch(gtk::Functions& gtk, gtk::Widget* dialog);
void dumpWidgets(gtk::Functions& gtk, gtk::Widget* dialog);

}  // namespace dialogs

#endif
