#include "support/gtk_linux.h"

#include <dlfcn.h>
#include <stdlib.h>

namespace gtk {

namespace {

struct Entry {
    const char* name;
    size_t offset;
};

#define GTK_ENTRY(field, symbol) {symbol, offsetof(Functions, field)}

const Entry kEntries[] = {
    GTK_ENTRY(init_check, "gtk_init_check"),
    GTK_ENTRY(dialog_new_with_buttons, "gtk_dialog_new_with_buttons"),
    GTK_ENTRY(message_dialog_new, "gtk_message_dialog_new"),
    GTK_ENTRY(message_dialog_get_message_area, "gtk_message_dialog_get_message_area"),
    GTK_ENTRY(dialog_run, "gtk_dialog_run"),
    GTK_ENTRY(dialog_add_button, "gtk_dialog_add_button"),
    GTK_ENTRY(dialog_get_content_area, "gtk_dialog_get_content_area"),
    GTK_ENTRY(dialog_set_response_sensitive, "gtk_dialog_set_response_sensitive"),
    GTK_ENTRY(dialog_set_default_response, "gtk_dialog_set_default_response"),
    GTK_ENTRY(dialog_get_widget_for_response, "gtk_dialog_get_widget_for_response"),
    GTK_ENTRY(window_set_title, "gtk_window_set_title"),
    GTK_ENTRY(window_get_title, "gtk_window_get_title"),
    GTK_ENTRY(window_set_default_size, "gtk_window_set_default_size"),
    GTK_ENTRY(window_set_resizable, "gtk_window_set_resizable"),
    GTK_ENTRY(window_set_position, "gtk_window_set_position"),
    GTK_ENTRY(window_present, "gtk_window_present"),
    GTK_ENTRY(widget_destroy, "gtk_widget_destroy"),
    GTK_ENTRY(widget_show_all, "gtk_widget_show_all"),
    GTK_ENTRY(widget_set_sensitive, "gtk_widget_set_sensitive"),
    GTK_ENTRY(widget_is_sensitive, "gtk_widget_is_sensitive"),
    GTK_ENTRY(widget_grab_focus, "gtk_widget_grab_focus"),
    GTK_ENTRY(widget_is_focus, "gtk_widget_is_focus"),
    GTK_ENTRY(widget_set_size_request, "gtk_widget_set_size_request"),
    GTK_ENTRY(widget_set_margin_start, "gtk_widget_set_margin_start"),
    GTK_ENTRY(widget_get_allocation, "gtk_widget_get_allocation"),
    GTK_ENTRY(widget_translate_coordinates, "gtk_widget_translate_coordinates"),
    GTK_ENTRY(widget_get_toplevel, "gtk_widget_get_toplevel"),
    GTK_ENTRY(widget_get_window, "gtk_widget_get_window"),
    GTK_ENTRY(widget_get_mapped, "gtk_widget_get_mapped"),
    GTK_ENTRY(gdk_window_get_origin, "gdk_window_get_origin"),
    GTK_ENTRY(box_new, "gtk_box_new"),
    GTK_ENTRY(box_pack_start, "gtk_box_pack_start"),
    GTK_ENTRY(frame_new, "gtk_frame_new"),
    GTK_ENTRY(container_add, "gtk_container_add"),
    GTK_ENTRY(container_set_border_width, "gtk_container_set_border_width"),
    GTK_ENTRY(container_forall, "gtk_container_forall"),
    GTK_ENTRY(label_new, "gtk_label_new"),
    GTK_ENTRY(label_get_text, "gtk_label_get_text"),
    GTK_ENTRY(label_set_line_wrap, "gtk_label_set_line_wrap"),
    GTK_ENTRY(label_set_line_wrap_mode, "gtk_label_set_line_wrap_mode"),
    GTK_ENTRY(label_set_xalign, "gtk_label_set_xalign"),
    GTK_ENTRY(label_set_max_width_chars, "gtk_label_set_max_width_chars"),
    GTK_ENTRY(label_set_selectable, "gtk_label_set_selectable"),
    GTK_ENTRY(link_button_new, "gtk_link_button_new"),
    GTK_ENTRY(image_new_from_icon_name, "gtk_image_new_from_icon_name"),
    GTK_ENTRY(entry_new, "gtk_entry_new"),
    GTK_ENTRY(entry_set_text, "gtk_entry_set_text"),
    GTK_ENTRY(entry_set_activates_default, "gtk_entry_set_activates_default"),
    GTK_ENTRY(entry_get_text, "gtk_entry_get_text"),
    GTK_ENTRY(editable_set_editable, "gtk_editable_set_editable"),
    GTK_ENTRY(button_new_with_label, "gtk_button_new_with_label"),
    GTK_ENTRY(button_get_label, "gtk_button_get_label"),
    GTK_ENTRY(file_chooser_dialog_new, "gtk_file_chooser_dialog_new"),
    GTK_ENTRY(file_chooser_get_filename, "gtk_file_chooser_get_filename"),
    GTK_ENTRY(file_chooser_set_current_folder, "gtk_file_chooser_set_current_folder"),
    GTK_ENTRY(scrolled_window_new, "gtk_scrolled_window_new"),
    GTK_ENTRY(scrolled_window_set_policy, "gtk_scrolled_window_set_policy"),
    GTK_ENTRY(text_view_new, "gtk_text_view_new"),
    GTK_ENTRY(text_view_get_buffer, "gtk_text_view_get_buffer"),
    GTK_ENTRY(text_view_set_editable, "gtk_text_view_set_editable"),
    GTK_ENTRY(text_view_set_monospace, "gtk_text_view_set_monospace"),
    GTK_ENTRY(text_buffer_set_text, "gtk_text_buffer_set_text"),
    GTK_ENTRY(text_buffer_get_bounds, "gtk_text_buffer_get_bounds"),
    GTK_ENTRY(text_buffer_get_text, "gtk_text_buffer_get_text"),
    GTK_ENTRY(g_signal_connect_data, "g_signal_connect_data"),
    GTK_ENTRY(g_timeout_add, "g_timeout_add"),
    GTK_ENTRY(g_free, "g_free"),
    GTK_ENTRY(g_filename_display_name, "g_filename_display_name"),
    GTK_ENTRY(g_set_prgname, "g_set_prgname"),
    GTK_ENTRY(gdk_set_program_class, "gdk_set_program_class"),
    GTK_ENTRY(g_type_name, "g_type_name"),
    GTK_ENTRY(container_get_type, "gtk_container_get_type"),
    GTK_ENTRY(g_type_check_instance_is_a, "g_type_check_instance_is_a"),
};

#undef GTK_ENTRY

}  // namespace

bool load(Functions& functions) {
    // Tests name another library here: the loader's cache would otherwise
    // always find the system's copy.
    const char* name = getenv("VEDA_LAUNCHER_GTK_LIBRARY");
    void* library = dlopen(name && *name ? name : "libgtk-3.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!library) return false;
    char* base = reinterpret_cast<char*>(&functions);
    for (const Entry& entry : kEntries) {
        // Symbols of GDK, GObject and GLib are found through GTK's own
        // dependencies.
        void* symbol = dlsym(library, entry.name);
        if (!symbol) return false;
        *reinterpret_cast<void**>(base + entry.offset) = symbol;
    }
    return true;
}

}  // namespace gtk
