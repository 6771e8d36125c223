// The toolkit's locale, and its own texts in the interface language.
//
// Principles of operation: GTK translates its own texts (the file chooser's
// columns, places and buttons, a text view's context menu) with gettext, which
// takes the language from the LANGUAGE variable at each look-up, but only while
// the messages locale is not C or POSIX. So window mode sets the locale itself,
// before gtk_init and from the environment as gtk_init would, gives the
// messages the C.UTF-8 locale where the environment names C or POSIX, and sets
// LANGUAGE to the interface language: the toolkit then speaks that language
// wherever the system holds GTK's translation for it (on Debian all five come
// with libgtk-3-common), and English elsewhere. A change of the interface
// language sets LANGUAGE again and has gettext drop what it looked up before;
// what GTK builds from then on (the next file chooser, the next context menu)
// is in the new language, a window already open keeps its texts.
//
//   start_toolkit_locale  before gtk_init: locale from the environment, toolkit in `language`
//   set_toolkit_language  the toolkit's texts from now on in `language` (a language index)
#pragma once

void start_toolkit_locale(int language);
void set_toolkit_language(int language);
