#include "state/state.h"

#include <cstring>

AppState root;
const char* const kx_version = "1.0";
const char* const language_codes[LANG_COUNT] = {"de", "en", "fr", "es", "it"};

void reset_pen_fields() {
    root.mode = 0;
    root.menu_language = 0;
    root.text_language = 0;
    root.target_language = 0;
    root.firmware_major = 0;
    root.firmware_minor = 0;
    root.memory_free = 0;
    root.battery_level = 0;
    root.config_read = 0;
}

int interface_language() {
    return root.language >= 0 && root.language < LANG_COUNT ? root.language : LANG_EN;
}

const char* text_language_code() {
    const bool pen = root.config_read && root.text_language >= 0 && root.text_language < LANG_COUNT;
    return language_codes[pen ? root.text_language : interface_language()];
}

void clear_root() {
    reset_pen_fields();
    root.language = 0;
    root.speed = 0;
    std::memset(root.device, 0, sizeof root.device);
    root.save_format = 0;
    std::memset(root.save_name, 0, sizeof root.save_name);
    root.main_window = nullptr;
    root.main_vbox = nullptr;
    root.menu_bar = nullptr;
    root.accel_group = nullptr;
    root.text_view = nullptr;
    root.text_capacity = 0;
    root.text_length = 0;
    root.scan_count = 0;
    root.unsaved = 0;
    root.text = nullptr;
    root.attributes = nullptr;
    root.batch = 0;
}

void copy_bounded(char* dst, const char* src, size_t max) {
    size_t n = 0;
    while (n < max && src[n] != '\0') {
        dst[n] = src[n];
        n++;
    }
    dst[n] = '\0';
}
