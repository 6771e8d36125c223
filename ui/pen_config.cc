// Pen configuration dialog: shows what the pen reported and writes back the
// settings it accepts (menu, text and target language, mode).
//
// A pen reports its values unchecked. What the dialog makes of values outside
// their ranges:
// - a language index above 4 gets a sixth entry "? (N)" in its list, chosen;
//   applying while that entry is still chosen writes the pen's own value back
//   unchanged, since the user made no choice;
// - memory use is clamped to 0..100 % (memory_free above 100 shows 0 %);
// - the battery level is clamped to 0..3;
// - any mode other than 0 shows "Translate" and is written back as 1.
#include "ui/pen_config.h"

#include <cstdio>
#include <cstring>

#include "app/catalogue.h"
#include "pen/protocol.h"
#include "state/state.h"
#include "ui/convert.h"
#include "ui/dialogs.h"
#include "ui/spelling.h"

namespace {

constexpr int VALUE_WIDTH = 140;

// The language a combo shows; `current` while its own "? (N)" entry is chosen.
int chosen_language(GtkWidget* combo, int current) {
    if (gtk_combo_box_get_active(GTK_COMBO_BOX(combo)) >= LANG_COUNT) return current;
    g_autofree char* text = combo_active_latin1(combo);
    return text ? language_from_name(text) : current;
}

GtkWidget* firmware_entry() {
    char version[32];
    std::snprintf(version, sizeof version, "%d.%02d", root.firmware_major,
                  root.firmware_minor & 0x7F);
    GtkWidget* entry = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(entry), version);
    gtk_editable_set_editable(GTK_EDITABLE(entry), FALSE);
    // Read-only: it should not take the dialog's first focus from the choices.
    gtk_widget_set_can_focus(entry, FALSE);
    // Without this the entry's own minimum (room for some 20 characters)
    // would override the requested width.
    gtk_entry_set_width_chars(GTK_ENTRY(entry), 1);
    gtk_widget_set_size_request(entry, VALUE_WIDTH, -1);
    return entry;
}

GtkWidget* memory_bar() {
    int used = 100 - root.memory_free;
    if (used < 0) used = 0;
    if (used > 100) used = 100;
    char text[16];
    std::snprintf(text, sizeof text, "%d %%", used);
    GtkWidget* bar = gtk_progress_bar_new();
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar), used / 100.0);
    gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), text);
    gtk_progress_bar_set_show_text(GTK_PROGRESS_BAR(bar), TRUE);
    gtk_widget_set_size_request(bar, VALUE_WIDTH, -1);
    return bar;
}

GtkWidget* battery_bar() {
    int level = root.battery_level;
    if (level < 0) level = 0;
    if (level > 3) level = 3;
    GtkWidget* bar = gtk_level_bar_new_for_interval(0, 3);
    gtk_level_bar_set_mode(GTK_LEVEL_BAR(bar), GTK_LEVEL_BAR_MODE_DISCRETE);
    // One block per level; colour the blocks by charge rather than by the
    // toolkit's default thresholds, which assume a range of 0..1.
    gtk_level_bar_add_offset_value(GTK_LEVEL_BAR(bar), GTK_LEVEL_BAR_OFFSET_LOW, 1);
    gtk_level_bar_add_offset_value(GTK_LEVEL_BAR(bar), GTK_LEVEL_BAR_OFFSET_HIGH, 2);
    gtk_level_bar_add_offset_value(GTK_LEVEL_BAR(bar), GTK_LEVEL_BAR_OFFSET_FULL, 3);
    gtk_level_bar_set_value(GTK_LEVEL_BAR(bar), level);
    gtk_widget_set_size_request(bar, VALUE_WIDTH, -1);
    return bar;
}

GtkWidget* mode_combo() {
    const int l = interface_language();
    GtkWidget* combo = gtk_combo_box_text_new();
    combo_append_latin1(combo, tkxconfigmodescan[l]);
    combo_append_latin1(combo, tkxconfigmodetrans[l]);
    gtk_combo_box_set_active(GTK_COMBO_BOX(combo), root.mode == 0 ? 0 : 1);
    return combo;
}

}  // namespace

