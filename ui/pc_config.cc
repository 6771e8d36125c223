// Placeholder.
#include "ui/pc_config.h"
void ConfigurePC() {}
void pc_config_ok(GtkWidget*, gpointer) {}
void pc_config_cancel(GtkWidget*, gpointer) {}
gboolean pc_config_delete(GtkWidget*, GdkEvent*, gpointer) { return TRUE; }
void pc_config_destroy(GtkWidget*, gpointer) {}
