// One application: window mode registers under the application id, so that
// a second start presents the running window instead of opening another one
// on the same serial line, and follows the desktop's light or dark style.
//
// Principles of operation: `start_application` makes a GtkApplication with
// APPLICATION_ID and registers it on the session bus. When another instance
// holds the id, that instance is asked to present its window and this run
// ends (the caller exits 0). Without a session bus GLib proceeds as a plain
// application of its own. The program keeps its own main loop (gtk_main and
// the dialogs' nested loops); the application only adds the main window and
// answers activation requests. Batch mode and -list never get here, so they
// never touch the bus.
//
// The desktop's style: the settings portal's org.freedesktop.appearance
// color-scheme (1 prefers dark), else GSettings org.gnome.desktop.interface
// color-scheme ("prefer-dark") where that schema is installed; either sets
// gtk-application-prefer-dark-theme, and changes are followed while running.
//
//   APPLICATION_ID        the reverse-DNS id: desktop entry, metainfo, icon,
//                         GTK's application id (Wayland app_id), WM class
//   start_application     true when this run is the application; false when
//                         another instance was asked to present its window
//   add_application_window  the main window joins the application
//   prefers_dark          portal value or GSettings string to dark or not
#pragma once

#include <gtk/gtk.h>

constexpr const char* APPLICATION_ID = "io.github.kestrix.kestrix";

// `had_options`: the command line held options, which a second start does
// not use (it says so on standard error).
bool start_application(bool had_options);
void add_application_window(GtkWidget* window);

// 1 (portal) or "prefer-dark" (GSettings) mean dark; anything else not.
bool prefers_dark(guint32 portal_value);
bool prefers_dark(const char* gsettings_value);
