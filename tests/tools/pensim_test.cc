// The pen simulator, run as a program and spoken to over its terminal end
// with plain open/termios/read/write, the way the program opens the line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/process.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string bytes(std::initializer_list<int> list) {
    std::string out;
    for (int b : list) out += static_cast<char>(b);
    return out;
}

std::string hex(const std::string& s) {
    std::string out;
    char buf[4];
    for (unsigned char c : s) {
        snprintf(buf, sizeof buf, "%02x ", c);
        out += buf;
    }
    return out;
}

double seconds_since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// The program's end of the simulated line. Only the bit rate is changed: the
// simulator must have made the line raw itself.
class Terminal {
   public:
    explicit Terminal(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY)) {}
    ~Terminal() {
        if (fd_ >= 0) close(fd_);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;
    bool ok() const { return fd_ >= 0; }

    void set_rate(speed_t speed) {
        struct termios tio;
        ASSERT_EQ(tcgetattr(fd_, &tio), 0);
        cfsetospeed(&tio, speed);
        cfsetispeed(&tio, speed);
        ASSERT_EQ(tcsetattr(fd_, TCSANOW, &tio), 0);
    }

    void send(const std::string& data) {
        ASSERT_EQ(write(fd_, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    }

    // Up to `count` bytes, collected until they are in or `timeout_ms` passed.
    std::string receive(size_t count, int timeout_ms = 2000) {
        std::string out;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        while (out.size() < count) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) break;
            struct pollfd p = {fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            char buf[512];
            size_t want = count - out.size() < sizeof buf ? count - out.size() : sizeof buf;
            ssize_t n = read(fd_, buf, want);
            if (n <= 0) break;
            out.append(buf, static_cast<size_t>(n));
        }
        return out;
    }

    // True when the other end has gone: poll reports a hang-up and a read
    // gives nothing.
    bool hung_up(int timeout_ms) {
        struct pollfd p = {fd_, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) <= 0 || !(p.revents & (POLLHUP | POLLERR))) return false;
        char c;
        return read(fd_, &c, 1) <= 0;
    }

   private:
    int fd_;
};

// Runs a download at 38400 bit/s up to the first block.
std::string start_download(Terminal& line) {
    line.send(bytes({0x00}));
    EXPECT_EQ(line.receive(1), bytes({0x80}));
    line.send(bytes({0x04, 0x06, 0x00}));
    line.set_rate(B38400);
    return line.receive(2);
}

}  // namespace

