// Dialogs and result reporting: the message dialog, the yes/no question, the
// button relabelling and the product information. Reporting pen result codes
// (show_response_and_wait) lives in ui/report.cc.
//
// A waiting dialog holds a modal grab and runs a nested gtk_main(); its
// "destroy" handler removes the grab and leaves that loop, so the function
// returns only once the window is gone, however it was closed.
#include "ui/dialogs.h"

#include <cstdio>
#include <initializer_list>

#include "state/state.h"
#include "ui/convert.h"

namespace {

// Spacing between the buttons of a row and around the row.
constexpr int BUTTON_SPACING = 5;
constexpr int MIN_DIALOG_WIDTH = 280;

// "destroy" of a waiting dialog: give input back and end its nested loop.
void waiting_dialog_destroyed(GtkWidget* dialog, gpointer) {
    gtk_grab_remove(dialog);
    gtk_main_quit();
}

void destroy_dialog_clicked(GtkWidget*, gpointer dialog) {
    gtk_widget_destroy(GTK_WIDGET(dialog));
}

// Escape asks a dialog to close exactly as the window manager's close button
// does: gtk_window_close delivers the same delete event, so each dialog's own
// "delete-event" handler decides, and a dialog that ignores closing ignores
// Escape too. Connected after the default handler, so a focused widget that
// uses Escape itself keeps it.
gboolean dialog_key_pressed(GtkWidget* window, GdkEventKey* event, gpointer) {
    const guint modifiers = event->state & gtk_accelerator_get_default_mod_mask();
    if (event->keyval != GDK_KEY_Escape || modifiers != 0) return FALSE;
    gtk_window_close(GTK_WINDOW(window));
    return TRUE;
}

struct ConfirmState {
    GtkWidget* dialog;
    int result;
};

void confirm_yes_clicked(GtkWidget*, gpointer data) {
    ConfirmState* state = static_cast<ConfirmState*>(data);
    state->result = 1;
    gtk_widget_destroy(state->dialog);
}

void confirm_no_clicked(GtkWidget*, gpointer data) {
    ConfirmState* state = static_cast<ConfirmState*>(data);
    state->result = 0;
    gtk_widget_destroy(state->dialog);
}

}  // namespace

void label_field(GtkWidget* label, GtkWidget* field) {
    AtkObject* named = gtk_widget_get_accessible(label);
    AtkObject* target = gtk_widget_get_accessible(field);
    atk_object_add_relationship(target, ATK_RELATION_LABELLED_BY, named);
    atk_object_add_relationship(named, ATK_RELATION_LABEL_FOR, target);
    atk_object_set_name(target, gtk_label_get_text(GTK_LABEL(label)));
    // A combo with an entry: the entry is what takes the keyboard.
    GtkWidget* child = GTK_IS_COMBO_BOX(field) ? gtk_bin_get_child(GTK_BIN(field)) : nullptr;
    if (child && GTK_IS_ENTRY(child)) label_field(label, child);
}

void kx_dialog_add_row(GtkWidget* vbox, const char* label_latin1, GtkWidget* value) {
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 5);
    GtkWidget* label = label_new_latin1(label_latin1);
    label_field(label, value);
    gtk_box_pack_end(GTK_BOX(row), value, FALSE, FALSE, 0);
    gtk_box_pack_end(GTK_BOX(row), label, FALSE, FALSE, 5);
    gtk_widget_show(value);
    gtk_widget_show(label);
    gtk_box_pack_start(GTK_BOX(vbox), row, FALSE, FALSE, 5);
    gtk_widget_show(row);
}

// A grab needs the window's GDK window: realize it first.
void kx_dialog_grab(GtkWidget* dialog) {
    gtk_widget_realize(dialog);
    gtk_grab_add(dialog);
}

GtkWidget* kx_dialog_new(int border, GtkWidget** vbox, GtkWidget** buttons) {
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_DIALOG);
    // Sized by their content; nothing in them gains from a larger window.
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    g_signal_connect_after(window, "key-press-event", G_CALLBACK(dialog_key_pressed), nullptr);
    if (root.main_window) {
        gtk_window_set_transient_for(GTK_WINDOW(window), GTK_WINDOW(root.main_window));
        gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER_ON_PARENT);
    } else {
        gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    }

    GtkWidget* outer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    // Short questions would otherwise make windows so narrow that a window
    // manager cuts their title down to a few letters.
    gtk_widget_set_size_request(outer, MIN_DIALOG_WIDTH, -1);
    gtk_container_add(GTK_CONTAINER(window), outer);

    GtkWidget* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_set_border_width(GTK_CONTAINER(content), border);
    gtk_box_pack_start(GTK_BOX(outer), content, TRUE, TRUE, 0);

    // The action area: a separator over the button row. It stays hidden
    // until it gets a button, so a dialog without buttons has no empty strip.
    GtkWidget* action = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_pack_end(GTK_BOX(outer), action, FALSE, TRUE, 0);
    GtkWidget* separator = gtk_separator_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_box_pack_start(GTK_BOX(action), separator, FALSE, TRUE, 0);
    gtk_widget_show(separator);
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, BUTTON_SPACING);
    gtk_box_set_homogeneous(GTK_BOX(row), TRUE);
    gtk_container_set_border_width(GTK_CONTAINER(row), BUTTON_SPACING);
    gtk_box_pack_start(GTK_BOX(action), row, FALSE, TRUE, 0);

    gtk_widget_show(content);
    gtk_widget_show(outer);
    if (vbox) *vbox = content;
    if (buttons) *buttons = row;
    return window;
}

