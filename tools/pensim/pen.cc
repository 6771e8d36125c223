#include "tools/pensim/pen.h"

#include "tools/pensim/line.h"
#include "tools/pensim/protocol.h"

namespace {

// The wrong marker of the `marker` block fault.
constexpr unsigned char WRONG_MARKER = 0x85;
// Pairs announced (and sent) by the `count200` block fault.
constexpr int OVERSIZED_PAIRS = 200;
// How long the parameter bytes of a command may take to follow it.
constexpr double PARAMETER_WAIT = 2.0;
// How long the pen waits for the program's answer to a block.
constexpr double ANSWER_WAIT = 5.0;
// How long the pen waits for the program's switch to the download rate.
constexpr double RATE_WAIT = 3.0;
// When the download rate is the rate already in force, no switch can be seen;
// the program's speed change (120 ms) still empties the input, so wait longer.
constexpr double SAME_RATE_GRACE = 0.2;
// With --sessions, the pen ends once the line has been quiet this long after
// the last session, so a second goodbye (the program sends one after a failed
// download) is still answered.
constexpr double LINGER = 0.5;

constexpr int GO_ON = -1;

unsigned char checksum(const unsigned char* bytes, size_t count) {
    unsigned char sum = 0;
    for (size_t i = 0; i < count; i++) sum ^= bytes[i];
    return sum;
}

void note_fault(const Fault* fault) {
    if (fault) log_note("fault %s", fault->text.c_str());
}

// Sends a reply, changed by the first matching fault of `target`. 0 when a
// stop was requested.
int reply(SimPen* pen, FaultTarget target, std::vector<unsigned char> bytes) {
    const Fault* fault = take_fault(pen->options, target, 0);
    note_fault(fault);
    if (fault) {
        switch (fault->action) {
            case ACTION_SILENCE:
                return stop_requested ? 0 : 1;
            case ACTION_BYTE:
                bytes[0] = fault->byte;
                break;
            case ACTION_SHORT:
                bytes.pop_back();
                break;
            default:
                break;
        }
    }
    if (send_bytes(bytes.data(), static_cast<int>(bytes.size())) == 0)
        log_note("the line did not take the reply");
    return stop_requested ? 0 : 1;
}

int answer_bye(SimPen* pen) {
    if (!reply(pen, FAULT_BYE, {REPLY_BYE})) return 0;
    if (pen->session_open) {
        pen->session_open = false;
        pen->sessions_done++;
    }
    return 1;
}

// Reads the `count` parameter bytes of a command. 1 all came, 0 not, -1 stop.
int get_parameters(unsigned char* bytes, int count) {
    const double deadline = now_seconds() + PARAMETER_WAIT;
    for (int i = 0; i < count; i++) {
        int r = get_byte(&bytes[i], deadline);
        if (r <= 0) return r;
    }
    return 1;
}

// Waits until the program has set `rate` on its end (`command_rate` is the
// rate the download command came at); 0 when a stop came.
int wait_for_rate(int rate, int command_rate) {
    if (rate == 0) {
        log_note("unknown speed code: no rate to wait for");
        return 1;
    }
    if (rate == command_rate) return wait_until(now_seconds() + SAME_RATE_GRACE);
    const double deadline = now_seconds() + RATE_WAIT;
    while (terminal_rate() != rate) {
        if (now_seconds() >= deadline) {
            log_note("the line was not switched to %d bit/s; sending all the same", rate);
            return 1;
        }
        if (!wait_until(now_seconds() + 0.005)) return 0;
    }
    return 1;
}

// Sends the text block by block. SERVE_STOPPED, SERVE_UNPLUGGED, or GO_ON
// when the download is over and the pen waits for commands again.
int download(SimPen* pen, int code, int command_rate) {
    const int rate = rate_of_code(code);
    log_note("download, speed code %d (%d bit/s), %zu blocks", code, rate, pen->blocks.size());
    if (!wait_for_rate(rate, command_rate)) return SERVE_STOPPED;
    int attempt = 0;
    int good = 0;
    size_t index = 0;
    for (;;) {
        const Fault* unplug = take_fault(pen->options, FAULT_DISCONNECT, good);
        if (unplug) {
            note_fault(unplug);
            log_note("line unplugged after %d good blocks", good);
            close_line();
            return SERVE_UNPLUGGED;
        }
        if (index >= pen->blocks.size()) {
            const unsigned char done = REPLY_DONE;
            send_bytes(&done, 1);
            return stop_requested ? SERVE_STOPPED : GO_ON;
        }
        attempt++;
        const Fault* fault = take_fault(pen->options, FAULT_BLOCK, attempt);
        note_fault(fault);
        std::vector<unsigned char> bytes =
            frame_block(pen->blocks[index], fault ? fault->action : ACTION_NONE);
        if (send_bytes(bytes.data(), static_cast<int>(bytes.size())) == 0)
            log_note("the line did not take block attempt %d", attempt);
        const double deadline = now_seconds() + ANSWER_WAIT;
        for (;;) {
            unsigned char b = 0;
            int r = get_byte(&b, deadline);
            if (r < 0) return SERVE_STOPPED;
            if (r == 0) {
                log_note("no answer to block attempt %d: download ended", attempt);
                return GO_ON;
            }
            if (b == PC_ACK) {
                index++;
                good++;
                break;
            }
            if (b == PC_NAK) break;
            if (b == CMD_BYE) {
                log_note("goodbye during the download");
                return answer_bye(pen) ? GO_ON : SERVE_STOPPED;
            }
            log_note("ignored byte %02x while waiting for the answer to a block", b);
        }
    }
}

int handle_command(SimPen* pen, unsigned char command) {
    SimOptions* options = pen->options;
    switch (command) {
        case CMD_WAKE:
            pen->session_open = true;
            return reply(pen, FAULT_WAKE, {REPLY_WAKE}) ? GO_ON : SERVE_STOPPED;
        case CMD_BYE:
            return answer_bye(pen) ? GO_ON : SERVE_STOPPED;
        case CMD_GET_CONFIG: {
            const PenConfig& c = pen->config;
            return reply(pen, FAULT_CONFIG,
                         {REPLY_CONFIG, c.mode, c.menu_language, c.text_language, c.target_language,
                          c.memory_free, c.battery_level, c.firmware_major, c.firmware_minor})
                       ? GO_ON
                       : SERVE_STOPPED;
        }
        case CMD_SET_CONFIG: {
            unsigned char p[SET_CONFIG_PARAMETERS];
            int r = get_parameters(p, SET_CONFIG_PARAMETERS);
            if (r < 0) return SERVE_STOPPED;
            if (r == 0) {
                log_note("configuration packet incomplete: ignored");
                return GO_ON;
            }
            pen->config.mode = p[0];
            pen->config.menu_language = p[1];
            pen->config.text_language = p[2];
            pen->config.target_language = p[3];
            return reply(pen, FAULT_SETCONFIG, {REPLY_DONE}) ? GO_ON : SERVE_STOPPED;
        }
        case CMD_ERASE:
            if (!wait_until(now_seconds() + options->erase_delay)) return SERVE_STOPPED;
            pen->blocks.clear();
            log_note("text erased");
            return reply(pen, FAULT_ERASE, {REPLY_DONE}) ? GO_ON : SERVE_STOPPED;
        case CMD_SEND_TEXT: {
            unsigned char p[SEND_TEXT_PARAMETERS];
            int r = get_parameters(p, SEND_TEXT_PARAMETERS);
            if (r < 0) return SERVE_STOPPED;
            if (r == 0) {
                log_note("download command incomplete: ignored");
                return GO_ON;
            }
            if (p[1] != 0) log_note("download command ends in %02x, not 00", p[1]);
            return download(pen, p[0], sim_line.last_rate);
        }
        default:
            log_note("ignored byte %02x", command);
            return GO_ON;
    }
}

}  // namespace

