// Placeholder.
#include "text/save_dialog.h"
GtkWidget* get_translated_file_selection() { return nullptr; }
void Save() {}
void save_dialog_ok(GtkWidget*, gpointer) {}
void save_dialog_destroy(GtkWidget*, gpointer) {}
