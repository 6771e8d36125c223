// Message catalogue: every text the program shows or writes for a person, in
// five languages.
//
// Each row is a global constant of its own name: five ISO-8859-1 texts indexed
// by the language index (state/state.h: 0 German, 1 English, 2 French, 3 Spanish,
// 4 Italian). A user takes a text as `row[root.language]` at the moment it
// builds a window, dialog or message; there is no lookup function. Blanks and
// line breaks are part of the texts. `tlanguages` is the list of the five
// language names, each in its own language.
//
// Bytes above 127 are written as octal escapes in the source, so the program
// holds ISO-8859-1 bytes; they are converted only at the toolkit's edge
// (ui/convert.h) and for a terminal that takes UTF-8 (app/terminal.h).
//
// Each row is written once, in app/catalogue.def, which makes its declaration
// here, its definition and its entry in `catalogue_rows`: adding a row is one
// ROW(...) entry there and nothing else.
//
//   language_from_name  index of the language name a text begins with, or 0
//   catalogue_rows      every row with its name, for checks over the whole set
#pragma once

#include <cstddef>

typedef const char* const MessageText[5];

struct CatalogueRow {
    const char* name;
    const MessageText* row;
};
extern const CatalogueRow catalogue_rows[];
extern const size_t catalogue_row_count;

// The language index whose name (entry of `tlanguages`) `name` begins with,
// compared byte by byte with letter case; 0 (German) when none matches.
int language_from_name(const char* name);

// Every row, as `extern MessageText name;`.
#define ROW(name, de, en, fr, es, it) extern MessageText name;
#include "app/catalogue.def"
#undef ROW
