// Text store: the text downloaded from the pen during this run.
//
// Principles of operation: six fields of `root` (state/state.h) hold two parallel
// buffers of `text_capacity` bytes: the ISO-8859-1 characters, zero-terminated
// at `text_length`, and one attribute byte per character whose bits 0-1 are the
// size class 0..3. The buffers start at 4096 bytes and grow by 4096 at a time,
// both together, before a block would leave fewer than two free bytes.
// `setup_data` empties the store; the download appends a block with
// `store_block`. The pen's codes 0, 1 and 2 (oe, OE, euro, which ISO-8859-1
// lacks) are written out as "oe", "OE" and "EUR".
//
//   setup_data    frees both buffers and starts an empty store of 4096 bytes
//   store_block   1 block appended, 0 the buffers could not grow (store intact)
#pragma once

#include <cstddef>

constexpr int STORE_STEP = 4096;

void setup_data();

// Appends the n (character, attribute) pairs at `pairs` (2n bytes) and counts a
// scan. Writes the characters, attributes and terminator before it raises
// `text_length`, so a reader on another thread never sees unwritten text.
int store_block(const unsigned char* pairs, int n);

// The allocator used to grow the buffers; tests replace it to make growth fail.
extern void* (*store_realloc)(void* block, size_t size);
