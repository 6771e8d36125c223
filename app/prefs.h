// Preferences file: the PC settings kept in $HOME/.kxrc between runs.
//
// Principles of operation: the file is a list of "Keyword: value" lines in
// ISO-8859-1. Reading is tolerant: a bad line is reported on standard error
// with its line number and skipped; the rest still counts. Lines are read in
// pieces of at most 159 characters, each counted as a line of its own.
// Messages take their language from `root.language` at the moment they are
// written, so lines after a "Language:" line are reported in that language.
// When there is no file to read, the interface language is the desktop's
// (`desktop_language`) from then on, the "can not be loaded" message included;
// a file's "Language:" line always decides, and a file without one keeps
// English.
// Saving writes five lines and replaces the file atomically (a temporary file
// and a rename, the link target when the file is a symbolic link), so a full
// disk or a crash never destroys the old settings.
//
//   SetDefaultPreferences  English, 38400 bit/s, /dev/ttyS1, pen fields 0
//   ReadPreferences        1 the file was opened, 0 not (desktop's language, message written)
//   SavePreferences        writes the file; failures reported on stderr
//   preferences_path       newly allocated (g_free) path of the file
//   desktop_language       the first of the five languages in the desktop's list, else English
#pragma once

constexpr int PREFS_PATH_MAX = 4094;  // longest path the file may have

extern const char* const p_language;  // "Language:"
extern const char* const p_speed;     // "Speed:"
extern const char* const p_device;    // "Device:"
extern const char* const p_saveform;  // "Save as:"
extern const char* const p_savename;  // "Filename:"

void SetDefaultPreferences();
int ReadPreferences();
void SavePreferences();

// HOME (or, when HOME is unset, the home directory of the password database)
// followed by "/.kxrc". Never cut short: when the result is longer than
// PREFS_PATH_MAX, reading and saving treat it as a file they cannot use.
char* preferences_path();

// The language index of the first of "de", "en", "fr", "es", "it" in GLib's
// list of the environment's languages (g_get_language_names: LANGUAGE, else
// LC_ALL, LC_MESSAGES or LANG, with the shorter forms of each name); English
// when none is there, and in the C or POSIX locale, where gettext too ignores
// LANGUAGE.
int desktop_language();
