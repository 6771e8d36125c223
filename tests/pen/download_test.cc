#include "pen/download.h"

#include <chrono>
#include <cstring>
#include <string>

#include "pen/protocol.h"
#include "support/test_pen.h"

namespace {

using Clock = std::chrono::steady_clock;

const Bytes download_command = {0x04, 0x06, 0x00};  // 38400 bit/s
const Bytes ack = {0x05};
const Bytes nak = {0x06};
const Bytes done = {0x83};
const Bytes bye = {0x01};
const Bytes bye_reply = {0x81};

class DownloadTest : public PenLinkTest {
   protected:
    void SetUp() override {
        PenLinkTest::SetUp();
        ASSERT_TRUE(pen.ok());
        use_device(pen.path());
    }
    // The pen wakes and receives the download command at 300 bit/s, then
    // waits for the program to switch to the download rate.
    TestPen& begin() {
        return pen.expect({0x00}).send({0x80}).expect(download_command).wait_rate(38400);
    }
    // The end marker, then read_text's goodbye at 300 bit/s.
    void end_ok() { pen.send(done).expect(bye).send(bye_reply); }
    // The closing sequence's goodbye at the download rate, then read_text's.
    void end_closing() { pen.expect(bye).send(bye_reply).expect(bye).send(bye_reply); }
    int run_download() {
        pen.start();
        int result = read_text();
        pen.finish();
        EXPECT_TRUE(pen.errors().empty()) << pen.errors()[0];
        EXPECT_EQ(port_fd, -1);
        return result;
    }
    // Fills the store with `length` characters as if downloaded earlier.
    static void prefill(int length) {
        std::memset(root.text, 'x', static_cast<size_t>(length));
        root.text[length] = '\0';
        root.text_length = length;
    }
    TestPen pen;
};

TEST_F(DownloadTest, TwoBlocks) {
    prefill(3);
    begin().send(make_block(text_pairs("Hello\n"))).expect(ack);
    pen.send(make_block(text_pairs("World", 2))).expect(ack);
    end_ok();
    EXPECT_EQ(run_download(), PEN_OK);
    EXPECT_EQ(stored_text(), "xxxHello\nWorld");
    EXPECT_EQ(root.text[root.text_length], '\0');
    EXPECT_EQ(root.attributes[3], 1);
    EXPECT_EQ(root.attributes[13], 2);
    EXPECT_EQ(root.scan_count, 2);
    EXPECT_EQ(kxinterface_lines, 2);
    EXPECT_EQ(kxinterface_active, 1);
    EXPECT_EQ(root.unsaved, 1);

    EXPECT_EQ(pen.received(), (Bytes{0x00, 0x04, 0x06, 0x00, 0x05, 0x05, 0x01}));
    EXPECT_EQ(pen.received_at(38400), (Bytes{0x05, 0x05}));
    EXPECT_EQ(pen.log().back().rate, 300);
    EXPECT_EQ(pen.current_rate(), PEN_OWN_RATE);
}

TEST_F(DownloadTest, EmptyPenAndSpeedCode) {
    root.speed = 115200;
    root.scan_count = 4;
    pen.expect({0x00}).send({0x80}).expect({0x04, 0x08, 0x00}).wait_rate(115200);
    end_ok();
    EXPECT_EQ(run_download(), PEN_OK);
    EXPECT_EQ(root.text_length, 0);
    EXPECT_EQ(root.scan_count, 4);
    EXPECT_EQ(root.unsaved, 0);
    EXPECT_EQ(pen.log().back().rate, 300);
}

TEST_F(DownloadTest, SpecialCodesAndAttributes) {
    begin().send(make_block({2, 1, 0, 3, 1, 0, 10, 2, 'a', 0xC5, 0xFF, 0})).expect(ack);
    end_ok();
    EXPECT_EQ(run_download(), PEN_OK);
    EXPECT_EQ(stored_text(), "EURoeOE\na\xFF");
    const unsigned char attributes[] = {1, 1, 1, 3, 3, 0, 0, 2, 0xC5, 0};
    EXPECT_EQ(Bytes(root.attributes, root.attributes + 10), Bytes(attributes, attributes + 10));
}

TEST_F(DownloadTest, EmptyBlockIsGood) {
    prefill(2);
    root.text[3] = 'y';  // beyond the terminator: must be rewritten
    root.text[2] = 'y';
    begin().send({0x84, 0x00, 0x00}).expect(ack);
    end_ok();
    EXPECT_EQ(run_download(), PEN_OK);
    EXPECT_EQ(root.text_length, 2);
    EXPECT_EQ(root.text[2], '\0');
    EXPECT_EQ(root.scan_count, 1);
    EXPECT_EQ(kxinterface_lines, 1);
    EXPECT_EQ(root.unsaved, 0);
}

Bytes full_block_pairs() {
    Bytes pairs;
    for (int i = 0; i < BLOCK_MAX_PAIRS; i++) {
        pairs.push_back(static_cast<unsigned char>('A' + i % 26));
        pairs.push_back(static_cast<unsigned char>(i & 3));
    }
    return pairs;
}

TEST_F(DownloadTest, FullBlockIsReceivedWhole) {
    Bytes block = make_block(full_block_pairs());
    ASSERT_EQ(block.size(), 257u);
    begin().send(block).expect(ack);
    // The same block again, arriving in pieces.
    pen.send(Bytes(block.begin(), block.begin() + 70)).pause(150);
    pen.send(Bytes(block.begin() + 70, block.end())).expect(ack);
    end_ok();
    EXPECT_EQ(run_download(), PEN_OK);
    EXPECT_EQ(root.text_length, 2 * BLOCK_MAX_PAIRS);
    EXPECT_EQ(root.text[126], 'A' + 126 % 26);
    EXPECT_EQ(root.attributes[126], 126 & 3);
    EXPECT_EQ(root.scan_count, 2);
}

TEST_F(DownloadTest, RetriesBeforeTheFirstGoodBlock) {
    begin();
    pen.send(make_bad_block(text_pairs("bad"))).expect(nak);  // wrong checksum
    pen.send({0x85}).expect(nak);                             // wrong marker
    pen.send({0x84, 3, 'a', 1}).expect(nak, 3000);            // short body
    pen.send(make_block(text_pairs("good"))).expect(ack);
    end_ok();
    EXPECT_EQ(run_download(), PEN_OK);
    EXPECT_EQ(stored_text(), "good");
    EXPECT_EQ(root.scan_count, 1);
}

TEST_F(DownloadTest, FourBadAttemptsAtTheStartEndTheDownload) {
    prefill(5);
    begin();
    for (int i = 0; i < 3; i++) pen.send(make_bad_block(text_pairs("bad"))).expect(nak);
    pen.send(make_bad_block(text_pairs("bad")));
    end_closing();
    EXPECT_EQ(run_download(), PEN_ERR_TRANSFER);
    EXPECT_EQ(pen.received(), (Bytes{0x00, 0x04, 0x06, 0x00, 0x06, 0x06, 0x06, 0x01, 0x01}));
    EXPECT_EQ(pen.received_at(38400), (Bytes{0x06, 0x06, 0x06, 0x01}));
    EXPECT_EQ(pen.log().back().rate, 300);
    EXPECT_EQ(root.text_length, 5);
    EXPECT_EQ(root.scan_count, 0);
    EXPECT_EQ(root.unsaved, 0);
}

TEST_F(DownloadTest, TwoBadAttemptsAfterAGoodBlockAreTolerated) {
    begin().send(make_block(text_pairs("one"))).expect(ack);
    pen.send(make_bad_block(text_pairs("bad"))).expect(nak);
    pen.send({0x85}).expect(nak);
    pen.send(make_block(text_pairs("two"))).expect(ack);
    end_ok();
    EXPECT_EQ(run_download(), PEN_OK);
    EXPECT_EQ(stored_text(), "onetwo");
}

TEST_F(DownloadTest, ThirdBadAttemptAfterAGoodBlockEndsTheDownload) {
    begin().send(make_block(text_pairs("one"))).expect(ack);
    pen.send(make_bad_block(text_pairs("bad"))).expect(nak);
    pen.send(make_bad_block(text_pairs("bad"))).expect(nak);
    pen.send(make_bad_block(text_pairs("bad")));
    end_closing();
    EXPECT_EQ(run_download(), PEN_ERR_TRANSFER);
    EXPECT_EQ(pen.received_at(38400), (Bytes{0x05, 0x06, 0x06, 0x01}));
    EXPECT_EQ(stored_text(), "one");
    EXPECT_EQ(root.unsaved, 1);
}

// Silence counts as a bad attempt too; the closing sequence follows the fourth.
TEST_F(DownloadTest, SilentPenEndsTheDownload) {
    begin();
    pen.expect(nak).expect(nak).expect(nak);
    pen.expect(bye, 3000).expect(bye, 3000).send(bye_reply);
    EXPECT_EQ(run_download(), PEN_ERR_TRANSFER);
    EXPECT_EQ(pen.received_at(38400), (Bytes{0x06, 0x06, 0x06, 0x01}));
    // A pen that says nothing is no vanished line.
    EXPECT_EQ(line_cause(), CAUSE_NONE);
}

TEST_F(DownloadTest, OversizedBlockIsABadAttempt) {
    prefill(1);
    // 200 pairs announced, and all their bytes sent: none may be stored.
    begin().send(concat({{0x84, 200}, Bytes(401, 'A')}));
    pen.expect({0x06, 0x06, 0x06, 0x01}).expect(bye, 3000).send(bye_reply);
    EXPECT_EQ(run_download(), PEN_ERR_TRANSFER);
    EXPECT_EQ(root.text_length, 1);
    EXPECT_EQ(root.scan_count, 0);
    EXPECT_EQ(pen.log().back().rate, 300);
}

TEST_F(DownloadTest, OversizedBlockThenAGoodOne) {
    // The whole oversized body is dropped, so the repeat is read as a block.
    begin().send(concat({{0x84, 128}, Bytes(257, 'B')})).expect(nak);
    pen.send(make_block(text_pairs("fine"))).expect(ack);
    end_ok();
    EXPECT_EQ(run_download(), PEN_OK);
    EXPECT_EQ(stored_text(), "fine");
}

TEST_F(DownloadTest, BreakDropsTheBlockThatArrives) {
    begin().send(make_block(text_pairs("kept"))).expect(ack);
    pen.run([] { kxinterface_break = 1; }).send(make_block(text_pairs("dropped")));
    pen.expect(bye).send(bye_reply);
    EXPECT_EQ(run_download(), PEN_BREAK);
    EXPECT_EQ(stored_text(), "kept");
    EXPECT_EQ(root.scan_count, 1);
    EXPECT_EQ(root.unsaved, 1);
    // No acknowledgement for the dropped block; the goodbye at the download rate.
    EXPECT_EQ(pen.received_at(38400), (Bytes{0x05, 0x01}));
    EXPECT_EQ(pen.received_at(300), (Bytes{0x00, 0x04, 0x06, 0x00}));
}

TEST_F(DownloadTest, EndMarkerWinsOverABreak) {
    begin().send(make_block(text_pairs("all"))).expect(ack);
    pen.run([] { kxinterface_break = 1; });
    end_ok();
    EXPECT_EQ(run_download(), PEN_OK);
    EXPECT_EQ(stored_text(), "all");
    EXPECT_EQ(pen.log().back().rate, 300);
}

void* failing_realloc(void*, size_t) {
    return nullptr;
}

TEST_F(DownloadTest, StoreThatCannotGrow) {
    prefill(4000);
    store_realloc = failing_realloc;
    begin().send(make_block(text_pairs(std::string(94, 'z'))));
    pen.expect(bye).send(bye_reply);
    EXPECT_EQ(run_download(), PEN_ERR_MEMORY);
    EXPECT_EQ(root.text_length, 4000);
    EXPECT_EQ(root.text_capacity, 4096);
    EXPECT_EQ(root.text[4000], '\0');
    EXPECT_EQ(root.scan_count, 0);
    EXPECT_EQ(root.unsaved, 0);
    // Nothing acknowledged; the goodbye at the download rate.
    EXPECT_EQ(pen.received_at(38400), bye);
}

TEST_F(DownloadTest, HangUpKeepsWhatArrived) {
    std::atomic<long long> hung_up{0};
    begin().send(make_block(text_pairs("before"))).expect(ack);
    pen.run([&] { hung_up = Clock::now().time_since_epoch().count(); }).hangup();
    EXPECT_EQ(run_download(), PEN_ERR_TRANSFER);
    Clock::duration after = Clock::now().time_since_epoch() - Clock::duration(hung_up.load());
    EXPECT_LT(std::chrono::duration<double>(after).count(), 2.0);
    EXPECT_EQ(stored_text(), "before");
    EXPECT_EQ(root.unsaved, 1);
    EXPECT_EQ(line_cause(), CAUSE_UNPLUGGED);
}

}  // namespace

