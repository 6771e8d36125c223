// Ending window mode: Quit, the window's close button, and the signals.
//
// Principles of operation: Quit and a close request ask first while the store
// holds unsaved text (`confirm_quit`). SIGINT, SIGTERM and SIGHUP (unless the
// run was started to ignore them) end the run as Quit does, but without the
// question, since nobody may be there to answer it: a running download is
// cancelled and a running erase awaited first (the progress tick then calls
// `end_window_mode`), unsaved text is kept in a file of its own
// (app/kept_text.h), and a second signal ends the program at once.
//
//   confirm_quit        true when nothing is unsaved or the user says Yes
//   quit_program        menu action "Quit"
//   main_window_delete  the main window's close request
//   watch_quit_signals  the three signals, through the main loop
//   quit_requested      1 once such a signal came
//   end_window_mode     after a signal unsaved text kept, then the window gone,
//                       the preferences written, exit status 0
//   tell_kept_text      names, once the main loop runs, the text an earlier
//                       signal kept
#pragma once

#include <gtk/gtk.h>

bool confirm_quit();
void quit_program();
gboolean main_window_delete(GtkWidget* widget, GdkEvent* event, gpointer data);
void watch_quit_signals();
int quit_requested();
[[noreturn]] void end_window_mode();
void tell_kept_text();
