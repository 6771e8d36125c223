// The Edit menu's actions and the find bar: clipboard, undo and selection on
// the focused field or the text, and finding and replacing with
// GtkSourceView's search.
#include "ui/edit.h"

#include <gtksourceview/gtksource.h>

#include "app/catalogue.h"
#include "state/state.h"
#include "ui/convert.h"
#include "ui/text_view.h"

namespace {

// The find bar of the main window; null while there is none. Its search
// context lives as long as the bar and belongs to the view's buffer.
struct FindBar {
    GtkWidget* bar = nullptr;
    GtkWidget* search = nullptr;
    GtkWidget* replace = nullptr;
    GtkWidget* replace_button = nullptr;
    GtkWidget* replace_all_button = nullptr;
    GtkSourceSearchSettings* settings = nullptr;
    GtkSourceSearchContext* context = nullptr;
};
FindBar* find_bar = nullptr;

GtkTextBuffer* text_buffer() {
    return root.text_view ? gtk_text_view_get_buffer(GTK_TEXT_VIEW(root.text_view)) : nullptr;
}

// The field of the find bar that has the focus, or null when the text (or
// nothing of ours) has it.
GtkEditable* focused_field() {
    if (!root.main_window) return nullptr;
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(root.main_window));
    return focus && GTK_IS_EDITABLE(focus) ? GTK_EDITABLE(focus) : nullptr;
}

GtkClipboard* clipboard() {
    return gtk_widget_get_clipboard(root.text_view, GDK_SELECTION_CLIPBOARD);
}

void scroll_to_cursor() {
    if (!root.text_view) return;
    gtk_text_view_scroll_mark_onscreen(GTK_TEXT_VIEW(root.text_view),
                                       gtk_text_buffer_get_insert(text_buffer()));
}

// Paste's first look at the clipboard: text the store cannot hold is refused
// before GTK deletes the selection it would replace; else GTK pastes.
void clipboard_text_received(GtkClipboard*, const char* text, gpointer) {
    GtkTextBuffer* buffer = text_buffer();
    if (!buffer || (text && !text_view_accepts(text))) return;
    gtk_text_buffer_paste_clipboard(buffer, clipboard(), nullptr, TRUE);
    scroll_to_cursor();
}

// The search context of the view's buffer, made when first needed.
GtkSourceSearchContext* search_context() {
    if (!find_bar || !root.text_view) return nullptr;
    if (!find_bar->context) {
        find_bar->context =
            gtk_source_search_context_new(GTK_SOURCE_BUFFER(text_buffer()), find_bar->settings);
    }
    return find_bar->context;
}

void mark_not_found(bool not_found) {
    GtkStyleContext* style = gtk_widget_get_style_context(find_bar->search);
    if (not_found)
        gtk_style_context_add_class(style, GTK_STYLE_CLASS_ERROR);
    else
        gtk_style_context_remove_class(style, GTK_STYLE_CLASS_ERROR);
}

// The next (+1) or previous (-1) match from `from`, selected and scrolled to.
bool find_from(const GtkTextIter* from, int direction) {
    GtkSourceSearchContext* context = search_context();
    if (!context || !gtk_source_search_settings_get_search_text(find_bar->settings)) return false;
    GtkTextIter start, end;
    gboolean wrapped = FALSE;
    const bool found =
        direction > 0 ? gtk_source_search_context_forward(context, from, &start, &end, &wrapped)
                      : gtk_source_search_context_backward(context, from, &start, &end, &wrapped);
    mark_not_found(!found);
    if (!found) return false;
    gtk_text_buffer_select_range(text_buffer(), &start, &end);
    scroll_to_cursor();
    return true;
}

// As the search text changes, the first match from the selection's start on.
void search_changed(GtkSearchEntry* entry, gpointer) {
    if (!find_bar) return;
    const char* text = gtk_entry_get_text(GTK_ENTRY(entry));
    gtk_source_search_settings_set_search_text(find_bar->settings, *text ? text : nullptr);
    mark_not_found(false);
    GtkTextIter start, end;
    if (!*text || !text_buffer()) return;
    gtk_text_buffer_get_selection_bounds(text_buffer(), &start, &end);
    find_from(&start, 1);
}