TEST(PenSimOptions, HelpListsEveryOptionAndBadInputExitsTwo) {
    RunResult help = run_program({PENSIM_BIN, "--help"}, {});
    EXPECT_EQ(help.status, 0);
    for (const char* option :
         {"--text", "--firmware", "--translating", "--memory", "--battery", "--mode",
          "--menu-language", "--text-language", "--target-language", "--erase-delay", "--pace",
          "--log", "--fault ", "--fault-always", "--sessions", "{EUR}", "{attr=0xNN}"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;

    TempDir dir;
    write_file(dir.file("bad.txt"), "fine\nnot {fine}\n");
    write_file(dir.file("attr.txt"), "{attr=0x100}\n");
    write_file(dir.file("open.txt"), "{oe\n}\n");
    const std::vector<std::vector<std::string>> bad = {
        {"--bogus"},
        {"--battery", "256"},
        {"--mode", "-1"},
        {"--firmware", "1.200"},
        {"--erase-delay", "x"},
        {"--fault", "block:0:short"},
        {"--fault", "wake:short"},
        {"--fault", "config:byte=0x100"},
        {"--sessions", "0"},
        {"--log"},
        {"stray"},
        {"--text", dir.file("missing.txt")},
        {"--text", dir.file("bad.txt")},
        {"--text", dir.file("attr.txt")},
        {"--text", dir.file("open.txt")},
    };
    for (const auto& args : bad) {
        std::vector<std::string> argv = {PENSIM_BIN};
        argv.insert(argv.end(), args.begin(), args.end());
        RunResult r = run_program(argv, {}, "", 10);
        EXPECT_EQ(r.status, 2) << args[0];
        EXPECT_TRUE(r.out.empty()) << args[0];
        EXPECT_EQ(r.err.rfind("kestrix-pensim: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("\nTry 'kestrix-pensim --help'"), std::string::npos) << r.err;
    }
    RunResult markup = run_program({PENSIM_BIN, "--text", dir.file("bad.txt")}, {}, "", 10);
    EXPECT_NE(markup.err.find("line 2: unknown markup {fine}"), std::string::npos) << markup.err;
}

TEST(PenSim, AnswersCommandsAndKeepsTheWrittenConfiguration) {
    PenSim sim({"--firmware", "1.05", "--translating", "--memory", "42", "--battery", "0x02",
                "--mode", "1", "--menu-language", "2", "--text-language", "3", "--target-language",
                "255"});
    ASSERT_TRUE(sim.ok());
    EXPECT_EQ(sim.tty().rfind("/dev/pts/", 0), 0u) << sim.tty();
    {
        Terminal line(sim.tty());
        ASSERT_TRUE(line.ok());
        line.send(bytes({0x00}));
        EXPECT_EQ(line.receive(1), bytes({0x80}));
        line.send(bytes({0x02}));
        EXPECT_EQ(hex(line.receive(10, 500)), hex(bytes({0x82, 1, 2, 3, 255, 42, 2, 1, 0x85})));
        line.send(bytes({0x03, 0, 4, 0, 1}));
        EXPECT_EQ(line.receive(1), bytes({0x83}));
        // Acknowledgements outside a download are not commands.
        line.send(bytes({0x05, 0x06}));
        EXPECT_EQ(line.receive(1, 300), "");
        line.send(bytes({0x01}));
        EXPECT_EQ(line.receive(1), bytes({0x81}));
    }
    // The program opens the line anew for every operation: the pen is still
    // there and remembers what was written.
    Terminal line(sim.tty());
    line.send(bytes({0x00, 0x02}));
    EXPECT_EQ(hex(line.receive(10, 500)), hex(bytes({0x80, 0x82, 0, 4, 0, 1, 42, 2, 1, 0x85})));
    EXPECT_EQ(sim.stop(), 0);
}

TEST(PenSim, DownloadWaitsForTheRateSendsMarkupAndResendsOnNak) {
    TempDir dir;
    write_file(dir.file("text"), "Ab{2}c{0}{oe}\n{OE}{EUR}{{}}{attr=0x83}z\n");
    PenSim sim({"--text", dir.file("text")});
    ASSERT_TRUE(sim.ok());
    Terminal line(sim.tty());
    line.send(bytes({0x00}));
    EXPECT_EQ(line.receive(1), bytes({0x80}));
    line.send(bytes({0x04, 0x06, 0x00}));
    // Nothing comes while the line is still at 300 bit/s.
    EXPECT_EQ(line.receive(1, 400), "");
    line.set_rate(B38400);
    const std::string first = bytes({0x84, 5, 'A', 1, 'b', 1, 'c', 2, 0x00, 0, '\n', 0, 0x48});
    EXPECT_EQ(hex(line.receive(first.size() + 1, 500)), hex(first));
    line.send(bytes({0x06}));
    EXPECT_EQ(hex(line.receive(first.size() + 1, 500)), hex(first));
    line.send(bytes({0x05}));
    const std::string second = bytes({0x84, 6}) +
                               bytes({0x01, 1, 0x02, 1, '{', 1, '}', 1, 'z', 0x83, '\n', 0x83}) +
                               bytes({0x75});
    EXPECT_EQ(hex(line.receive(second.size() + 1, 500)), hex(second));
    line.send(bytes({0x05}));
    EXPECT_EQ(line.receive(2, 500), bytes({0x83}));
    line.set_rate(B300);
    line.send(bytes({0x01}));
    EXPECT_EQ(line.receive(1), bytes({0x81}));
}

TEST(PenSim, LongScansAreSplitAndTheEraseEmptiesThePen) {
    TempDir dir;
    write_file(dir.file("text"), std::string(200, 'x') + "\n");
    PenSim sim({"--text", dir.file("text"), "--erase-delay", "0.3"});
    ASSERT_TRUE(sim.ok());
    Terminal line(sim.tty());
    EXPECT_EQ(hex(start_download(line)), hex(bytes({0x84, 127})));
    EXPECT_EQ(line.receive(255).size(), 255u);
    line.send(bytes({0x05}));
    EXPECT_EQ(hex(line.receive(2)), hex(bytes({0x84, 74})));
    const std::string rest = line.receive(149);
    ASSERT_EQ(rest.size(), 149u);
    EXPECT_EQ(hex(rest.substr(144, 4)), hex(bytes({'x', 1, '\n', 1})));
    line.send(bytes({0x05}));
    EXPECT_EQ(line.receive(1), bytes({0x83}));

    line.set_rate(B300);
    const auto erase_start = Clock::now();
    line.send(bytes({0x07}));
    EXPECT_EQ(line.receive(1), bytes({0x83}));
    EXPECT_GE(seconds_since(erase_start), 0.29);
    line.send(bytes({0x04, 0x06, 0x00}));
    line.set_rate(B38400);
    EXPECT_EQ(line.receive(2, 1000), bytes({0x83}));
}

TEST(PenSim, FaultsApplyOnceUnlessAlways) {
    TempDir dir;
    write_file(dir.file("text"), "hi\n");
    PenSim sim({"--text", dir.file("text"), "--fault", "wake:silence", "--fault",
                "block:1:checksum", "--fault", "config:short"});
    ASSERT_TRUE(sim.ok());
    {
        Terminal line(sim.tty());
        line.send(bytes({0x00}));
        EXPECT_EQ(line.receive(1, 700), "");
        line.send(bytes({0x02}));
        EXPECT_EQ(hex(line.receive(9, 700)), hex(bytes({0x82, 0, 1, 1, 0, 100, 3, 1})));
        const std::string good = bytes({0x84, 3, 'h', 1, 'i', 1, '\n', 1, 'h' ^ 'i' ^ '\n' ^ 1});
        EXPECT_EQ(hex(start_download(line)), hex(bytes({0x84, 3})));
        const std::string bad = line.receive(7);
        EXPECT_EQ(hex(bad.substr(0, 6)), hex(good.substr(2, 6)));
        EXPECT_NE(bad[6], good[8]);
        line.send(bytes({0x06}));
        EXPECT_EQ(hex(line.receive(9, 500)), hex(good));
        line.send(bytes({0x05}));
        EXPECT_EQ(line.receive(1), bytes({0x83}));
    }
    PenSim always({"--fault", "wake:byte=0x55", "--fault-always"});
    ASSERT_TRUE(always.ok());
    Terminal line(always.tty());
    for (int i = 0; i < 2; i++) {
        line.send(bytes({0x00}));
        EXPECT_EQ(line.receive(1), bytes({0x55}));
    }
}

TEST(PenSim, DisconnectHangsUpTheLineAndEndsWithStatusZero) {
    TempDir dir;
    write_file(dir.file("text"), "one\ntwo\n");
    PenSim sim({"--text", dir.file("text"), "--fault", "disconnect:1"});
    ASSERT_TRUE(sim.ok());
    Terminal line(sim.tty());
    EXPECT_EQ(hex(start_download(line)), hex(bytes({0x84, 4})));
    EXPECT_EQ(line.receive(9).size(), 9u);
    line.send(bytes({0x05}));
    EXPECT_TRUE(line.hung_up(3000));
    EXPECT_EQ(sim.wait_exit(5000), 0);
}

TEST(PenSim, SessionsEndTheSimulatorAfterTheGoodbye) {
    PenSim sim({"--sessions", "1"});
    ASSERT_TRUE(sim.ok());
    Terminal line(sim.tty());
    line.send(bytes({0x00}));
    EXPECT_EQ(line.receive(1), bytes({0x80}));
    line.send(bytes({0x01}));
    EXPECT_EQ(line.receive(1), bytes({0x81}));
    EXPECT_EQ(sim.wait_exit(5000), 0);
}

TEST(PenSim, PacedRepliesTakeTheLineTimeAndTheLogRecordsThem) {
    TempDir dir;
    PenSim sim({"--pace", "--log", dir.file("log")});
    ASSERT_TRUE(sim.ok());
    Terminal line(sim.tty());
    // At 300 bit/s a byte takes 11/300 s on the line: the command and the
    // nine reply bytes take at least 0.36 s.
    const auto start = Clock::now();
    line.send(bytes({0x02}));
    EXPECT_EQ(line.receive(9, 3000).size(), 9u);
    EXPECT_GE(seconds_since(start), 0.36);
    line.set_rate(B115200);
    line.send(bytes({0x00}));
    EXPECT_EQ(line.receive(1), bytes({0x80}));
    EXPECT_EQ(sim.stop(), 0);

    const std::string log = read_file(dir.file("log"));
    EXPECT_NE(log.find(" PC>PEN 300 02\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" PEN>PC 300 82 00 01 01 00 64 03 01 00\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" PEN>PC 115200 80\n"), std::string::npos) << log;
    // The rate change is on record before the first byte at the new rate.
    const size_t change = log.find(" NOTE 115200 line rate now 115200 bit/s\n");
    ASSERT_NE(change, std::string::npos) << log;
    EXPECT_LT(change, log.find(" PC>PEN 115200 00\n")) << log;
    // Every line starts with the time in seconds and microseconds.
    size_t at = 0;
    while (at < log.size()) {
        size_t end = log.find('\n', at);
        ASSERT_NE(end, std::string::npos);
        const std::string entry = log.substr(at, end - at);
        size_t dot = entry.find('.');
        ASSERT_NE(dot, std::string::npos) << entry;
        EXPECT_EQ(entry.find(' '), dot + 7) << entry;
        at = end + 1;
    }
}
