// The missing-runtime dialog on Linux: the same texts, link, "Browse..." and
// OK rule as the Windows dialog, shown by the dialog process. The message
// also goes to the standard error, as every message does here.
#include <stdio.h>
#include <stdlib.h>

#include "launcher/launcher.h"
#include "runtime/missing_runtime.h"
#include "support/dialog_linux.h"
#include "support/messages.h"
#include "support/platform.h"
#include "support/platform_linux.h"

namespace {

// Field order of the request.
enum { kMessage, kAddress, kJvmType, kPaired, kChooserTitle, kFieldCount };

struct PickState {
    gtk::Functions* gtk;
    gtk::Widget* dialog;
    gtk::Widget* path;
    MissingRuntimeDialog* decisions;
    NarrowString chooserTitle;
};

void browse(gtk::Widget*, void* data) {
    PickState& state = *static_cast<PickState*>(data);
    gtk::Functions& gtk = *state.gtk;
    gtk::Widget* chooser = gtk.file_chooser_dialog_new(state.chooserTitle.c_str(), state.dialog, gtk::kChooseFolder,
                                                       "Cancel", gtk::kResponseCancel, "Select", gtk::kResponseAccept,
                                                       nullptr);
    // Where the system keeps its runtimes, rather than the recent files.
    const char* home = getenv("HOME");
    if (!gtk.file_chooser_set_current_folder(chooser, "/usr/lib/jvm") && home) gtk.file_chooser_set_current_folder(chooser, home);
    dialogs::watch(gtk, chooser);
    if (gtk.dialog_run(chooser) == gtk::kResponseAccept) {
        char* folder = gtk.file_chooser_get_filename(chooser);
        if (folder) {
            // The same decision as the launcher makes: OK only for a folder
            // that holds a runtime this program can host.
            bool usable = state.decisions->pick(platform::fromNative(folder));
            // The name as the system shows it: a folder name that is no
            // UTF-8 is shown whole, not cut where GTK stops reading.
            char* shown = gtk.g_filename_display_name(folder);
            gtk.entry_set_text(state.path, shown ? shown : "");
            gtk.g_free(shown);
            gtk.dialog_set_response_sensitive(state.dialog, 1, usable);
            gtk.g_free(folder);
        }
    }
    gtk.widget_destroy(chooser);
    // Back on the field, not on "Browse...": Enter now means OK (when OK
    // is enabled), not another chooser.
    gtk.widget_grab_focus(state.path);
    dialogs::dumpWidgets(gtk, state.dialog);
}

gtk::Widget* leftLabel(gtk::Functions& gtk, const char* text) {
    gtk::Widget* label = gtk.label_new(text);
    gtk.label_set_xalign(label, 0);
    return label;
}

}  // namespace

int dialogs::missingRuntimeDialog(gtk::Functions& gtk, const List<NarrowString>& fields, NarrowString& answer) {
    if (fields.size() < kFieldCount) return 2;
    Launcher launcher;
    launcher.jvmType = atoi(fields[kJvmType].c_str());
    if (fields[kPaired] == "1") launcher.pairProduct = u"paired";
    MissingRuntimeDialog decisions(launcher);

    gtk::Widget* dialog = gtk.dialog_new_with_buttons("JRE Not Found", nullptr, gtk::kDialogModal, "OK", 1, "Cancel", 2,
                                                      nullptr);
    gtk.window_set_resizable(dialog, 0);
    gtk.window_set_position(dialog, gtk::kPositionCenter);
    gtk.dialog_set_default_response(dialog, 1);
    gtk.dialog_set_response_sensitive(dialog, 1, 0);

    gtk::Widget* frame = gtk.frame_new("Missing JRE");
    gtk.container_set_border_width(frame, 8);
    gtk.box_pack_start(gtk.dialog_get_content_area(dialog), frame, 1, 1, 0);
    gtk::Widget* column = gtk.box_new(gtk::kOrientationVertical, 6);
    gtk.container_set_border_width(column, 8);
    gtk.container_add(frame, column);

    gtk::Widget* top = gtk.box_new(gtk::kOrientationHorizontal, 12);
    gtk.box_pack_start(top, gtk.image_new_from_icon_name("dialog-error", gtk::kIconSizeDialog), 0, 0, 0);
    gtk::Widget* texts = gtk.box_new(gtk::kOrientationVertical, 6);
    gtk::Widget* message = leftLabel(gtk, dialogs::shownText(fields[kMessage]).c_str());
    gtk.label_set_line_wrap(message, 1);
    gtk.label_set_line_wrap_mode(message, gtk::kWrapWordChar);
    gtk.label_set_max_width_chars(message, 48);
    gtk.box_pack_start(texts, message, 0, 0, 0);
    gtk::Widget* link = gtk.link_button_new(dialogs::shownText(fields[kAddress]).c_str());
    gtk::Widget* linkRow = gtk.box_new(gtk::kOrientationHorizontal, 0);
    gtk.box_pack_start(linkRow, link, 0, 0, 0);
    gtk.box_pack_start(texts, linkRow, 0, 0, 0);
    gtk.box_pack_start(top, texts, 1, 1, 0);
    gtk.box_pack_start(column, top, 0, 0, 0);

    gtk.box_pack_start(column, leftLabel(gtk, "If you have a JRE installed you can browse for it below:"), 0, 0, 0);
    gtk::Widget* row = gtk.box_new(gtk::kOrientationHorizontal, 6);
    gtk.box_pack_start(row, gtk.label_new("JRE Path:"), 0, 0, 0);
    gtk::Widget* path = gtk.entry_new();
    gtk.editable_set_editable(path, 0);
    gtk.entry_set_activates_default(path, 1);
    gtk.box_pack_start(row, path, 1, 1, 0);
    gtk::Widget* browseButton = gtk.button_new_with_label("Browse...");
    gtk.box_pack_start(row, browseButton, 0, 0, 0);
    gtk.box_pack_start(column, row, 0, 0, 0);

    PickState state{&gtk, dialog, path, &decisions, fields[kChooserTitle]};
    gtk.g_signal_connect_data(browseButton, "clicked", reinterpret_cast<gtk::Callback>(browse), &state, nullptr, 0);

    gtk.widget_show_all(dialog);
    // The first focus is the field, never the link: Enter right away does
    // nothing while OK is disabled, and opens no browser.
    gtk.widget_grab_focus(path);
    dialogs::watch(gtk, dialog);
    int response = gtk.dialog_run(dialog);
    gtk.widget_destroy(dialog);
    // Escape and the close box cancel, like Cancel.
    if (response != 1 || !decisions.canConfirm()) return 2;
    answer = platform::toNative(decisions.runtimeFolder);
    return 1;
}

int showMissingRuntimeDialog(MissingRuntimeDialog& dialog) {
    WideString address = downloadAddress();
    platform::writeStandardError(dialog.message + u"\n" + address);
    if (!dialogs::wanted()) return 2;
    dialogs::Request request;
    request.kind = "missing-runtime";
    request.fields.push_back(toUtf8(dialog.message));
    request.fields.push_back(toUtf8(address));
    request.fields.push_back(NarrowString(dialog.jvmType == 1 ? "1" : dialog.jvmType == 2 ? "2" : "0"));
    request.fields.push_back(NarrowString(dialog.paired ? "1" : "0"));
    request.fields.push_back(toUtf8(platform::messageText(MsgBrowseTitle)));
    NarrowString folder;
    if (dialogs::show(request, &folder) != 1 || folder.empty()) return 2;
    // Decided again here: the answer came from another process.
    return dialog.pick(platform::fromNative(folder.c_str(), folder.size())) ? 1 : 2;
}
