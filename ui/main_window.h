// Main window and menus: the top-level window with its menu bar over the
// read-only text view of the store.
//
// Principles of operation: the menu bar is built from the static table
// `menu_items`, whose paths are catalogue rows; `CopyMenuItems` makes the copy
// in the current language and `menubar_new` turns it into GtkMenuBar, GtkMenu
// and GtkMenuItem widgets with mnemonics and an accelerator group on the main
// window. An item is attached to the branch whose path equals the item's
// parent path once every '_' is removed. `ExchangeMenubar` replaces the menu
// bar (and its accelerators) after a language change. Quitting and closing ask
// first while the store holds unsaved text; the window's destruction ends the
// main loop. The text view shows each size class of the store in its own font
// size (the RTF export's sizes relative to the normal class), one tag per run.
// The first window also gives the program its name, "KESTRIX", and the icon
// every window shows.
//
//   OpenMainWindow      builds and shows the window, stores its handles in root
//   CopyMenuItems       the table with paths in root.language (g_free the block)
//   menubar_new         a new menu bar; sets root.accel_group
//   ExchangeMenubar     rebuilds the menu bar in the current language
//   set_main_title      "KESTRIX V1.0 ..." in the current language
//   reload_text_view    shows the whole store in the text view again: the first
//                       32768 characters at once, the rest step by step while
//                       the main loop is otherwise idle (a megabyte at once
//                       would stall it)
//   quit_program, main_window_delete, main_window_destroy: ending the program
//   watch_quit_signals  SIGINT, SIGTERM and SIGHUP end the run as Quit does:
//                       a running download is cancelled and a running erase
//                       awaited first (the progress tick then calls
//                       end_window_mode); a second signal ends it at once
//   quit_requested      1 once such a signal came
//   end_window_mode     after a signal unsaved text kept (app/kept_text.h), then
//                       window gone, preferences written, exit status 0
//   tell_kept_text      names, once the main loop runs, the text an earlier
//                       signal kept
#pragma once

#include <gtk/gtk.h>

#include "app/catalogue.h"

typedef void (*MenuCallback)();

struct MenuEntry {
    const void* path;         // static table: a MessageText*; copy: const char*
    const char* accelerator;  // "<control>S" style, or null
    MenuCallback callback;    // null for branches
    const char* item_type;    // "<Branch>" or null for a plain item
};

constexpr int MENU_ITEM_COUNT = 10;
extern const MenuEntry menu_items[MENU_ITEM_COUNT];

MenuEntry* CopyMenuItems();
GtkWidget* menubar_new();
void ExchangeMenubar();
void OpenMainWindow();
void set_main_title(GtkWidget* window);
void reload_text_view();

void quit_program();
gboolean main_window_delete(GtkWidget* widget, GdkEvent* event, gpointer data);
void main_window_destroy(GtkWidget* widget, gpointer data);

void watch_quit_signals();
int quit_requested();
[[noreturn]] void end_window_mode();
void tell_kept_text();