Fault* take_fault(SimOptions* options, FaultTarget target, int number) {
    for (Fault& f : options->faults) {
        if (f.used || f.target != target) continue;
        if ((target == FAULT_BLOCK || target == FAULT_DISCONNECT) && f.number != number) continue;
        if (!options->fault_always) f.used = true;
        return &f;
    }
    return nullptr;
}

std::vector<unsigned char> frame_block(const PenBlock& pairs, FaultAction action) {
    const size_t n = pairs.size() / 2;
    std::vector<unsigned char> out;
    switch (action) {
        case ACTION_SILENCE:
            return out;
        case ACTION_MARKER:
            out.push_back(WRONG_MARKER);
            return out;
        case ACTION_NOCOUNT:
            out.push_back(BLOCK_START);
            return out;
        case ACTION_COUNT200: {
            // A real oversized block: 200 pairs (the scan's pairs over and
            // over) with a checksum that is right for them.
            out.push_back(BLOCK_START);
            out.push_back(static_cast<unsigned char>(OVERSIZED_PAIRS));
            for (int i = 0; i < 2 * OVERSIZED_PAIRS; i++) {
                if (pairs.empty())
                    out.push_back(i % 2 ? 1 : ' ');
                else
                    out.push_back(pairs[static_cast<size_t>(i) % pairs.size()]);
            }
            out.push_back(checksum(out.data() + 2, out.size() - 2));
            return out;
        }
        default:
            break;
    }
    out.push_back(BLOCK_START);
    out.push_back(static_cast<unsigned char>(n));
    out.insert(out.end(), pairs.begin(), pairs.end());
    unsigned char sum = checksum(pairs.data(), pairs.size());
    if (action == ACTION_CHECKSUM) sum ^= 0xFF;
    out.push_back(sum);
    if (action == ACTION_SHORT) out.resize(2 + (2 * n + 1) / 2);
    return out;
}

int serve_pen(SimPen* pen) {
    const int limit = pen->options->sessions;
    for (;;) {
        const bool finished = limit > 0 && pen->sessions_done >= limit && !pen->session_open;
        unsigned char command = 0;
        int r = get_byte(&command, now_seconds() + (finished ? LINGER : 1.0));
        if (r < 0) return SERVE_STOPPED;
        if (r == 0) {
            if (!finished) continue;
            // Give the program its last reply before the line goes away.
            const double deadline = now_seconds() + 1.0;
            while (input_pending() > 0 && now_seconds() < deadline)
                if (!wait_until(now_seconds() + 0.01)) return SERVE_STOPPED;
            log_note("%d sessions served", pen->sessions_done);
            return SERVE_SESSIONS_DONE;
        }
        int how = handle_command(pen, command);
        if (how != GO_ON) return how;
    }
}
