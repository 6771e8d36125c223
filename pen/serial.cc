#include "pen/serial.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const SpeedEntry speed_table[SPEED_COUNT + 1] = {
    {300, B300, 0},       {1200, B1200, 1},   {2400, B2400, 2},   {4800, B4800, 3},
    {9600, B9600, 4},     {19200, B19200, 5}, {38400, B38400, 6}, {57600, B57600, 7},
    {115200, B115200, 8}, {-1, -1, -1},
};

// The line globals belong to whichever thread runs the pen operation (the
// worker, or the main thread for the configuration exchanges and in batch
// mode): one operation at a time, since every progress and configuration
// dialog holds the modal grab. A signal handler reads port_fd and
// saved_termios (restore_line_now); they are set before the flags that let it
// use them.
int port_fd = -1;
struct termios saved_termios;

namespace {

using Clock = std::chrono::steady_clock;

constexpr tcflag_t LINE_CFLAGS = CS8 | CREAD | PARENB | CLOCAL;

// What the open line was last set to; the reads bound their waits by
// line_vtime, the block deadline and the debug channel use line_speed.
int line_vtime = 5;
int line_speed = 300;
LineCause last_cause = CAUSE_NONE;

// An errno of a read, a write or a settings call on the open line that says
// the device has gone.
void note_gone(int error) {
    if (error == EIO || error == ENXIO || error == ENODEV) last_cause = CAUSE_UNPLUGGED;
}

bool debug_serial() {
    const char* v = std::getenv("KESTRIX_DEBUG");
    return v != nullptr && std::strstr(v, "serial") != nullptr;
}

void debug_byte(const char* direction, unsigned char byte) {
    if (!debug_serial()) return;
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    std::fprintf(stderr, "serial %s 0x%02X %ld.%06ld %d bit/s\n", direction, byte,
                 static_cast<long>(t.tv_sec), t.tv_nsec / 1000, line_speed);
}

// Milliseconds left until `deadline`, rounded up so poll() never wakes early.
int ms_left(Clock::time_point deadline) {
    auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(left).count();
    return static_cast<int>((us + 999) / 1000);
}

// 1 when the line has something to read (data, a hang-up or an error: the read
// that follows tells which), 0 when the deadline passed first or `stop`
// answered nonzero; `stop` is asked at least every SLICE_MS.
constexpr int SLICE_MS = 100;

int wait_readable(Clock::time_point deadline, StopCheck stop = nullptr) {
    for (;;) {
        if (stop && stop()) return 0;
        int wait = ms_left(deadline);
        if (stop && wait > SLICE_MS) wait = SLICE_MS;
        struct pollfd p = {port_fd, POLLIN, 0};
        int r = poll(&p, 1, wait);
        if (r > 0 && (p.revents & (POLLHUP | POLLERR))) last_cause = CAUSE_UNPLUGGED;
        if (r > 0) return 1;
        if (r < 0 && errno != EINTR) return 0;
        if (r == 0 && ms_left(deadline) == 0) return 0;
    }
}

ssize_t read_some(unsigned char* buf, size_t count) {
    for (;;) {
        ssize_t r = read(port_fd, buf, count);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) note_gone(errno);
        return r;
    }
}

// Reads the open line's settings: 1 read, or the line is no terminal and has
// none (ENOTTY: nothing to set, no failure); 0 a terminal that could not be
// read (an unplugged adapter gives EIO), so nothing may be written from `t`.
// tcsetattr's own result is not taken: it reports an error whenever one flag
// was not applied, and a pseudo-terminal never applies parity.
int read_settings(struct termios* t, bool* have) {
    *have = tcgetattr(port_fd, t) == 0;
    if (*have || errno == ENOTTY) return 1;
    note_gone(errno);
    return 0;
}

int apply_cc(int index, int value) {
    struct termios t;
    bool have = false;
    if (!read_settings(&t, &have)) return 0;
    if (!have) return 1;
    t.c_cc[index] = static_cast<cc_t>(value & 0xFF);
    tcsetattr(port_fd, TCSANOW, &t);
    return 1;
}

}  // namespace

int get_speed(int index) {
    if (index < 0 || index >= SPEED_COUNT) return speed_table[SPEED_COUNT].rate;
    return speed_table[index].rate;
}

int speed_index(double rate) {
    for (int i = 0; i < SPEED_COUNT; i++) {
        if (rate == speed_table[i].rate) return i;
    }
    return -1;
}

int get_baudflag(int rate) {
    const int row = speed_index(rate);
    return row >= 0 ? speed_table[row].baudflag : 0;
}

int get_speedcode(int rate) {
    const int row = speed_index(rate);
    return speed_table[row >= 0 ? row : 0].speedcode;
}

