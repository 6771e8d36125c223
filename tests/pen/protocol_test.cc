#include "pen/protocol.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "support/process.h"
#include "support/test_pen.h"

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

struct EntryPoint {
    const char* name;
    int (*call)();
    bool bye_after_failed_wake;
};

const EntryPoint entry_points[] = {
    {"read_configuration", [] { return read_configuration(&root); }, false},
    {"write_configuration", [] { return write_configuration(&root); }, false},
    {"clear_flash", [] { return clear_flash(); }, true},
    {"read_text", [] { return read_text(); }, true},
};

const Bytes config_reply = {0x82, 1, 2, 3, 4, 55, 0xFF, 2, 0x85};

class ProtocolTest : public PenLinkTest {
   protected:
    void SetUp() override {
        PenLinkTest::SetUp();
        root.mode = 1;
        root.menu_language = 2;
        root.text_language = 3;
        root.target_language = 4;
    }
    // Marks the configuration fields so a change is seen.
    static void mark_config_fields() {
        root.mode = root.menu_language = root.text_language = root.target_language = 9;
        root.memory_free = root.battery_level = root.firmware_major = root.firmware_minor = 9;
    }
    void check_failed_wake(const Bytes& answer);
    static void expect_config_fields_marked() {
        for (int v :
             {root.mode, root.menu_language, root.text_language, root.target_language,
              root.memory_free, root.battery_level, root.firmware_major, root.firmware_minor}) {
            EXPECT_EQ(v, 9);
        }
    }
};

TEST_F(ProtocolTest, ReadConfigurationBytesAndFields) {
    TestPen pen;
    ASSERT_TRUE(pen.ok());
    use_device(pen.path());
    pen.expect({0x00}).send({0x80}).expect({0x02}).send(config_reply).expect({0x01}).send({0x81});
    pen.start();
    int result = read_configuration(&root);
    pen.finish();
    EXPECT_EQ(result, PEN_OK);
    EXPECT_TRUE(pen.errors().empty()) << pen.errors()[0];
    EXPECT_EQ(pen.received(), (Bytes{0x00, 0x02, 0x01}));
    EXPECT_EQ(pen.received_at(300), pen.received());
    EXPECT_EQ(root.mode, 1);
    EXPECT_EQ(root.menu_language, 2);
    EXPECT_EQ(root.text_language, 3);
    EXPECT_EQ(root.target_language, 4);
    EXPECT_EQ(root.memory_free, 55);
    EXPECT_EQ(root.battery_level, 255);
    EXPECT_EQ(root.firmware_major, 2);
    EXPECT_EQ(root.firmware_minor, 0x85);
    EXPECT_EQ(port_fd, -1);
    EXPECT_EQ(pen.current_rate(), PEN_OWN_RATE);
}

TEST_F(ProtocolTest, WriteConfigurationSendsTheLowEightBits) {
    TestPen pen;
    ASSERT_TRUE(pen.ok());
    use_device(pen.path());
    root.mode = 257;
    root.target_language = 0x104;
    pen.expect({0x00}).send({0x80}).expect({0x03, 1, 2, 3, 4}).send({0x83});
    pen.expect({0x01});  // the goodbye goes unanswered: the result stands
    pen.start();
    int result = write_configuration(&root);
    pen.finish();
    EXPECT_EQ(result, PEN_OK);
    EXPECT_TRUE(pen.errors().empty()) << pen.errors()[0];
    EXPECT_EQ(pen.received(), (Bytes{0x00, 0x03, 1, 2, 3, 4, 0x01}));
    EXPECT_EQ(pen.received_at(300), pen.received());
    EXPECT_EQ(root.mode, 257);  // only read
}

