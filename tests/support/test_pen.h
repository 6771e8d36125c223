// A scriptable pen on the master side of a pseudo-terminal, for protocol tests
// that run the pen link in the same process.
//
// The test builds a script (expect these bytes, send those, wait until the
// program has switched the line to a rate, pause, run an action, hang up),
// points `root.device` at `path()`, calls start() and then the entry point
// under test, and finally finish(). The pen runs the script on its own thread.
// It reads the line all the time, also while it pauses or sends, and logs every
// byte it receives with the time and the bit rate that the program had set when
// the byte was read (Linux pseudo-terminals ignore the rate, but the master sees
// the terminal's settings through tcgetattr).
//
// The pen keeps its own descriptor of the terminal end open, so the pair lives
// on between the program's open and close, and gives the terminal a rate of
// its own (2400 bit/s, PEN_OWN_RATE) that the program must give back at close.
#pragma once

#include <glib.h>
#include <gtest/gtest.h>
#include <termios.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "pen/download.h"
#include "pen/serial.h"
#include "state/state.h"
#include "text/store.h"

using Bytes = std::vector<unsigned char>;

// The rate the terminal has before the program opens it.
constexpr int PEN_OWN_RATE = 2400;

struct PenByte {
    unsigned char byte;
    int rate;     // bit/s the line was set to when the pen read the byte
    double time;  // seconds since start()
};

class TestPen {
   public:
    TestPen();
    ~TestPen();
    TestPen(const TestPen&) = delete;
    TestPen& operator=(const TestPen&) = delete;

    bool ok() const { return master_ >= 0 && !path_.empty(); }
    // The terminal end, for `root.device`.
    const std::string& path() const { return path_; }
    // The bit rate the terminal is set to now (0 if unknown).
    int current_rate() const;
    // The terminal's settings as the master sees them.
    struct termios settings() const;
    // A descriptor of the terminal end that the pen holds (for setting it up).
    int terminal_fd() const { return slave_; }

    // Script steps, in order. An expectation that times out or does not match
    // is recorded in errors() and ends the script.
    TestPen& expect(const Bytes& bytes, int timeout_ms = 3000);
    TestPen& send(const Bytes& bytes);
    TestPen& wait_rate(int rate, int timeout_ms = 3000);
    TestPen& pause(int ms);
    TestPen& run(std::function<void()> action);
    // Closes the master: the program's terminal is hung up.
    TestPen& hangup();

    void start();
    // Lets the script end (at most `script_ms` more), then goes on logging
    // until the line has been quiet for `quiet_ms`, and joins the thread.
    void finish(int script_ms = 3000, int quiet_ms = 100);

    // After finish():
    const std::vector<PenByte>& log() const { return log_; }
    Bytes received() const;
    // Bytes received at the given rate, in order.
    Bytes received_at(int rate) const;
    const std::vector<std::string>& errors() const { return errors_; }
    // Time of the first received byte equal to `byte` at or after `from`, or -1.
    double time_of(unsigned char byte, size_t from = 0) const;

   private:
    struct Step {
        enum Kind { Expect, Send, WaitRate, Pause, Run, Hangup };
        explicit Step(Kind k, Bytes b = {}) : kind(k), bytes(std::move(b)) {}
        Kind kind;
        Bytes bytes;
        int value = 0;       // rate to wait for, or milliseconds to pause
        int timeout_ms = 0;  // for Expect and WaitRate
        std::function<void()> action;
    };

    void main_loop();
    // false when the step failed (recorded in errors_) or the pen is stopping.
    bool run_step(const Step& step, size_t index);
    // Waits at most `ms` for the line and logs what it has.
    void pump(int ms);
    void write_all(const Bytes& bytes);
    double seconds() const;

    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    std::vector<Step> script_;
    std::thread thread_;
    std::atomic<bool> script_done_{false};
    std::atomic<bool> stop_{false};
    bool started_ = false;
    double start_ = 0;
    std::atomic<int> quiet_ms_{100};

    // Owned by the pen thread until finish() has joined it.
    std::vector<PenByte> log_;
    Bytes pending_;
    std::vector<std::string> errors_;
};

// A good block: 0x84, the pair count, the pairs and their exclusive-or.
Bytes make_block(const Bytes& pairs);
// The same block with a wrong checksum.
Bytes make_bad_block(const Bytes& pairs);
// Pairs of `text` with one attribute for every character.
Bytes text_pairs(const std::string& text, unsigned char attribute = 1);
// Joins byte sequences.
Bytes concat(std::initializer_list<Bytes> parts);
// Bit rate of a termios speed constant, 0 if unknown: the pen's own table,
// for reading the rate the program set.
int rate_of_speed(speed_t speed);

// A fresh state for every pen-link test: empty store, 38400 bit/s chosen, no
// device open, the real allocator; and everything given back afterwards.
class PenLinkTest : public ::testing::Test {
   protected:
    void SetUp() override {
        clear_root();
        setup_data();
        root.speed = 38400;
        kxinterface_break = 0;
    }
    void TearDown() override {
        close_port();
        store_realloc = g_try_realloc;
        g_free(root.text);
        g_free(root.attributes);
        clear_root();
    }
    static void use_device(const std::string& path) {
        copy_bounded(root.device, path.c_str(), DEVICE_MAX);
    }
    // The store's text as a string.
    static std::string stored_text() { return std::string(root.text, root.text_length); }
};
