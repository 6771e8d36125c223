// Transfer and erase progress: the questions before a download or an erase,
// the modal progress dialog, the worker thread and the 200 ms tick that
// watches it.
//
// Ownership: the record belongs to its dialog. It is allocated by the menu
// action and freed only by the dialog's "destroy" handler, which also removes
// the timer and the grab; the tick that joins the worker destroys the dialog
// as its last step and touches nothing afterwards. The worker writes only the
// record's atomic `done` (and, for a download, the text store), never a
// widget.
#include "ui/progress.h"

#include <cstdint>
#include <cstdio>

#include "app/catalogue.h"
#include "app/terminal.h"
#include "pen/download.h"
#include "pen/protocol.h"
#include "state/state.h"
#include "text/store.h"
#include "ui/convert.h"
#include "ui/dialogs.h"
#include "ui/quit.h"
#include "ui/text_view.h"

int (*progress_thread_create)(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                              void* arg) = pthread_create;

namespace {

constexpr guint TICK_MS = 200;
// The activity counter runs 0, 1, ..., ACTIVITY_UPPER, 0, ...; one pulse
// moves the block by a fifth of the bar, as ten of fifty steps did.
constexpr int ACTIVITY_UPPER = 50;
constexpr double PULSE_STEP = 10.0 / ACTIVITY_UPPER;
constexpr int ACTIVITY_MIN_WIDTH = 240;
const char* const ACTIVITY_KEY = "kx-activity-position";

// Workers started and not yet joined (0 or 1: the grab allows one at a time).
int workers_running = 0;

// A label packed at the start of the box without stretching (padding 5).
GtkWidget* add_fixed_label(GtkWidget* vbox, const char* latin1) {
    GtkWidget* label = label_new_latin1(latin1);
    gtk_box_pack_start(GTK_BOX(vbox), label, FALSE, FALSE, 5);
    gtk_widget_show(label);
    return label;
}

// The activity bar, packed at the bottom of the box.
GtkWidget* add_activity_bar(GtkWidget* vbox) {
    GtkWidget* bar = gtk_progress_bar_new();
    gtk_orientable_set_orientation(GTK_ORIENTABLE(bar), GTK_ORIENTATION_HORIZONTAL);
    gtk_progress_bar_set_inverted(GTK_PROGRESS_BAR(bar), FALSE);
    gtk_progress_bar_set_pulse_step(GTK_PROGRESS_BAR(bar), PULSE_STEP);
    // Wide enough for the moving block to read as movement.
    gtk_widget_set_size_request(bar, ACTIVITY_MIN_WIDTH, -1);
    g_object_set_data(G_OBJECT(bar), ACTIVITY_KEY, GINT_TO_POINTER(0));
    gtk_box_pack_end(GTK_BOX(vbox), bar, FALSE, FALSE, 5);
    gtk_widget_show(bar);
    return bar;
}

// One step of the animation.
void advance_activity(GtkWidget* bar) {
    int value = activity_position(bar) + 1;
    if (value > ACTIVITY_UPPER) value = 0;
    g_object_set_data(G_OBJECT(bar), ACTIVITY_KEY, GINT_TO_POINTER(value));
    gtk_progress_bar_pulse(GTK_PROGRESS_BAR(bar));
}

// Joins the worker; 1 with its pen result code in `result`, 0 when the join
// failed.
int join_worker(pthread_t thread, int* result) {
    void* exit_value = nullptr;
    workers_running = 0;
    if (pthread_join(thread, &exit_value) != 0) return 0;
    *result = static_cast<int>(reinterpret_cast<intptr_t>(exit_value));
    return 1;
}

// The questions before a download. 1: go on (the store is reset when the user
// chose to overwrite); 0: leave the action, nothing changed.
int ask_before_download() {
    if (root.text_length.load() == 0) return 1;
    const int l = interface_language();
    const int answer =
        ask_question(nullptr, tappend1[l], tappend2[l], tappend_yes[l], tappend_no[l]);
    if (answer == 1) return 1;
    // Closing the question is no answer: nothing is downloaded, nothing lost.
    if (answer != 0) return 0;
    if (root.unsaved && Sicher(tover_title[l], tover_s1[l], tover_s2[l], tYes[l], tNo[l]) != 1)
        return 0;
    setup_data();
    return 1;
}

// Cancel, and the window manager's close on a download: the download stops
// at its next look at the flag; the dialog closes when the worker has ended.
void cancel_clicked(GtkWidget*, gpointer) {
    kxinterface_break = 1;
}

gboolean progress_delete_event(GtkWidget*, GdkEvent*, gpointer data) {
    // An erase cannot be stopped: the close request is only ignored.
    if (static_cast<ProgressRecord*>(data)->operation->cancellable) kxinterface_break = 1;
    return TRUE;
}

void progress_dialog_destroyed(GtkWidget* dialog, gpointer data) {
    ProgressRecord* record = static_cast<ProgressRecord*>(data);
    if (record->timeout_id != 0) g_source_remove(record->timeout_id);
    gtk_grab_remove(dialog);
    delete record;
}

// The running counts of a download, redrawn only when they changed; frozen
// after Cancel, as the bar is.
void transfer_tick(ProgressRecord* record) {
    const int length = root.text_length.load();
    if (length == record->shown_length) return;
    char counts[COUNTS_SIZE];
    format_transfer_counts(counts, sizeof counts, record);
    label_set_latin1(record->counts_label, counts);
    record->shown_length = length;
}

// The error first, then the view, then the no-data message: the progress
// dialog stays underneath until both are dismissed.
void transfer_finish(ProgressRecord* record, int result) {
    if (result != PEN_OK) show_response_and_wait(result);
    reload_text_view();
    if (result == PEN_OK && root.text_length.load() == record->start_length)
        show_error_and_wait(t_nodata[interface_language()], nullptr, nullptr);
}

// A successful erase says nothing; the store and the view are not touched.
void erase_finish(ProgressRecord*, int result) {
    if (result != PEN_OK) show_response_and_wait(result);
}

const ProgressOperation transfer_operation = {read_text, 1, 0, transfer_tick, transfer_finish};
const ProgressOperation erase_operation = {clear_flash, 0, 1, nullptr, erase_finish};

// The dialog, its record, the worker and the tick; `fill` adds the
// operation's labels and buttons. After a failed start the dialog is gone
// and the memory message shown: 0.
int start_operation(const ProgressOperation* operation, ProgressRecord* record,
                    void (*fill)(ProgressRecord*, GtkWidget* vbox, GtkWidget* buttons)) {
    record->operation = operation;
    record->timeout_id = 0;
    record->done = 0;
    GtkWidget* vbox = nullptr;
    GtkWidget* buttons = nullptr;
    record->dialog = kx_dialog_new(5, &vbox, operation->cancellable ? &buttons : nullptr);
    kx_dialog_grab(record->dialog);
    g_signal_connect(record->dialog, "delete-event", G_CALLBACK(progress_delete_event), record);
    g_signal_connect(record->dialog, "destroy", G_CALLBACK(progress_dialog_destroyed), record);
    fill(record, vbox, buttons);
    record->progress = add_activity_bar(vbox);

    if (progress_thread_create(&record->thread, nullptr, progress_thread, record) != 0) {
        gtk_widget_destroy(record->dialog);
        return 0;
    }
    workers_running = 1;
    record->timeout_id = g_timeout_add(TICK_MS, progress_poll, record);
    gtk_widget_show(record->dialog);
    return 1;
}

void fill_transfer(ProgressRecord* record, GtkWidget* vbox, GtkWidget* buttons) {
    const int l = interface_language();
    add_fixed_label(vbox, tkxtransexpl[l]);
    char counts[COUNTS_SIZE];
    format_transfer_counts(counts, sizeof counts, record);
    record->counts_label = add_fixed_label(vbox, counts);
    GtkWidget* cancel = kx_dialog_add_button(buttons, tCancel[l]);
    g_signal_connect(cancel, "clicked", G_CALLBACK(cancel_clicked), record);
}

void fill_erase(ProgressRecord*, GtkWidget* vbox, GtkWidget*) {
    add_fixed_label(vbox, tclear_info[interface_language()]);
}

}  // namespace

