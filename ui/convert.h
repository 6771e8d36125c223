// Text conversion at the toolkit's edge. The program's texts are ISO-8859-1;
// GTK 3 takes only UTF-8. Every text handed to a widget passes `to_utf8`, every
// text read back from a widget into the state passes `from_utf8` (paths read
// from the file chooser use g_filename_from_utf8 instead). Nowhere else is text
// converted for the toolkit; messages for a terminal have their own edge
// (app/terminal.h).
//
// The helpers below convert, hand the text to the widget and free the copy,
// so no caller writes that sequence again.
//
//   to_utf8            newly allocated (g_free) UTF-8 copy of an ISO-8859-1 text
//   from_utf8          newly allocated (g_free) ISO-8859-1 copy of a UTF-8 text;
//                      characters ISO-8859-1 lacks become '?'
//   label_new_latin1   a new label showing an ISO-8859-1 text
//   label_set_latin1   a label's text replaced
//   combo_append_latin1  one more entry in a GtkComboBoxText
//   combo_active_latin1  the chosen entry of a GtkComboBoxText (g_free), or null
//   button_new_latin1  a new button labelled with an ISO-8859-1 text
//   menu_item_new_latin1  a new menu item, '_' marking its mnemonic
//   window_set_title_latin1  a window's title
//   format_row         a catalogue row with one %s filled in, into a buffer
//   display_path       newly allocated (g_free) ISO-8859-1 text of a path
#pragma once

#include <gtk/gtk.h>

#include <cstddef>

char* to_utf8(const char* latin1);
GtkWidget* label_new_latin1(const char* latin1);
void label_set_latin1(GtkWidget* label, const char* latin1);
void combo_append_latin1(GtkWidget* combo, const char* latin1);
char* combo_active_latin1(GtkWidget* combo);
GtkWidget* button_new_latin1(const char* latin1);
GtkWidget* menu_item_new_latin1(const char* latin1);
void window_set_title_latin1(GtkWidget* window, const char* latin1);
// The rows are the program's own constants, never user input.
void format_row(char* buffer, size_t size, const char* format, const char* arg);
char* from_utf8(const char* utf8);
// Paths are bytes in the file-system encoding (UTF-8 on current systems), the
// dialogs take ISO-8859-1, so a name such as "Ärger.txt" is turned into the
// characters a file chooser shows; what ISO-8859-1 lacks becomes '?'.
char* display_path(const char* path);
