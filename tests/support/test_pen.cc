#include "support/test_pen.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace {

double monotonic_seconds() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::string hex(const Bytes& bytes) {
    std::string s;
    char part[8];
    for (unsigned char b : bytes) {
        std::snprintf(part, sizeof part, "%s%02X", s.empty() ? "" : " ", b);
        s += part;
    }
    return s;
}

}  // namespace

// The pen's own reading of the line, not the program's speed table: a wrong
// row there shows here as a wrong rate, and a rate the program must never set
// (600, 1800) is still named.
int rate_of_speed(speed_t speed) {
    static const struct {
        speed_t speed;
        int rate;
    } table[] = {{B300, 300},     {B600, 600},     {B1200, 1200},    {B1800, 1800},
                 {B2400, 2400},   {B4800, 4800},   {B9600, 9600},    {B19200, 19200},
                 {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
    for (const auto& row : table) {
        if (row.speed == speed) return row.rate;
    }
    return 0;
}

Bytes make_block(const Bytes& pairs) {
    Bytes block = {0x84, static_cast<unsigned char>(pairs.size() / 2)};
    unsigned char sum = 0;
    for (unsigned char b : pairs) sum ^= b;
    block.insert(block.end(), pairs.begin(), pairs.end());
    block.push_back(sum);
    return block;
}

Bytes make_bad_block(const Bytes& pairs) {
    Bytes block = make_block(pairs);
    block.back() ^= 0x5A;
    return block;
}

Bytes text_pairs(const std::string& text, unsigned char attribute) {
    Bytes pairs;
    for (char c : text) {
        pairs.push_back(static_cast<unsigned char>(c));
        pairs.push_back(attribute);
    }
    return pairs;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TestPen::TestPen() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) return;
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) return;
    slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) return;

    // A rate of the terminal's own that none of the tests downloads at.
    struct termios t;
    if (tcgetattr(slave_, &t) == 0) {
        cfsetospeed(&t, B2400);
        cfsetispeed(&t, B2400);
        tcsetattr(slave_, TCSANOW, &t);
    }
    path_ = name;
}

TestPen::~TestPen() {
    if (started_) finish(0, 0);
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
}

struct termios TestPen::settings() const {
    struct termios t = {};
    tcgetattr(master_ >= 0 ? master_ : slave_, &t);
    return t;
}

int TestPen::current_rate() const {
    struct termios t = settings();
    return rate_of_speed(cfgetospeed(&t));
}

TestPen& TestPen::expect(const Bytes& bytes, int timeout_ms) {
    Step step(Step::Expect, bytes);
    step.timeout_ms = timeout_ms;
    script_.push_back(std::move(step));
    return *this;
}

TestPen& TestPen::send(const Bytes& bytes) {
    script_.push_back(Step(Step::Send, bytes));
    return *this;
}

TestPen& TestPen::wait_rate(int rate, int timeout_ms) {
    Step step(Step::WaitRate);
    step.value = rate;
    step.timeout_ms = timeout_ms;
    script_.push_back(std::move(step));
    return *this;
}

TestPen& TestPen::pause(int ms) {
    Step step(Step::Pause);
    step.value = ms;
    script_.push_back(std::move(step));
    return *this;
}

TestPen& TestPen::run(std::function<void()> action) {
    Step step(Step::Run);
    step.action = std::move(action);
    script_.push_back(std::move(step));
    return *this;
}

TestPen& TestPen::hangup() {
    script_.push_back(Step(Step::Hangup));
    return *this;
}

void TestPen::start() {
    if (started_ || !ok()) return;
    started_ = true;
    start_ = monotonic_seconds();
    thread_ = std::thread([this] { main_loop(); });
}

void TestPen::finish(int script_ms, int quiet_ms) {
    if (!started_) return;
    double until = monotonic_seconds() + script_ms / 1000.0;
    while (!script_done_ && monotonic_seconds() < until) usleep(2000);
    quiet_ms_ = quiet_ms;
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    started_ = false;
}

