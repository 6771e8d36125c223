// The message catalogue: the rows of app/catalogue.def made into the named
// constants and the list of them.
#include "app/catalogue.h"

#include <cstring>

#include "state/state.h"

#define ROW(name, de, en, fr, es, it) MessageText name = {de, en, fr, es, it};
#include "app/catalogue.def"
#undef ROW

const CatalogueRow catalogue_rows[] = {
#define ROW(name, de, en, fr, es, it) {#name, &name},
#include "app/catalogue.def"
#undef ROW
};

const size_t catalogue_row_count = sizeof catalogue_rows / sizeof catalogue_rows[0];

int language_from_name(const char* name) {
    // A combo box with nothing chosen yields no text at all.
    if (name == nullptr) return LANG_DE;
    for (int i = 0; i < LANG_COUNT; i++) {
        if (strncmp(name, tlanguages[i], strlen(tlanguages[i])) == 0) return i;
    }
    return LANG_DE;
}
