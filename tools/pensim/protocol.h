// The pen's side of the link: the bytes the pen is sent, the bytes it answers
// with, and the download rates it offers.
//
// Principles of operation: these are the simulator's own facts, written as the
// pen sees the link, and nothing here comes from the program. The simulator
// tests the program, so it must not change when the program's constants do: a
// wrong command byte or speed code in the program then fails the tests instead
// of being copied into the pen that checks it.
//
// The pen answers every command byte with one reply byte (a configuration
// read: the reply byte and eight configuration bytes). A configuration write
// carries 4 parameter bytes (mode, menu, text and target language); a download
// command carries 2 (a speed code of `pen_speeds` and 0x00). A text block is
// BLOCK_START, the pair count n (at most 127), 2n bytes and the XOR of those 2n
// bytes; the PC answers each block with PC_ACK (next block) or PC_NAK (the same
// again).
//
//   pen_speeds     the download rates by speed code
//   rate_of_code   bit/s of speed code 0..8, 0 for other codes
#pragma once

#include <termios.h>

// Bytes the PC sends to the pen.
enum : unsigned char {
    CMD_WAKE = 0x00,
    CMD_BYE = 0x01,
    CMD_GET_CONFIG = 0x02,
    CMD_SET_CONFIG = 0x03,
    CMD_SEND_TEXT = 0x04,
    PC_ACK = 0x05,
    PC_NAK = 0x06,
    CMD_ERASE = 0x07,
};

// Bytes the pen sends to the PC.
enum : unsigned char {
    REPLY_WAKE = 0x80,
    REPLY_BYE = 0x81,
    REPLY_CONFIG = 0x82,
    REPLY_DONE = 0x83,  // configuration written, memory erased, download over
    BLOCK_START = 0x84,
};

constexpr int SET_CONFIG_PARAMETERS = 4;
constexpr int SEND_TEXT_PARAMETERS = 2;

struct PenSpeed {
    int rate;      // bit/s
    speed_t flag;  // the termios constant a PC sets for the rate
    int code;      // the pen's code for the rate in the download command
};

inline constexpr PenSpeed pen_speeds[] = {
    {300, B300, 0},     {1200, B1200, 1},   {2400, B2400, 2},
    {4800, B4800, 3},   {9600, B9600, 4},   {19200, B19200, 5},
    {38400, B38400, 6}, {57600, B57600, 7}, {115200, B115200, 8},
};

inline int rate_of_code(int code) {
    for (const PenSpeed& s : pen_speeds)
        if (s.code == code) return s.rate;
    return 0;
}
