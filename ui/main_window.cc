// Placeholder.
#include "ui/main_window.h"
const MenuEntry menu_items[MENU_ITEM_COUNT] = {};
MenuEntry* CopyMenuItems() { return nullptr; }
GtkWidget* menubar_new() { return nullptr; }
void ExchangeMenubar() {}
void OpenMainWindow() {}
void set_main_title(GtkWidget*) {}
void reload_text_view() {}
void quit_program() {}
gboolean main_window_delete(GtkWidget*, GdkEvent*, gpointer) { return FALSE; }
void main_window_destroy(GtkWidget*, gpointer) {}
