// The simulated serial line: the master side of a pseudo-terminal.
//
// Principles of operation: `open_line` creates the pseudo-terminal and keeps
// its terminal end open itself, so that the program opening and closing that
// end for every operation never hangs the line up. Linux pseudo-terminals pass
// bytes at once and ignore the bit rate, but the master sees the rate that the
// program set (tcgetattr on the master reads the terminal end's settings).
// With pacing on, every byte sent waits 11 bit times at the rate in force
// before it is written, as on a real line, and every byte received counts as
// arrived 11 bit times after the line was free. Every wait is bounded and ends
// early when SIGINT or SIGTERM arrives (they are blocked except inside the
// waits, so none is lost). While it waits, the simulator reads what the
// program writes, so every byte is stamped with the rate in force when it
// came. The byte log has one line per burst: for bytes sent, the time their
// first bit goes out; for bytes received, the time they were read; and a note
// whenever the rate changes, seen within a millisecond.
//
//   open_line       1 the pseudo-terminal is ready (its path in `sim_line.tty`)
//   close_line      closes both ends (the program sees a hang-up)
//   line_rate       bit/s set on the terminal end, 0 if unknown
//   now_seconds     monotonic time since the start, in seconds
//   wait_until      1 the time came, 0 a stop was requested first
//   get_byte        1 a byte arrived, 0 none before the deadline, -1 stop
//   send_bytes      1 all bytes written, 0 the line would not take them, -1 stop
//   input_pending   bytes still unread on the terminal end
//   log_note        an event line in the byte log
#pragma once

#include <csignal>
#include <cstdio>
#include <deque>
#include <string>

struct SimLine {
    int master = -1;
    int slave = -1;  // kept open so the line never hangs up between sessions
    std::string tty;
    bool pace = false;
    FILE* log = nullptr;
    double tx_free = 0;  // when the last paced byte sent has left the line
    double rx_free = 0;  // when the last paced byte received has arrived
    // Received bytes with the time at which they count as arrived and the
    // rate in force when they were read.
    struct Received {
        unsigned char byte;
        double arrive;
        int rate;
    };
    std::deque<Received> input;
    int last_rate = 0;  // the rate of the byte get_byte gave last
};

extern SimLine sim_line;
// Set by the SIGINT/SIGTERM handler.
extern volatile sig_atomic_t stop_requested;

// Blocks SIGINT and SIGTERM and installs their handler; the waits unblock them.
void install_stop_signals();

int open_line(std::string* error);
void close_line();
// The bit rate the program has set on the terminal, as the pen reads it off
// the line's settings (the program's own `line_rate` is what it last asked for).
int terminal_rate();
double now_seconds();
int wait_until(double when);
int get_byte(unsigned char* byte, double deadline);
int send_bytes(const unsigned char* bytes, int count);
int input_pending();
void log_note(const char* format, ...) __attribute__((format(printf, 1, 2)));
