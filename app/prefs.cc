// Placeholder until the preferences file is written.
#include "app/prefs.h"
#include <glib.h>
#include <cstring>
#include "app/state.h"
const char* const p_language = "Language:";
const char* const p_speed = "Speed:";
const char* const p_device = "Device:";
const char* const p_saveform = "Save as:";
const char* const p_savename = "Filename:";
void SetDefaultPreferences() { root.language = 1; root.speed = 38400; copy_bounded(root.device, "/dev/ttyS1", DEVICE_MAX); }
int ReadPreferences() { return 1; }
void SavePreferences() {}
char* preferences_path() { return g_strdup(""); }