TEST_F(ProtocolTest, DeviceNotOpenedSendsNothing) {
    TempDir dir;
    std::string file = dir.file("device");
    write_file(file, "keep me");
    for (const std::string& path : {file, dir.file("missing")}) {
        use_device(path);
        for (const EntryPoint& e : entry_points) {
            kxinterface_break = 1;
            EXPECT_EQ(e.call(), PEN_ERR_SERIAL) << e.name << " " << path;
            EXPECT_EQ(port_fd, -1);
        }
        // read_text clears the stop request before it opens the line.
        EXPECT_EQ(kxinterface_break, 0);
    }
    EXPECT_EQ(read_file(file), "keep me");
    EXPECT_EQ(root.text_length, 0);
    EXPECT_EQ(root.unsaved, 0);
}

TEST_F(ProtocolTest, NullDeviceGivesNoWakeReply) {
    use_device("/dev/null");
    for (const EntryPoint& e : entry_points) {
        EXPECT_EQ(e.call(), PEN_ERR_CONNECT) << e.name;
        EXPECT_EQ(port_fd, -1);
    }
}

// A pen that stays silent, or answers the wake-up with the wrong byte.
void ProtocolTest::check_failed_wake(const Bytes& answer) {
    for (const EntryPoint& e : entry_points) {
        TestPen pen;
        ASSERT_TRUE(pen.ok());
        use_device(pen.path());
        pen.expect({0x00}).send(answer).start();
        auto t0 = Clock::now();
        int result = e.call();
        double took = since(t0);
        pen.finish();
        EXPECT_EQ(result, PEN_ERR_CONNECT) << e.name;
        Bytes expected = {0x00};
        if (e.bye_after_failed_wake) expected.push_back(0x01);
        EXPECT_EQ(pen.received(), expected) << e.name;
        EXPECT_EQ(pen.received_at(300), expected) << e.name;
        if (answer.empty()) {
            EXPECT_GE(took, 0.5) << e.name;
        }
        EXPECT_EQ(port_fd, -1);
        EXPECT_EQ(pen.current_rate(), PEN_OWN_RATE);
        EXPECT_EQ(root.text_length, 0);
    }
}

TEST_F(ProtocolTest, NoWakeReply) {
    check_failed_wake({});
}

TEST_F(ProtocolTest, WrongWakeReply) {
    check_failed_wake({0x81});
}

TEST_F(ProtocolTest, CommandFailsAfterTheWakeUp) {
    struct Case {
        int entry;
        Bytes command;
        Bytes answer;
        int result;
    };
    const Case cases[] = {
        {0, {0x02}, {}, PEN_ERR_TRANSFER},                 // no configuration reply
        {1, {0x03, 1, 2, 3, 4}, {}, PEN_ERR_CONNECT},      // packet not acknowledged
        {1, {0x03, 1, 2, 3, 4}, {0x81}, PEN_ERR_CONNECT},  // wrong acknowledgement
        {2, {0x07}, {0x80}, PEN_ERR_TRANSFER},             // wrong erase reply
    };
    for (const Case& c : cases) {
        const EntryPoint& e = entry_points[c.entry];
        TestPen pen;
        ASSERT_TRUE(pen.ok());
        use_device(pen.path());
        pen.expect({0x00}).send({0x80}).expect(c.command).send(c.answer);
        pen.expect({0x01}, 5000).send({0x81}).start();
        EXPECT_EQ(e.call(), c.result) << e.name;
        pen.finish();
        EXPECT_TRUE(pen.errors().empty()) << e.name << ": " << pen.errors()[0];
        EXPECT_EQ(pen.received(), concat({{0x00}, c.command, {0x01}})) << e.name;
        EXPECT_EQ(port_fd, -1);
    }
}

