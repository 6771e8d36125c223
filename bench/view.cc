// Main-window benchmark (needs a display: run it under xvfb-run).
//
// 1. The time to reload the text view from stores of 100 KB and 1 MB of text
//    whose size class changes every few words: the reload call itself, the
//    time until the whole text is in the view (the reload inserts it in
//    steps), the time until GTK has laid it out and is idle again, and the
//    longest stall of the main loop meanwhile (the longest gap between ticks
//    of a 5 ms timer of high priority). Then 1 MB in one size class: what
//    GTK's layout of the text costs by itself.
// 2. Editing 1 MB of mixed sizes: a key typed at the start of the text (each
//    moves the whole store), Replace All of a word found some 10,000 times,
//    and the undo of that Replace All.
// 3. The main thread's CPU use while a paced download of about 30 s from
//    kestrix-pensim runs under the progress dialog (TransferKX_PC): the tick,
//    the animation and the counts line must leave the thread nearly idle.
#include <fcntl.h>
#include <gtk/gtk.h>
#include <gtksourceview/gtksource.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pen/download.h"
#include "state/state.h"
#include "text/store.h"
#include "ui/edit.h"
#include "ui/main_window.h"
#include "ui/progress.h"
#include "ui/text_view.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double thread_cpu_seconds() {
    struct rusage usage;
    if (getrusage(RUSAGE_THREAD, &usage) != 0) return 0;
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Lines of 60 plain characters (no braces: the simulator's markup).
std::string make_text(size_t bytes) {
    static const char words[] =
        "The quick brown fox jumps over the lazy dog. Gr\374\337e aus K\366ln, "
        "ca\361\363n, c\364te; 0123456789. ";
    std::string text;
    size_t w = 0;
    while (text.size() < bytes) {
        for (int i = 0; i < 60; i++) text += words[w++ % (sizeof words - 1)];
        text += '\n';
    }
    return text;
}

// The size class of every character: mostly normal, changing after a blank
// every one to eight words, as a pen that scans headings, captions and
// footnotes among the body text would report.
std::vector<unsigned char> mixed_sizes(const std::string& text) {
    static const unsigned char classes[] = {1, 2, 1, 0, 1, 3, 1, 1, 2, 0};
    std::vector<unsigned char> sizes(text.size());
    unsigned seed = 12345;
    size_t run = 0, words_left = 1;
    for (size_t i = 0; i < text.size(); i++) {
        sizes[i] = classes[run % sizeof classes];
        if (text[i] == ' ' && --words_left == 0) {
            seed = seed * 1103515245 + 12345;
            words_left = 1 + (seed >> 16) % 8;
            run++;
        }
    }
    return sizes;
}

void fill_store(const std::string& text, const std::vector<unsigned char>& sizes) {
    setup_data();
    std::vector<unsigned char> pairs;
    for (size_t at = 0; at < text.size(); at += BLOCK_MAX_PAIRS) {
        pairs.clear();
        for (size_t i = at; i < text.size() && i < at + BLOCK_MAX_PAIRS; i++) {
            pairs.push_back(static_cast<unsigned char>(text[i]));
            pairs.push_back(sizes.empty() ? 1 : sizes[i]);
        }
        if (!store_block(pairs.data(), static_cast<int>(pairs.size() / 2))) {
            std::fprintf(stderr, "bench_view: the store could not grow\n");
            std::exit(1);
        }
    }
}

void run_until_idle() {
    while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
}

// The longest gap between two ticks of a 5 ms timer that outranks every
// source of GTK: how long the main loop was kept from answering.
struct StallMeter {
    Clock::time_point last = Clock::now();
    double longest = 0;
    guint id = 0;

    static gboolean tick(gpointer data) {
        static_cast<StallMeter*>(data)->mark();
        return G_SOURCE_CONTINUE;
    }
    void mark() {
        const auto now = Clock::now();
        longest = std::max(longest, std::chrono::duration<double>(now - last).count());
        last = now;
    }
    void start() {
        last = Clock::now();
        longest = 0;
        id = g_timeout_add_full(G_PRIORITY_HIGH, 5, tick, this, nullptr);
    }
    // The gap up to now counts as well: the last stall may not have ended in
    // a tick yet.
    double stop() {
        mark();
        g_source_remove(id);
        return longest;
    }
};

void bench_reload(size_t bytes, const char* name, bool mixed = true) {
    const std::string text = make_text(bytes);
    fill_store(text, mixed ? mixed_sizes(text) : std::vector<unsigned char>());
    constexpr int ROUNDS = 5;
    double call = 0, all_in = 0, settled = 0, stall = 0;
    StallMeter meter;
    for (int i = 0; i < ROUNDS; i++) {
        meter.start();
        const auto start = Clock::now();
        reload_text_view();
        call += seconds_since(start);
        // The rest of the text goes in from an idle source; then GTK lays it out.
        GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(root.text_view));
        bool in = false;
        while (g_main_context_pending(nullptr)) {
            g_main_context_iteration(nullptr, FALSE);
            if (!in && gtk_text_buffer_get_char_count(buffer) >= root.text_length.load()) {
                in = true;
                all_in += seconds_since(start);
            }
        }
        settled += seconds_since(start);
        stall = std::max(stall, meter.stop());
    }
    std::printf(
        "reload %-6s  call %7.2f ms   all text in %7.2f ms   until idle %8.2f ms   (mean of %d)   "
        "longest stall %.0f ms\n",
        name, 1000 * call / ROUNDS, 1000 * all_in / ROUNDS, 1000 * settled / ROUNDS, ROUNDS,
        1000 * stall);
}

