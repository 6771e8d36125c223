// The text view of the store: an editable view (GtkSourceView, for its undo
// and search), words wrapped, each size class of the store in its own font
// size (the RTF export's sizes relative to the normal class), one tag per run.
//
// Principles of operation: `reload_text_view` copies the store (a download
// started meanwhile may move it) and inserts the copy in steps: the first
// 32768 characters at once, the rest from an idle source below GTK's own
// layout and drawing, so a megabyte never stalls the main loop. Until the
// load ends the view refuses edits (with the error bell); then a new undo
// history starts.
//
// Every edit of the view is made in the store at the same offset first (one
// ISO-8859-1 character per character of the view), which marks the text
// unsaved. Inserted text takes the size class of the character before it
// (normal at the start), or, typed or replaced over deleted text, the class of
// the first deleted character; an undo or redo brings back deleted text with
// its own classes. An insertion holding a character ISO-8859-1 lacks is
// refused whole, with the error bell and a line under the view that names the
// character; text it would have replaced comes back. No edit is taken while a
// download or erase runs.
//
//   text_view_new        a new view with the size tags, empty
//   reload_text_view     shows the whole store in root.text_view again
//   stop_text_view_load  ends a load still running (the view is going)
//   text_view_message_line  the line under the view for a refused edit (hidden
//                        while empty); the main window packs it
//   text_view_message    what that line says now ("" while hidden)
//   text_view_accepts    true when the store can hold a UTF-8 text; else tells
//                        the user as for a refused insertion
//   zoom_text_view       +1 larger, -1 smaller, 0 back to 100 %: the four sizes
//                        scaled together between 50 % and 400 % (a new view
//                        starts at 100 %); the percentage now
#pragma once

#include <gtk/gtk.h>

GtkWidget* text_view_new();
void reload_text_view();
void stop_text_view_load();
GtkWidget* text_view_message_line();
const char* text_view_message();
bool text_view_accepts(const char* utf8);
int zoom_text_view(int step);
