// The simulated pen: answers the program's commands on the simulated line.
//
// Principles of operation: the pen waits for a command byte and answers it:
// wake-up 0x00 -> 0x80, goodbye 0x01 -> 0x81, configuration read 0x02 -> 0x82
// and 8 bytes, configuration write 0x03 + 4 bytes -> 0x83 (the values are
// kept), erase 0x07 -> 0x83 after the erase delay (the text is gone), text
// download 0x04 + speed code + 0x00 -> the text's blocks, one per scan, each
// answered by the program with 0x05 (next block) or 0x06 (the same again),
// then 0x83. The first block waits until the program has switched the line to
// the download rate; a goodbye during a download ends it; 5 s without an
// answer end it too. Commands other than these are ignored.
//
// A session runs from a wake-up to the next goodbye. Faults change replies
// only (an erase or a configuration write is still carried out); each applies
// once, at its first match, unless `fault_always` is set.
//
//   serve_pen     how serving ended: SERVE_STOPPED, SERVE_SESSIONS_DONE, SERVE_UNPLUGGED
//   frame_block   the bytes of one block attempt, with a block fault applied
//   take_fault    the first unused fault that matches, marked used; null if none
#pragma once

#include <vector>

#include "tools/pensim/options.h"
#include "tools/pensim/text_file.h"

struct SimPen {
    SimOptions* options = nullptr;
    PenConfig config = {};
    std::vector<PenBlock> blocks;
    bool session_open = false;
    int sessions_done = 0;
};

enum { SERVE_STOPPED = 0, SERVE_SESSIONS_DONE = 1, SERVE_UNPLUGGED = 2 };

// FAULT_BLOCK and FAULT_DISCONNECT match only their `number`.
Fault* take_fault(SimOptions* options, FaultTarget target, int number);
// `action` is one of the block actions, or ACTION_NONE for a good block.
std::vector<unsigned char> frame_block(const PenBlock& pairs, FaultAction action);
int serve_pen(SimPen* pen);
