// GTK 3, loaded on demand by the dialog process only: the executable links
// no toolkit, and the process that hosts the virtual machine never loads one
// (the runtime brings its own GTK, of a version that may not share a process
// with this one).
#ifndef SUPPORT_GTK_LINUX_H
#define SUPPORT_GTK_LINUX_H

#include <stddef.h>

namespace gtk {

typedef void Widget;
typedef int Boolean;
typedef void (*Callback)();

struct Allocation {
    int x, y, width, height;
};

// The functions the dialogs use, from libgtk-3 and the libraries it brings
// (GDK, GObject, GLib).
struct Functions {
    Boolean (*init_check)(int*, char***);
    Widget* (*dialog_new_with_buttons)(const char*, Widget*, int, const char*, ...);
    Widget* (*message_dialog_new)(Widget*, int, int, int, const char*, ...);
    Widget* (*message_dialog_get_message_area)(Widget*);
    int (*dialog_run)(Widget*);
    Widget* (*dialog_add_button)(Widget*, const char*, int);
    Widget* (*dialog_get_content_area)(Widget*);
    void (*dialog_set_response_sensitive)(Widget*, int, Boolean);
    void (*dialog_set_default_response)(Widget*, int);
    Widget* (*dialog_get_widget_for_response)(Widget*, int);
    void (*window_set_title)(Widget*, const char*);
    const char* (*window_get_title)(Widget*);
    void (*window_set_default_size)(Widget*, int, int);
    void (*window_set_resizable)(Widget*, Boolean);
    void (*window_set_position)(Widget*, int);
    void (*window_present)(Widget*);
    void (*widget_destroy)(Widget*);
    void (*widget_show_all)(Widget*);
    void (*widget_set_sensitive)(Widget*, Boolean);
    Boolean (*widget_is_sensitive)(Widget*);
    void (*widget_grab_focus)(Widget*);
    Boolean (*widget_is_focus)(Widget*);
    void (*widget_set_size_request)(Widget*, int, int);
    void (*widget_set_margin_start)(Widget*, int);
    void (*widget_get_allocation)(Widget*, Allocation*);
    Boolean (*widget_translate_coordinates)(Widget*, Widget*, int, int, int*, int*);
    Widget* (*widget_get_toplevel)(Widget*);
    void* (*widget_get_window)(Widget*);
    Boolean (*widget_get_mapped)(Widget*);
    int (*gdk_window_get_origin)(void*, int*, int*);
    Widget* (*box_new)(int, int);
    void (*box_pack_start)(Widget*, Widget*, Boolean, Boolean, unsigned);
    Widget* (*frame_new)(const char*);
    void (*container_add)(Widget*, Widget*);
    void (*container_set_border_width)(Widget*, unsigned);
    void (*container_forall)(Widget*, void (*)(Widget*, void*), void*);
    Widget* (*label_new)(const char*);
    const char* (*label_get_text)(Widget*);
    void (*label_set_line_wrap)(Widget*, Boolean);
    void (*label_set_line_wrap_mode)(Widget*, int);
    void (*label_set_xalign)(Widget*, float);
    void (*label_set_max_width_chars)(Widget*, int);
    void (*label_set_selectable)(Widget*, Boolean);
    Widget* (*link_button_new)(const char*);
    Widget* (*image_new_from_icon_name)(const char*, int);
    Widget* (*entry_new)();
    void (*entry_set_text)(Widget*, const char*);
    void (*entry_set_activates_default)(Widget*, Boolean);
    const char* (*entry_get_text)(Widget*);
    void (*editable_set_editable)(Widget*, Boolean);
    Widget* (*button_new_with_label)(const char*);
    const char* (*button_get_label)(Widget*);
    Widget* (*file_chooser_dialog_new)(const char*, Widget*, int, const char*, ...);
    char* (*file_chooser_get_filename)(Widget*);
    Boolean (*file_chooser_set_current_folder)(Widget*, const char*);
    Widget* (*scrolled_window_new)(void*, void*);
    void (*scrolled_window_set_policy)(Widget*, int, int);
    Widget* (*text_view_new)();
    void* (*text_view_get_buffer)(Widget*);
    void (*text_view_set_editable)(Widget*, Boolean);
    void (*text_view_set_monospace)(Widget*, Boolean);
    void (*text_buffer_set_text)(void*, const char*, int);
    void (*text_buffer_get_bounds)(void*, void*, void*);
    char* (*text_buffer_get_text)(void*, void*, void*, Boolean);
    unsigned long (*g_signal_connect_data)(void*, const char*, Callback, void*, void*, int);
    unsigned (*g_timeout_add)(unsigned, int (*)(void*), void*);
    void (*g_free)(void*);
    char* (*g_filename_display_name)(const char*);
    void (*g_set_prgname)(const char*);
    void (*gdk_set_program_class)(const char*);
    const char* (*g_type_name)(size_t);
    size_t (*container_get_type)();
    Boolean (*g_type_check_instance_is_a)(void*, size_t);
};

// Loads GTK 3 (the library a test names in VEDA_LAUNCHER_GTK_LIBRARY, else
// libgtk-3.so.0) and every function above; false when any is missing.
bool load(Functions& functions);

// Constants of the GTK 3 interface.
enum {
    kDialogModal = 1,
    kMessageError = 3,
    kButtonsNone = 0,
    kResponseDeleteEvent = -4,
    kResponseAccept = -3,
    kResponseCancel = -6,
    kOrientationHorizontal = 0,
    kOrientationVertical = 1,
    kIconSizeDialog = 6,
    kChooseFolder = 2,
    kPolicyAutomatic = 1,
    kPositionCenter = 1,
    kWrapWordChar = 2,
};

}  // namespace gtk

#endif
