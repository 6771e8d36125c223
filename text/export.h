// Export formats: the text store written out as ISO-8859-1 text, RTF or LaTeX.
//
// Principles of operation: `ExportText` remembers a path in `save_name` and
// calls the exporter of `root.save_format`. Each exporter writes either to the
// named file (opened "w", closed at the end) or to a stream the caller passed
// (left open), checks the count of every write, and on success clears
// `root.unsaved`. RTF and LaTeX turn the size class of each character (bits 0-1
// of its attribute) into font-size commands and escape their special
// characters. A failed write, flush or close is a failure; nothing is printed.
//
//   ExportText              1 exported, 0 failed; path copied into save_name first
//   export_ascii/rtf/latex  1 exported, 0 failed
//   get_format_string_opt   "ascii", "rtf", "latex" or null
//   get_format_string_lang  the format's catalogue name in root.language, or null
//   get_format_string       the name the save dialog shows (= _lang)
//   rtf_half_points         the RTF font size of each size class
#pragma once

#include <cstdio>

// The RTF font size of each size class in half points (\fs16 to \fs28: 8, 10,
// 12 and 14 point). The text view scales its font in the same steps.
constexpr int rtf_half_points[4] = {16, 20, 24, 28};

int ExportText(const char* path, FILE* stream);
int export_ascii(const char* path, FILE* stream);
int export_rtf(const char* path, FILE* stream);
int export_latex(const char* path, FILE* stream);

const char* get_format_string_opt(int format);
const char* get_format_string_lang(int format);
const char* get_format_string(int format);
