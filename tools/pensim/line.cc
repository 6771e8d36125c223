#include "tools/pensim/line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "tools/pensim/protocol.h"

SimLine sim_line;
volatile sig_atomic_t stop_requested = 0;

namespace {

// The signal mask used inside the waits: the program's mask without SIGINT
// and SIGTERM, which are blocked everywhere else.
sigset_t wait_mask;

double monotonic() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

const double start_time = monotonic();

void on_stop_signal(int) {
    stop_requested = 1;
}

struct timespec to_timespec(double seconds) {
    if (seconds < 0) seconds = 0;
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>((seconds - static_cast<double>(ts.tv_sec)) * 1e9);
    if (ts.tv_nsec >= 1000000000L) ts.tv_nsec = 999999999L;
    return ts;
}

// A line of the byte log; a failing log is reported once and then dropped,
// so the pen goes on serving.
void log_write(const char* text) {
    if (!sim_line.log) return;
    if (std::fputs(text, sim_line.log) < 0 || std::fflush(sim_line.log) != 0) {
        std::fprintf(stderr, "kestrix-pensim: the byte log cannot be written: %s\n",
                     std::strerror(errno));
        std::fclose(sim_line.log);
        sim_line.log = nullptr;
    }
}

void log_bytes(double when, const char* direction, int rate, const unsigned char* bytes,
               int count) {
    if (!sim_line.log) return;
    std::string text;
    char head[64];
    std::snprintf(head, sizeof head, "%.6f %s %d", when, direction, rate);
    text = head;
    for (int i = 0; i < count; i++) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02x", bytes[i]);
        text += hex;
    }
    text += '\n';
    log_write(text.c_str());
}

// Seconds one byte takes on the line (start bit, 8 data bits, parity, stop
// bit); 0 when the rate is unknown, so nothing is paced then.
double byte_time(int rate) {
    return rate > 0 ? 11.0 / rate : 0.0;
}

// Writes all bytes to the master, waiting at most 2 s for room.
bool write_all(const unsigned char* bytes, int count) {
    const double deadline = monotonic() + 2.0;
    int done = 0;
    while (done < count) {
        ssize_t n = write(sim_line.master, bytes + done, static_cast<size_t>(count - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        double left = deadline - monotonic();
        if (left <= 0) return false;
        struct pollfd p = {sim_line.master, POLLOUT, 0};
        struct timespec ts = to_timespec(left);
        if (ppoll(&p, 1, &ts, &wait_mask) < 0 && errno != EINTR) return false;
        if (stop_requested) return false;
    }
    return true;
}

// Reads what the program has written and stamps each byte with its arrival.
// False when nothing could be read.
bool read_input() {
    unsigned char buf[256];
    ssize_t n = read(sim_line.master, buf, sizeof buf);
    if (n <= 0) return false;
    const double now = now_seconds();
    const int rate = terminal_rate();
    log_bytes(now, "PC>PEN", rate, buf, static_cast<int>(n));
    const double t = sim_line.pace ? byte_time(rate) : 0.0;
    for (ssize_t i = 0; i < n; i++) {
        double arrive = now;
        if (t > 0) {
            arrive = (sim_line.rx_free > now ? sim_line.rx_free : now) + t;
            sim_line.rx_free = arrive;
        }
        sim_line.input.push_back({buf[i], arrive, rate});
    }
    return true;
}

// With a byte log, the waits look at the line rate at least this often (in
// seconds), so that a change shows in the log when it happens, also when no
// byte follows it: the order of a goodbye, its reply and the program giving
// the line back is then on record.
constexpr double RATE_WATCH = 0.001;
int logged_rate = -1;

void note_rate_change() {
    if (!sim_line.log || sim_line.master < 0) return;
    const int rate = terminal_rate();
    if (rate == logged_rate) return;
    logged_rate = rate;
    log_note("line rate now %d bit/s", rate);
}

// Waits until `when`, reading (and stamping) what the program writes in the
// meantime, so that every byte gets the rate in force when it came. Returns
// early after new input when `on_input` is set. 0 when a stop was requested.
int idle_until(double when, bool on_input) {
    for (;;) {
        if (stop_requested) return 0;
        const double left = when - now_seconds();
        if (left <= 0) return 1;
        struct timespec ts = to_timespec(sim_line.log ? std::fmin(left, RATE_WATCH) : left);
        if (sim_line.master < 0) {
            ppoll(nullptr, 0, &ts, &wait_mask);
            continue;
        }
        struct pollfd p = {sim_line.master, POLLIN, 0};
        int r = ppoll(&p, 1, &ts, &wait_mask);
        note_rate_change();
        if (r == 0 || (r < 0 && errno == EINTR)) continue;
        if (r > 0 && (p.revents & POLLIN) && read_input()) {
            if (on_input) return 1;
            continue;
        }
        // A hang-up or an error with nothing to read: pause instead of
        // spinning on a descriptor that stays ready.
        ts = to_timespec(std::fmin(left, 0.05));
        ppoll(nullptr, 0, &ts, &wait_mask);
    }
}

}  // namespace

double now_seconds() {
    return monotonic() - start_time;
}

void install_stop_signals() {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTERM);
    sigprocmask(SIG_BLOCK, &block, &wait_mask);
    sigdelset(&wait_mask, SIGINT);
    sigdelset(&wait_mask, SIGTERM);
}

