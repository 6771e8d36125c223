// PC configuration dialog: interface language, serial device and bit rate.
#include "ui/pc_config.h"

#include <glib-unix.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "app/catalogue.h"
#include "pen/devices.h"
#include "pen/serial.h"
#include "state/state.h"
#include "ui/convert.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "ui/toolkit_locale.h"

namespace {

const char* const device_choices[] = {"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3"};

// The device path as the entry shows it (g_free). Paths are bytes in the
// file-system encoding; one that does not convert is shown as ISO-8859-1.
char* device_display(const char* device) {
    gchar* utf8 = g_filename_to_utf8(device, -1, nullptr, nullptr, nullptr);
    return utf8 ? utf8 : to_utf8(device);
}

// Columns of the device list: the path the entry takes, and a description
// shown beside it.
enum { DEVICE_COLUMN_PATH = 0, DEVICE_COLUMN_DESCRIPTION = 1 };
constexpr int DESCRIPTION_GAP = 12;  // pixels on each side of a description

void append_device(GtkListStore* list, const char* path, const char* description) {
    g_autofree char* shown = device_display(path);
    // Descriptions come from udev or USB descriptors: UTF-8 as a rule.
    g_autofree char* text =
        g_utf8_validate(description, -1, nullptr) ? g_strdup(description) : to_utf8(description);
    GtkTreeIter it;
    gtk_list_store_append(list, &it);
    gtk_list_store_set(list, &it, DEVICE_COLUMN_PATH, shown, DEVICE_COLUMN_DESCRIPTION, text, -1);
}

// The devices found, then the fixed entries not among them.
void fill_device_list(GtkListStore* list) {
    std::vector<SerialDevice> found;
    device_source.find(&found);
    gtk_list_store_clear(list);
    for (const SerialDevice& d : found) append_device(list, d.path.c_str(), d.description.c_str());
    for (const char* choice : device_choices) {
        bool listed = false;
        for (const SerialDevice& d : found) listed = listed || d.path == choice;
        if (!listed) append_device(list, choice, "");
    }
}

// A screen reader hears the description that stands beside the chosen path
// in the list, as a sighted user sees it.
void describe_device(GtkComboBox* combo, gpointer) {
    GtkTreeIter it;
    g_autofree char* text = nullptr;
    if (gtk_combo_box_get_active_iter(combo, &it))
        gtk_tree_model_get(gtk_combo_box_get_model(combo), &it, DEVICE_COLUMN_DESCRIPTION, &text,
                           -1);
    GtkWidget* entry = gtk_bin_get_child(GTK_BIN(combo));
    for (GtkWidget* w : {GTK_WIDGET(combo), entry})
        atk_object_set_description(gtk_widget_get_accessible(w), text ? text : "");
}

GtkWidget* device_combo(GtkListStore** list) {
    *list = gtk_list_store_new(2, G_TYPE_STRING, G_TYPE_STRING);
    fill_device_list(*list);
    GtkWidget* combo = gtk_combo_box_new_with_model_and_entry(GTK_TREE_MODEL(*list));
    g_object_unref(*list);  // the combo holds it from here on
    gtk_combo_box_set_entry_text_column(GTK_COMBO_BOX(combo), DEVICE_COLUMN_PATH);
    GtkCellRenderer* description = gtk_cell_renderer_text_new();
    g_object_set(description, "xpad", DESCRIPTION_GAP, nullptr);  // apart from the path
    gtk_cell_layout_pack_start(GTK_CELL_LAYOUT(combo), description, FALSE);
    gtk_cell_layout_add_attribute(GTK_CELL_LAYOUT(combo), description, "text",
                                  DEVICE_COLUMN_DESCRIPTION);
    g_autofree char* shown = device_display(root.device);
    gtk_entry_set_text(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(combo))), shown);
    g_signal_connect(combo, "changed", G_CALLBACK(describe_device), nullptr);
    return combo;
}

// A tty came, went or changed: the list is built again. The entry keeps what
// it shows, typed or chosen: GTK leaves it alone when the active row goes.
gboolean devices_changed(gint fd, GIOCondition condition, gpointer record) {
    PcConfigWidgets* w = static_cast<PcConfigWidgets*>(record);
    if (condition & (G_IO_ERR | G_IO_HUP | G_IO_NVAL)) {
        w->monitor_watch = 0;
        return G_SOURCE_REMOVE;  // a broken monitor would wake us forever
    }
    if (device_source.monitor_drain(fd)) fill_device_list(w->device_list);
    return G_SOURCE_CONTINUE;
}

void watch_devices(PcConfigWidgets* w) {
    w->monitor_fd = device_source.monitor_open();
    if (w->monitor_fd < 0) return;
    w->monitor_watch = g_unix_fd_add(w->monitor_fd, G_IO_IN, devices_changed, w);
}

