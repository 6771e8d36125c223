// Batch mode: no display. One download, its export on standard output, the
// pen erased after it on -erase, failures on standard error.
//
// Principles of operation: the command line (kestrix/main.cc) sets the
// options in `root` and the two flags below, then calls `transfer_batch`. The
// first SIGINT, SIGTERM or SIGHUP acts as Cancel and ends the run by that
// signal once the pen link is given back; a second one ends it at once. The
// live counts line is drawn on standard error only when it is a terminal.
// -erase erases only when the text is in a named regular file, flushed and
// synchronised.
//
//   erase_after_export  -erase was given
//   stdout_was_closed   standard output was closed at start (now /dev/null):
//                       it takes no export
//   check_erase_option  ends the run with an option error when -erase cannot
//                       keep the text safe
//   transfer_batch      1 downloaded, exported (and erased); 0 failed, reported
#pragma once

extern int erase_after_export;
extern bool stdout_was_closed;

void check_erase_option();
int transfer_batch();
