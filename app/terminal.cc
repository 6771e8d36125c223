// Messages in the terminal's character set: ISO-8859-1 inside the program,
// UTF-8 on a terminal whose locale says so.
#include "app/terminal.h"

#include <glib.h>
#include <langinfo.h>

#include <cstdio>
#include <cstring>

#include "pen/protocol.h"
#include "pen/serial.h"
#include "state/state.h"

bool terminal_is_utf8() {
    // Asked each time rather than kept: the locale is set once at start-up,
    // and the answer costs a string comparison.
    return std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
}

std::string terminal_text(const char* latin1) {
    if (!latin1) return std::string();
    if (!terminal_is_utf8()) return latin1;
    gchar* utf8 = g_convert(latin1, -1, "UTF-8", "ISO-8859-1", nullptr, nullptr, nullptr);
    // Every byte is an ISO-8859-1 character: only a missing converter fails,
    // and the bytes as they are beat no message at all.
    if (!utf8) return latin1;
    std::string text(utf8);
    g_free(utf8);
    return text;
}

std::string terminal_message(const MessageText& row) {
    return terminal_text(row[interface_language()]);
}

void counts_line(char* buffer, size_t size, int chars, int scans) {
    if (!buffer || size == 0) return;
    const int l = interface_language();
    std::snprintf(buffer, size, "%d %s / %d %s", chars, tBytes[l], scans, tScans[l]);
}

int response_rows(int code, const MessageText* rows[3]) {
    switch (code) {
        case PEN_ERR_MEMORY:
            rows[0] = &tnomemory;
            return 1;
        case PEN_ERR_CONNECT:
            rows[0] = &tce_connect1;
            rows[1] = &tce_connect2;
            rows[2] = &tce_connect3;
            return 3;
        case PEN_ERR_SERIAL:
            rows[0] = &tce_serial1;
            rows[1] = &tce_serial2;
            rows[2] = &tce_serial3;
            return 3;
        case PEN_ERR_TRANSFER:
            rows[0] = &tce_transfer1;
            rows[1] = &tce_transfer2;
            rows[2] = &tce_transfer3;
            return 3;
        case PEN_BREAK:
            rows[0] = &tbreak;
            return 1;
        default:
            return 0;
    }
}

const MessageText* cause_row(int code) {
    if (code != PEN_ERR_SERIAL && code != PEN_ERR_CONNECT && code != PEN_ERR_TRANSFER)
        return nullptr;
    switch (line_cause()) {
        case CAUSE_DENIED:
            return &tcause_denied;
        case CAUSE_BUSY:
            return &tcause_busy;
        case CAUSE_MISSING:
            return &tcause_missing;
        case CAUSE_UNPLUGGED:
            return &tcause_unplugged;
        default:
            return nullptr;
    }
}

void print_response(int code) {
    const MessageText* rows[3] = {nullptr, nullptr, nullptr};
    const int count = response_rows(code, rows);
    for (int i = 0; i < count; i++)
        std::fprintf(stderr, "%s\n", terminal_message(*rows[i]).c_str());
    // The path is the system's bytes, already as the terminal takes them.
    const MessageText* cause = cause_row(code);
    if (cause) std::fprintf(stderr, "%s: %s\n", root.device, terminal_message(*cause).c_str());
}
