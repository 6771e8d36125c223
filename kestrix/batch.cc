// Batch mode: one download, its export on standard output, -erase, and the
// result on standard error.
#include "kestrix/batch.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "app/catalogue.h"
#include "app/terminal.h"
#include "pen/download.h"
#include "pen/protocol.h"
#include "pen/serial.h"
#include "state/state.h"
#include "text/export.h"

int erase_after_export = 0;
bool stdout_was_closed = false;

// The pen forgets its text on -erase, so the text must be able to land
// somewhere it stays: a regular file, which fsync() can put on disk. A pipe or
// a terminal could lose it after the pen is empty.
void check_erase_option() {
    if (!erase_after_export) return;
    const MessageText* problem = nullptr;
    struct stat st;
    if (!root.batch)
        problem = &terase_nobatch;
    else if (fstat(STDOUT_FILENO, &st) != 0 || !S_ISREG(st.st_mode))
        problem = &terase_nofile;
    if (!problem) return;
    std::fprintf(stderr, "%s\n", terminal_message(*problem).c_str());
    std::exit(1);
}

namespace {

// The signal that asked a batch run to end, 0 while none came.
volatile sig_atomic_t batch_signal = 0;

// The first SIGINT, SIGTERM or SIGHUP acts as Cancel: the download stops at
// its next look at the flag and the pen link ends through its own path
// (goodbye, settings back, lock released). A second one ends the program at
// once, giving the line its settings back first where that needs no wait.
void batch_signal_handler(int sig) {
    if (batch_signal != 0) {
        restore_line_and_raise(sig);
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
        if (!ignored_at_start(sig)) sigaction(sig, &sa, nullptr);
    }
}

// Ends the program the way the signal would have, so a shell sees it.
void end_by_signal(int sig) {
    restore_line_and_raise(sig);
    std::_Exit(128 + sig);  // only reached where the signal is blocked
}

// Batch progress on a terminal: the counts line, redrawn from the download's
// block hook at most every PROGRESS_MS, cleared when the download ends. Off
// when standard error is not a terminal, so scripts see nothing new.
constexpr auto PROGRESS_MS = std::chrono::milliseconds(200);
bool progress_on = false;
size_t progress_width = 0;
std::chrono::steady_clock::time_point progress_drawn;

void draw_batch_progress() {
    char line[COUNTS_SIZE];
    counts_line(line, sizeof line, root.text_length, root.scan_count);
    // A terminal that takes no more output ends the display, not the download.
    if (std::fprintf(stderr, "\r%s", terminal_text(line).c_str()) < 0) progress_on = false;
    // Blanked by characters: the ISO-8859-1 line has one byte for each.
    progress_width = std::max(progress_width, std::strlen(line));
    progress_drawn = std::chrono::steady_clock::now();
}

void batch_progress_tick() {
    if (progress_on && std::chrono::steady_clock::now() - progress_drawn >= PROGRESS_MS)
        draw_batch_progress();
}

void start_batch_progress() {
    if (!isatty(STDERR_FILENO)) return;
    progress_on = true;
    draw_batch_progress();
    download_block_hook = batch_progress_tick;
}

void end_batch_progress() {
    download_block_hook = nullptr;
    if (!progress_on) return;
    progress_on = false;
    // Blanks over the line rather than an erase sequence: any terminal.
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(progress_width), "");
}

// The export's failure with the system's reason; 0, as the run has failed.
int export_failed(int error) {
    std::fprintf(stderr, "%s: %s\n", terminal_message(texport_failed).c_str(),
                 std::strerror(error != 0 ? error : EIO));
    return 0;
}

// The text on standard output, flushed: a failure that shows only at the
// flush is still a failure. 1 written, 0 failed and reported.
int export_to_stdout() {
    if (stdout_was_closed) return export_failed(EBADF);
    errno = 0;
    if (!ExportText(nullptr, stdout)) return export_failed(errno);
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) return export_failed(errno);
    return 1;
}

// -erase after a complete export: the text is on disk before the pen forgets
// it. An empty pen is left alone. 1 done or nothing to do, 0 failed (an erase
// failure is reported as every pen result is).
int erase_after_batch_export() {
    if (root.text_length == 0) return 1;
    if (fsync(STDOUT_FILENO) != 0) return export_failed(errno);
    // A file removed after the shell opened it, or replaced by an editor's
    // save during the download, has no name left: the text would be gone
    // with the pen's.
    struct stat st;
    if (fstat(STDOUT_FILENO, &st) != 0) return export_failed(errno);
    if (st.st_nlink == 0) {
        std::fprintf(stderr, "%s\n", terminal_message(terase_unlinked).c_str());
        return 0;
    }
    const int r = clear_flash();
    if (r == PEN_OK) return 1;
    print_response(r);
    return 0;
}
}  // namespace

int transfer_batch() {
    catch_batch_signals();
    start_batch_progress();
    int r = read_text();
    end_batch_progress();
    // Nothing is written and nothing saved for a run asked to end.
    if (batch_signal != 0) end_by_signal(batch_signal);
    if (r == PEN_OK) {
        if (!export_to_stdout()) return 0;
        const int ok = erase_after_export ? erase_after_batch_export() : 1;
        // A signal during the erase, which is not cut short: it ends the run
        // once the pen has answered; the text is in the file already.
        if (batch_signal != 0) end_by_signal(batch_signal);
        return ok;
    }
    print_response(r);
    return 0;
}
