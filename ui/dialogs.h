// Dialogs and result reporting: the small dialog functions every part of the
// interface uses.
//
// Principles of operation: a dialog is a window with a vertical box of labels
// above a homogeneous row of buttons. The waiting dialogs (`show_error_and_wait`,
// `Sicher`) add a modal grab and run a nested main loop that their "destroy"
// handler leaves, so they return only when their window is gone and the caller
// can use the answer on its next line. They run on the main thread only, also
// from timer callbacks and button handlers. Texts are ISO-8859-1 (catalogue
// rows in root.language, or the caller's own) and are converted for GTK here.
//
//   kx_dialog_new          an empty dialog window: vertical box + button row
//   kx_dialog_add_label    one label per text line, packed in order
//   kx_dialog_add_button   a button sharing the row's width equally
//   kx_dialog_add_row      a labelled value row: value at the right edge, label left of it
//   label_field            a screen reader names `field` by `label` (LABELLED_BY)
//   kx_dialog_grab         modal grab on a dialog (realized first, as GTK needs)
//   language_combo_new     the five language names, `current` chosen
//   show_error_and_wait    message of up to four lines with OK; waits
//   show_notice            titled message of two lines with OK; returns at once
//   Sicher                 question with two buttons; 1 first button, else 0
//   ask_question           the same; 1 first button, 0 second, -1 closed
//   rename_button          sets the text of the label inside a button
//   Version                menu action: the product-information dialog
//   show_response_and_wait pen result code to message dialog (the rows of
//                          app/terminal.h's response_rows, then the device
//                          and its cause_row when there is one)
#pragma once

#include <gtk/gtk.h>

#include "app/catalogue.h"

// A new top-level dialog window, transient for the main window when it exists,
// with a vertical box (border `border`) over a homogeneous button row. The
// boxes are returned through `vbox` and `buttons`; the window is not shown.
// Escape in it is a close request, the same as the window manager's.
GtkWidget* kx_dialog_new(int border, GtkWidget** vbox, GtkWidget** buttons);
// A label for an ISO-8859-1 text, packed at the start of `vbox` (expand, fill,
// padding 5). A null text adds nothing and returns null.
GtkWidget* kx_dialog_add_label(GtkWidget* vbox, const char* latin1);
// A button with an ISO-8859-1 label, packed into the row (expand, fill, 0).
GtkWidget* kx_dialog_add_button(GtkWidget* buttons, const char* latin1);
// A row of a configuration dialog: `value` packed at the right edge of a
// horizontal box (spacing 5), the label for an ISO-8859-1 text just left of it
// (padding 5), the box packed at the start of `vbox` (padding 5); all shown.
void kx_dialog_add_row(GtkWidget* vbox, const char* label_latin1, GtkWidget* value);
// The label names the field for assistive technologies: LABELLED_BY and
// LABEL_FOR relations and the field's accessible name (and so for the entry
// of a combo with one).
void label_field(GtkWidget* label, GtkWidget* field);
// Puts the modal grab on `dialog`; its "destroy" handler removes it.
void kx_dialog_grab(GtkWidget* dialog);
// The five language names, each in its own language, `current` chosen. An
// index outside them gets an entry "? (N)" of its own when `keep_unknown`
// (a pen's value stays visible), else nothing is chosen.
GtkWidget* language_combo_new(int current, bool keep_unknown);

// A null line adds nothing.
void show_error_and_wait(const char* line1, const char* line2, const char* line3,
                         const char* line4 = nullptr);
void show_notice(const char* title, const char* line1, const char* line2);
int Sicher(const char* title, const char* line1, const char* line2, const char* yes_label,
           const char* no_label);
int ask_question(const char* title, const char* line1, const char* line2, const char* yes_label,
                 const char* no_label);
void rename_button(GtkWidget* button, const char* latin1);
void Version();

void show_response_and_wait(int code);
