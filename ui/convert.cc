// Text conversion at the toolkit's edge: ISO-8859-1 inside the program, UTF-8
// in every widget.
#include "ui/convert.h"

#include <glib.h>

#include <cstdio>

char* to_utf8(const char* latin1) {
    if (!latin1) return nullptr;
    char* out = g_convert(latin1, -1, "UTF-8", "ISO-8859-1", nullptr, nullptr, nullptr);
    // Every byte is a valid ISO-8859-1 character, so this cannot fail short of
    // a missing converter; an empty text is better than a null label then.
    return out ? out : g_strdup("");
}

char* from_utf8(const char* utf8) {
    if (!utf8) return nullptr;
    // Widgets hold valid UTF-8; mend anything else first so one stray byte
    // does not lose the whole text.
    g_autofree char* valid = g_utf8_make_valid(utf8, -1);
    char* out =
        g_convert_with_fallback(valid, -1, "ISO-8859-1", "UTF-8", "?", nullptr, nullptr, nullptr);
    return out ? out : g_strdup("");
}

GtkWidget* label_new_latin1(const char* latin1) {
    g_autofree char* utf8 = to_utf8(latin1 ? latin1 : "");
    return gtk_label_new(utf8);
}

void label_set_latin1(GtkWidget* label, const char* latin1) {
    g_autofree char* utf8 = to_utf8(latin1 ? latin1 : "");
    gtk_label_set_text(GTK_LABEL(label), utf8);
}

void combo_append_latin1(GtkWidget* combo, const char* latin1) {
    g_autofree char* utf8 = to_utf8(latin1 ? latin1 : "");
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo), utf8);
}

GtkWidget* button_new_latin1(const char* latin1) {
    g_autofree char* utf8 = to_utf8(latin1 ? latin1 : "");
    return gtk_button_new_with_label(utf8);
}

GtkWidget* menu_item_new_latin1(const char* latin1) {
    g_autofree char* utf8 = to_utf8(latin1 ? latin1 : "");
    return gtk_menu_item_new_with_mnemonic(utf8);
}

char* combo_active_latin1(GtkWidget* combo) {
    g_autofree gchar* utf8 = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(combo));
    return utf8 ? from_utf8(utf8) : nullptr;
}

void window_set_title_latin1(GtkWidget* window, const char* latin1) {
    g_autofree char* utf8 = to_utf8(latin1 ? latin1 : "");
    gtk_window_set_title(GTK_WINDOW(window), utf8);
}

void format_row(char* buffer, size_t size, const char* format, const char* arg) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(buffer, size, format, arg);
#pragma GCC diagnostic pop
}

char* display_path(const char* path) {
    g_autofree gchar* utf8 = g_filename_display_name(path);
    return from_utf8(utf8);
}