TEST_F(ProtocolTest, BadConfigurationReplyChangesNoField) {
    const Bytes replies[] = {
        Bytes(config_reply.begin(), config_reply.end() - 1),  // 8 bytes only
        concat({{0x83}, Bytes(config_reply.begin() + 1, config_reply.end())}),
    };
    for (const Bytes& reply : replies) {
        TestPen pen;
        ASSERT_TRUE(pen.ok());
        use_device(pen.path());
        mark_config_fields();
        pen.expect({0x00}).send({0x80}).expect({0x02}).send(reply);
        pen.expect({0x01}, 5000).send({0x81}).start();
        auto t0 = Clock::now();
        EXPECT_EQ(read_configuration(&root), PEN_ERR_TRANSFER);
        double took = since(t0);
        pen.finish();
        EXPECT_TRUE(pen.errors().empty()) << pen.errors()[0];
        EXPECT_EQ(pen.received(), (Bytes{0x00, 0x02, 0x01}));
        expect_config_fields_marked();
        EXPECT_LT(took, 5.0);
    }
}

// The erase may take the pen up to 10 s.
TEST_F(ProtocolTest, SlowEraseAcknowledgedAfterNineSeconds) {
    TestPen pen;
    ASSERT_TRUE(pen.ok());
    use_device(pen.path());
    pen.expect({0x00}).send({0x80}).expect({0x07}).pause(9000).send({0x83});
    pen.expect({0x01}).send({0x81}).start();
    EXPECT_EQ(clear_flash(), PEN_OK);
    pen.finish();
    EXPECT_TRUE(pen.errors().empty()) << pen.errors()[0];
    EXPECT_EQ(pen.received(), (Bytes{0x00, 0x07, 0x01}));
    EXPECT_EQ(pen.received_at(300), pen.received());
}

// Without an acknowledgement the long wait stays for the goodbye: a reply to
// it 2 s later is still awaited.
TEST_F(ProtocolTest, SlowEraseUnacknowledgedKeepsTheLongWait) {
    TestPen pen;
    ASSERT_TRUE(pen.ok());
    use_device(pen.path());
    pen.expect({0x00}).send({0x80}).expect({0x07});
    pen.expect({0x01}, 12000).pause(2000).send({0x81}).start();
    auto t0 = Clock::now();
    EXPECT_EQ(clear_flash(), PEN_ERR_TRANSFER);
    double took = since(t0);
    pen.finish();
    EXPECT_TRUE(pen.errors().empty()) << pen.errors()[0];
    EXPECT_EQ(pen.received(), (Bytes{0x00, 0x07, 0x01}));
    const auto& log = pen.log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_GE(log[2].time - log[1].time, 9.9);
    // 10 s for the erase, then the goodbye's reply after 2 s.
    EXPECT_GE(took, 11.9);
}

}  // namespace

// Two openers of one line: a line held by another program is not used, and
// nothing is sent on it; the program's own hold ends with its exchange.
TEST_F(ProtocolTest, LineHeldByAnotherProgramIsNotUsed) {
    TestPen pen;
    ASSERT_TRUE(pen.ok());
    use_device(pen.path());
    int other = open(pen.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    pen.start();
    EXPECT_EQ(read_configuration(&root), PEN_ERR_SERIAL);
    EXPECT_EQ(clear_flash(), PEN_ERR_SERIAL);
    EXPECT_EQ(line_cause(), CAUSE_BUSY);
    pen.finish(200);
    EXPECT_TRUE(pen.received().empty());
    EXPECT_EQ(port_fd, -1);
    close(other);
}

TEST_F(ProtocolTest, OpenLineIsHeldExclusivelyUntilClosed) {
    TestPen pen;
    ASSERT_TRUE(pen.ok());
    use_device(pen.path());
    ASSERT_EQ(open_port(), 1);
    int excl = 0;
    ASSERT_EQ(ioctl(port_fd, TIOCGEXCL, &excl), 0);
    EXPECT_EQ(excl, 1);
    int other = open(pen.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (other >= 0) {  // root may open an exclusive terminal; the lock still holds
        EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
        close(other);
    }
    close_port();
    other = open(pen.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(ioctl(other, TIOCGEXCL, &excl), 0);
    EXPECT_EQ(excl, 0);
    close(other);
}
