// The toolkit's locale and the language of its own texts.
#include "ui/toolkit_locale.h"

#include <gtk/gtk.h>
#include <libintl.h>
#include <locale.h>

#include <cstring>

#include "state/state.h"

namespace {

bool names_c_locale(const char* name) {
    return name && (std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0);
}

}  // namespace

void start_toolkit_locale(int language) {
    // gtk_init would call setlocale(LC_ALL, "") itself, after which the
    // messages locale could no longer be mended before the first window.
    gtk_disable_setlocale();
    setlocale(LC_ALL, "");
    // The C locale translates nothing. C.UTF-8 changes nothing else a person
    // sees: GTK asks gettext for UTF-8 whatever the character set.
    if (names_c_locale(setlocale(LC_MESSAGES, nullptr))) setlocale(LC_MESSAGES, "C.UTF-8");
    set_toolkit_language(language);
}

void set_toolkit_language(int language) {
    if (language < 0 || language >= LANG_COUNT) return;
    // Set first at start-up, before the toolkit runs threads of its own; later
    // only its value changes, on the main thread, which leaves the list of
    // variables that another thread may be reading where it was.
    g_setenv("LANGUAGE", language_codes[language], TRUE);
    // gettext keeps each translation it found until a text domain is set;
    // setting the same one again is how glibc is told that the environment
    // changed.
    textdomain(textdomain(nullptr));
}
