// PC configuration dialog: interface language, serial device and bit rate.
//
// Principles of operation: the modal dialog offers the five language names,
// an editable device field, and the nine rates. The device list holds the
// serial devices found (pen/devices.h), each with its description beside it,
// then those of the four ttyS entries not already listed. While the dialog is
// open, a tty monitor's descriptor is watched on the main loop: when a device
// comes or goes the list is built again, and what the entry shows is kept.
// OK applies the choices to root at once (closing the dialog is Cancel); a
// changed language rebuilds the menu bar through ExchangeMenubar. Nothing is
// written to disk here: the preferences are saved at the end of the run.
//
//   ConfigurePC        menu action "Configure PC"; also opened at first start
//   pc_config_ok       OK: apply, close
//   pc_config_cancel   Cancel: close, nothing changed
//   pc_config_delete   window-manager close or Escape: as Cancel
//   pc_config_destroy  device watch and monitor closed, grab removed, record freed
#pragma once

#include <gtk/gtk.h>

struct PcConfigWidgets {
    GtkWidget* dialog;
    GtkWidget* language_combo;
    GtkWidget* device_combo;
    GtkWidget* speed_combo;
    GtkListStore* device_list;  // the device combo's model, owned by the combo
    int monitor_fd;             // tty monitor, -1 when none could be opened
    guint monitor_watch;        // its main-loop watch, 0 when none
};

void ConfigurePC();
void pc_config_ok(GtkWidget* button, gpointer record);
void pc_config_cancel(GtkWidget* button, gpointer record);
gboolean pc_config_delete(GtkWidget* widget, GdkEvent* event, gpointer record);
void pc_config_destroy(GtkWidget* widget, gpointer record);
