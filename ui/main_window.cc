// Main window and menus: the top-level window, its menu bar built from the
// static menu table, the text view of the store, and ending the program.
#include "ui/main_window.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/state.h"
#include "text/export.h"
#include "text/save_dialog.h"
#include "ui/convert.h"
#include "ui/dialogs.h"
#include "ui/pc_config.h"
#include "ui/pen_config.h"
#include "ui/progress.h"

// Paths are catalogue rows; CopyMenuItems turns them into texts of the
// current language. The erase item has no accelerator in any language.
const MenuEntry menu_items[MENU_ITEM_COUNT] = {
    {&tdatmen, nullptr, nullptr, "<Branch>"},
    {&tdatmen1, "<control>S", Save, nullptr},
    {&tdatmen2, "<control>Q", quit_program, nullptr},
    {&tkxmen, nullptr, nullptr, "<Branch>"},
    {&tkxmen1, "<control>R", TransferKX_PC, nullptr},
    {&tkxmen2, nullptr, ClearFlash, nullptr},
    {&tkxmen3, "<control>C", ConfigureKX, nullptr},
    {&tkxmen4, "<control>P", ConfigurePC, nullptr},
    {&thelpmen, nullptr, nullptr, "<Branch>"},
    {&thelpmen1, "<control>V", Version, nullptr},
};

namespace {

// A path with every '_' removed: "/_File/_Save" and "/File/Save" name the
// same place.
std::string strip_mnemonics(const char* path) {
    std::string out;
    for (const char* p = path; *p; p++)
        if (*p != '_') out += *p;
    return out;
}

// The path up to its last '/' ("" for a top-level entry).
std::string parent_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The text after the last '/', mnemonic marks kept.
const char* last_component(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

struct Branch {
    std::string path;  // without mnemonic marks
    GtkWidget* menu;
};

// "activate" of every menu item: the table's callbacks take no arguments, so
// the item carries the index of its table entry.
void menu_item_activated(GtkMenuItem*, gpointer index) {
    const int i = GPOINTER_TO_INT(index);
    if (i < 0 || i >= MENU_ITEM_COUNT || !menu_items[i].callback) return;
    menu_items[i].callback();
}

GtkWidget* new_menu_item(const char* path_latin1) {
    char* utf8 = to_utf8(last_component(path_latin1));
    GtkWidget* item = gtk_menu_item_new_with_mnemonic(utf8);
    g_free(utf8);
    return item;
}

// The menu that holds the children of `path`; a branch that the table names
// only as a parent is made on the way, so no item is ever lost.
GtkWidget* menu_for(const std::string& path, GtkWidget* bar, std::vector<Branch>* branches) {
    if (path.empty()) return bar;
    for (const Branch& b : *branches)
        if (b.path == path) return b.menu;
    GtkWidget* shell = menu_for(parent_of(path), bar, branches);
    GtkWidget* item = new_menu_item(path.c_str());
    GtkWidget* menu = gtk_menu_new();
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), menu);
    gtk_menu_shell_append(GTK_MENU_SHELL(shell), item);
    gtk_widget_show(item);
    branches->push_back({path, menu});
    return menu;
}

void add_accelerator(GtkWidget* item, const char* accelerator) {
    if (!accelerator) return;
    guint key = 0;
    GdkModifierType mods = static_cast<GdkModifierType>(0);
    gtk_accelerator_parse(accelerator, &key, &mods);
    if (key == 0) return;
    gtk_widget_add_accelerator(item, "activate", root.accel_group, key, mods, GTK_ACCEL_VISIBLE);
}

// Pixels between the text and the view's frame on the left and the right.
constexpr int TEXT_MARGIN = 6;

// The text view's tag for each size class: the font scaled in the steps of
// the RTF export, relative to the normal class 1.
constexpr int SIZE_CLASSES = 4;
const char* const size_tag_names[SIZE_CLASSES] = {"size-small", "size-normal", "size-large",
                                                  "size-larger"};

