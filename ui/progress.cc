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
#include "app/state.h"
#include "pen/download.h"
#include "pen/protocol.h"
#include "text/store.h"
#include "ui/convert.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"

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

void set_label_latin1(GtkWidget* label, const char* latin1) {
    char* utf8 = to_utf8(latin1);
    gtk_label_set_text(GTK_LABEL(label), utf8);
    g_free(utf8);
}

// A label packed at the start of the box without stretching (padding 5).
GtkWidget* add_fixed_label(GtkWidget* vbox, const char* latin1) {
    char* utf8 = to_utf8(latin1);
    GtkWidget* label = gtk_label_new(utf8);
    g_free(utf8);
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
    const int l = root.language;
    if (Sicher(nullptr, tappend1[l], tappend2[l], tappend_yes[l], tappend_no[l]) == 1) return 1;
    // "Overwrite", or the question closed.
    if (root.unsaved && Sicher(tover_title[l], tover_s1[l], tover_s2[l], tYes[l], tNo[l]) != 1)
        return 0;
    setup_data();
    return 1;
}

void transfer_cancel_clicked(GtkWidget*, gpointer) {
    kxinterface_break = 1;
}

// A close request from the window manager stops the download like Cancel; the
// dialog closes when the worker has ended.
gboolean transfer_delete_event(GtkWidget*, GdkEvent*, gpointer) {
    kxinterface_break = 1;
    return TRUE;
}

// An erase cannot be stopped: the close request is ignored.
gboolean erase_delete_event(GtkWidget*, GdkEvent*, gpointer) {
    return TRUE;
}

void transfer_dialog_destroyed(GtkWidget* dialog, gpointer data) {
    TransferProgress* record = static_cast<TransferProgress*>(data);
    if (record->timeout_id != 0) g_source_remove(record->timeout_id);
    gtk_grab_remove(dialog);
    delete record;
}

void erase_dialog_destroyed(GtkWidget* dialog, gpointer data) {
    EraseProgress* record = static_cast<EraseProgress*>(data);
    if (record->timeout_id != 0) g_source_remove(record->timeout_id);
    gtk_grab_remove(dialog);
    delete record;
}

}  // namespace

int progress_running() {
    return workers_running;
}

void counts_line(char* buffer, size_t size, int chars, int scans) {
    if (!buffer || size == 0) return;
    const int l = root.language;
    std::snprintf(buffer, size, "%d %s / %d %s", chars, tBytes[l], scans, tScans[l]);
}

int activity_position(GtkWidget* bar) {
    if (!bar) return 0;
    return GPOINTER_TO_INT(g_object_get_data(G_OBJECT(bar), ACTIVITY_KEY));
}

void format_transfer_counts(char* buffer, size_t size, const TransferProgress* record) {
    counts_line(buffer, size, root.text_length.load() - record->start_length,
                root.scan_count.load() - record->start_scans);
}

void* read_text_thread(void* data) {
    TransferProgress* record = static_cast<TransferProgress*>(data);
    const int result = read_text();
    // Last touch of the record: once `done` is set the tick may join and free.
    record->done = 1;
    return reinterpret_cast<void*>(static_cast<intptr_t>(result));
}

void* clear_flash_thread(void* data) {
    EraseProgress* record = static_cast<EraseProgress*>(data);
    const int result = clear_flash();
    record->done = 1;
    return reinterpret_cast<void*>(static_cast<intptr_t>(result));
}

