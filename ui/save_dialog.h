// Save dialog: a modal save file chooser in the interface language with a row
// for the export format.
//
// Principles of operation: `Save` builds the chooser (the program's own texts,
// no folder creation, no built-in overwrite question), presets it from
// root.save_name and root.save_format, and returns; the dialog is modal by its
// grab. OK enters a directory when the name is one, asks its own "Caution!"
// question before overwriting a file, and exports through ExportText; only a
// successful export closes the dialog, after a failure the three error lines
// are shown and the dialog stays for another try. The name's extension
// (.txt, .rtf, .tex) follows the chosen format; with no file saved yet the
// name proposed is "scans-YYYY-MM-DD" of today with the format's extension.
//
//   get_format_string       the name the format list shows: the format's
//                           catalogue name in the interface language, or null
//   get_translated_file_selection  new chooser with the catalogue's texts
//   Save                           menu action "Save+Export"
//   save_dialog_ok                 OK pressed
//   save_dialog_destroy            grab removed, record freed
#pragma once

#include <gtk/gtk.h>

struct SaveWidgets {
    GtkWidget* file_selection;
    GtkWidget* format_combo;
};

const char* get_format_string(int format);
GtkWidget* get_translated_file_selection();
void Save();
void save_dialog_ok(GtkWidget* button, gpointer record);
void save_dialog_destroy(GtkWidget* widget, gpointer record);
