#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "support/process.h"
#include "support/test_pen.h"

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Makes descriptor 0 something else for the length of a test, then puts the
// original standard input back.
class StdinSwap {
   public:
    StdinSwap() : saved_(dup(0)) {}
    ~StdinSwap() {
        if (saved_ >= 0) {
            dup2(saved_, 0);
            close(saved_);
        } else {
            close(0);
        }
    }

   private:
    int saved_;
};

using SerialTest = PenLinkTest;

TEST(SpeedTable, RowsLookupsAndFallbacks) {
    // Every rate of the table is found; the pen's code of a rate is its row.
    for (int i = 0; i < SPEED_COUNT; i++) {
        SCOPED_TRACE(get_speed(i));
        EXPECT_NE(get_baudflag(get_speed(i)), 0);
        EXPECT_EQ(get_speedcode(get_speed(i)), i);
    }
    EXPECT_EQ(speed_table[SPEED_COUNT].rate, -1);
    EXPECT_EQ(speed_table[SPEED_COUNT].baudflag, -1);
    EXPECT_EQ(speed_table[SPEED_COUNT].speedcode, -1);

    EXPECT_EQ(get_baudflag(57600), static_cast<int>(B57600));
    EXPECT_EQ(get_baudflag(300), static_cast<int>(B300));
    EXPECT_EQ(get_baudflag(600), 0);
    EXPECT_EQ(get_baudflag(-1), 0);  // the end row is not a rate
    EXPECT_EQ(get_speedcode(600), 0);
    EXPECT_EQ(get_speedcode(-1), 0);
    // Outside the table: the end row's value, never a read past it.
    EXPECT_EQ(get_speed(SPEED_COUNT), -1);
    EXPECT_EQ(get_speed(-1), -1);
}

TEST(SpeedTable, LineTime) {
    EXPECT_EQ(line_time_ms(255, 38400), 74);  // 73.05 rounded up
    EXPECT_EQ(line_time_ms(255, 300), 9350);
    EXPECT_EQ(line_time_ms(1, 300), 37);
    EXPECT_EQ(line_time_ms(0, 300), 0);
    EXPECT_EQ(line_time_ms(10, 0), 0);
}

TEST_F(SerialTest, OpenSetsPenLineAndCloseGivesSettingsBack) {
    TestPen pen;
    ASSERT_TRUE(pen.ok());
    struct termios before = pen.settings();
    use_device(pen.path());
    ASSERT_EQ(open_line(root.device), 1);
    ASSERT_GE(port_fd, 0);
    EXPECT_TRUE(fcntl(port_fd, F_GETFD) & FD_CLOEXEC);
    EXPECT_FALSE(fcntl(port_fd, F_GETFL) & O_NONBLOCK);

    struct termios t = pen.settings();
    EXPECT_EQ(t.c_iflag, static_cast<tcflag_t>(IGNPAR));
    EXPECT_EQ(t.c_oflag, 0u);
    EXPECT_EQ(t.c_lflag, 0u);
    // Pseudo-terminals drop PARENB (they carry no parity), so it cannot be seen here.
    tcflag_t cflag = t.c_cflag & ~static_cast<tcflag_t>(CBAUD | CBAUDEX | CIBAUD | PARENB);
    EXPECT_EQ(cflag, static_cast<tcflag_t>(CS8 | CREAD | CLOCAL));
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(get_baudflag(300)));
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 5);
    EXPECT_EQ(line_rate(), 300);
    // The protocol's counts and timeouts change them while the line is open
    // (their low 8 bits); the close gives all back.
    set_vmin(256 + 7);
    set_vtime(100);
    EXPECT_EQ(pen.settings().c_cc[VMIN], 7);
    EXPECT_EQ(pen.settings().c_cc[VTIME], 100);

    close_port();
    EXPECT_EQ(port_fd, -1);
    struct termios after = pen.settings();
    EXPECT_EQ(pen.current_rate(), PEN_OWN_RATE);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
    EXPECT_EQ(after.c_cc[VTIME], before.c_cc[VTIME]);
}

