// Text download: the pen's text, block by block, into the text store.
//
// Principles of operation: `read_text` runs the frame of every pen entry point
// (open, wake-up, command, goodbye, close) around `download_text`. That sends
// the download command at 300 bit/s with the pen's code for `root.speed`,
// switches the line to that rate and receives blocks: 0x84, a pair count n,
// n (character, attribute) pairs and their exclusive-or checksum. A good block
// is stored and acknowledged (0x05), a bad attempt answered by 0x06 until the
// bad-block counter gives up; 0x83 ends the text. A stop request
// (`kxinterface_break`, or `kxinterface_quit` when the program is asked to
// end) is honoured after every attempt and, inside a block, between waits of
// at most 100 ms: the block is then neither stored nor acknowledged. A line
// that goes away (an adapter unplugged) gives no more blocks: the download
// ends at once through the bad-block counter with PEN_ERR_TRANSFER, and
// line_cause (pen/serial.h) says why.
//
// Threads: runs on the progress dialog's worker or, in batch mode, on the main
// thread. `kxinterface_break` is set by the main thread; the text store fields
// are published through the atomic `root.text_length`.
//
//   read_text       pen result code; appends to the store, sets `unsaved`
//   download_text   PEN_OK, PEN_BREAK, PEN_ERR_TRANSFER or PEN_ERR_MEMORY
//   receive_block   PEN_BLOCK with the pair count, PEN_REPLY_DONE, or 0
//   stop_requested  nonzero when either stop flag is set
//   download_block_hook  called after every stored block, when set
#pragma once

#include <atomic>

constexpr int BLOCK_BUFFER_SIZE = 256;
constexpr int BLOCK_MAX_PAIRS = 127;

// Set by the main thread (Cancel, close) to stop the running download; cleared
// by read_text on the worker before it opens the line; read by the worker.
extern std::atomic<int> kxinterface_break;
// Set (from a signal handler or the main thread) when the program is to end;
// never cleared: the running download and every later one stop at once.
extern std::atomic<int> kxinterface_quit;
// Blocks stored by the running download: written by it, read by anyone.
extern std::atomic<int> kxinterface_lines;
// Set to 1 before every block attempt; never cleared by the pen link.
extern std::atomic<int> kxinterface_active;
// Called on the download's thread after each block is stored and
// acknowledged (batch mode draws its progress line from it); null for none.
// Set only while no download runs.
extern void (*download_block_hook)();

int read_text();
int download_text();
int receive_block(unsigned char buffer[BLOCK_BUFFER_SIZE], int* count);
int stop_requested();
