// Reporting pen result codes in the window: a message dialog with the rows
// app/terminal.h chooses for the code, and the device with the cause of its
// failure below them when the system gave one.
#include <glib.h>

#include "app/catalogue.h"
#include "app/terminal.h"
#include "state/state.h"
#include "ui/convert.h"
#include "ui/dialogs.h"

void show_response_and_wait(int code) {
    const MessageText* rows[3] = {nullptr, nullptr, nullptr};
    const int count = response_rows(code, rows);
    if (count == 0) return;
    const int l = interface_language();
    const MessageText* cause = cause_row(code);
    g_autofree char* shown = cause ? display_path(root.device) : nullptr;
    g_autofree char* device_line = cause ? g_strconcat(shown, ": ", (*cause)[l], nullptr) : nullptr;
    show_error_and_wait((*rows[0])[l], count == 3 ? (*rows[1])[l] : nullptr,
                        count == 3 ? (*rows[2])[l] : nullptr, device_line);
}
