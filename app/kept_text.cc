#include "app/kept_text.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "state/state.h"
#include "text/export.h"

namespace {

constexpr int NAME_TRIES = 100;

char* state_folder() {
    return g_build_filename(g_get_user_state_dir(), "kestrix", nullptr);
}

char* notice_path() {
    g_autofree char* folder = state_folder();
    return g_build_filename(folder, "last-unsaved", nullptr);
}

// A name no earlier file has: two ends within one second keep both texts.
char* new_file_name(const char* folder) {
    const time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y-%m-%d-%H%M%S", &local);
    for (int i = 0; i < NAME_TRIES; i++) {
        g_autofree char* name = i == 0 ? g_strdup_printf("unsaved-%s.rtf", stamp)
                                       : g_strdup_printf("unsaved-%s-%d.rtf", stamp, i);
        char* path = g_build_filename(folder, name, nullptr);
        if (!g_file_test(path, G_FILE_TEST_EXISTS)) return path;
        g_free(path);
    }
    return nullptr;
}

// The store as RTF in memory; false when the exporter failed.
bool rtf_of_store(char** data, size_t* size) {
    FILE* stream = open_memstream(data, size);
    if (!stream) return false;
    const int ok = write_export(nullptr, stream, FORMAT_RTF, root.text, root.attributes,
                                root.text_length.load());
    const bool closed = std::fclose(stream) == 0;
    if (ok && closed) return true;
    std::free(*data);
    *data = nullptr;
    return false;
}

bool write_private(const char* path, const char* data, size_t size) {
    return g_file_set_contents_full(path, data, static_cast<gssize>(size),
                                    G_FILE_SET_CONTENTS_CONSISTENT, 0600, nullptr);
}

}  // namespace

char* keep_unsaved_text() {
    if (!root.unsaved || !root.text || root.text_length.load() <= 0) return nullptr;
    g_autofree char* folder = state_folder();
    if (g_mkdir_with_parents(folder, 0700) != 0) return nullptr;
    char* path = new_file_name(folder);
    if (!path) return nullptr;
    char* data = nullptr;
    size_t size = 0;
    const bool written = rtf_of_store(&data, &size) && write_private(path, data, size);
    std::free(data);
    if (!written) {
        g_free(path);
        return nullptr;
    }
    g_autofree char* notice = notice_path();
    write_private(notice, path, std::strlen(path));
    return path;
}

char* take_kept_notice() {
    g_autofree char* notice = notice_path();
    char* path = nullptr;
    if (!g_file_get_contents(notice, &path, nullptr, nullptr)) return nullptr;
    g_unlink(notice);
    if (path[0] != '\0' && g_file_test(path, G_FILE_TEST_IS_REGULAR)) return path;
    g_free(path);
    return nullptr;
}
