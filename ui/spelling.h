// Spell checking of the text view with gspell: wrong words are underlined and
// the view's context menu offers suggestions.
//
// The language is the text's (text_language_code(), state/state.h): the pen's
// text language once its configuration was read, else the interface
// language. Of the installed dictionaries the one of the user's own region is
// taken when it has that language (en_GB for a British locale), else the
// language's plain one, else the first of its regions. Without a dictionary
// for the language nothing is underlined and nothing complains.
//
//   spelling_language  the dictionary for a two-letter code, or null
//   update_spelling    (re)sets root.text_view's checking for the text's language
//   stop_spelling      ends the checking before the view goes: the checker
//                      must not follow the view's buffer through its disposal
#pragma once

#include <gspell/gspell.h>

const GspellLanguage* spelling_language(const char* code);
void update_spelling();
void stop_spelling();