void create_size_tags(GtkTextBuffer* buffer) {
    for (int k = 0; k < SIZE_CLASSES; k++) {
        const double scale = static_cast<double>(rtf_half_points[k]) / rtf_half_points[1];
        gtk_text_buffer_create_tag(buffer, size_tag_names[k], "scale", scale, nullptr);
    }
}

// Loading the view. The store is copied first (a download started meanwhile
// appends to it and may move it) and then inserted in steps of at most
// LOAD_CHARS characters or LOAD_RUNS runs of one size class, each step with
// its size tags, one tag application per run: a megabyte set in one go would
// hold the main loop for about a tenth of a second. The first step runs at
// once, so a text of up to LOAD_CHARS characters is in the view when
// reload_text_view returns; the rest follows from an idle source that
// outranks redrawing and layout, so the whole text is in before the view lays
// it out, but lets input through between steps.
constexpr size_t LOAD_CHARS = 32768;
constexpr size_t LOAD_RUNS = 2048;

struct ViewLoad {
    std::string text;                  // ISO-8859-1 copy of the store
    std::vector<unsigned char> sizes;  // size class of each character
    size_t done = 0;                   // characters in the view so far
    guint source = 0;
};
std::unique_ptr<ViewLoad> view_load;

void cancel_view_load() {
    if (view_load && view_load->source != 0) g_source_remove(view_load->source);
    view_load.reset();
}

// The characters of the next step: up to LOAD_CHARS, ending early with the
// run that makes LOAD_RUNS.
size_t next_step(const ViewLoad& load) {
    const size_t end = std::min(load.text.size(), load.done + LOAD_CHARS);
    size_t at = load.done, runs = 0;
    while (at < end && runs < LOAD_RUNS) {
        const unsigned char k = load.sizes[at];
        while (at < end && load.sizes[at] == k) at++;
        runs++;
    }
    return at - load.done;
}

// Tags the characters [from, from + count) of the view, already inserted,
// run by run.
void tag_runs(GtkTextBuffer* buffer, const ViewLoad& load, size_t from, size_t count) {
    GtkTextTagTable* table = gtk_text_buffer_get_tag_table(buffer);
    GtkTextTag* tags[SIZE_CLASSES];
    for (int k = 0; k < SIZE_CLASSES; k++)
        tags[k] = gtk_text_tag_table_lookup(table, size_tag_names[k]);
    GtkTextIter start, end;
    gtk_text_buffer_get_iter_at_offset(buffer, &start, static_cast<gint>(from));
    for (size_t at = from; at < from + count;) {
        const unsigned char k = load.sizes[at];
        size_t next = at + 1;
        while (next < from + count && load.sizes[next] == k) next++;
        end = start;
        gtk_text_iter_forward_chars(&end, static_cast<gint>(next - at));
        if (tags[k]) gtk_text_buffer_apply_tag(buffer, tags[k], &start, &end);
        start = end;
        at = next;
    }
}

// Inserts and tags the next step; true while characters remain.
bool load_step(ViewLoad& load) {
    if (!root.text_view) return false;
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(root.text_view));
    const size_t count = next_step(load);
    gsize written = 0;
    gchar* utf8 = g_convert(load.text.data() + load.done, static_cast<gssize>(count), "UTF-8",
                            "ISO-8859-1", nullptr, &written, nullptr);
    if (!utf8) return false;
    GtkTextIter end;
    gtk_text_buffer_get_end_iter(buffer, &end);
    gtk_text_buffer_insert(buffer, &end, utf8, static_cast<gint>(written));
    g_free(utf8);
    tag_runs(buffer, load, load.done, count);
    load.done += count;
    return load.done < load.text.size();
}

gboolean load_idle(gpointer) {
    if (view_load && load_step(*view_load)) return G_SOURCE_CONTINUE;
    // Removed by returning: reset() must not remove it again.
    if (view_load) view_load->source = 0;
    view_load.reset();
    return G_SOURCE_REMOVE;
}

