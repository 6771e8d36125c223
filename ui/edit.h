// The Edit menu's actions and the find bar over the text view.
//
// Principles of operation: the clipboard actions and Select All work on the
// focused field of the find bar when one has the focus (so Ctrl+C copies
// there as in any field), else on root.text_view; Undo and Redo are the text's
// (GtkSourceView's undo history). The find bar is one row over the view: a
// search field, and with Replace also a replace field and the Replace and
// Replace All buttons. Matching ignores case and wraps around the text; every
// match is highlighted while the bar is open. Enter finds the next match,
// Shift+Enter the previous one, Escape closes the bar and gives the focus back
// to the text. A replacement the store cannot hold is refused as typing it
// would be (ui/text_view.h).
//
//   edit_undo, edit_redo, edit_cut, edit_copy, edit_paste, edit_select_all
//                      the menu's actions
//   show_find_bar      opens the bar for finding (Ctrl+F)
//   show_replace_bar   opens it with the replace field (Ctrl+H)
//   find_bar_new       the bar, hidden, for the main window to pack over the view
//   find_next          the next (+1) or previous (-1) match selected; false
//                      when there is none
//   replace_match      replaces the selected match and finds the next
//   replace_all_matches  replaces every match in one undo step; how many
#pragma once

#include <gtk/gtk.h>

void edit_undo();
void edit_redo();
void edit_cut();
void edit_copy();
void edit_paste();
void edit_select_all();
void show_find_bar();
void show_replace_bar();
GtkWidget* find_bar_new();
bool find_next(int direction);
void replace_match();
int replace_all_matches();
