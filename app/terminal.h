// Messages for a person on standard output and standard error, in the
// terminal's character set.
//
// Principles of operation: the catalogue's texts, and the values quoted from
// the preferences file, are ISO-8859-1. main() sets LC_CTYPE from the
// environment before anything is written; when that locale's character set
// (nl_langinfo(CODESET)) is UTF-8, `terminal_text` gives a text converted to
// UTF-8, in any other locale (the C locale included) the bytes unchanged, as
// they were always written. Only ISO-8859-1 texts pass through here: bytes that
// came from the system (paths, command-line words, device descriptions from
// udev) are already in the terminal's character set and are written as they
// are, and export data on standard output are never converted.
//
//   terminal_is_utf8  true when the locale's character set is UTF-8
//   terminal_text     an ISO-8859-1 text as the terminal takes it
//   terminal_message  a catalogue row in the interface language, likewise
//
// Reports that the terminal shares with the window:
//   counts_line       "N Characters / M Scans" in the interface language
//                     (ISO-8859-1, for the progress dialog and the batch line)
//   response_rows     the catalogue rows that report a pen result code
//   cause_row         the row naming why the line failed, or null
//   print_response    those rows on standard error, one a line, then the
//                     device and the cause when one is known
#pragma once

#include <cstddef>
#include <string>

#include "app/catalogue.h"

bool terminal_is_utf8();

// `latin1` (null counts as empty) converted to UTF-8 when the terminal takes
// UTF-8, else its bytes as they are. Meant as an argument of one fprintf:
// terminal_text(row[l]).c_str().
std::string terminal_text(const char* latin1);

// `row` in root.language (English while that is out of range), as
// terminal_text gives it.
std::string terminal_message(const MessageText& row);

// The counts line in the interface language, cut to fit `size` (COUNTS_SIZE
// holds every language's line).
constexpr size_t COUNTS_SIZE = 100;
void counts_line(char* buffer, size_t size, int chars, int scans);

// Fills `rows` with up to three catalogue rows for a pen result code and
// returns their count (0 for PEN_OK and every code without a message).
int response_rows(int code, const MessageText* rows[3]);
// For a code that reports a failed line (serial access, connection, transfer):
// the row for the cause pen/serial.h's line_cause recorded in that exchange,
// shown after the code's rows as "<device>: <cause>" with root.device; null
// for other codes and when the system gave no cause.
const MessageText* cause_row(int code);
void print_response(int code);
