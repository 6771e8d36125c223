// Transfer and erase progress: the download and the erase run on a worker
// thread under a modal progress dialog.
//
// Principles of operation: the menu action asks its questions, builds the
// dialog, starts one worker (pthread) on the pen operation and a 200 ms timer
// on the main thread. The worker never touches a widget: it runs read_text or
// clear_flash, sets its record's atomic `done` and ends with the pen result
// code. The timer animates the bar, shows the running counts of a download,
// and once `done` is set joins the worker (exactly once), reports the result,
// reloads the text view and destroys the dialog. The dialog's "destroy" handler
// removes the timer and the grab and frees the record. Download and erase are
// one skeleton; what differs is a ProgressOperation.
//
//   TransferKX_PC           menu action "Read Text"
//   ClearFlash              menu action "Erase KESTRIX memory"
//   progress_thread, progress_poll  the worker and the tick of either
//   format_transfer_counts  "N Characters / M Scans" of this download
//   activity_position       the activity bar's step, 0..50, one per tick
//   progress_running        1 while a worker runs (from its start to its join)
#pragma once

#include <gtk/gtk.h>
#include <pthread.h>

#include <atomic>
#include <cstddef>

struct ProgressRecord;

// What differs between the two operations; everything else is one skeleton.
struct ProgressOperation {
    int (*run)();                          // on the worker: read_text or clear_flash
    int cancellable;                       // Cancel button; close request = Cancel
    int finish_unjoined;                   // finish with PEN_ERR_TRANSFER when the join fails
    void (*tick)(ProgressRecord* record);  // each tick while running, or null
    void (*finish)(ProgressRecord* record, int result);  // after the join
};

// Belongs to its dialog: made by the menu action, freed by the "destroy"
// handler only.
struct ProgressRecord {
    const ProgressOperation* operation;
    GtkWidget* dialog;
    GtkWidget* progress;
    GtkWidget* counts_label;  // download only
    guint timeout_id;
    int start_length;  // download only: the store before, and what the label shows
    int shown_length;
    int start_scans;
    std::atomic<int> done;  // written by the worker as its last action, read by the tick
    pthread_t thread;       // written before the worker starts, read by the tick's join
};

void TransferKX_PC();
void ClearFlash();

// The worker: runs the record's operation, sets `done`, ends with the result.
void* progress_thread(void* record);
void format_transfer_counts(char* buffer, size_t size, const ProgressRecord* record);
// The 200 ms tick of either dialog.
gboolean progress_poll(gpointer record);
// The step of an activity bar made here: it advances by one per tick while
// the operation runs (0, 1, ..., 50, 0, ...) and stands still after a break.
int activity_position(GtkWidget* bar);
int progress_running();

// Creates the worker threads; tests replace it to make creation fail.
extern int (*progress_thread_create)(pthread_t* thread, const pthread_attr_t* attr,
                                     void* (*start)(void*), void* arg);
