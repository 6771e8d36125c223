// Spell checking of the text view in the text's language, with gspell.
#include "ui/spelling.h"

#include <cstring>
#include <string>

#include "state/state.h"

namespace {

bool has_language(const char* name, const char* code) {
    const size_t n = std::strlen(code);
    return std::strncmp(name, code, n) == 0 && (name[n] == '\0' || name[n] == '_');
}

}  // namespace

const GspellLanguage* spelling_language(const char* code) {
    // The user's locales, most preferred first ("en_GB.UTF-8", "en_GB", "en",
    // "C"), without their encoding and modifier.
    for (const char* const* name = g_get_language_names(); *name; name++) {
        if (!has_language(*name, code)) continue;
        const std::string locale(*name, std::strcspn(*name, ".@"));
        if (const GspellLanguage* found = gspell_language_lookup(locale.c_str())) return found;
    }
    if (const GspellLanguage* found = gspell_language_lookup(code)) return found;
    for (const GList* l = gspell_language_get_available(); l; l = l->next) {
        const GspellLanguage* language = static_cast<const GspellLanguage*>(l->data);
        if (has_language(gspell_language_get_code(language), code)) return language;
    }
    return nullptr;
}

void update_spelling() {
    if (!root.text_view) return;
    GtkTextView* view = GTK_TEXT_VIEW(root.text_view);
    GspellTextView* spell_view = gspell_text_view_get_from_gtk_text_view(view);
    gspell_text_view_set_enable_language_menu(spell_view, FALSE);
    const GspellLanguage* language = spelling_language(text_language_code());
    if (!language) {
        gspell_text_view_set_inline_spell_checking(spell_view, FALSE);
        return;
    }
    GspellTextBuffer* spell_buffer =
        gspell_text_buffer_get_from_gtk_text_buffer(gtk_text_view_get_buffer(view));
    GspellChecker* checker = gspell_text_buffer_get_spell_checker(spell_buffer);
    if (checker) {
        gspell_checker_set_language(checker, language);
    } else {
        checker = gspell_checker_new(language);
        gspell_text_buffer_set_spell_checker(spell_buffer, checker);
        g_object_unref(checker);
    }
    gspell_text_view_set_inline_spell_checking(spell_view, TRUE);
}

void stop_spelling() {
    if (!root.text_view) return;
    GtkTextView* view = GTK_TEXT_VIEW(root.text_view);
    gspell_text_view_set_inline_spell_checking(gspell_text_view_get_from_gtk_text_view(view),
                                               FALSE);
}
