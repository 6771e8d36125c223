#include "pen/protocol.h"

#include <chrono>

#include "pen/serial.h"

namespace {

// The configuration reply arrives as one burst; a pen that goes quiet after
// the request must not hold the caller (the main thread) for long.
constexpr int CONFIG_REPLY_TIMEOUT_MS = 2000;

// VTIME in tenths of a second: the normal reply wait and the erase's wait.
constexpr int REPLY_VTIME = 5;
constexpr int ERASE_VTIME = 100;
constexpr int REPLY_MS = REPLY_VTIME * 100;

int reply_is(unsigned char expected) {
    unsigned char byte;
    if (!read_byte(&byte)) return 0;
    return byte == expected ? 1 : 0;
}

}  // namespace

int open_port() {
    return open_line(root.device);
}

int wake_pen() {
    // Every wake-up starts at 300 bit/s with an empty input queue.
    if (!set_speed(300)) return 0;
    if (!write_byte(PEN_CMD_WAKE)) return 0;
    return reply_is(PEN_REPLY_WAKE);
}

int bye_pen() {
    if (!write_byte(PEN_CMD_BYE)) return 0;
    return reply_is(PEN_REPLY_BYE);
}

int bye_pen_after_break() {
    if (!write_byte(PEN_CMD_BYE)) return 0;
    // The rest of the block the break cut short may still be arriving: it is
    // skipped until the reply, which the line is held open for, so that the
    // goodbye and its answer pass at the rate the pen is on.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(REPLY_MS);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        unsigned char byte;
        if (left.count() <= 0 || read_counted(&byte, 1, static_cast<int>(left.count())) != 1)
            return 0;
        if (byte == PEN_REPLY_BYE) return 1;
    }
}

int erase_pen() {
    if (!write_byte(PEN_CMD_ERASE)) return 0;
    if (!set_vtime(ERASE_VTIME)) return 0;
    unsigned char byte;
    // Without a reply the long wait stays in force for the goodbye, which
    // gives a pen still busy erasing time to answer it.
    if (!read_byte(&byte)) return 0;
    set_vtime(REPLY_VTIME);
    return byte == PEN_REPLY_DONE ? 1 : 0;
}

int request_configuration(unsigned char reply[CONFIG_REPLY_SIZE]) {
    const unsigned char command = PEN_CMD_GET_CONFIG;
    if (!write_paced(&command, 1)) return 0;
    if (!set_vmin(CONFIG_REPLY_SIZE)) return 0;
    int got = read_counted(reply, CONFIG_REPLY_SIZE, CONFIG_REPLY_TIMEOUT_MS);
    if (!set_vmin(0)) return 0;
    return got == CONFIG_REPLY_SIZE && reply[0] == PEN_REPLY_CONFIG ? 1 : 0;
}

int send_configuration(unsigned char packet[CONFIG_PACKET_SIZE]) {
    packet[0] = PEN_CMD_SET_CONFIG;
    if (!write_paced(packet, CONFIG_PACKET_SIZE)) return 0;
    return reply_is(PEN_REPLY_DONE);
}

int run_exchange(const PenExchange& exchange, AppState* state) {
    if (!open_port()) return PEN_ERR_SERIAL;
    int result = PEN_ERR_CONNECT;
    const bool woken = wake_pen() == 1;
    if (woken) result = exchange.command(state);
    if (woken || exchange.bye_after_failed_wake) {
        if (result == PEN_BREAK)
            bye_pen_after_break();
        else
            bye_pen();
    }
    close_port();
    return result;
}

namespace {

int read_configuration_command(AppState* state) {
    unsigned char reply[CONFIG_REPLY_SIZE];
    if (!request_configuration(reply)) return PEN_ERR_TRANSFER;
    state->mode = reply[1];
    state->menu_language = reply[2];
    state->text_language = reply[3];
    state->target_language = reply[4];
    state->memory_free = reply[5];
    state->battery_level = reply[6];
    state->firmware_major = reply[7];
    state->firmware_minor = reply[8];
    state->config_read = 1;
    return PEN_OK;
}

int write_configuration_command(AppState* state) {
    unsigned char packet[CONFIG_PACKET_SIZE];
    packet[0] = PEN_CMD_SET_CONFIG;
    packet[1] = static_cast<unsigned char>(state->mode & 0xFF);
    packet[2] = static_cast<unsigned char>(state->menu_language & 0xFF);
    packet[3] = static_cast<unsigned char>(state->text_language & 0xFF);
    packet[4] = static_cast<unsigned char>(state->target_language & 0xFF);
    return send_configuration(packet) ? PEN_OK : PEN_ERR_CONNECT;
}

int erase_command(AppState*) {
    return erase_pen() ? PEN_OK : PEN_ERR_TRANSFER;
}

// A pen that did not answer the wake-up may still be half awake in an erase
// or a download: it gets its goodbye all the same.
const PenExchange read_configuration_exchange = {read_configuration_command, false};
const PenExchange write_configuration_exchange = {write_configuration_command, false};
const PenExchange erase_exchange = {erase_command, true};

}  // namespace

int read_configuration(AppState* state) {
    return run_exchange(read_configuration_exchange, state);
}

int write_configuration(AppState* state) {
    return run_exchange(write_configuration_exchange, state);
}

int clear_flash() {
    return run_exchange(erase_exchange, &root);
}