int progress_running() {
    return workers_running;
}

int activity_position(GtkWidget* bar) {
    if (!bar) return 0;
    return GPOINTER_TO_INT(g_object_get_data(G_OBJECT(bar), ACTIVITY_KEY));
}

void format_transfer_counts(char* buffer, size_t size, const ProgressRecord* record) {
    counts_line(buffer, size, root.text_length.load() - record->start_length,
                root.scan_count.load() - record->start_scans);
}

void* progress_thread(void* data) {
    ProgressRecord* record = static_cast<ProgressRecord*>(data);
    const int result = record->operation->run();
    // Last touch of the record: once `done` is set the tick may join and free.
    record->done = 1;
    return reinterpret_cast<void*>(static_cast<intptr_t>(result));
}

gboolean progress_poll(gpointer data) {
    ProgressRecord* record = static_cast<ProgressRecord*>(data);
    if (!record->operation->cancellable || kxinterface_break.load() == 0) {
        advance_activity(record->progress);
        if (record->operation->tick) record->operation->tick(record);
    }
    if (!record->done.load()) return TRUE;

    // A join that fails does not succeed later: give up. The download's dialog
    // then just closes; an erase reports a transmission error, since it is not
    // known to have happened.
    int result = PEN_ERR_TRANSFER;
    const int joined = join_worker(record->thread, &result);
    if (quit_requested()) end_window_mode();
    if (joined || record->operation->finish_unjoined) record->operation->finish(record, result);
    // Frees the record and removes this timer: nothing may follow.
    gtk_widget_destroy(record->dialog);
    return TRUE;
}

void TransferKX_PC() {
    if (!ask_before_download()) return;
    ProgressRecord* record = new ProgressRecord();
    record->start_length = record->shown_length = root.text_length.load();
    record->start_scans = root.scan_count.load();
    if (start_operation(&transfer_operation, record, fill_transfer)) return;
    // An overwrite has already emptied the store: show what it holds.
    reload_text_view();
    show_error_and_wait(tnomemory[interface_language()], nullptr, nullptr);
}

void ClearFlash() {
    const int l = interface_language();
    if (Sicher(tclear_title[l], tclear_s1[l], nullptr, tYes[l], tNo[l]) != 1) return;
    if (!start_operation(&erase_operation, new ProgressRecord(), fill_erase))
        show_error_and_wait(tnomemory[l], nullptr, nullptr);
}
