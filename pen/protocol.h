// Pen command protocol: the byte exchanges with the pen and the entry points
// through which the rest of the program reaches it.
//
// Principles of operation: the PC always leads. Every use of the pen is one
// self-contained exchange: open the line (300 bit/s), wake the pen, give one
// command, say goodbye, close the line. A reply byte is awaited for at most
// 0.5 s (VMIN 0, VTIME 5) unless said otherwise; a reply other than the one
// expected is a failure and nothing tries to resynchronise. The entry points
// return pen result codes; this module never shows or prints a message.
//
//   open_port              open_line (pen/serial.h) on root.device
//   wake_pen               1 the pen answered 0x80 to the wake-up
//   bye_pen                1 the pen answered 0x81 to the goodbye
//   bye_pen_after_break    1 the pen answered 0x81 within 0.5 s, other bytes
//                          (the rest of a cut block) skipped; 0 no reply
//   erase_pen              1 the pen acknowledged the erase within 10 s
//   request_configuration  1 a full 9-byte reply starting with 0x82 arrived
//   send_configuration     1 the pen acknowledged the 5-byte packet with 0x83
//   run_exchange           pen result code of one exchange: open, wake,
//                          command, goodbye, close (PenExchange)
//   read_configuration     pen result code; fills the pen fields of `state`
//   write_configuration    pen result code; sends mode and the three languages
//   clear_flash            pen result code; erases the pen's memory
//   read_text              (pen/download.h)
#pragma once

#include "state/state.h"

enum : unsigned char {
    PEN_CMD_WAKE = 0x00,
    PEN_CMD_BYE = 0x01,
    PEN_CMD_GET_CONFIG = 0x02,
    PEN_CMD_SET_CONFIG = 0x03,
    PEN_CMD_SEND_TEXT = 0x04,
    PEN_ACK = 0x05,
    PEN_NAK = 0x06,
    PEN_CMD_ERASE = 0x07,
    PEN_REPLY_WAKE = 0x80,
    PEN_REPLY_BYE = 0x81,
    PEN_REPLY_CONFIG = 0x82,
    PEN_REPLY_DONE = 0x83,
    PEN_BLOCK = 0x84,
};

// Pen result codes.
enum {
    PEN_OK = 1,
    PEN_BREAK = 2,
    PEN_ERR_TRANSFER = -1,
    PEN_ERR_SERIAL = -2,
    PEN_ERR_CONNECT = -3,
    PEN_ERR_MEMORY = -4,
};

constexpr int CONFIG_REPLY_SIZE = 9;
constexpr int CONFIG_PACKET_SIZE = 5;

int open_port();
int wake_pen();
int bye_pen();
int bye_pen_after_break();
int erase_pen();
int request_configuration(unsigned char reply[CONFIG_REPLY_SIZE]);
int send_configuration(unsigned char packet[CONFIG_PACKET_SIZE]);

// One self-contained exchange. The command runs only after a successful
// wake-up and gives the result; the goodbye follows it (after a break, the
// one that waits out the rest of a cut block), and follows a failed wake-up
// only where `bye_after_failed_wake` says so.
struct PenExchange {
    int (*command)(AppState* state);
    bool bye_after_failed_wake;
};
int run_exchange(const PenExchange& exchange, AppState* state);

int read_configuration(AppState* state);
int write_configuration(AppState* state);
int clear_flash();