namespace {

TEST_F(DownloadTest, BreakInsideABlockEndsItAtOnce) {
    // At 300 bit/s a full block takes over 9 s on the line; this one trickles
    // in a byte every 100 ms, and Cancel comes while it is being read.
    root.speed = 300;
    // The pause lets the program switch the line, which drops earlier input.
    pen.expect({0x00}).send({0x80}).expect({0x04, 0x00, 0x00}).pause(300).send({0x84, 127});
    for (int i = 0; i < 30; i++) {
        if (i == 3) pen.run([] { kxinterface_break = 1; });
        pen.send({'x'}).pause(100);
    }
    pen.start();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(read_text(), PEN_BREAK);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 2.0);
    pen.finish();
    EXPECT_EQ(root.text_length, 0);
    // Neither acknowledged nor refused: the goodbye follows the command.
    const Bytes got = pen.received();
    ASSERT_GE(got.size(), 5u);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 5), (Bytes{0x00, 0x04, 0x00, 0x00, 0x01}));
}

}  // namespace

namespace {

TEST_F(DownloadTest, AfterABreakTheLineStaysUntilTheGoodbyeIsAnswered) {
    // The rest of the cut block keeps arriving after the goodbye; the line
    // must keep the download rate until the pen's reply, not fall back to
    // the terminal's own rate at the first byte of that rest.
    std::atomic<int> rate_at_reply{0};
    begin().send({0x84, 20, 'a', 1}).run([] { kxinterface_break = 1; }).expect(bye);
    for (int i = 0; i < 4; i++) pen.send({'r', 1}).pause(40);
    pen.run([&] { rate_at_reply = pen.current_rate(); }).send(bye_reply);
    EXPECT_EQ(run_download(), PEN_BREAK);
    EXPECT_EQ(rate_at_reply.load(), 38400);
    EXPECT_EQ(pen.current_rate(), PEN_OWN_RATE);
    EXPECT_EQ(pen.received_at(38400), bye);
}

}  // namespace