namespace {

// Whether open_port switched the driver's low-latency mode on, so that
// close_port switches it off again.
bool low_latency_set = false;
// Whether open_port claimed the line (a terminal) and got its settings, so
// that close_port and restore_line_now give back only what was taken. Read by
// the signal handler; written only while no pen operation could be stopped
// half-way.
volatile sig_atomic_t line_claimed = 0;
volatile sig_atomic_t settings_saved = 0;

// The line is the program's alone while it is open: an advisory lock that
// other programs using the same convention respect, and the terminal's
// exclusive mode, which makes further opens of the device fail. 0 when
// another program holds the lock. Only terminals are claimed: a lock on the
// null device would keep every other user of it waiting.
int claim_line(int fd) {
    line_claimed = 0;
    if (!isatty(fd)) return 1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // Only a lock held elsewhere counts; a device without locking is used.
        if (errno == EWOULDBLOCK) return 0;
    }
    ioctl(fd, TIOCEXCL);
    line_claimed = 1;
    return 1;
}

// USB serial adapters hold back short replies for their latency timer, and
// this protocol waits for a reply after every block: ask for low latency
// where the driver knows the setting. Nothing changes where it does not.
void ask_low_latency(int fd) {
    low_latency_set = false;
    struct serial_struct ss;
    if (ioctl(fd, TIOCGSERIAL, &ss) != 0) return;
    if (ss.flags & ASYNC_LOW_LATENCY) return;
    ss.flags |= ASYNC_LOW_LATENCY;
    low_latency_set = ioctl(fd, TIOCSSERIAL, &ss) == 0;
}

// A terminal in exclusive use by another program refuses the open with EBUSY.
// The node of an unplugged adapter is gone (ENOENT), or stays without a
// device behind it (ENXIO, ENODEV).
LineCause cause_of_open_error(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return CAUSE_DENIED;
        case EBUSY:
            return CAUSE_BUSY;
        case ENOENT:
        case ENOTDIR:
        case ENXIO:
        case ENODEV:
            return CAUSE_MISSING;
        default:
            return CAUSE_NONE;
    }
}

void release_line(int fd) {
    if (low_latency_set) {
        struct serial_struct ss;
        if (ioctl(fd, TIOCGSERIAL, &ss) == 0) {
            ss.flags &= ~ASYNC_LOW_LATENCY;
            ioctl(fd, TIOCSSERIAL, &ss);
        }
        low_latency_set = false;
    }
    if (!line_claimed) return;
    ioctl(fd, TIOCNXCL);
    flock(fd, LOCK_UN);
    line_claimed = 0;
}

// Waits until the output queued on the open line has left it: the driver's
// queue is empty and, where the driver reports it, the transmitter too. The
// wait is bounded by the line time of what was queued plus 100 ms; what is
// still queued then is discarded, since a line that does not drain (an
// unplugged adapter) would otherwise hold the close. tcdrain() has no bound.
constexpr int DRAIN_SLACK_MS = 100;
constexpr int DRAIN_POLL_MS = 2;

bool output_pending(int* queued) {
    if (ioctl(port_fd, TIOCOUTQ, queued) != 0) return false;
    if (*queued > 0) return true;
    unsigned int lsr = 0;
    if (ioctl(port_fd, TIOCSERGETLSR, &lsr) != 0) return false;
    return (lsr & TIOCSER_TEMT) == 0;
}

void drain_output() {
    int queued = 0;
    if (!output_pending(&queued)) return;
    const Clock::time_point deadline =
        Clock::now() +
        std::chrono::milliseconds(line_time_ms(queued + 1, line_speed) + DRAIN_SLACK_MS);
    while (Clock::now() < deadline) {
        usleep(DRAIN_POLL_MS * 1000);
        if (!output_pending(&queued)) return;
    }
    tcflush(port_fd, TCOFLUSH);
}

}  // namespace

int open_line(const char* device) {
    if (port_fd != -1) close_port();
    last_cause = CAUSE_NONE;

    // O_NONBLOCK only for the open itself: a serial port whose settings lack
    // CLOCAL would otherwise wait for a carrier the pen never raises. The line
    // is used in blocking mode, as its read timing assumes.
    int fd = open(device, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        last_cause = cause_of_open_error(errno);
        return 0;
    }

    // Pen commands written into a user's file would corrupt it.
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        close(fd);
        errno = ENOTTY;
        return 0;
    }
    // Another program on the line would mix its bytes with the pen's.
    if (!claim_line(fd)) {
        close(fd);
        errno = EBUSY;
        last_cause = CAUSE_BUSY;
        return 0;
    }
    ask_low_latency(fd);

    // A device that is not a terminal (the null device, a FIFO) still counts
    // as an open line; it has no settings to save or give back.
    settings_saved = tcgetattr(fd, &saved_termios) == 0 ? 1 : 0;

    struct termios t;
    std::memset(&t, 0, sizeof t);
    t.c_iflag = IGNPAR;
    t.c_oflag = 0;
    t.c_cflag = B300 | LINE_CFLAGS;
    t.c_lflag = 0;
    t.c_line = 0;
    cfsetospeed(&t, B300);
    cfsetispeed(&t, B300);
    t.c_cc[VTIME] = 5;
    t.c_cc[VMIN] = 0;

    tcflush(fd, TCIFLUSH);
    tcsetattr(fd, TCSANOW, &t);
    int flags = fcntl(fd, F_GETFL);
    if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);

    port_fd = fd;
    line_vtime = 5;
    line_speed = 300;
    return 1;
}