gboolean transfer_poll(gpointer data) {
    TransferProgress* record = static_cast<TransferProgress*>(data);
    if (kxinterface_break.load() == 0) {
        advance_activity(record->progress);
        const int length = root.text_length.load();
        if (length != record->shown_length) {
            const int scans = root.scan_count.load();
            char counts[COUNTS_SIZE];
            counts_line(counts, sizeof counts, length - record->start_length,
                        scans - record->start_scans);
            set_label_latin1(record->counts_label, counts);
            record->shown_length = length;
        }
    }
    if (!record->done.load()) return TRUE;

    int result = 0;
    const int joined = join_worker(record->thread, &result);
    if (quit_requested()) end_window_mode();
    if (joined) {
        // The error first, then the view, then the no-data message: the
        // progress dialog stays underneath until both are dismissed.
        if (result != PEN_OK) show_response_and_wait(result);
        reload_text_view();
        if (result == PEN_OK && root.text_length.load() == record->start_length)
            show_error_and_wait(t_nodata[root.language], nullptr, nullptr);
    }
    // Frees the record and removes this timer: nothing may follow.
    gtk_widget_destroy(record->dialog);
    return TRUE;
}

gboolean erase_poll(gpointer data) {
    EraseProgress* record = static_cast<EraseProgress*>(data);
    advance_activity(record->progress);
    if (!record->done.load()) return TRUE;

    // A join that fails does not succeed later: give up, and say that the
    // erase's outcome is not known.
    int result = PEN_ERR_TRANSFER;
    join_worker(record->thread, &result);
    if (quit_requested()) end_window_mode();
    if (result != PEN_OK) show_response_and_wait(result);
    gtk_widget_destroy(record->dialog);
    return TRUE;
}

void TransferKX_PC() {
    if (!ask_before_download()) return;
    const int l = root.language;

    TransferProgress* record = new TransferProgress();
    record->timeout_id = 0;
    record->start_length = record->shown_length = root.text_length.load();
    record->start_scans = root.scan_count.load();

    GtkWidget* vbox = nullptr;
    GtkWidget* buttons = nullptr;
    record->dialog = kx_dialog_new(5, &vbox, &buttons);
    kx_dialog_grab(record->dialog);
    g_signal_connect(record->dialog, "delete-event", G_CALLBACK(transfer_delete_event), record);
    g_signal_connect(record->dialog, "destroy", G_CALLBACK(transfer_dialog_destroyed), record);

    add_fixed_label(vbox, tkxtransexpl[l]);
    char counts[COUNTS_SIZE];
    format_transfer_counts(counts, sizeof counts, record);
    record->counts_label = add_fixed_label(vbox, counts);
    record->progress = add_activity_bar(vbox);

    GtkWidget* cancel = kx_dialog_add_button(buttons, tCancel[l]);
    g_signal_connect(cancel, "clicked", G_CALLBACK(transfer_cancel_clicked), record);

    record->done = 0;
    if (progress_thread_create(&record->thread, nullptr, read_text_thread, record) != 0) {
        gtk_widget_destroy(record->dialog);
        // An overwrite has already emptied the store: show what it holds.
        reload_text_view();
        show_error_and_wait(tnomemory[l], nullptr, nullptr);
        return;
    }
    workers_running = 1;
    record->timeout_id = g_timeout_add(TICK_MS, transfer_poll, record);
    gtk_widget_show(record->dialog);
}

void ClearFlash() {
    const int l = root.language;
    if (Sicher(tclear_title[l], tclear_s1[l], nullptr, tYes[l], tNo[l]) != 1) return;

    EraseProgress* record = new EraseProgress();
    record->timeout_id = 0;

    GtkWidget* vbox = nullptr;
    record->dialog = kx_dialog_new(5, &vbox, nullptr);
    kx_dialog_grab(record->dialog);
    g_signal_connect(record->dialog, "delete-event", G_CALLBACK(erase_delete_event), record);
    g_signal_connect(record->dialog, "destroy", G_CALLBACK(erase_dialog_destroyed), record);

    add_fixed_label(vbox, tclear_info[l]);
    record->progress = add_activity_bar(vbox);

    record->done = 0;
    if (progress_thread_create(&record->thread, nullptr, clear_flash_thread, record) != 0) {
        gtk_widget_destroy(record->dialog);
        show_error_and_wait(tnomemory[l], nullptr, nullptr);
        return;
    }
    workers_running = 1;
    record->timeout_id = g_timeout_add(TICK_MS, erase_poll, record);
    gtk_widget_show(record->dialog);
}