void set_title_row(GtkWidget* window, const char* format) {
    char title[256];
    title[sizeof title - 1] = '\0';
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    // The row is the program's own constant with one %s.
    std::snprintf(title, 255, format, kx_version);
#pragma GCC diagnostic pop
    char* utf8 = to_utf8(title);
    gtk_window_set_title(GTK_WINDOW(window), utf8);
    g_free(utf8);
}

}  // namespace

MenuEntry* CopyMenuItems() {
    MenuEntry* copy = static_cast<MenuEntry*>(g_malloc(sizeof menu_items));
    std::memcpy(copy, menu_items, sizeof menu_items);
    for (int i = 0; i < MENU_ITEM_COUNT; i++) {
        const MessageText* row = static_cast<const MessageText*>(menu_items[i].path);
        copy[i].path = (*row)[root.language];
    }
    return copy;
}

GtkWidget* menubar_new() {
    MenuEntry* items = CopyMenuItems();
    root.accel_group = gtk_accel_group_new();

    GtkWidget* bar = gtk_menu_bar_new();
    std::vector<Branch> branches;
    for (int i = 0; i < MENU_ITEM_COUNT; i++) {
        const char* path = static_cast<const char*>(items[i].path);
        const std::string plain = strip_mnemonics(path);
        GtkWidget* shell = menu_for(parent_of(plain), bar, &branches);
        GtkWidget* item = new_menu_item(path);
        const bool branch = items[i].item_type && std::strcmp(items[i].item_type, "<Branch>") == 0;
        if (branch) {
            GtkWidget* menu = gtk_menu_new();
            gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), menu);
            branches.push_back({plain, menu});
        } else {
            g_signal_connect(item, "activate", G_CALLBACK(menu_item_activated), GINT_TO_POINTER(i));
            add_accelerator(item, items[i].accelerator);
        }
        gtk_menu_shell_append(GTK_MENU_SHELL(shell), item);
        gtk_widget_show(item);
    }

    if (root.main_window)
        gtk_window_add_accel_group(GTK_WINDOW(root.main_window), root.accel_group);
    g_free(items);
    return bar;
}

void ExchangeMenubar() {
    if (!root.main_window || !root.main_vbox) return;
    // The old items disconnect from their group as they go, so the group is
    // released only after the bar.
    GtkAccelGroup* old_group = root.accel_group;
    root.accel_group = nullptr;
    if (old_group) gtk_window_remove_accel_group(GTK_WINDOW(root.main_window), old_group);
    if (root.menu_bar) gtk_widget_destroy(root.menu_bar);
    if (old_group) g_object_unref(old_group);

    root.menu_bar = menubar_new();
    gtk_box_pack_start(GTK_BOX(root.main_vbox), root.menu_bar, FALSE, TRUE, 0);
    gtk_box_reorder_child(GTK_BOX(root.main_vbox), root.menu_bar, 0);
    gtk_widget_show(root.menu_bar);
}

void set_main_title(GtkWidget* window) {
    set_title_row(window, t_main_title[root.language]);
}

