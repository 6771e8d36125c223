// The toolkit's own texts in the interface language, looked up as GTK looks
// them up (gettext, domain gtk30).
#include "ui/toolkit_locale.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "state/state.h"

namespace {

// From the C locale, which translates nothing by itself: German at start-up,
// French after a change. In a child: the locale and LANGUAGE are the process's.
[[noreturn]] void start_in_german_then_change_to_french() {
    setenv("LC_ALL", "C", 1);
    start_toolkit_locale(LANG_DE);
    const bool german = std::strcmp(g_dgettext("gtk30", "_Cancel"), "_Abbrechen") == 0;
    set_toolkit_language(LANG_FR);
    const bool french = std::strcmp(g_dgettext("gtk30", "_Cancel"), "A_nnuler") == 0;
    // _exit: no leak check at exit for the toolkit's and gettext's caches.
    _exit(german && french ? 0 : 1);
}

TEST(ToolkitLocale, ToolkitTextsFollowTheInterfaceLanguage) {
    if (access("/usr/share/locale/de/LC_MESSAGES/gtk30.mo", R_OK) != 0 ||
        access("/usr/share/locale/fr/LC_MESSAGES/gtk30.mo", R_OK) != 0)
        GTEST_SKIP() << "GTK's German or French translation is not installed";
    EXPECT_EXIT(start_in_german_then_change_to_french(), testing::ExitedWithCode(0), "");
}

}  // namespace
