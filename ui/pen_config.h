// Pen configuration dialog: the pen's firmware, memory and battery, and its
// languages and mode to change.
//
// Principles of operation: `ConfigureKX` reads the configuration from the pen
// into root on the main thread; only when that succeeds does the modal dialog
// open. OK writes mode and languages back and
// closes the dialog only when the pen accepted them. Values read from a pen
// outside their ranges are shown safely, never used as unchecked indexes.
//
//   ConfigureKX              menu action "Configure KESTRIX"
//   pen_config_apply         OK: choices into root, write_configuration
//   pen_config_cancel        Cancel: closes without writing
//   pen_config_delete_event  window-manager close or Escape: as Cancel
//   pen_config_destroyed     grab removed, record freed
#pragma once

#include <gtk/gtk.h>

struct PenConfigWidgets {
    GtkWidget* dialog;
    GtkWidget* mode_combo;  // null unless the pen translates
    GtkWidget* menu_combo;
    GtkWidget* text_combo;
    GtkWidget* target_combo;  // null unless the pen translates
};

void ConfigureKX();
void pen_config_apply(GtkWidget* button, gpointer record);
void pen_config_cancel(GtkWidget* button, gpointer record);
gboolean pen_config_delete_event(GtkWidget* widget, GdkEvent* event, gpointer record);
void pen_config_destroyed(GtkWidget* widget, gpointer record);
