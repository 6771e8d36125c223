// Unsaved text kept when a signal ends window mode.
//
// Principles of operation: a signal (or a logout, which sends one) may end the
// program while nobody is there to answer the question about unsaved text.
// Rather than drop the text, `keep_unsaved_text` writes the store as RTF, so
// the pen's font sizes survive, to
// $XDG_STATE_HOME/kestrix/unsaved-YYYY-MM-DD-HHMMSS.rtf (GLib's user state
// folder, ~/.local/state by default). The file is replaced atomically and is
// readable by its owner only (0600). Beside it, a notice file names the file,
// and the next window start takes it (`take_kept_notice`) to tell the user once.
//
//   keep_unsaved_text  path written (g_free), null when nothing was unsaved or
//                      the file could not be written
//   take_kept_notice   path named by the notice (g_free), which is removed;
//                      null when there is none
#pragma once

char* keep_unsaved_text();
char* take_kept_notice();
