// Preferences file: defaults, reading $HOME/.kxrc at start-up, writing it back.
//
// Reading goes piece by piece as fgets delivers them (at most 159 bytes); each
// piece is a line of its own for the parser and the line counter. A piece is
// taken as a C string, so a NUL byte ends it early and nothing past it is read.
//
// Saving builds the whole file in memory and hands it to
// g_file_set_contents_full, which writes a temporary file beside the target
// and renames it over the target: the old file stays whole when anything
// fails. A symbolic link is followed to the file it names, so the link stays.
//
// Messages quote values and lines of the file, ISO-8859-1 like the catalogue,
// through terminal_text; paths are the system's bytes and are written as they
// are.
#include "app/prefs.h"

#include <fcntl.h>
#include <glib.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "app/catalogue.h"
#include "app/terminal.h"
#include "pen/serial.h"
#include "state/state.h"
#include "text/export.h"

const char* const p_language = "Language:";
const char* const p_speed = "Speed:";
const char* const p_device = "Device:";
const char* const p_saveform = "Save as:";
const char* const p_savename = "Filename:";

namespace {

constexpr int LINE_SIZE = 160;      // fgets buffer: pieces of at most 159 bytes
constexpr long READ_MAX = 1 << 20;  // bytes read at most: five settings need far less
constexpr int MAX_LINK_HOPS = 40;   // as the kernel's own limit for a path

// A path the file may be read from or written to: never empty, never longer
// than the buffer the file's name has always had room for.
bool usable_path(const char* path) {
    const size_t n = std::strlen(path);
    return n > 0 && n <= static_cast<size_t>(PREFS_PATH_MAX);
}

// "Error in line N: <problem>: <value>"; the value carries the line end read
// from the file, if any.
void report_value(long line, const MessageText& problem, const char* value) {
    std::fprintf(stderr, "%s %ld: %s: %s", terminal_message(terrorline).c_str(), line,
                 terminal_message(problem).c_str(), terminal_text(value).c_str());
}

bool starts_with(const char* line, const char* keyword) {
    return std::strncmp(line, keyword, std::strlen(keyword)) == 0;
}

const char* skip_blanks(const char* s) {
    while (*s == ' ' || *s == '\t') s++;
    return s;
}

// The first word of `value` (separated by line feed, tab or blank) into `dst`,
// at most `max` characters; nothing changes when there is no word.
void read_word(const char* value, char* dst, size_t max) {
    value += std::strspn(value, "\n\t ");
    size_t n = std::strcspn(value, "\n\t ");
    if (n == 0) return;
    if (n > max) n = max;
    std::memcpy(dst, value, n);
    dst[n] = '\0';
}

void read_language(const char* value, long line) {
    value = skip_blanks(value);
    for (int i = 0; i < LANG_COUNT; i++) {
        const char* name = tlanguages[i];
        if (g_ascii_strncasecmp(value, name, std::strlen(name)) == 0) {
            root.language = i;
            return;
        }
    }
    report_value(line, twronglang, value);
}

void read_speed(const char* value, long line) {
    // A single-precision float, so "38400.0" and "38400 baud" are 38400.
    const int row = speed_index(static_cast<float>(g_ascii_strtod(value, nullptr)));
    if (row >= 0) {
        root.speed = get_speed(row);
        return;
    }
    report_value(line, twrongspeed, value);
}

void read_format(const char* value, long line) {
    value = skip_blanks(value);
    const int format = format_from_name(value);
    if (format >= 0) {
        root.save_format = format;
        return;
    }
    report_value(line, twrongformat, value);
}

// A device name longer than the field is an error, not cut: the cut name
// would be some other device.
void read_device(const char* value, long line) {
    const char* word = value + std::strspn(value, "\n\t ");
    if (std::strcspn(word, "\n\t ") > static_cast<size_t>(DEVICE_MAX)) {
        report_value(line, tdevice_toolong, value);
        return;
    }
    read_word(value, root.device, DEVICE_MAX);
}

// A carriage return before the line feed (or at the end of the file) belongs
// to the line end, as files written on other systems have it.
void strip_carriage_return(char* line) {
    const size_t n = std::strlen(line);
    if (n >= 2 && line[n - 2] == '\r' && line[n - 1] == '\n') {
        line[n - 2] = '\n';
        line[n - 1] = '\0';
    } else if (n >= 1 && line[n - 1] == '\r') {
        line[n - 1] = '\0';
    }
}

void read_line(char* line, long number) {
    strip_carriage_return(line);
    if (line[0] == ';' || line[0] == '\n') return;
    const char* colon = std::strchr(line, ':');
    if (!colon) {
        std::fprintf(stderr, "%s %ld: %s\n", terminal_message(terrorline).c_str(), number,
                     terminal_message(tnocolumn).c_str());
        return;
    }
    const char* value = colon + 1;
    if (starts_with(line, p_language)) {
        read_language(value, number);
    } else if (starts_with(line, p_speed)) {
        read_speed(value, number);
    } else if (starts_with(line, p_device)) {
        read_device(value, number);
    } else if (starts_with(line, p_savename)) {
        read_word(value, root.save_name, SAVE_NAME_MAX);
    } else if (starts_with(line, p_saveform)) {
        read_format(value, number);
    } else {
        std::fprintf(stderr, "%s %ld: %s:\n  %s", terminal_message(terrorline).c_str(), number,
                     terminal_message(twrongkeyword).c_str(), terminal_text(line).c_str());
    }
}

// Opens the file for reading. Only a regular file is read: a directory, pipe,
// socket or device (a link to /dev/zero would never end) is not a settings
// file; the open does not wait for a writer when the name is a pipe.
FILE* open_for_reading(const char* path) {
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return nullptr;
    }
    FILE* file = fdopen(fd, "r");
    if (!file) close(fd);
    return file;
}

