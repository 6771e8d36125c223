// Start-up and command line: the program's entry point.
//
// main() clears the state, sets up the text store, loads the preferences,
// applies the command line and then either runs the batch download (no
// display needed; the export goes to standard output) or builds the main
// window and runs the GTK main loop. It decides the exit status and when the
// preferences are written back.
//
// -list prints the serial devices found and ends. -erase (batch only, standard
// output a regular file) erases the pen once its text is safely in that file.
// Batch mode itself is kestrix/batch.h.
//
// Locale: LC_CTYPE is taken from the environment first thing, and only it, so
// that messages reach a UTF-8 terminal as UTF-8 (app/terminal.h) while the
// options and the preferences file are read with the C locale's rules for
// numbers. Window mode sets the whole locale before gtk_init
// (ui/toolkit_locale.h); nothing after that reads or writes a number with the
// locale's rules (the PC configuration's speeds are integers: atol and "%d").
#include <fcntl.h>
#include <getopt.h>
#include <gtk/gtk.h>
#include <locale.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/catalogue.h"
#include "app/prefs.h"
#include "app/terminal.h"
#include "kestrix/batch.h"
#include "pen/devices.h"
#include "pen/serial.h"
#include "state/state.h"
#include "text/export.h"
#include "text/store.h"
#include "ui/application.h"
#include "ui/main_window.h"
#include "ui/pc_config.h"
#include "ui/quit.h"
#include "ui/toolkit_locale.h"