void ConfigureKX() {
    const int result = read_configuration(&root);
    if (result != PEN_OK) {
        show_response_and_wait(result);
        return;
    }
    // The text's language is now the pen's.
    update_spelling();

    const int l = interface_language();
    PenConfigWidgets* w = g_new0(PenConfigWidgets, 1);
    GtkWidget* vbox = nullptr;
    GtkWidget* buttons = nullptr;
    w->dialog = kx_dialog_new(5, &vbox, &buttons);
    kx_dialog_grab(w->dialog);
    window_set_title_latin1(w->dialog, tkxconfig[l]);
    g_signal_connect(w->dialog, "delete-event", G_CALLBACK(pen_config_delete_event), w);
    g_signal_connect(w->dialog, "destroy", G_CALLBACK(pen_config_destroyed), w);

    // The three read-only values line up at one width, also where the
    // theme's minimum for a bar exceeds the width requested.
    GtkSizeGroup* values = gtk_size_group_new(GTK_SIZE_GROUP_HORIZONTAL);
    GtkWidget* firmware = firmware_entry();
    GtkWidget* memory = memory_bar();
    GtkWidget* battery = battery_bar();
    gtk_size_group_add_widget(values, firmware);
    gtk_size_group_add_widget(values, memory);
    gtk_size_group_add_widget(values, battery);
    g_object_unref(values);  // the widgets keep the group alive
    kx_dialog_add_row(vbox, tkxconfigver[l], firmware);
    kx_dialog_add_row(vbox, tkxconfigmem[l], memory);
    kx_dialog_add_row(vbox, tkxconfigbatt[l], battery);
    w->menu_combo = language_combo_new(root.menu_language, true);
    kx_dialog_add_row(vbox, tkxconfigmenulang[l], w->menu_combo);
    w->text_combo = language_combo_new(root.text_language, true);
    kx_dialog_add_row(vbox, tkxconfigtextlang[l], w->text_combo);
    if (root.firmware_minor & 0x80) {
        w->target_combo = language_combo_new(root.target_language, true);
        kx_dialog_add_row(vbox, tkxconfigtargetlang[l], w->target_combo);
        w->mode_combo = mode_combo();
        kx_dialog_add_row(vbox, tkxconfigmode[l], w->mode_combo);
    }

    GtkWidget* ok = kx_dialog_add_button(buttons, tOK[l]);
    g_signal_connect(ok, "clicked", G_CALLBACK(pen_config_apply), w);
    GtkWidget* cancel = kx_dialog_add_button(buttons, tCancel[l]);
    g_signal_connect(cancel, "clicked", G_CALLBACK(pen_config_cancel), w);
    gtk_widget_show(w->dialog);
}

void pen_config_apply(GtkWidget*, gpointer record) {
    PenConfigWidgets* w = static_cast<PenConfigWidgets*>(record);
    root.menu_language = chosen_language(w->menu_combo, root.menu_language);
    root.text_language = chosen_language(w->text_combo, root.text_language);
    update_spelling();
    if (w->target_combo)
        root.target_language = chosen_language(w->target_combo, root.target_language);
    if (w->mode_combo) {
        g_autofree char* text = combo_active_latin1(w->mode_combo);
        const char* scan = tkxconfigmodescan[interface_language()];
        root.mode = std::strncmp(text ? text : "", scan, std::strlen(scan)) == 0 ? 0 : 1;
    }

    const int result = write_configuration(&root);
    if (result == PEN_OK) {
        gtk_widget_destroy(w->dialog);  // frees w through the destroy handler
        return;
    }
    show_response_and_wait(result);
}

void pen_config_cancel(GtkWidget*, gpointer record) {
    gtk_widget_destroy(static_cast<PenConfigWidgets*>(record)->dialog);
}

// Closing the dialog (its close button, Escape) is Cancel: nothing goes to
// the pen.
gboolean pen_config_delete_event(GtkWidget*, GdkEvent*, gpointer record) {
    pen_config_cancel(nullptr, record);
    return TRUE;
}

void pen_config_destroyed(GtkWidget* widget, gpointer record) {
    gtk_grab_remove(widget);
    g_free(record);
}
