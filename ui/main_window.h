// Main window and menus: the top-level window with its menu bar and the find
// bar over the editable text view of the store, and under the view the line
// that says why an edit was refused.
//
// Principles of operation: the menu bar is built from the static table
// `menu_items`, whose paths are catalogue rows; `CopyMenuItems` makes the copy
// in the current language and `menubar_new` turns it into GtkMenuBar, GtkMenu
// and GtkMenuItem widgets with mnemonics and an accelerator group on the main
// window. An item is attached to the branch whose path equals the item's
// parent path once every '_' is removed. `ExchangeMenubar` replaces the menu
// bar (and its accelerators) after a language change. The window's
// destruction ends the main loop. The first window also gives the program its
// name, "KESTRIX", and the icon every window shows.
//
//   OpenMainWindow      builds and shows the window, stores its handles in root
//   CopyMenuItems       the table with paths in root.language (g_free the block)
//   menubar_new         a new menu bar; sets root.accel_group
//   ExchangeMenubar     rebuilds the menu bar in the current language
//   set_main_title      "KESTRIX V1.0 ..." in the current language
//   main_window_destroy the window's end: its handles cleared, the main loop left
//
// Reloading the text view is ui/text_view.h; quitting is ui/quit.h.
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

constexpr int MENU_ITEM_COUNT = 21;
extern const MenuEntry menu_items[MENU_ITEM_COUNT];

MenuEntry* CopyMenuItems();
GtkWidget* menubar_new();
void ExchangeMenubar();
void OpenMainWindow();
void set_main_title(GtkWidget* window);
void main_window_destroy(GtkWidget* widget, gpointer data);