void bench_edits() {
    const std::string text = make_text(1024 * 1024);
    fill_store(text, mixed_sizes(text));
    reload_text_view();
    run_until_idle();
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(root.text_view));
    GtkTextIter at;
    gtk_text_buffer_get_start_iter(buffer, &at);
    gtk_text_buffer_place_cursor(buffer, &at);
    constexpr int KEYS = 200;
    auto start = Clock::now();
    for (int i = 0; i < KEYS; i++) {
        gtk_text_buffer_begin_user_action(buffer);
        gtk_text_buffer_insert_interactive_at_cursor(buffer, "x", 1, TRUE);
        gtk_text_buffer_end_user_action(buffer);
    }
    const double typed = seconds_since(start) / KEYS;
    run_until_idle();

    show_replace_bar();
    GtkWidget* bar = gtk_widget_get_parent(gtk_window_get_focus(GTK_WINDOW(root.main_window)));
    GList* fields = gtk_container_get_children(GTK_CONTAINER(bar));
    gtk_entry_set_text(GTK_ENTRY(g_list_nth_data(fields, 0)), "fox");
    gtk_entry_set_text(GTK_ENTRY(g_list_nth_data(fields, 1)), "cat");
    g_list_free(fields);
    // The search field tells its change after a short delay.
    const auto typed_at = Clock::now();
    while (seconds_since(typed_at) < 0.5) g_main_context_iteration(nullptr, FALSE);
    run_until_idle();
    start = Clock::now();
    const int replaced = replace_all_matches();
    const double replace_all = seconds_since(start);
    start = Clock::now();
    gtk_source_buffer_undo(GTK_SOURCE_BUFFER(buffer));
    const double undo = seconds_since(start);
    run_until_idle();
    std::printf(
        "edit 1 MB     key at the start %.3f ms (mean of %d)   replace all %d matches %.0f ms   "
        "its undo %.0f ms\n",
        1000 * typed, KEYS, replaced, 1000 * replace_all, 1000 * undo);
}

struct Pen {
    pid_t pid = -1;
    std::string tty;
};

Pen start_pen(const std::string& text_path) {
    Pen pen;
    int out[2];
    if (pipe(out) != 0) return pen;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string bin = PENSIM_BIN;
    std::string text_opt = "--text", pace_opt = "--pace";
    char* argv[] = {&bin[0], &text_opt[0], const_cast<char*>(text_path.c_str()), &pace_opt[0],
                    nullptr};
    const int rc = posix_spawn(&pen.pid, bin.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        pen.pid = -1;
        return pen;
    }
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    char c;
    while (Clock::now() < deadline) {
        struct pollfd p = {out[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        if (read(out[0], &c, 1) != 1 || c == '\n') break;
        pen.tty += c;
    }
    close(out[0]);
    return pen;
}

gboolean watchdog(gpointer) {
    std::fprintf(stderr, "bench_view: the download did not end in time\n");
    std::exit(1);
}

void bench_download_cpu() {
    char dir_template[] = "/tmp/kxbench.XXXXXX";
    const char* dir = mkdtemp(dir_template);
    if (!dir) return;
    const std::string path = std::string(dir) + "/pen.txt";
    // About 1745 characters a second at 38400 bit/s (two bytes each, 11 bits
    // a byte): 52 KB keep the download going for some 30 s.
    const std::string text = make_text(52 * 1024);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0) {
        std::fprintf(stderr, "bench_view: cannot write %s\n", path.c_str());
        return;
    }
    Pen pen = start_pen(path);
    if (pen.tty.empty()) {
        std::fprintf(stderr, "bench_view: the simulator did not start\n");
        return;
    }
    copy_bounded(root.device, pen.tty.c_str(), DEVICE_MAX);
    root.speed = 38400;
    setup_data();
    reload_text_view();
    run_until_idle();

    const guint guard = g_timeout_add_seconds(120, watchdog, nullptr);
    const double cpu_start = thread_cpu_seconds();
    const auto start = Clock::now();
    TransferKX_PC();
    // The progress dialog holds a grab until it is gone.
    while (gtk_grab_get_current() != nullptr) g_main_context_iteration(nullptr, TRUE);
    const double wall = seconds_since(start);
    const double cpu = thread_cpu_seconds() - cpu_start;
    g_source_remove(guard);

    std::printf("download %d characters in %.1f s: main thread CPU %.2f s = %.2f %%\n",
                root.text_length.load(), wall, cpu, wall > 0 ? 100 * cpu / wall : 0);
    kill(pen.pid, SIGTERM);
    waitpid(pen.pid, nullptr, 0);
    unlink(path.c_str());
    rmdir(dir);
}

}  // namespace

int main(int argc, char** argv) {
    g_setenv("NO_AT_BRIDGE", "1", FALSE);
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "bench_view: no display (run under xvfb-run)\n");
        return 1;
    }
    root.language = LANG_EN;
    root.batch = 0;
    setup_data();
    OpenMainWindow();
    run_until_idle();

    bench_reload(100 * 1024, "100 KB");
    bench_reload(1024 * 1024, "1 MB");
    bench_reload(1024 * 1024, "1 MB in one size", false);
    bench_edits();
    bench_download_cpu();
    return 0;
}
