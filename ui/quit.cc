// Ending window mode: the quit question, the signals, and the end itself.
#include "ui/quit.h"

#include <glib-unix.h>
#include <signal.h>

#include <cstdlib>
#include <initializer_list>

#include "app/catalogue.h"
#include "app/kept_text.h"
#include "app/prefs.h"
#include "pen/download.h"
#include "pen/serial.h"
#include "state/state.h"
#include "ui/convert.h"
#include "ui/dialogs.h"
#include "ui/progress.h"

bool confirm_quit() {
    if (!root.unsaved) return true;
    const int l = interface_language();
    return Sicher(texit_title[l], texit_s1[l], texit_s2[l], tYes[l], tNo[l]) == 1;
}

void quit_program() {
    if (!root.main_window) return;
    if (!confirm_quit()) return;
    // The question's nested loop may have let the window go meanwhile.
    if (root.main_window) gtk_widget_destroy(root.main_window);
}

gboolean main_window_delete(GtkWidget*, GdkEvent*, gpointer) {
    return confirm_quit() ? FALSE : TRUE;
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
        restore_line_and_raise(sig);
        return G_SOURCE_REMOVE;
    }
    quit_signal = sig;
    kxinterface_quit = 1;
    if (!progress_running()) end_window_mode();
    return G_SOURCE_CONTINUE;
}

}  // namespace

void watch_quit_signals() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        if (!ignored_at_start(sig))
            g_unix_signal_add(sig, quit_signal_received, GINT_TO_POINTER(sig));
    }
}

int quit_requested() {
    return quit_signal != 0;
}

void end_window_mode() {
    // Exit straight from here: the signal may come while nested dialog loops
    // run, which destroying the window alone would not all end.
    // Nobody may be there to answer the question about unsaved text: the text
    // is kept in a file of its own before anything else, and named at the
    // next start.
    if (quit_signal != 0) g_free(keep_unsaved_text());
    if (root.main_window) gtk_widget_destroy(root.main_window);
    SavePreferences();
    std::exit(0);
}

namespace {

gboolean show_kept_notice(gpointer data) {
    g_autofree char* path = static_cast<char*>(data);
    g_autofree char* shown = g_filename_display_name(path);
    g_autofree char* latin1 = from_utf8(shown);
    const int l = interface_language();
    show_notice(texit_title[l], tunsaved_kept[l], latin1);
    return G_SOURCE_REMOVE;
}

}  // namespace

void tell_kept_text() {
    char* path = take_kept_notice();
    if (path) g_idle_add(show_kept_notice, path);
}
