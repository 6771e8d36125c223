// Reading the text aloud through the desktop's speech service (libspeechd).
//
// Principles of operation: the main thread never calls libspeechd, whose
// calls wait for the service's answer without a bound. A speech thread of
// this module holds the connection and takes requests (speak a sentence,
// cancel, quit) from a queue; it, and libspeechd's own event thread with the
// service's BEGIN, END and CANCEL notifications, put their notes on a second
// queue, which the main loop reads when an eventfd wakes it. Both queues are
// guarded by one mutex, so every hand-over between threads is a lock.
//
// Reading goes sentence by sentence (gtk_text_iter_forward_sentence_end),
// each sentence one message, the next sent when the service ends the one
// before; the range and the sentence are GtkTextMarks, so edits meanwhile move
// them with the text. The sentence the service has begun carries the tag
// "speech-sentence" in the selection's colours. A reading is told apart from
// an earlier one by a serial number, a sentence by the service's message id,
// so a late note of a reading that was stopped changes nothing.
//
// SPEECHD_ADDRESS names the service as libspeechd reads it; only without it
// is the desktop's own service started when it is not running. A connection
// that breaks is noticed on its socket's hang-up, or when a sentence cannot be
// sent; the next sentence sent connects once more before the items are
// disabled with the reason.
//
//   speech_connect     starts connecting in the background (once)
//   speech_set_items   the Edit menu's Read Aloud and Stop Reading items, kept
//                      as weak pointers and set from the state: both
//                      insensitive with the reason as tooltip while the service
//                      cannot be reached, Read Aloud sensitive once connected,
//                      Stop Reading only while reading
//   read_aloud         reads the selection, else from the cursor to the end, in
//                      text_language_code()
//   stop_reading       ends the reading and its highlight
//   speech_retry       connects if not connected yet, or again when the service
//                      could not be reached: the Edit menu opening, so the
//                      service is started only for a user who looks for it, and
//                      one started meanwhile is found
//   speech_disconnect  the window's end: the reading stopped and the connection
//                      closed, waiting at most two seconds for the speech thread
#pragma once

#include <gtk/gtk.h>

void speech_connect();
void speech_set_items(GtkWidget* read_item, GtkWidget* stop_item);
void read_aloud();
void stop_reading();
void speech_retry();
void speech_disconnect();
