// Reporting pen result codes: a message dialog in window mode, lines on
// standard error in batch mode.
#include <cstdio>

#include "app/catalogue.h"
#include "app/state.h"
#include "app/terminal.h"
#include "pen/protocol.h"
#include "ui/dialogs.h"

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

void show_response_and_wait(int code) {
    const MessageText* rows[3] = {nullptr, nullptr, nullptr};
    const int count = response_rows(code, rows);
    if (count == 0) return;
    const int l = root.language;
    if (root.batch) {
        for (int i = 0; i < count; i++)
            std::fprintf(stderr, "%s\n", terminal_message(*rows[i]).c_str());
        return;
    }
    show_error_and_wait((*rows[0])[l], count == 3 ? (*rows[1])[l] : nullptr,
                        count == 3 ? (*rows[2])[l] : nullptr);
}
