#include "pen/download.h"

#include "pen/protocol.h"
#include "pen/serial.h"
#include "state/state.h"
#include "text/store.h"

std::atomic<int> kxinterface_break{0};
std::atomic<int> kxinterface_quit{0};
std::atomic<int> kxinterface_lines{0};
std::atomic<int> kxinterface_active{0};
void (*download_block_hook)() = nullptr;

namespace {

// Slack on top of the time a block body takes on the line.
constexpr int BLOCK_SLACK_MS = 500;

// A bad attempt that finds the counter at this value ends the download: three
// repeats before the first good block, two after any good block.
constexpr int BAD_BLOCK_LIMIT = 2;

// Tells the pen the download is over, at whatever rate the line has, and
// returns the line to 300 bit/s.
int closing_sequence() {
    const unsigned char bye = PEN_CMD_BYE;
    write_paced(&bye, 1);
    unsigned char ignored;
    read_byte(&ignored);
    set_speed(300);
    return PEN_ERR_TRANSFER;
}

// Reads and drops the body of a block too large for the buffer, so that the
// pen's repeat after the request to send again starts on a fresh attempt
// instead of being buried under the rest of the oversized body.
void drop_body(int bytes) {
    unsigned char scratch[BLOCK_BUFFER_SIZE];
    while (bytes > 0) {
        const int chunk = bytes < BLOCK_BUFFER_SIZE ? bytes : BLOCK_BUFFER_SIZE;
        const int got = read_counted(
            scratch, chunk, line_time_ms(chunk, line_rate()) + BLOCK_SLACK_MS, stop_requested);
        if (got != chunk) return;
        bytes -= chunk;
    }
}

}  // namespace

int stop_requested() {
    return kxinterface_break.load() != 0 || kxinterface_quit.load() != 0;
}

int receive_block(unsigned char buffer[BLOCK_BUFFER_SIZE], int* count) {
    *count = 0;
    unsigned char byte;
    if (!read_byte(&byte)) return 0;
    if (byte == PEN_REPLY_DONE) return PEN_REPLY_DONE;
    if (byte != PEN_BLOCK) return 0;

    unsigned char pairs;
    if (!read_byte(&pairs)) return 0;
    int n = pairs;
    // More pairs would not fit the buffer: a bad attempt, whose body is
    // dropped without ever being stored.
    if (n > BLOCK_MAX_PAIRS) {
        drop_body(2 * n + 1);
        return 0;
    }

    int body = 2 * n + 1;
    if (!set_vmin(body)) return 0;
    int got = read_counted(buffer, body, line_time_ms(body, line_rate()) + BLOCK_SLACK_MS,
                           stop_requested);
    if (!set_vmin(0) || got != body) return 0;

    *count = n;
    unsigned char sum = 0;
    for (int i = 0; i < 2 * n; i++) sum ^= buffer[i];
    if (sum != buffer[2 * n]) return 0;
    return PEN_BLOCK;
}

int download_text() {
    kxinterface_lines = 0;

    const unsigned char command[3] = {PEN_CMD_SEND_TEXT,
                                      static_cast<unsigned char>(get_speedcode(root.speed)), 0x00};
    if (!write_paced(command, 3)) return PEN_ERR_TRANSFER;
    if (!set_speed(root.speed)) return closing_sequence();

    const unsigned char ack = PEN_ACK;
    const unsigned char nak = PEN_NAK;
    unsigned char buffer[BLOCK_BUFFER_SIZE];
    int bad = -1;
    for (;;) {
        kxinterface_active = 1;
        int n = 0;
        int got = receive_block(buffer, &n);

        // The end marker wins over a stop request: the text is complete.
        if (got == PEN_REPLY_DONE) {
            set_speed(300);
            return PEN_OK;
        }
        if (stop_requested()) {
            // The rest of a block the stop cut short is not the reply to the
            // goodbye that follows.
            flush_input();
            return PEN_BREAK;
        }

        if (got == PEN_BLOCK) {
            if (!store_block(buffer, n)) return PEN_ERR_MEMORY;
            bad = 0;
            kxinterface_lines++;
            if (!write_paced(&ack, 1)) return closing_sequence();
            // After the acknowledgement, so the pen is not kept waiting.
            if (download_block_hook) download_block_hook();
            continue;
        }

        if (bad == BAD_BLOCK_LIMIT) return closing_sequence();
        bad++;
        if (!write_paced(&nak, 1)) return closing_sequence();
    }
}

namespace {

int download_command(AppState*) {
    const int before = root.text_length;
    const int result = download_text();
    if (root.text_length != before) root.unsaved = 1;
    return result;
}

const PenExchange download_exchange = {download_command, true};

}  // namespace

int read_text() {
    kxinterface_break = 0;
    // The program is ending: no new exchange starts.
    if (kxinterface_quit.load() != 0) return PEN_BREAK;
    return run_exchange(download_exchange, &root);
}