void hide_find_bar() {
    if (!find_bar) return;
    gtk_widget_hide(find_bar->bar);
    if (find_bar->context) gtk_source_search_context_set_highlight(find_bar->context, FALSE);
    if (root.text_view) gtk_widget_grab_focus(root.text_view);
}

// The close button's "clicked" and the search field's "stop-search".
void close_requested(GtkWidget*, gpointer) {
    hide_find_bar();
}

// Enter in the search field is the next match; Shift+Enter, in either field,
// the previous one; Escape closes the bar.
gboolean find_bar_key(GtkWidget*, GdkEventKey* event, gpointer) {
    const guint modifiers = event->state & gtk_accelerator_get_default_mod_mask();
    switch (event->keyval) {
        case GDK_KEY_Escape:
            hide_find_bar();
            return TRUE;
        case GDK_KEY_Return:
        case GDK_KEY_KP_Enter:
        case GDK_KEY_ISO_Enter:
            if (modifiers == GDK_SHIFT_MASK) {
                find_next(-1);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

void search_activated(GtkEntry*, gpointer) {
    find_next(1);
}

void replace_activated(GtkEntry*, gpointer) {
    replace_match();
}

void replace_clicked(GtkButton*, gpointer) {
    replace_match();
}

void replace_all_clicked(GtkButton*, gpointer) {
    replace_all_matches();
}

void find_bar_destroyed(GtkWidget*, gpointer) {
    if (!find_bar) return;
    if (find_bar->context) g_object_unref(find_bar->context);
    g_object_unref(find_bar->settings);
    delete find_bar;
    find_bar = nullptr;
}

// A field of the bar: its placeholder names it, for the eye and the screen
// reader; it takes the bar's keys before its own.
GtkWidget* field_new(GtkWidget* entry, const MessageText& placeholder) {
    g_signal_connect(entry, "key-press-event", G_CALLBACK(find_bar_key), nullptr);
    g_autofree char* text = to_utf8(placeholder[interface_language()]);
    gtk_entry_set_placeholder_text(GTK_ENTRY(entry), text);
    atk_object_set_name(gtk_widget_get_accessible(entry), text);
    return entry;
}

GtkWidget* labelled_button(const MessageText& label, GCallback clicked) {
    g_autofree char* text = to_utf8(label[interface_language()]);
    GtkWidget* button = gtk_button_new_with_mnemonic(text);
    g_signal_connect(button, "clicked", clicked, nullptr);
    return button;
}

void open_bar(bool with_replace) {
    if (!find_bar || !root.text_view) return;
    gtk_widget_show(find_bar->bar);
    gtk_widget_set_visible(find_bar->replace, with_replace);
    gtk_widget_set_visible(find_bar->replace_button, with_replace);
    gtk_widget_set_visible(find_bar->replace_all_button, with_replace);
    gtk_source_search_context_set_highlight(search_context(), TRUE);
    // A selection within one line is what the user looks for.
    GtkTextIter start, end;
    if (gtk_text_buffer_get_selection_bounds(text_buffer(), &start, &end) &&
        gtk_text_iter_get_line(&start) == gtk_text_iter_get_line(&end)) {
        g_autofree char* selected = gtk_text_iter_get_text(&start, &end);
        gtk_entry_set_text(GTK_ENTRY(find_bar->search), selected);
    }
    gtk_widget_grab_focus(find_bar->search);
}

// An undo or redo of the text's history, when there is one to take; never of
// a field of the find bar, which has no history.
void history_step(gboolean (*possible)(GtkSourceBuffer*), void (*step)(GtkSourceBuffer*)) {
    GtkTextBuffer* buffer = text_buffer();
    if (focused_field() || !buffer || !possible(GTK_SOURCE_BUFFER(buffer))) return;
    step(GTK_SOURCE_BUFFER(buffer));
    scroll_to_cursor();
}

}  // namespace

void edit_undo() {
    history_step(gtk_source_buffer_can_undo, gtk_source_buffer_undo);
}

void edit_redo() {
    history_step(gtk_source_buffer_can_redo, gtk_source_buffer_redo);
}

void edit_cut() {
    if (GtkEditable* field = focused_field()) return gtk_editable_cut_clipboard(field);
    GtkTextBuffer* buffer = text_buffer();
    if (buffer) gtk_text_buffer_cut_clipboard(buffer, clipboard(), TRUE);
}

void edit_copy() {
    if (GtkEditable* field = focused_field()) return gtk_editable_copy_clipboard(field);
    GtkTextBuffer* buffer = text_buffer();
    if (buffer) gtk_text_buffer_copy_clipboard(buffer, clipboard());
}

void edit_paste() {
    if (GtkEditable* field = focused_field()) return gtk_editable_paste_clipboard(field);
    if (!text_buffer()) return;
    gtk_clipboard_request_text(clipboard(), clipboard_text_received, nullptr);
}

void edit_select_all() {
    if (GtkEditable* field = focused_field()) return gtk_editable_select_region(field, 0, -1);
    GtkTextBuffer* buffer = text_buffer();
    if (!buffer) return;
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    gtk_text_buffer_select_range(buffer, &start, &end);
}

void show_find_bar() {
    open_bar(false);
}

void show_replace_bar() {
    open_bar(true);
}

bool find_next(int direction) {
    GtkTextBuffer* buffer = text_buffer();
    if (!find_bar || !buffer) return false;
    GtkTextIter start, end;
    gtk_text_buffer_get_selection_bounds(buffer, &start, &end);
    const bool found = find_from(direction > 0 ? &end : &start, direction);
    if (!found && root.text_view) gtk_widget_error_bell(root.text_view);
    return found;
}

void replace_match() {
    GtkSourceSearchContext* context = search_context();
    if (!context) return;
    const char* replacement = gtk_entry_get_text(GTK_ENTRY(find_bar->replace));
    if (!text_view_accepts(replacement)) return;
    GtkTextIter start, end;
    gtk_text_buffer_get_selection_bounds(text_buffer(), &start, &end);
    if (gtk_source_search_context_get_occurrence_position(context, &start, &end) > 0 &&
        gtk_source_search_context_replace(context, &start, &end, replacement, -1, nullptr)) {
        find_from(&end, 1);
        return;
    }
    find_next(1);
}

int replace_all_matches() {
    GtkSourceSearchContext* context = search_context();
    if (!context) return 0;
    const char* replacement = gtk_entry_get_text(GTK_ENTRY(find_bar->replace));
    if (!text_view_accepts(replacement)) return 0;
    return static_cast<int>(
        gtk_source_search_context_replace_all(context, replacement, -1, nullptr));
}

GtkWidget* find_bar_new() {
    if (find_bar) gtk_widget_destroy(find_bar->bar);
    find_bar = new FindBar();
    find_bar->settings = gtk_source_search_settings_new();
    gtk_source_search_settings_set_case_sensitive(find_bar->settings, FALSE);
    gtk_source_search_settings_set_wrap_around(find_bar->settings, TRUE);

    GtkWidget* bar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    find_bar->bar = bar;
    find_bar->search = field_new(gtk_search_entry_new(), tfind_search);
    find_bar->replace = field_new(gtk_entry_new(), tfind_with);
    find_bar->replace_button = labelled_button(tfind_replace, G_CALLBACK(replace_clicked));
    find_bar->replace_all_button =
        labelled_button(tfind_replace_all, G_CALLBACK(replace_all_clicked));
    GtkWidget* close = gtk_button_new_from_icon_name("window-close-symbolic", GTK_ICON_SIZE_MENU);
    gtk_button_set_relief(GTK_BUTTON(close), GTK_RELIEF_NONE);
    g_signal_connect(close, "clicked", G_CALLBACK(close_requested), nullptr);

    g_signal_connect(find_bar->search, "search-changed", G_CALLBACK(search_changed), nullptr);
    g_signal_connect(find_bar->search, "activate", G_CALLBACK(search_activated), nullptr);
    g_signal_connect(find_bar->replace, "activate", G_CALLBACK(replace_activated), nullptr);
    g_signal_connect(find_bar->search, "stop-search", G_CALLBACK(close_requested), nullptr);
    g_signal_connect(bar, "destroy", G_CALLBACK(find_bar_destroyed), nullptr);

    gtk_box_pack_start(GTK_BOX(bar), find_bar->search, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(bar), find_bar->replace, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(bar), find_bar->replace_button, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(bar), find_bar->replace_all_button, FALSE, FALSE, 0);
    gtk_box_pack_end(GTK_BOX(bar), close, FALSE, FALSE, 0);
    gtk_widget_show_all(bar);
    gtk_widget_set_no_show_all(bar, TRUE);
    gtk_widget_hide(bar);
    return bar;
}
