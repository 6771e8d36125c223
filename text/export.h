// Export formats: a text written out as ISO-8859-1 text, RTF, LaTeX or UTF-8
// text.
//
// Principles of operation: `write_export` is the exporter. It takes the
// characters, their attribute bytes, their count and the format, and writes
// either to the named file (opened "w", closed at the end) or to a stream the
// caller passed (flushed, left open); it reads no program state. RTF and LaTeX
// turn the size class of each character (bits 0-1 of its attribute) into
// font-size commands and escape their special characters. UTF-8 text is the
// ISO-8859-1 text converted, character for character. A failed write,
// flush or close is a failure; nothing is printed.
//
// `ExportText`, which the rest of the program calls, exports the text store of
// `root`: it remembers a path in `save_name`, exports in `root.save_format`
// and on success clears `root.unsaved`.
//
//   write_export            1 written, 0 failed or unknown format
//   ExportText              1 exported, 0 failed; path copied into save_name first
//   export_ascii/rtf/latex  as ExportText in that format, save_name untouched
//   get_format_string_opt   "ascii", "rtf", "latex", "utf8" or null
//   format_from_name        FORMAT_* whose name `name` begins with (any letter
//                           case), -1 for none
// The formats' names for people are the save dialog's (ui/save_dialog.h).
//   rtf_half_points         the RTF font size of each size class
#pragma once

#include <cstdio>

// `length` characters of `text`, each with its byte of `attributes`, in
// `format` (FORMAT_*). `stream`, when given, is used rather than `path`.
int write_export(const char* path, FILE* stream, int format, const char* text,
                 const unsigned char* attributes, int length);

// The RTF font size of each size class in half points (\fs16 to \fs28: 8, 10,
// 12 and 14 point). The text view scales its font in the same steps.
constexpr int rtf_half_points[4] = {16, 20, 24, 28};

int ExportText(const char* path, FILE* stream);
int export_ascii(const char* path, FILE* stream);
int export_rtf(const char* path, FILE* stream);
int export_latex(const char* path, FILE* stream);

const char* get_format_string_opt(int format);
int format_from_name(const char* name);