int open_line(std::string* error) {
    // Paced bytes at 115200 bit/s are 95 us apart: keep the timer slack small.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        *error = std::string("posix_openpt: ") + std::strerror(errno);
        return 0;
    }
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name)) {
        *error = std::string("pseudo-terminal: ") + std::strerror(errno);
        close(master);
        return 0;
    }
    int slave = open(name, O_RDWR | O_NOCTTY);
    if (slave < 0) {
        *error = std::string(name) + ": " + std::strerror(errno);
        close(master);
        return 0;
    }
    // Raw settings at 300 bit/s: a terminal end in its default (echoing,
    // line-editing) mode would send the pen's own bytes back to it.
    struct termios tio;
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        tio.c_cflag = CS8 | CREAD | CLOCAL | PARENB;
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        cfsetospeed(&tio, B300);
        cfsetispeed(&tio, B300);
        tcsetattr(slave, TCSANOW, &tio);
    }
    int flags = fcntl(master, F_GETFL);
    if (flags < 0 || fcntl(master, F_SETFL, flags | O_NONBLOCK) < 0) {
        *error = std::string("fcntl: ") + std::strerror(errno);
        close(slave);
        close(master);
        return 0;
    }
    sim_line.master = master;
    sim_line.slave = slave;
    sim_line.tty = name;
    return 1;
}

void close_line() {
    if (sim_line.master >= 0) close(sim_line.master);
    if (sim_line.slave >= 0) close(sim_line.slave);
    sim_line.master = -1;
    sim_line.slave = -1;
    sim_line.input.clear();
}

int terminal_rate() {
    struct termios tio;
    if (sim_line.master < 0 || tcgetattr(sim_line.master, &tio) != 0) return 0;
    const speed_t speed = cfgetospeed(&tio);
    for (const PenSpeed& s : pen_speeds)
        if (s.flag == speed) return s.rate;
    // Rates the pen does not offer, so that the log shows a wrong rate the
    // program set as what it is.
    static const struct {
        speed_t flag;
        int rate;
    } other_rates[] = {
        {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},
        {B150, 150},       {B200, 200},       {B600, 600},       {B1800, 1800},
        {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
    };
    for (const auto& r : other_rates)
        if (r.flag == speed) return r.rate;
    return 0;
}

int wait_until(double when) {
    return idle_until(when, false);
}

int get_byte(unsigned char* byte, double deadline) {
    for (;;) {
        if (stop_requested) return -1;
        const double now = now_seconds();
        if (!sim_line.input.empty() && sim_line.input.front().arrive <= now) {
            *byte = sim_line.input.front().byte;
            sim_line.last_rate = sim_line.input.front().rate;
            sim_line.input.pop_front();
            return 1;
        }
        if (now >= deadline) return 0;
        double until = deadline;
        if (!sim_line.input.empty() && sim_line.input.front().arrive < until)
            until = sim_line.input.front().arrive;
        if (!idle_until(until, true)) return -1;
    }
}

int send_bytes(const unsigned char* bytes, int count) {
    if (count <= 0) return 1;
    const int rate = terminal_rate();
    const double t = sim_line.pace ? byte_time(rate) : 0.0;
    double start = now_seconds();
    if (t > 0 && sim_line.tx_free > start) start = sim_line.tx_free;
    log_bytes(start, "PEN>PC", rate, bytes, count);
    if (t <= 0) return write_all(bytes, count) ? 1 : 0;
    // Each byte is written when its last bit would have left a real line.
    // The times count from the burst's start, so a late wake-up is caught up
    // by writing every byte that is due at once.
    int done = 0;
    while (done < count) {
        if (!wait_until(start + (done + 1) * t)) return -1;
        const double now = now_seconds();
        int due = done + 1;
        while (due < count && start + (due + 1) * t <= now) due++;
        if (!write_all(bytes + done, due - done)) return 0;
        done = due;
    }
    sim_line.tx_free = start + count * t;
    return 1;
}

int input_pending() {
    int n = 0;
    if (sim_line.slave < 0 || ioctl(sim_line.slave, FIONREAD, &n) != 0) return 0;
    return n;
}

void log_note(const char* format, ...) {
    if (!sim_line.log) return;
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    char line[600];
    std::snprintf(line, sizeof line, "%.6f NOTE %d %s\n", now_seconds(), terminal_rate(), text);
    log_write(line);
}
