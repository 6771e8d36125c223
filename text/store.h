// Text store: the text downloaded from the pen during this run.
//
// Principles of operation: six fields of `root` (state/state.h) hold two parallel
// buffers of `text_capacity` bytes: the ISO-8859-1 characters, zero-terminated
// at `text_length`, and one attribute byte per character whose bits 0-1 are the
// size class 0..3. The buffers start at 4096 bytes and grow by 4096 at a time,
// both together, before a block would leave fewer than two free bytes.
// `setup_data` empties the store; the download appends a block with
// `store_block`; an edit in the window inserts with `store_insert` and deletes
// with `store_delete`. The pen's codes 0, 1 and 2 (oe, OE, euro, which ISO-8859-1
// lacks) are written out as "oe", "OE" and "EUR".
//
//   setup_data    frees both buffers and starts an empty store of 4096 bytes
//   store_block   1 block appended, 0 the buffers could not grow (store intact)
//   store_insert  1 characters inserted, 0 out of range or could not grow (intact)
//   store_delete  1 characters deleted, 0 out of range (intact)
#pragma once

#include <cstddef>

constexpr int STORE_STEP = 4096;

void setup_data();

// Appends the n (character, attribute) pairs at `pairs` (2n bytes) and counts a
// scan. Writes the characters, attributes and terminator before it raises
// `text_length`, so a reader on another thread never sees unwritten text.
int store_block(const unsigned char* pairs, int n);

// Inserts the `count` ISO-8859-1 characters at `latin1` before character
// `offset` (0..text_length), each with `attribute`, and marks the text unsaved.
// Edits come from the main thread while no download runs; like `store_block`
// it writes the characters and terminator before it publishes the new length.
int store_insert(int offset, const char* latin1, int count, unsigned char attribute);

// Deletes the `count` characters from `offset` on (the range must lie inside
// the text), keeps the terminator and marks the text unsaved.
int store_delete(int offset, int count);

// The allocator used to grow the buffers; tests replace it to make growth fail.
extern void* (*store_realloc)(void* block, size_t size);
