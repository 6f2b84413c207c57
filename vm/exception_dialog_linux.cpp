// The uncaught-exception dialog on Linux: the exact trace, selectable and
// scrollable, in a resizable window with Ignore and Stop, shown by the
// dialog process.
#include "support/dialog_linux.h"
#include "support/platform.h"
#include "support/platform_linux.h"

namespace {
const int kIgnore = 1;
const int kStop = 2;
}  // namespace

int dialogs::exceptionDialog(gtk::Functions& gtk, const List<NarrowString>& fields, NarrowString&) {
    if (fields.empty()) return kStop;
    gtk::Widget* dialog = gtk.dialog_new_with_buttons("Java Exception", nullptr, gtk::kDialogModal, "Ignore", kIgnore,
                                                      "Stop", kStop, nullptr);
    gtk.window_set_resizable(dialog, 1);
    gtk.window_set_default_size(dialog, 560, 480);
    gtk.window_set_position(dialog, gtk::kPositionCenter);
    // Enter ignores, as the Windows dialog's default button does.
    gtk.dialog_set_default_response(dialog, kIgnore);

    gtk::Widget* frame = gtk.frame_new("Uncaught Exception");
    gtk.container_set_border_width(frame, 8);
    gtk.box_pack_start(gtk.dialog_get_content_area(dialog), frame, 1, 1, 0);
    gtk::Widget* column = gtk.box_new(gtk::kOrientationVertical, 8);
    gtk.container_set_border_width(column, 8);
    gtk.container_add(frame, column);

    gtk::Widget* top = gtk.box_new(gtk::kOrientationHorizontal, 12);
    gtk.box_pack_start(top, gtk.image_new_from_icon_name("dialog-error", gtk::kIconSizeDialog), 0, 0, 0);
    gtk::Widget* intro = gtk.label_new("The java process has thrown the following uncaught exception:");
    gtk.label_set_xalign(intro, 0);
    gtk.label_set_line_wrap(intro, 1);
    gtk.box_pack_start(top, intro, 1, 1, 0);
    gtk.box_pack_start(column, top, 0, 0, 0);

    gtk::Widget* scroller = gtk.scrolled_window_new(nullptr, nullptr);
    gtk.scrolled_window_set_policy(scroller, gtk::kPolicyAutomatic, gtk::kPolicyAutomatic);
    gtk.widget_set_size_request(scroller, 360, 160);
    gtk::Widget* trace = gtk.text_view_new();
    gtk.text_view_set_editable(trace, 0);
    gtk.text_view_set_monospace(trace, 1);
    // GTK takes no NUL and no broken UTF-8: such a trace would show empty.
    NarrowString text = shownText(fields[0]);
    gtk.text_buffer_set_text(gtk.text_view_get_buffer(trace), text.c_str(), static_cast<int>(text.size()));
    gtk.container_add(scroller, trace);
    gtk.box_pack_start(column, scroller, 1, 1, 0);

    const char* const kNotes[] = {
        "Press Ignore to continue and ignore the exception or press Stop to close the application.",
        "WARNING: If you choose to Stop the application any unsaved data will be lost.",
    };
    for (const char* note : kNotes) {
        gtk::Widget* label = gtk.label_new(note);
        gtk.label_set_xalign(label, 0);
        gtk.label_set_line_wrap(label, 1);
        gtk.box_pack_start(column, label, 0, 0, 0);
    }

    gtk.widget_show_all(dialog);
    dialogs::watch(gtk, dialog);
    int response = gtk.dialog_run(dialog);
    gtk.widget_destroy(dialog);
    // Escape and the close box stop, like Stop.
    return response == kIgnore ? kIgnore : kStop;
}
