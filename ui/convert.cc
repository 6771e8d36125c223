// Placeholder.
#include "ui/convert.h"
#include <glib.h>
char* to_utf8(const char* s) { return g_strdup(s); }
char* from_utf8(const char* s) { return g_strdup(s); }