double TestPen::seconds() const {
    return monotonic_seconds() - start_;
}

void TestPen::main_loop() {
    for (size_t i = 0; i < script_.size(); i++) {
        if (!run_step(script_[i], i)) break;
    }
    script_done_ = true;
    while (!stop_) pump(10);
    // The program has returned; collect what is still on its way.
    double quiet_since = seconds();
    while (seconds() - quiet_since < quiet_ms_ / 1000.0) {
        size_t before = log_.size();
        pump(10);
        if (log_.size() != before) quiet_since = seconds();
    }
}

bool TestPen::run_step(const Step& step, size_t index) {
    char where[64];
    std::snprintf(where, sizeof where, "step %zu: ", index);
    switch (step.kind) {
        case Step::Expect: {
            double until = seconds() + step.timeout_ms / 1000.0;
            while (pending_.size() < step.bytes.size() && seconds() < until && !stop_) pump(5);
            if (pending_.size() < step.bytes.size()) {
                errors_.push_back(std::string(where) + "expected " + hex(step.bytes) +
                                  ", received only " + hex(pending_));
                return false;
            }
            Bytes got(pending_.begin(), pending_.begin() + step.bytes.size());
            pending_.erase(pending_.begin(), pending_.begin() + step.bytes.size());
            if (got != step.bytes) {
                errors_.push_back(std::string(where) + "expected " + hex(step.bytes) +
                                  ", received " + hex(got));
                return false;
            }
            return true;
        }
        case Step::Send:
            write_all(step.bytes);
            return true;
        case Step::WaitRate: {
            double until = seconds() + step.timeout_ms / 1000.0;
            while (current_rate() != step.value && seconds() < until && !stop_) pump(2);
            if (current_rate() != step.value) {
                errors_.push_back(std::string(where) + "line never switched to " +
                                  std::to_string(step.value) + " bit/s");
                return false;
            }
            return true;
        }
        case Step::Pause: {
            double until = seconds() + step.value / 1000.0;
            while (seconds() < until && !stop_) pump(5);
            return !stop_;
        }
        case Step::Run:
            step.action();
            return true;
        case Step::Hangup:
            if (master_ >= 0) close(master_);
            master_ = -1;
            return true;
    }
    return false;
}

void TestPen::pump(int ms) {
    if (master_ < 0) {
        usleep(static_cast<useconds_t>(ms) * 1000);
        return;
    }
    struct pollfd p = {master_, POLLIN, 0};
    int r = poll(&p, 1, ms);
    if (r <= 0 || !(p.revents & POLLIN)) {
        // A master whose terminal end is closed reports a hang-up at once.
        if (r > 0) usleep(static_cast<useconds_t>(ms) * 1000);
        return;
    }
    unsigned char buf[512];
    ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0) return;
    int rate = current_rate();
    double now = seconds();
    for (ssize_t i = 0; i < n; i++) {
        log_.push_back({buf[i], rate, now});
        pending_.push_back(buf[i]);
    }
}

void TestPen::write_all(const Bytes& bytes) {
    size_t done = 0;
    while (master_ >= 0 && done < bytes.size()) {
        ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            errors_.push_back("write to the line failed");
            return;
        }
        done += static_cast<size_t>(n);
    }
}

Bytes TestPen::received() const {
    Bytes all;
    for (const PenByte& b : log_) all.push_back(b.byte);
    return all;
}

Bytes TestPen::received_at(int rate) const {
    Bytes all;
    for (const PenByte& b : log_) {
        if (b.rate == rate) all.push_back(b.byte);
    }
    return all;
}

double TestPen::time_of(unsigned char byte, size_t from) const {
    for (size_t i = from; i < log_.size(); i++) {
        if (log_[i].byte == byte) return log_[i].time;
    }
    return -1;
}
