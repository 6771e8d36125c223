// Placeholder.
#include "text/export.h"
#include "app/state.h"
int ExportText(const char*, FILE*) { return 0; }
int export_ascii(const char*, FILE*) { return 0; }
int export_rtf(const char*, FILE*) { return 0; }
int export_latex(const char*, FILE*) { return 0; }
static const char* const names[] = {"ascii", "rtf", "latex"};
const char* get_format_string_opt(int f) { return f >= 0 && f < 3 ? names[f] : nullptr; }
const char* get_format_string_lang(int f) { return get_format_string_opt(f); }
const char* get_format_string(int f) { return get_format_string_lang(f); }
