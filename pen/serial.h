// Serial line: the one device through which the program talks to the pen.
//
// Principles of operation: `open_line` opens the device it is given (it knows
// nothing of the program's state; pen/protocol.h's `open_port` gives it the
// chosen device) and puts it into raw mode at 300 bit/s, 8 data bits, even
// parity, VMIN 0, VTIME 5 (a read returns the bytes that are there, or nothing
// after 0.5 s). The protocol changes the
// bit rate and the read timing while the line is open and writes bytes one at
// a time with a 1 ms pause after each, because the pen needs that time.
// `close_port` gives the device the settings it had at the open. The line is
// never kept open between pen operations. Nothing here shows a message.
//
// No wait is unbounded: counted reads (`read_counted`) are bounded by a poll()
// deadline, and a read that fails counts as no data. A counted read waits in
// slices of at most 100 ms and asks its stop check between them, so a stop
// request is honoured within a slice even in the middle of a long block.
//
//   get_speed       rate of row 0..8 of the speed table, -1 for another row
//   speed_index     row of a rate, -1 when the table has no such rate
//   get_baudflag    termios speed constant of a rate, 0 if none
//   get_speedcode   pen's code of a rate, 0 (300 bit/s) if none
//   open_line       1 opened with the pen settings and, when it is a terminal,
//                   held exclusively (a lock and the terminal's exclusive mode;
//                   low latency asked of USB adapters), 0 not opened, a regular
//                   file, or a line held by another program (errno kept,
//                   line_cause set); closes a device still open first
//   close_port      queued output drained (at most its line time plus 100 ms,
//                   then discarded), pending input discarded, then settings,
//                   exclusive mode and latency back, descriptor closed;
//                   nothing when none open
//   restore_line_now  settings and exclusive mode back at once, for a signal
//                   handler (async-signal-safe; the descriptor stays open)
//   restore_line_and_raise  restore_line_now, then the signal raised with its
//                   default action: the second signal's way out
//   ignored_at_start  true for a signal the program was started to ignore
//   set_speed       1 new rate after 100 ms, queued output sent, input flushed;
//                   20 ms (a rate not in the table sets 300 bit/s, never B0);
//                   0 the terminal's settings could not be read
//   set_vmin        1 VMIN of the open line set (low 8 bits), 0 failed
//   set_vtime       1 VTIME of the open line set (low 8 bits), 0 failed
//   flush_input     what arrived and was not read yet is discarded
//   write_paced     1 every byte written (1 ms after each), 0 at the first failure
//   write_byte      1 one byte written with one plain write (no pause), 0 not
//   read_byte       1 one byte read within the line's VTIME, 0 none or failure
//   read_counted    number of bytes collected (0..count) before a deadline or
//                   a stop request
//   line_rate       bit rate the open line was last set to
//   line_cause      why the line of the last exchange failed, as far as the
//                   system tells (CAUSE_NONE when it did not say, or nothing
//                   failed); reset by every open_line
//
// Debugging: with KESTRIX_DEBUG containing "serial" in the environment, every
// byte written and read is printed to standard error with its direction, the
// monotonic time and the line rate. Silent otherwise.
#pragma once

#include <termios.h>

struct SpeedEntry {
    int rate;       // bit/s
    int baudflag;   // termios speed constant
    int speedcode;  // the pen's code for the rate in the download command
};

// SPEED_COUNT rows in ascending order of rate, then a row of three -1 that
// only the out-of-range answers use: every loop ends at SPEED_COUNT.
constexpr int SPEED_COUNT = 9;
extern const SpeedEntry speed_table[SPEED_COUNT + 1];

// The open serial device, -1 when none is open. Descriptor 0 is a real
// descriptor when the program is started with standard input closed.
extern int port_fd;
// The settings the device had when it was last opened; written back at close.
extern struct termios saved_termios;

int get_speed(int index);
// A rate parsed as the caller reads numbers (an option with atol, the
// settings file as a float): its row, or -1.
int speed_index(double rate);
int get_baudflag(int rate);
int get_speedcode(int rate);

// Reading the settings of a descriptor that is not a terminal (the null
// device, a FIFO) fails with ENOTTY: there is nothing to set, and that is no
// failure. Any other failure to read them (an unplugged adapter gives EIO) is
// one, and nothing is then written to the line's settings.
int open_line(const char* device);
void close_port();
void restore_line_now();
// Async-signal-safe. Inside the signal's own handler the raised signal takes
// effect when the handler returns.
void restore_line_and_raise(int sig);
// nohup and background jobs start a program with SIGHUP or SIGINT ignored;
// such a signal stays ignored.
bool ignored_at_start(int sig);
int set_speed(int rate);
int set_vmin(int count);
int set_vtime(int tenths);
void flush_input();
int write_paced(const unsigned char* bytes, int count);
// The wake, goodbye and erase command bytes go out this way; EINTR is retried.
int write_byte(unsigned char byte);

// One read of one byte, awaited for at most the line's current VTIME (poll()
// with a monotonic deadline, so a device without terminal timing cannot hang
// it). 1 when a byte came, 0 when none came, the read failed or gave nothing.
int read_byte(unsigned char* byte);

// Asked between the slices of a long wait; nonzero ends the wait early.
typedef int (*StopCheck)();

// Collects up to `count` bytes into `buf` by repeated reads until all are in or
// `timeout_ms` (from the call) has passed. Linux returns at most 64 bytes per
// read() on a terminal whatever VMIN says, so one read is not enough. Returns
// the number of bytes collected; a failing read, a hang-up or `stop` returning
// nonzero (asked at least every 100 ms) ends the collection early.
int read_counted(unsigned char* buf, int count, int timeout_ms, StopCheck stop = nullptr);

// Time in milliseconds that `bytes` bytes take on the line at `rate` bit/s
// (11 bits per byte: start, 8 data, parity, stop), rounded up.
int line_time_ms(int bytes, int rate);

// The bit rate set by the last open_port or set_speed.
int line_rate();

// What the system said about a failed line, for the message that names the
// device. open_line sets it from the open's errno (EACCES/EPERM denied, EBUSY
// or the lock held elsewhere busy, ENOENT/ENOTDIR/ENXIO/ENODEV missing; a
// regular file and other errors none). The reads and writes set it to
// unplugged when the open device goes away: the kernel hangs a terminal up
// when its adapter is unplugged (or a pseudo-terminal's far side closes), so
// poll() reports POLLHUP or POLLERR and reads, writes and settings fail with
// EIO (ENXIO or ENODEV on some drivers). A timeout or a wrong reply changes
// nothing. Kept with the other line globals, so read after the operation's
// thread has been joined.
enum LineCause { CAUSE_NONE, CAUSE_DENIED, CAUSE_BUSY, CAUSE_MISSING, CAUSE_UNPLUGGED };
LineCause line_cause();