TEST_F(SerialTest, OpenTwiceClosesTheFirstDevice) {
    TestPen first, second;
    ASSERT_TRUE(first.ok() && second.ok());
    use_device(first.path());
    ASSERT_EQ(open_line(root.device), 1);
    int first_fd = port_fd;
    EXPECT_EQ(first.current_rate(), 300);

    use_device(second.path());
    ASSERT_EQ(open_line(root.device), 1);
    EXPECT_EQ(first.current_rate(), PEN_OWN_RATE);
    EXPECT_EQ(second.current_rate(), 300);
    // The first descriptor was closed (the new one may reuse its number).
    if (port_fd != first_fd) {
        EXPECT_EQ(fcntl(first_fd, F_GETFD), -1);
    }

    close_port();
    EXPECT_EQ(second.current_rate(), PEN_OWN_RATE);
}

TEST_F(SerialTest, RefusesRegularFilesAndMissingPaths) {
    TempDir dir;
    std::string file = dir.file("notes.txt");
    write_file(file, "hello");
    use_device(file);
    EXPECT_EQ(open_line(root.device), 0);
    EXPECT_EQ(port_fd, -1);
    EXPECT_EQ(read_file(file), "hello");
    EXPECT_EQ(line_cause(), CAUSE_NONE);

    use_device(dir.file("missing"));
    errno = 0;
    EXPECT_EQ(open_line(root.device), 0);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(port_fd, -1);
    EXPECT_EQ(line_cause(), CAUSE_MISSING);

    // A character device that is not a terminal still opens, and the last
    // failure's cause is forgotten.
    use_device("/dev/null");
    EXPECT_EQ(open_line(root.device), 1);
    EXPECT_EQ(line_cause(), CAUSE_NONE);
    close_port();
    EXPECT_EQ(port_fd, -1);
}

TEST_F(SerialTest, DescriptorZeroIsARealDevice) {
    StdinSwap swap;
    TestPen pen;
    ASSERT_TRUE(pen.ok());
    use_device(pen.path());
    close(0);
    ASSERT_EQ(open_line(root.device), 1);
    if (port_fd != 0) GTEST_SKIP() << "descriptor 0 was taken";
    pen.start();
    const unsigned char byte = 0x41;
    EXPECT_EQ(write_paced(&byte, 1), 1);
    close_port();
    pen.finish();
    EXPECT_EQ(port_fd, -1);
    EXPECT_EQ(fcntl(0, F_GETFD), -1);
    EXPECT_EQ(pen.received(), Bytes{0x41});
    EXPECT_EQ(pen.current_rate(), PEN_OWN_RATE);
}

TEST_F(SerialTest, NothingOpenTouchesNoDescriptor) {
    StdinSwap swap;
    TestPen pen;
    ASSERT_TRUE(pen.ok());
    // Descriptor 0 is a terminal that is not ours: none of these may change it.
    ASSERT_EQ(dup2(pen.terminal_fd(), 0), 0);
    struct termios before = pen.settings();
    ASSERT_EQ(port_fd, -1);
    set_speed(9600);
    set_vmin(3);
    set_vtime(7);
    close_port();
    struct termios after = pen.settings();
    EXPECT_EQ(pen.current_rate(), PEN_OWN_RATE);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
    EXPECT_EQ(after.c_cc[VTIME], before.c_cc[VTIME]);
    EXPECT_NE(fcntl(0, F_GETFD), -1);
    unsigned char byte;
    EXPECT_EQ(read_byte(&byte), 0);
    EXPECT_EQ(read_counted(&byte, 1, 10), 0);
}

TEST_F(SerialTest, SpeedChangeDiscardsEarlierInput) {
    TestPen pen;
    ASSERT_TRUE(pen.ok());
    use_device(pen.path());
    ASSERT_EQ(open_line(root.device), 1);
    pen.send({0x41, 0x42}).start();
    pen.finish();
    auto t0 = Clock::now();
    set_speed(19200);
    EXPECT_GE(since(t0), 0.119);
    EXPECT_EQ(pen.current_rate(), 19200);
    EXPECT_EQ(line_rate(), 19200);
    unsigned char byte;
    EXPECT_EQ(read_byte(&byte), 0);

    // A rate outside the table never hangs the line up (B0).
    set_speed(600);
    EXPECT_EQ(pen.current_rate(), 300);
    EXPECT_EQ(line_rate(), 300);
}

