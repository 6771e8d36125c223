// Reporting pen result codes in the window: a message dialog with the rows
// app/terminal.h chooses for the code.
#include "app/catalogue.h"
#include "app/terminal.h"
#include "state/state.h"
#include "ui/dialogs.h"

void show_response_and_wait(int code) {
    const MessageText* rows[3] = {nullptr, nullptr, nullptr};
    const int count = response_rows(code, rows);
    if (count == 0) return;
    const int l = interface_language();
    show_error_and_wait((*rows[0])[l], count == 3 ? (*rows[1])[l] : nullptr,
                        count == 3 ? (*rows[2])[l] : nullptr);
}