GtkWidget* kx_dialog_add_label(GtkWidget* vbox, const char* latin1) {
    if (!latin1) return nullptr;
    GtkWidget* label = label_new_latin1(latin1);
    gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
    gtk_box_pack_start(GTK_BOX(vbox), label, TRUE, TRUE, 5);
    gtk_widget_show(label);
    return label;
}

GtkWidget* kx_dialog_add_button(GtkWidget* buttons, const char* latin1) {
    GtkWidget* button = button_new_latin1(latin1);
    gtk_box_pack_start(GTK_BOX(buttons), button, TRUE, TRUE, 0);
    gtk_widget_show(button);
    gtk_widget_show(buttons);
    GtkWidget* action = gtk_widget_get_parent(buttons);
    if (action) gtk_widget_show(action);
    return button;
}

void show_error_and_wait(const char* line1, const char* line2, const char* line3,
                         const char* line4) {
    GtkWidget* vbox = nullptr;
    GtkWidget* buttons = nullptr;
    GtkWidget* dialog = kx_dialog_new(10, &vbox, &buttons);
    kx_dialog_grab(dialog);
    for (const char* line : {line1, line2, line3, line4}) kx_dialog_add_label(vbox, line);

    GtkWidget* ok = kx_dialog_add_button(buttons, tOK[interface_language()]);
    g_signal_connect(ok, "clicked", G_CALLBACK(destroy_dialog_clicked), dialog);
    g_signal_connect(dialog, "destroy", G_CALLBACK(waiting_dialog_destroyed), nullptr);

    gtk_widget_grab_focus(ok);
    gtk_widget_show(dialog);
    gtk_main();
}

GtkWidget* language_combo_new(int current, bool keep_unknown) {
    GtkWidget* combo = gtk_combo_box_text_new();
    for (int i = 0; i < LANG_COUNT; i++) combo_append_latin1(combo, tlanguages[i]);
    if (current >= 0 && current < LANG_COUNT) {
        gtk_combo_box_set_active(GTK_COMBO_BOX(combo), current);
        return combo;
    }
    if (!keep_unknown) return combo;
    char unknown[32];
    std::snprintf(unknown, sizeof unknown, "? (%d)", current);
    combo_append_latin1(combo, unknown);
    gtk_combo_box_set_active(GTK_COMBO_BOX(combo), LANG_COUNT);
    return combo;
}

void show_notice(const char* title, const char* line1, const char* line2) {
    GtkWidget* vbox = nullptr;
    GtkWidget* buttons = nullptr;
    GtkWidget* dialog = kx_dialog_new(10, &vbox, &buttons);
    window_set_title_latin1(dialog, title);
    kx_dialog_add_label(vbox, line1);
    kx_dialog_add_label(vbox, line2);
    GtkWidget* ok = kx_dialog_add_button(buttons, tOK[interface_language()]);
    g_signal_connect(ok, "clicked", G_CALLBACK(destroy_dialog_clicked), dialog);
    gtk_widget_grab_focus(ok);
    gtk_widget_show(dialog);
}

int Sicher(const char* title, const char* line1, const char* line2, const char* yes_label,
           const char* no_label) {
    return ask_question(title, line1, line2, yes_label, no_label) == 1 ? 1 : 0;
}

int ask_question(const char* title, const char* line1, const char* line2, const char* yes_label,
                 const char* no_label) {
    GtkWidget* vbox = nullptr;
    GtkWidget* buttons = nullptr;
    ConfirmState state = {kx_dialog_new(10, &vbox, &buttons), -1};
    kx_dialog_grab(state.dialog);
    if (title) window_set_title_latin1(state.dialog, title);
    kx_dialog_add_label(vbox, line1);
    kx_dialog_add_label(vbox, line2);

    GtkWidget* yes = kx_dialog_add_button(buttons, yes_label);
    g_signal_connect(yes, "clicked", G_CALLBACK(confirm_yes_clicked), &state);
    GtkWidget* no = kx_dialog_add_button(buttons, no_label);
    g_signal_connect(no, "clicked", G_CALLBACK(confirm_no_clicked), &state);
    // A window-manager close (or Escape) takes the default path: the window
    // is destroyed with result still -1, which takes neither answer.
    g_signal_connect(state.dialog, "destroy", G_CALLBACK(waiting_dialog_destroyed), nullptr);

    // Enter or Space on a fresh question takes the answer that changes
    // nothing: the second button (quitting, erasing and overwriting are all
    // behind the first).
    gtk_widget_grab_focus(no);
    gtk_widget_show(state.dialog);
    gtk_main();
    return state.result;
}

void rename_button(GtkWidget* button, const char* latin1) {
    if (!button || !GTK_IS_BIN(button)) return;
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(button));
    if (!child || !GTK_IS_LABEL(child)) return;
    label_set_latin1(child, latin1);
}

void Version() {
    const int l = interface_language();
    GtkWidget* vbox = nullptr;
    GtkWidget* buttons = nullptr;
    GtkWidget* dialog = kx_dialog_new(10, &vbox, &buttons);
    window_set_title_latin1(dialog, tcr_title[l]);
    // Not modal and nothing waits for it; it may outlive any number of menu
    // actions, but not the main window.
    gtk_window_set_destroy_with_parent(GTK_WINDOW(dialog), TRUE);

    char line[256];
    line[sizeof line - 1] = '\0';
    format_row(line, sizeof line - 1, tcr_s1[l], kx_version);
    kx_dialog_add_label(vbox, line);
    kx_dialog_add_label(vbox, tcr_s2[l]);
    kx_dialog_add_label(vbox, tcr_s3[l]);

    GtkWidget* ok = kx_dialog_add_button(buttons, tOK[l]);
    g_signal_connect(ok, "clicked", G_CALLBACK(destroy_dialog_clicked), dialog);
    gtk_widget_show(dialog);
}
