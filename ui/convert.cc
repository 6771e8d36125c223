// Text conversion at the toolkit's edge: ISO-8859-1 inside the program, UTF-8
// in every widget.
#include "ui/convert.h"

#include <glib.h>

char* to_utf8(const char* latin1) {
    if (!latin1) return nullptr;
    char* out = g_convert(latin1, -1, "UTF-8", "ISO-8859-1", nullptr, nullptr, nullptr);
    // Every byte is a valid ISO-8859-1 character, so this cannot fail short of
    // a missing converter; an empty text is better than a null label then.
    return out ? out : g_strdup("");
}

char* from_utf8(const char* utf8) {
    if (!utf8) return nullptr;
    // Widgets hold valid UTF-8; mend anything else first so one stray byte
    // does not lose the whole text.
    char* valid = g_utf8_make_valid(utf8, -1);
    char* out =
        g_convert_with_fallback(valid, -1, "ISO-8859-1", "UTF-8", "?", nullptr, nullptr, nullptr);
    g_free(valid);
    return out ? out : g_strdup("");
}
