// Start-up and command line: the program's entry point.
//
// main() clears the state, sets up the text store, loads the preferences,
// applies the command line and then either runs the batch download (no
// display needed; the export goes to standard output) or builds the main
// window and runs the GTK main loop. It decides the exit status and when the
// preferences are written back.
#include <getopt.h>
#include <gtk/gtk.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "app/catalogue.h"
#include "app/prefs.h"
#include "app/state.h"
#include "pen/download.h"
#include "pen/protocol.h"
#include "pen/serial.h"
#include "text/export.h"
#include "text/store.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "ui/pc_config.h"

namespace {

enum { OPT_HELP = 0, OPT_BATCH = 1, OPT_DEVICE = 2, OPT_SPEED = 3, OPT_FORMAT = 4 };

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
    {nullptr, 0, nullptr, 0},
};

void print_usage(FILE* out) {
    const int l = root.language;
    std::fprintf(out, "%s\n", tusage1[l]);
    std::fprintf(out, "  -h, -help:            %s\n", tusage2[l]);
    std::fprintf(out, "  -batch:               %s\n", tusage3[l]);
    std::fprintf(out, "  -d, -device <device>: %s\n", tusage4[l]);
    std::fprintf(out, "  -s, -speed <speed>:   %s\n", tusage5[l]);
    std::fprintf(out, "  -f, -format <format>: %s\n", tusage6[l]);
}

void set_speed_option(const char* arg) {
    long rate = std::atol(arg);
    for (int i = 0; i < SPEED_COUNT; i++) {
        if (rate == get_speed(i)) {
            root.speed = static_cast<int>(rate);
            return;
        }
    }
    std::fprintf(stderr, "%s: %s", twrongspeed[root.language], arg);
    std::exit(1);
}

void set_format_option(const char* arg) {
    for (int i = 0; i < FORMAT_COUNT; i++) {
        const char* name = get_format_string_opt(i);
        if (strncasecmp(arg, name, std::strlen(name)) == 0) {
            root.save_format = i;
            return;
        }
    }
    std::fprintf(stderr, "%s: %s", twrongformat[root.language], arg);
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
                copy_bounded(root.device, optarg, DEVICE_MAX);
                break;
            case OPT_SPEED:
                set_speed_option(optarg);
                break;
            case OPT_FORMAT:
                set_format_option(optarg);
                break;
            default: {
                // The rejected word stands just before the parser's next index.
                int bad = optind - 1;
                if (bad < 1) bad = 1;
                if (bad >= argc) bad = argc - 1;
                std::fprintf(stderr, "%s: %s\n", toption[root.language], argv[bad]);
                print_usage(stderr);
                std::exit(1);
            }
        }
    }
}

// The signal that asked a batch run to end, 0 while none came.
volatile sig_atomic_t batch_signal = 0;

// The first SIGINT, SIGTERM or SIGHUP acts as Cancel: the download stops at
// its next look at the flag and the pen link ends through its own path
// (goodbye, settings back, lock released). A second one ends the program at
// once, giving the line its settings back first where that needs no wait.
void batch_signal_handler(int sig) {
    if (batch_signal != 0) {
        restore_line_now();
        signal(sig, SIG_DFL);
        raise(sig);
        return;
    }
    batch_signal = sig;
    kxinterface_quit = 1;
}

void catch_batch_signals() {
    struct sigaction sa;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: the waits see EINTR and look at the flag
    sa.sa_handler = batch_signal_handler;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal the run was started to ignore (nohup, a background job)
        // stays ignored.
        struct sigaction old;
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(sig, &sa, nullptr);
    }
}

// Ends the program the way the signal would have, so a shell sees it.
void end_by_signal(int sig) {
    signal(sig, SIG_DFL);
    raise(sig);
    std::_Exit(128 + sig);  // only reached where the signal is blocked
}

}  // namespace

int transfer_batch() {
    catch_batch_signals();
    int r = read_text();
    // Nothing is written and nothing saved for a run asked to end.
    if (batch_signal != 0) end_by_signal(batch_signal);
    if (r == PEN_OK) {
        if (!ExportText(nullptr, stdout)) return 0;
        // A failure that shows only at the flush is still a failure.
        return std::fflush(stdout) == 0 && !std::ferror(stdout);
    }
    show_response_and_wait(r);
    return 0;
}

int main(int argc, char** argv) {
    clear_root();
    setup_data();
    SetDefaultPreferences();
    int have_preferences = ReadPreferences();
    parse_command_line(argc, argv);

    if (root.batch) {
        if (!transfer_batch()) return 1;
        SavePreferences();
        return 0;
    }

    gtk_init(&argc, &argv);
    OpenMainWindow();
    watch_quit_signals();
    if (!have_preferences) ConfigurePC();
    gtk_main();
    SavePreferences();
    return 0;
}