// The file a chain of symbolic links starting at `path` ends at (or `path`
// itself); relative targets count from the folder of the link. Null when a
// link cannot be read or the chain does not end.
char* follow_links(const char* path) {
    g_autofree char* current = g_strdup(path);
    for (int hop = 0; hop < MAX_LINK_HOPS; hop++) {
        struct stat st;
        if (lstat(current, &st) != 0 || !S_ISLNK(st.st_mode)) return g_steal_pointer(&current);
        g_autofree char* target = g_file_read_link(current, nullptr);
        if (!target) break;
        g_autofree char* dir = g_path_get_dirname(current);
        char* next = g_path_is_absolute(target) ? g_steal_pointer(&target)
                                                : g_build_filename(dir, target, nullptr);
        g_free(current);
        current = next;
    }
    return nullptr;
}

// Writes straight into a character device (a link to /dev/null, say): it
// cannot be replaced, and renaming a file over it would destroy the device.
bool write_in_place(const char* file, const char* contents, size_t length) {
    const int fd = open(file, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < length) {
        const ssize_t n = write(fd, contents + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    const bool closed = close(fd) == 0;
    return done == length && closed;
}

bool replace_file(const char* file, const char* contents, size_t length) {
    struct stat st;
    const bool exists = stat(file, &st) == 0;
    int mode = 0666;  // reduced by the umask when the file is created
    if (exists) {
        if (S_ISCHR(st.st_mode)) return write_in_place(file, contents, length);
        if (!S_ISREG(st.st_mode)) return false;
        // Renaming over the file would ignore its own write permission: a
        // file the user made read-only stays as it is.
        if (access(file, W_OK) != 0) return false;
        mode = static_cast<int>(st.st_mode & 0777);
    }
    if (!g_file_set_contents_full(file, contents, static_cast<gssize>(length),
                                  G_FILE_SET_CONTENTS_CONSISTENT, mode, nullptr))
        return false;
    // The new file was created under the umask; give it the old file's mode
    // back. The umask only ever takes permissions away, so nothing was exposed.
    struct stat now;
    if (exists && stat(file, &now) == 0 && static_cast<int>(now.st_mode & 0777) != mode)
        chmod(file, static_cast<mode_t>(mode));
    return true;
}

// How much of `value` (at most `max` characters) is written: a value never
// adds a line, so it ends at its first line feed or carriage return, as the
// reader would have ended it.
int line_part(const char* value, size_t max) {
    size_t n = std::strcspn(value, "\r\n");
    return static_cast<int>(n < max ? n : max);
}

bool write_preferences(const char* path) {
    const char* format = get_format_string_opt(root.save_format);
    g_autofree char* contents = g_strdup_printf(
        "%s %s\n%s %d\n%s %.*s\n%s %s\n%s %.*s\n", p_language, tlanguages[interface_language()],
        p_speed, root.speed, p_device, line_part(root.device, DEVICE_MAX), root.device, p_saveform,
        format ? format : get_format_string_opt(FORMAT_ASCII), p_savename,
        line_part(root.save_name, SAVE_NAME_MAX), root.save_name);
    g_autofree char* file = follow_links(path);
    return file && replace_file(file, contents, std::strlen(contents));
}

}  // namespace

void SetDefaultPreferences() {
    root.language = LANG_EN;
    root.speed = 38400;
    copy_bounded(root.device, "/dev/ttyS1", DEVICE_MAX);
    reset_pen_fields();
}

int ReadPreferences() {
    g_autofree char* path = preferences_path();
    FILE* file = usable_path(path) ? open_for_reading(path) : nullptr;
    if (!file) {
        // No settings: the desktop's language, in which this message is written too.
        root.language = desktop_language();
        std::fprintf(stderr, "%s %s\n%s\n", terminal_message(tnopreffile1).c_str(), path,
                     terminal_message(tnopreffile2).c_str());
        return 0;
    }
    char line[LINE_SIZE];
    long number = 0;
    while (std::fgets(line, sizeof line, file)) {
        if (std::ftell(file) > READ_MAX) {
            std::fprintf(stderr, "%s: %s\n", terminal_message(tpreftoolarge).c_str(), path);
            break;
        }
        number++;
        read_line(line, number);
    }
    std::fclose(file);
    return 1;
}

void SavePreferences() {
    g_autofree char* path = preferences_path();
    if (!usable_path(path) || !write_preferences(path))
        std::fprintf(stderr, "%s: %s\n", terminal_message(tprefsaveerr).c_str(), path);
}

int desktop_language() {
    // As gettext does: with LC_ALL, LC_MESSAGES or LANG naming the C locale
    // (or none set), LANGUAGE is not asked and the messages are English.
    const char* locale = nullptr;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        locale = g_getenv(name);
        if (locale && locale[0] != '\0') break;
        locale = nullptr;
    }
    if (!locale || std::strcmp(locale, "C") == 0 || std::strcmp(locale, "POSIX") == 0)
        return LANG_EN;
    // The list holds every entry of LANGUAGE (or the locale's name) followed
    // by its shorter forms: "de_AT.UTF-8", "de_AT", "de.UTF-8", "de".
    for (const gchar* const* name = g_get_language_names(); *name; name++) {
        for (int i = 0; i < LANG_COUNT; i++)
            if (std::strcmp(*name, language_codes[i]) == 0) return i;
    }
    return LANG_EN;
}

char* preferences_path() {
    // An empty HOME names no folder; "/.kxrc" would land in the root folder.
    const char* home = std::getenv("HOME");
    if (!home || home[0] == '\0') {
        const struct passwd* pw = getpwuid(getuid());
        home = pw && pw->pw_dir ? pw->pw_dir : "";
    }
    if (home[0] == '\0') return g_strdup("");
    return g_strconcat(home, "/.kxrc", nullptr);
}
