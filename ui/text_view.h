// The text view of the store: read-only, words wrapped, each size class of
// the store in its own font size (the RTF export's sizes relative to the
// normal class), one tag per run.
//
// Principles of operation: `reload_text_view` copies the store (a download
// started meanwhile may move it) and inserts the copy in steps: the first
// 32768 characters at once, the rest from an idle source below GTK's own
// layout and drawing, so a megabyte never stalls the main loop.
//
//   text_view_new        a new view with the size tags, empty
//   reload_text_view     shows the whole store in root.text_view again
//   stop_text_view_load  ends a load still running (the view is going)
//   zoom_text_view       +1 larger, -1 smaller, 0 back to 100 %: the four sizes
//                        scaled together between 50 % and 400 % (a new view
//                        starts at 100 %); the percentage now
#pragma once

#include <gtk/gtk.h>

GtkWidget* text_view_new();
void reload_text_view();
void stop_text_view_load();
int zoom_text_view(int step);
