// Placeholder.
#include "ui/pen_config.h"
void ConfigureKX() {}
void pen_config_apply(GtkWidget*, gpointer) {}
void pen_config_cancel(GtkWidget*, gpointer) {}
gboolean pen_config_delete_event(GtkWidget*, GdkEvent*, gpointer) { return TRUE; }
void pen_config_destroyed(GtkWidget*, gpointer) {}