GtkWidget* speed_combo() {
    GtkWidget* combo = gtk_combo_box_text_new();
    for (int i = 0; i < SPEED_COUNT; i++) {
        char rate[10];
        std::snprintf(rate, sizeof rate, "%d", get_speed(i));
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo), rate);
        if (get_speed(i) == root.speed) gtk_combo_box_set_active(GTK_COMBO_BOX(combo), i);
    }
    return combo;
}

void apply_language(GtkWidget* combo) {
    g_autofree char* name = combo_active_latin1(combo);
    if (!name) return;
    const int language = language_from_name(name);
    if (language == root.language) return;
    root.language = language;
    set_toolkit_language(language);
    // The dialog also opens at the first start over the main window; without
    // a window there is no menu bar to rebuild.
    if (root.main_window) ExchangeMenubar();
}

// The device typed or chosen, as the system's bytes (g_free); null when the
// entry still shows root.device, whose bytes then stay exactly as they are,
// also where the display had to convert them.
char* chosen_device(GtkWidget* combo) {
    const char* typed = gtk_entry_get_text(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(combo))));
    g_autofree char* shown = device_display(root.device);
    if (std::strcmp(shown, typed) == 0) return nullptr;
    gchar* path = g_filename_from_utf8(typed, -1, nullptr, nullptr, nullptr);
    return path ? path : from_utf8(typed);
}

void apply_speed(GtkWidget* combo) {
    g_autofree gchar* text = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(combo));
    if (!text) return;
    const int row = speed_index(static_cast<double>(std::atol(text)));
    if (row >= 0) root.speed = get_speed(row);
}

}  // namespace

void ConfigurePC() {
    const int l = interface_language();
    PcConfigWidgets* w = g_new0(PcConfigWidgets, 1);
    w->monitor_fd = -1;
    GtkWidget* vbox = nullptr;
    GtkWidget* buttons = nullptr;
    w->dialog = kx_dialog_new(5, &vbox, &buttons);
    kx_dialog_grab(w->dialog);
    window_set_title_latin1(w->dialog, tpcconfig[l]);
    g_signal_connect(w->dialog, "delete-event", G_CALLBACK(pc_config_delete), w);
    g_signal_connect(w->dialog, "destroy", G_CALLBACK(pc_config_destroy), w);

    w->language_combo = language_combo_new(root.language, false);
    kx_dialog_add_row(vbox, tpcconfiglang[l], w->language_combo);
    w->device_combo = device_combo(&w->device_list);
    kx_dialog_add_row(vbox, tpcconfigdevice[l], w->device_combo);
    watch_devices(w);
    w->speed_combo = speed_combo();
    kx_dialog_add_row(vbox, tpcconfigspeed[l], w->speed_combo);

    GtkWidget* ok = kx_dialog_add_button(buttons, tOK[l]);
    g_signal_connect(ok, "clicked", G_CALLBACK(pc_config_ok), w);
    // Enter in the device field presses OK.
    g_signal_connect_swapped(gtk_bin_get_child(GTK_BIN(w->device_combo)), "activate",
                             G_CALLBACK(gtk_button_clicked), ok);
    GtkWidget* cancel = kx_dialog_add_button(buttons, tCancel[l]);
    g_signal_connect(cancel, "clicked", G_CALLBACK(pc_config_cancel), w);
    gtk_widget_show(w->dialog);
}

void pc_config_ok(GtkWidget*, gpointer record) {
    PcConfigWidgets* w = static_cast<PcConfigWidgets*>(record);
    g_autofree char* device = chosen_device(w->device_combo);
    // A longer name is refused, not cut: the dialog stays for another one.
    if (device && std::strlen(device) > static_cast<size_t>(DEVICE_MAX)) {
        show_error_and_wait(tdevice_toolong[interface_language()], nullptr, nullptr);
        return;
    }
    apply_language(w->language_combo);
    if (device) copy_bounded(root.device, device, DEVICE_MAX);
    apply_speed(w->speed_combo);
    gtk_widget_destroy(w->dialog);  // frees w through the destroy handler
}

void pc_config_cancel(GtkWidget*, gpointer record) {
    gtk_widget_destroy(static_cast<PcConfigWidgets*>(record)->dialog);
}

// Closing the dialog (its close button, Escape) is Cancel: nothing changes.
gboolean pc_config_delete(GtkWidget*, GdkEvent*, gpointer record) {
    pc_config_cancel(nullptr, record);
    return TRUE;
}

void pc_config_destroy(GtkWidget* widget, gpointer record) {
    PcConfigWidgets* w = static_cast<PcConfigWidgets*>(record);
    if (w->monitor_watch) g_source_remove(w->monitor_watch);
    if (w->monitor_fd >= 0) device_source.monitor_close(w->monitor_fd);
    gtk_grab_remove(widget);
    g_free(record);
}
