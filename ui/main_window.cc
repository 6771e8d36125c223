// Main window and menus: the top-level window, its menu bar built from the
// static menu table, the text view of the store, and ending the program.
#include "ui/main_window.h"

#include <glib-unix.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/prefs.h"
#include "app/state.h"
#include "pen/download.h"
#include "pen/serial.h"
#include "ui/convert.h"
#include "ui/dialogs.h"
#include "ui/pc_config.h"
#include "ui/pen_config.h"
#include "ui/progress.h"
#include "ui/save_dialog.h"

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

void set_title_row(GtkWidget* window, const char* format) {
    char title[256];
    title[sizeof title - 1] = '\0';
    format_row(title, sizeof title - 1, format, kx_version);
    window_set_title_latin1(window, title);
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
    gtk_text_view_set_left_margin(GTK_TEXT_VIEW(root.text_view), 4);
    gtk_text_view_set_right_margin(GTK_TEXT_VIEW(root.text_view), 4);
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
    if (!root.text_view) return;
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(root.text_view));
    char* utf8 = to_utf8(root.text ? root.text : "");
    gtk_text_buffer_set_text(buffer, utf8, -1);
    g_free(utf8);
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

namespace {

// The signal that asked the run to end, 0 while none came.
int quit_signal = 0;

// From the main loop, not the signal handler: GLib turns the signal into a
// source. The first signal stops a download (the flag it polls) and ends the
// run once no worker is left; nobody is asked about unsaved text, since no
// one may be there to answer. A second signal ends the program at once.
gboolean quit_signal_received(gpointer data) {
    const int sig = GPOINTER_TO_INT(data);
    if (quit_signal != 0) {
        restore_line_now();
        struct sigaction sa = {};
        sa.sa_handler = SIG_DFL;
        sigaction(sig, &sa, nullptr);
        raise(sig);
        return G_SOURCE_REMOVE;
    }
    quit_signal = sig;
    kxinterface_quit = 1;
    if (!progress_running()) end_window_mode();
    return G_SOURCE_CONTINUE;
}

}  // namespace

void watch_quit_signals() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        g_unix_signal_add(sig, quit_signal_received, GINT_TO_POINTER(sig));
}

int quit_requested() {
    return quit_signal != 0;
}

void end_window_mode() {
    // Exit straight from here: the signal may come while nested dialog loops
    // run, which destroying the window alone would not all end.
    if (root.main_window) gtk_widget_destroy(root.main_window);
    SavePreferences();
    std::exit(0);
}
