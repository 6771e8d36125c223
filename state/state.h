// Application state: the one global record `root` and the program's constants.
//
// Every module reads and writes the fields of `root` directly; there are no
// accessors. The record holds, in this order, the pen configuration last read
// from the pen, the PC preferences, the main-window handles, the text store and
// the batch flag. `clear_root` brings it to all zeros, as at start-up;
// `SetDefaultPreferences` (app/prefs.h) and `setup_data` (text/store.h) then
// give it its initial values.
//
// Threads: the main thread owns the record. While a download runs, its worker
// writes the text store; `text_length` and `scan_count` are also read by the
// 200 ms progress tick on the main thread, so they are atomic. The worker
// writes the characters and the terminator before it raises `text_length`.
//
// Text is ISO-8859-1 bytes everywhere in the record.
#pragma once

#include <atomic>
#include <cstddef>

// Forward declarations: the state names widget handles but does not need GTK.
typedef struct _GtkWidget GtkWidget;
typedef struct _GtkAccelGroup GtkAccelGroup;

// Language index, shared by the interface language and the pen's languages.
enum { LANG_DE = 0, LANG_EN = 1, LANG_FR = 2, LANG_ES = 3, LANG_IT = 4, LANG_COUNT = 5 };

// The two-letter (ISO 639-1) code of each language index: "de", "en", "fr",
// "es", "it", as locale names and LANGUAGE use them.
extern const char* const language_codes[LANG_COUNT];

// Export formats (`save_format`).
enum { FORMAT_ASCII = 0, FORMAT_RTF = 1, FORMAT_LATEX = 2, FORMAT_UTF8 = 3, FORMAT_COUNT = 4 };

constexpr int DEVICE_MAX = 80;       // characters of `device`, terminator not counted
constexpr int SAVE_NAME_MAX = 4095;  // characters of `save_name`, terminator not counted

struct AppState {
    // Pen configuration, as last read from the pen.
    int mode;             // 0 read text, 1 translate
    int menu_language;    // language index
    int text_language;    // language index
    int target_language;  // language index
    int firmware_major;
    int firmware_minor;  // low 7 bits minor number, bit 7: translating model
    int memory_free;     // percent
    int battery_level;   // 0..3
    int config_read;     // 1 once the fields above came from a pen

    // PC preferences.
    int language;  // interface language index, always 0..4
    int speed;     // always a rate of the speed table
    char device[DEVICE_MAX + 1];
    int save_format;  // always 0..3
    char save_name[SAVE_NAME_MAX + 1];

    // Main window; null until the window exists.
    GtkWidget* main_window;
    GtkWidget* main_vbox;
    GtkWidget* menu_bar;
    GtkAccelGroup* accel_group;
    GtkWidget* text_view;

    // Text store (text/store.h). Written by the download (the worker in window mode) only while the
    // progress dialog's grab keeps the main thread from touching the store;
    // the main thread reads text, attributes, capacity and unsaved only after
    // the tick has joined the worker.
    int text_capacity;
    // Raised by the worker after the characters and terminator are in place
    // (release); read by the 200 ms tick while the worker runs (acquire).
    std::atomic<int> text_length;
    // Written by the worker, read by the tick while it runs.
    std::atomic<int> scan_count;
    int unsaved;
    char* text;                 // ISO-8859-1, zero-terminated, text_capacity bytes
    unsigned char* attributes;  // one per character, text_capacity bytes

    int batch;
};

extern AppState root;
extern const char* const kx_version;  // "1.0"

// Sets every field of `root` to zero (pointers null), as at start-up. Frees
// nothing: the text store's buffers are the store's business.
void clear_root();
// The pen configuration fields to zero: nothing read from a pen yet.
void reset_pen_fields();
// root.language when it is a language index, else English: the one index
// every catalogue row may be read with.
int interface_language();
// The text's language code: the pen's text language once its configuration has
// been read (and is one of the five), else the interface language's.
const char* text_language_code();

// Copies at most `max` characters of `src` into `dst` (which holds max + 1
// bytes) and terminates it. The byte after the bound is written as the
// terminator only, so `dst` is always a string.
void copy_bounded(char* dst, const char* src, size_t max);