// A pipe whose writing end stands in for the line.
class PipeLine {
   public:
    PipeLine() {
        if (pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
        port_fd = fds_[1];
    }
    ~PipeLine() {
        port_fd = -1;
        if (fds_[0] >= 0) close(fds_[0]);
        if (fds_[1] >= 0) close(fds_[1]);
    }
    int reader() const { return fds_[0]; }
    std::string drain(size_t max) {
        std::string got(max, '\0');
        ssize_t n = read(fds_[0], &got[0], max);
        got.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return got;
    }

   private:
    int fds_[2];
};

TEST(WritePaced, PacesEveryByteAndWritesNothingForZero) {
    PipeLine line;
    fcntl(line.reader(), F_SETFL, O_NONBLOCK);
    EXPECT_EQ(write_paced(nullptr, 0), 1);
    EXPECT_EQ(line.drain(16), "");

    const unsigned char bytes[] = {'a', 'b', 'c'};
    auto t0 = Clock::now();
    EXPECT_EQ(write_paced(bytes, 3), 1);
    EXPECT_GE(since(t0), 0.003);
    EXPECT_EQ(line.drain(16), "abc");
}

TEST(WritePaced, StopsAtTheFirstByteThatCannotBeWritten) {
    PipeLine line;
    // A one-page pipe with room for exactly one more byte.
    ASSERT_EQ(fcntl(port_fd, F_SETPIPE_SZ, 4096), 4096);
    fcntl(port_fd, F_SETFL, O_NONBLOCK);
    std::string filler(4095, 'x');
    ASSERT_EQ(write(port_fd, filler.data(), filler.size()), 4095);

    const unsigned char bytes[] = {'A', 'B', 'C'};
    EXPECT_EQ(write_paced(bytes, 3), 0);
    std::string got = line.drain(8192);
    EXPECT_EQ(got, filler + "A");

    // Nothing open: nothing written.
    port_fd = -1;
    EXPECT_EQ(write_paced(bytes, 1), 0);
}

void on_signal(int) {}

TEST(WritePaced, RetriesAWriteInterruptedByASignal) {
    struct sigaction sa = {};
    sa.sa_handler = on_signal;  // no SA_RESTART: the blocked write fails with EINTR
    struct sigaction old;
    ASSERT_EQ(sigaction(SIGUSR1, &sa, &old), 0);

    PipeLine line;
    ASSERT_EQ(fcntl(port_fd, F_SETPIPE_SZ, 4096), 4096);
    std::string filler(4096, 'x');
    ASSERT_EQ(write(port_fd, filler.data(), filler.size()), 4096);

    pthread_t writer = pthread_self();
    std::thread reader([&] {
        usleep(100000);
        pthread_kill(writer, SIGUSR1);
        usleep(100000);
        size_t got = 0;
        char buf[4096];
        while (got < 4096) {
            ssize_t n = read(line.reader(), buf, 4096 - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
    });
    const unsigned char bytes[] = {'A', 'B', 'C'};
    int result = write_paced(bytes, 3);
    reader.join();
    sigaction(SIGUSR1, &old, nullptr);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(line.drain(16), "ABC");
}

TEST_F(SerialTest, ReadsAreBoundedOnDevicesWithoutTerminalTiming) {
    TempDir dir;
    std::string fifo = dir.file("line");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    use_device(fifo);
    ASSERT_EQ(open_line(root.device), 1);

    unsigned char buf[8];
    auto t0 = Clock::now();
    EXPECT_EQ(read_byte(buf), 0);
    EXPECT_GE(since(t0), 0.45);
    EXPECT_LT(since(t0), 5.0);

    set_vmin(5);
    t0 = Clock::now();
    EXPECT_EQ(read_counted(buf, 5, 300), 0);
    EXPECT_GE(since(t0), 0.29);
    EXPECT_LT(since(t0), 5.0);
}

TEST_F(SerialTest, CountedReadCollectsAcrossShortReads) {
    TestPen pen;
    ASSERT_TRUE(pen.ok());
    use_device(pen.path());
    ASSERT_EQ(open_line(root.device), 1);
    Bytes body;
    for (int i = 0; i < 255; i++) body.push_back(static_cast<unsigned char>(i * 7));
    pen.send(Bytes(body.begin(), body.begin() + 40))
        .pause(100)
        .send(Bytes(body.begin() + 40, body.begin() + 100))
        .pause(100)
        .send(Bytes(body.begin() + 100, body.end()))
        .send({0x99})  // not part of the count: must stay queued
        .start();
    unsigned char buf[256] = {};
    set_vmin(255);
    EXPECT_EQ(read_counted(buf, 255, 3000), 255);
    set_vmin(0);
    EXPECT_EQ(Bytes(buf, buf + 255), body);
    unsigned char extra;
    EXPECT_EQ(read_byte(&extra), 1);
    EXPECT_EQ(extra, 0x99);
    pen.finish();

    // Fewer bytes than asked for: what came, once the deadline has passed.
    TestPen short_pen;
    use_device(short_pen.path());
    ASSERT_EQ(open_line(root.device), 1);
    short_pen.send({1, 2, 3}).start();
    set_vmin(9);
    auto t0 = Clock::now();
    EXPECT_EQ(read_counted(buf, 9, 400), 3);
    EXPECT_GE(since(t0), 0.39);
    set_vmin(0);
    short_pen.finish();
}

TEST_F(SerialTest, HangUpEndsEveryReadAtOnce) {
    TestPen pen;
    ASSERT_TRUE(pen.ok());
    use_device(pen.path());
    ASSERT_EQ(open_line(root.device), 1);
    pen.hangup().start();
    pen.finish();
    unsigned char buf[4];
    auto t0 = Clock::now();
    for (int i = 0; i < 10; i++) EXPECT_EQ(read_byte(buf), 0);
    EXPECT_EQ(read_counted(buf, 4, 2000), 0);
    EXPECT_LT(since(t0), 1.0);
    EXPECT_EQ(write_paced(buf, 1), 0);
}

TEST_F(SerialTest, DebugChannelPrintsBytesOnlyWhenAsked) {
    TestPen pen;
    ASSERT_TRUE(pen.ok());
    use_device(pen.path());
    ASSERT_EQ(open_line(root.device), 1);
    pen.expect({0x41}).send({0x80}).start();

    setenv("KESTRIX_DEBUG", "gui,serial", 1);
    testing::internal::CaptureStderr();
    const unsigned char byte = 0x41;
    EXPECT_EQ(write_paced(&byte, 1), 1);
    unsigned char got = 0;
    EXPECT_EQ(read_byte(&got), 1);
    std::string printed = testing::internal::GetCapturedStderr();
    unsetenv("KESTRIX_DEBUG");
    pen.finish();
    EXPECT_NE(printed.find("tx 0x41"), std::string::npos) << printed;
    EXPECT_NE(printed.find("rx 0x80"), std::string::npos) << printed;
    EXPECT_NE(printed.find("300 bit/s"), std::string::npos) << printed;

    testing::internal::CaptureStderr();
    EXPECT_EQ(write_paced(&byte, 1), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace

TEST_F(SerialTest, OnlyTerminalsAreLocked) {
    // Another user of the null device holding a lock on it keeps no one out.
    const int other = open("/dev/null", O_RDWR);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    use_device("/dev/null");
    EXPECT_EQ(open_line(root.device), 1);
    close_port();
    close(other);
}

TEST_F(SerialTest, UnreadableSettingsFailTheChangeAndWriteNone) {
    TestPen pen;
    ASSERT_TRUE(pen.ok());
    use_device(pen.path());
    ASSERT_EQ(open_line(root.device), 1);
    const struct termios before = pen.settings();
    // A descriptor that went bad underneath (as after an unplug) has no settings.
    const int real = port_fd;
    port_fd = open("/dev/null", O_RDONLY);
    close(port_fd);
    EXPECT_EQ(set_speed(9600), 0);
    EXPECT_EQ(set_vmin(3), 0);
    EXPECT_EQ(set_vtime(7), 0);
    port_fd = real;
    const struct termios after = pen.settings();
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
    EXPECT_EQ(after.c_cc[VTIME], before.c_cc[VTIME]);
}
