// Text conversion at the toolkit's edge. The program's texts are ISO-8859-1;
// GTK 3 takes only UTF-8. Every text handed to a widget passes `to_utf8`, every
// text read back from a widget into the state passes `from_utf8` (paths read
// from the file chooser use g_filename_from_utf8 instead). Nowhere else is text
// converted for the toolkit; messages for a terminal have their own edge
// (app/terminal.h).
//
//   to_utf8    newly allocated (g_free) UTF-8 copy of an ISO-8859-1 text
//   from_utf8  newly allocated (g_free) ISO-8859-1 copy of a UTF-8 text;
//              characters ISO-8859-1 lacks become '?'
#pragma once

char* to_utf8(const char* latin1);
char* from_utf8(const char* utf8);
