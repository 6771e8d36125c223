// Placeholder.
#include "ui/dialogs.h"
GtkWidget* kx_dialog_new(int, GtkWidget**, GtkWidget**) { return nullptr; }
GtkWidget* kx_dialog_add_label(GtkWidget*, const char*) { return nullptr; }
GtkWidget* kx_dialog_add_button(GtkWidget*, const char*) { return nullptr; }
void show_error_and_wait(const char*, const char*, const char*) {}
int Sicher(const char*, const char*, const char*, const char*, const char*) { return 0; }
void rename_button(GtkWidget*, const char*) {}
void Version() {}
