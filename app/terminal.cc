// Messages in the terminal's character set: ISO-8859-1 inside the program,
// UTF-8 on a terminal whose locale says so.
#include "app/terminal.h"

#include <glib.h>
#include <langinfo.h>

#include <cstring>

#include "app/state.h"

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
    const int l = root.language >= 0 && root.language < LANG_COUNT ? root.language : LANG_EN;
    return terminal_text(row[l]);
}