void OpenMainWindow() {
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    root.main_window = window;
    gtk_window_set_default_size(GTK_WINDOW(window), 600, 400);
    g_signal_connect(window, "delete-event", G_CALLBACK(main_window_delete), nullptr);
    g_signal_connect(window, "destroy", G_CALLBACK(main_window_destroy), nullptr);
    gtk_container_set_border_width(GTK_CONTAINER(window), 10);
    set_main_title(window);

    root.main_vbox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 1);
    gtk_container_set_border_width(GTK_CONTAINER(root.main_vbox), 1);
    gtk_container_add(GTK_CONTAINER(window), root.main_vbox);
    gtk_widget_show(root.main_vbox);

    root.menu_bar = menubar_new();
    gtk_box_pack_start(GTK_BOX(root.main_vbox), root.menu_bar, FALSE, TRUE, 0);
    gtk_widget_show(root.menu_bar);

    GtkWidget* hbox = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 5);
    root.text_view = gtk_text_view_new();
    gtk_text_view_set_editable(GTK_TEXT_VIEW(root.text_view), FALSE);
    gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(root.text_view), FALSE);
    // Words wrap; a word longer than the line breaks between characters rather
    // than widening the window.
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(root.text_view), GTK_WRAP_WORD_CHAR);
    gtk_text_view_set_left_margin(GTK_TEXT_VIEW(root.text_view), TEXT_MARGIN);
    gtk_text_view_set_right_margin(GTK_TEXT_VIEW(root.text_view), TEXT_MARGIN);
    create_size_tags(gtk_text_view_get_buffer(GTK_TEXT_VIEW(root.text_view)));
    reload_text_view();

    // GtkTextView asks for the height of its whole text unless it sits in a
    // scrolled window; this one only clips and scrolls (EXTERNAL policy) and
    // the visible bar beside it runs on the view's own vertical adjustment.
    GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER,
                                   GTK_POLICY_EXTERNAL);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller), GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(scroller), root.text_view);
    GtkAdjustment* vadj = gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(root.text_view));
    GtkWidget* scrollbar = gtk_scrollbar_new(GTK_ORIENTATION_VERTICAL, vadj);

    gtk_box_pack_start(GTK_BOX(hbox), scroller, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(hbox), scrollbar, FALSE, FALSE, 0);
    gtk_widget_show(root.text_view);
    gtk_widget_show(scroller);
    gtk_widget_show(scrollbar);
    gtk_box_pack_start(GTK_BOX(root.main_vbox), hbox, TRUE, TRUE, 0);
    gtk_widget_show(hbox);

    gtk_widget_show(window);
}

void reload_text_view() {
    cancel_view_load();
    if (!root.text_view) return;
    // Deleting a megabyte takes some 10 ms; a fresh buffer on the same tag
    // table would be slower still, and more so with every reload.
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(root.text_view)), "", 0);

    // The text up to its terminator, as a zero-terminated string shows it.
    const int stored = root.text ? root.text_length.load() : 0;
    const size_t length = stored > 0 ? strnlen(root.text, static_cast<size_t>(stored)) : 0;
    if (length == 0) return;
    view_load = std::make_unique<ViewLoad>();
    view_load->text.assign(root.text, length);
    view_load->sizes.resize(length);
    for (size_t i = 0; i < length; i++) view_load->sizes[i] = root.attributes[i] & 3;
    if (!load_step(*view_load)) {
        view_load.reset();
        return;
    }
    view_load->source = g_idle_add_full(G_PRIORITY_HIGH_IDLE, load_idle, nullptr, nullptr);
}

void quit_program() {
    if (!root.main_window) return;
    if (root.unsaved) {
        const int l = root.language;
        if (!Sicher(texit_title[l], texit_s1[l], texit_s2[l], tYes[l], tNo[l])) return;
    }
    // The question's nested loop may have let the window go meanwhile.
    if (root.main_window) gtk_widget_destroy(root.main_window);
}

gboolean main_window_delete(GtkWidget*, GdkEvent*, gpointer) {
    if (!root.unsaved) return FALSE;
    const int l = root.language;
    return Sicher(texit_title[l], texit_s1[l], texit_s2[l], tYes[l], tNo[l]) ? FALSE : TRUE;
}

void main_window_destroy(GtkWidget* widget, gpointer) {
    if (!root.main_window || widget != root.main_window) return;
    // Nothing may use the window's widgets once it goes.
    cancel_view_load();
    root.main_window = nullptr;
    root.main_vbox = nullptr;
    root.menu_bar = nullptr;
    root.text_view = nullptr;
    if (root.accel_group) {
        g_object_unref(root.accel_group);
        root.accel_group = nullptr;
    }
    if (gtk_main_level() > 0) gtk_main_quit();
}
