// Main-window benchmark (needs a display: run it under xvfb-run).
//
// 1. The time to reload the text view from stores of 100 KB and 1 MB: the
//    reload call itself, and the call plus the main loop running until GTK
//    has laid the text out and is idle again.
// 2. The main thread's CPU use while a paced download of about 30 s from
//    kestrix-pensim runs under the progress dialog (TransferKX_PC): the tick,
//    the animation and the counts line must leave the thread nearly idle.
#include <fcntl.h>
#include <gtk/gtk.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/state.h"
#include "pen/download.h"
#include "text/store.h"
#include "ui/main_window.h"
#include "ui/progress.h"

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

void fill_store(const std::string& text) {
    setup_data();
    std::vector<unsigned char> pairs;
    for (size_t at = 0; at < text.size(); at += BLOCK_MAX_PAIRS) {
        pairs.clear();
        for (size_t i = at; i < text.size() && i < at + BLOCK_MAX_PAIRS; i++) {
            pairs.push_back(static_cast<unsigned char>(text[i]));
            pairs.push_back(1);
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

void bench_reload(size_t bytes, const char* name) {
    fill_store(make_text(bytes));
    constexpr int ROUNDS = 5;
    double call = 0, settled = 0;
    for (int i = 0; i < ROUNDS; i++) {
        const auto start = Clock::now();
        reload_text_view();
        call += seconds_since(start);
        run_until_idle();
        settled += seconds_since(start);
    }
    std::printf("reload %-6s  call %8.2f ms   until idle %8.2f ms   (mean of %d)\n", name,
                1000 * call / ROUNDS, 1000 * settled / ROUNDS, ROUNDS);
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
    bench_download_cpu();
    return 0;
}