namespace {

enum {
    OPT_HELP = 0,
    OPT_BATCH = 1,
    OPT_DEVICE = 2,
    OPT_SPEED = 3,
    OPT_FORMAT = 4,
    OPT_LIST = 5,
    OPT_ERASE = 6,
    OPT_VERSION = 7,
};

// Only long options: with getopt_long_only they may be written with one dash
// or two and shortened to any unambiguous prefix.
const struct option options[] = {
    {"h", no_argument, nullptr, OPT_HELP},
    {"help", no_argument, nullptr, OPT_HELP},
    {"batch", no_argument, nullptr, OPT_BATCH},
    {"d", required_argument, nullptr, OPT_DEVICE},
    {"device", required_argument, nullptr, OPT_DEVICE},
    {"s", required_argument, nullptr, OPT_SPEED},
    {"speed", required_argument, nullptr, OPT_SPEED},
    {"f", required_argument, nullptr, OPT_FORMAT},
    {"format", required_argument, nullptr, OPT_FORMAT},
    {"list", no_argument, nullptr, OPT_LIST},
    {"erase", no_argument, nullptr, OPT_ERASE},
    {"version", no_argument, nullptr, OPT_VERSION},
    {nullptr, 0, nullptr, 0},
};

void print_usage(FILE* out) {
    std::fprintf(out, "%s\n", terminal_message(tusage1).c_str());
    std::fprintf(out, "  -h, -help:            %s\n", terminal_message(tusage2).c_str());
    std::fprintf(out, "  -batch:               %s\n", terminal_message(tusage3).c_str());
    std::fprintf(out, "  -d, -device <device>: %s\n", terminal_message(tusage4).c_str());
    std::fprintf(out, "  -s, -speed <speed>:   %s\n", terminal_message(tusage5).c_str());
    std::fprintf(out, "  -f, -format <format>: %s\n", terminal_message(tusage6).c_str());
    std::fprintf(out, "  -list:                %s\n", terminal_message(tusage7).c_str());
    std::fprintf(out, "  -erase:               %s\n", terminal_message(tusage8).c_str());
    std::fprintf(out, "  -version:             %s\n", terminal_message(tusage9).c_str());
}

// -list: one line per device found, in the order of the PC configuration
// dialog. An empty list is no failure; a failed write is. Paths and udev's
// descriptions are the system's bytes (UTF-8 or ASCII as a rule) and are
// written as they are.
[[noreturn]] void list_devices() {
    std::vector<SerialDevice> found;
    device_source.find(&found);
    for (const SerialDevice& d : found)
        std::fprintf(stdout, "%s\t%s\n", d.path.c_str(), d.description.c_str());
    const bool written = std::fflush(stdout) == 0 && !std::ferror(stdout);
    std::exit(written ? 0 : 1);
}

void set_speed_option(const char* arg) {
    const int row = speed_index(static_cast<double>(std::atol(arg)));
    if (row >= 0) {
        root.speed = get_speed(row);
        return;
    }
    // The word is the terminal's own bytes: written as it came.
    std::fprintf(stderr, "%s: %s", terminal_message(twrongspeed).c_str(), arg);
    std::exit(1);
}

// A longer name is refused rather than cut: the cut name would be some other
// device, which -erase would then erase and the settings file keep.
void set_device_option(const char* arg) {
    if (std::strlen(arg) > static_cast<size_t>(DEVICE_MAX)) {
        std::fprintf(stderr, "%s: %s\n", terminal_message(tdevice_toolong).c_str(), arg);
        std::exit(1);
    }
    copy_bounded(root.device, arg, DEVICE_MAX);
}

void set_format_option(const char* arg) {
    const int format = format_from_name(arg);
    if (format >= 0) {
        root.save_format = format;
        return;
    }
    std::fprintf(stderr, "%s: %s", terminal_message(twrongformat).c_str(), arg);
    std::exit(1);
}

void parse_command_line(int argc, char** argv) {
    int c;
    while ((c = getopt_long_only(argc, argv, "", options, nullptr)) != -1) {
        switch (c) {
            case OPT_HELP:
                print_usage(stdout);
                std::exit(0);
            case OPT_BATCH:
                root.batch = 1;
                break;
            case OPT_DEVICE:
                set_device_option(optarg);
                break;
            case OPT_SPEED:
                set_speed_option(optarg);
                break;
            case OPT_FORMAT:
                set_format_option(optarg);
                break;
            case OPT_LIST:
                list_devices();
            case OPT_ERASE:
                erase_after_export = 1;
                break;
            case OPT_VERSION:
                std::printf("kestrix %s\n", kx_version);
                std::exit(std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1);
            default: {
                // The rejected word stands just before the parser's next index.
                int bad = optind - 1;
                if (bad < 1) bad = 1;
                if (bad >= argc) bad = argc - 1;
                std::fprintf(stderr, "%s: %s\n", terminal_message(toption).c_str(), argv[bad]);
                print_usage(stderr);
                std::exit(1);
            }
        }
    }
}

// First start: with exactly one USB serial adapter present, it is the
// default device rather than a built-in port the pen is seldom on.
void first_start_device() {
    std::vector<SerialDevice> found;
    device_source.find(&found);
    const int only = only_usb_adapter(found);
    if (only >= 0) copy_bounded(root.device, found[only].path.c_str(), DEVICE_MAX);
}

// Descriptors 0, 1 and 2 that were closed at start: they are opened on the
// null device, so that the serial line or the display connection never gets
// one of them and debug output or messages never reach the pen. Standard
// output closed this way still takes no export.
void open_closed_standard_descriptors() {
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        if (fd == STDOUT_FILENO) stdout_was_closed = true;
        const int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        // open() takes the lowest free number, which is this one.
        if (null != fd && null >= 0) close(null);
    }
}

}  // namespace

int main(int argc, char** argv) {
    open_closed_standard_descriptors();
    setlocale(LC_CTYPE, "");
    clear_root();
    setup_data();
    SetDefaultPreferences();
    int have_preferences = ReadPreferences();
    if (!have_preferences) first_start_device();
    parse_command_line(argc, argv);
    check_erase_option();

    if (root.batch) {
        if (!transfer_batch()) return 1;
        SavePreferences();
        return 0;
    }

    start_toolkit_locale(root.language);
    // The window class, and the name the desktop matches with its entry.
    g_set_prgname(APPLICATION_ID);
    gtk_init(&argc, &argv);
    // A second start presents the running window; it opens no line of its own.
    if (!start_application(argc > 1)) return 0;
    OpenMainWindow();
    add_application_window(root.main_window);
    watch_quit_signals();
    tell_kept_text();
    if (!have_preferences) ConfigurePC();
    gtk_main();
    SavePreferences();
    return 0;
}