void close_port() {
    if (port_fd == -1) return;
    // The last bytes (the goodbye) go out at the rate the pen listens at, not
    // at the restored one. What the pen still sends is dropped rather than
    // echoed back to it by the restored settings' line discipline.
    drain_output();
    tcflush(port_fd, TCIFLUSH);
    if (settings_saved) tcsetattr(port_fd, TCSANOW, &saved_termios);
    release_line(port_fd);
    close(port_fd);
    port_fd = -1;
    settings_saved = 0;
}

void restore_line_now() {
    const int fd = port_fd;
    if (fd == -1) return;
    // Only calls that do not wait: queued output is not drained.
    if (settings_saved) tcsetattr(fd, TCSANOW, &saved_termios);
    if (line_claimed) ioctl(fd, TIOCNXCL);
}

void restore_line_and_raise(int sig) {
    restore_line_now();
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
    raise(sig);
}

bool ignored_at_start(int sig) {
    struct sigaction old;
    return sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN;
}

int set_speed(int rate) {
    if (port_fd == -1) return 0;
    // A rate outside the table would give B0, which hangs the line up; the pen
    // is told 300 bit/s for such a rate (get_speedcode), so the line uses it too.
    if (get_baudflag(rate) == 0) rate = speed_table[0].rate;
    speed_t baud = static_cast<speed_t>(get_baudflag(rate));
    struct termios t;
    bool have = false;
    if (!read_settings(&t, &have)) return 0;
    // The pen needs time around a speed change. TCSAFLUSH lets queued output
    // go out at the old rate and discards what arrived before the change.
    usleep(100000);
    if (have) {
        t.c_cflag = baud | LINE_CFLAGS;
        cfsetospeed(&t, baud);
        cfsetispeed(&t, baud);
        tcsetattr(port_fd, TCSAFLUSH, &t);
    }
    line_speed = rate;
    usleep(20000);
    return 1;
}

int set_vmin(int count) {
    if (port_fd == -1) return 0;
    return apply_cc(VMIN, count);
}

int set_vtime(int tenths) {
    if (port_fd == -1) return 0;
    if (!apply_cc(VTIME, tenths)) return 0;
    line_vtime = tenths & 0xFF;
    return 1;
}

void flush_input() {
    if (port_fd != -1) tcflush(port_fd, TCIFLUSH);
}

int write_paced(const unsigned char* bytes, int count) {
    for (int i = 0; i < count; i++) {
        ssize_t r;
        do {
            r = write(port_fd, &bytes[i], 1);
        } while (r < 0 && errno == EINTR);
        if (r < 0) note_gone(errno);
        if (r != 1) return 0;
        debug_byte("tx", bytes[i]);
        // The pen needs 1 ms after every byte.
        usleep(1000);
    }
    return 1;
}

int write_byte(unsigned char byte) {
    ssize_t r;
    do {
        r = write(port_fd, &byte, 1);
    } while (r < 0 && errno == EINTR);
    if (r < 0) note_gone(errno);
    if (r != 1) return 0;
    debug_byte("tx", byte);
    return 1;
}

int read_byte(unsigned char* byte) {
    if (port_fd == -1) return 0;
    // VTIME bounds the wait on a terminal; poll() bounds it on anything else.
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(line_vtime * 100);
    if (!wait_readable(deadline)) return 0;
    if (read_some(byte, 1) != 1) return 0;
    debug_byte("rx", *byte);
    return 1;
}

int read_counted(unsigned char* buf, int count, int timeout_ms, StopCheck stop) {
    if (port_fd == -1 || count <= 0) return 0;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    int got = 0;
    while (got < count) {
        if (!wait_readable(deadline, stop)) break;
        // Ask only for what has arrived: with VMIN set to the whole body a
        // larger read would block until VMIN bytes came, past any deadline or
        // stop request (at 300 bit/s a full block takes 9 s).
        size_t want = static_cast<size_t>(count - got);
        int arrived = 0;
        if (ioctl(port_fd, FIONREAD, &arrived) == 0 && arrived > 0 &&
            static_cast<size_t>(arrived) < want)
            want = static_cast<size_t>(arrived);
        ssize_t r = read_some(buf + got, want);
        if (r <= 0) break;  // failure or hang-up: the device is gone
        for (ssize_t i = 0; i < r; i++) debug_byte("rx", buf[got + i]);
        got += static_cast<int>(r);
    }
    return got;
}

int line_time_ms(int bytes, int rate) {
    if (bytes <= 0 || rate <= 0) return 0;
    long long bits = static_cast<long long>(bytes) * 11 * 1000;
    return static_cast<int>((bits + rate - 1) / rate);
}

int line_rate() {
    return line_speed;
}

LineCause line_cause() {
    return last_cause;
}
