// Download benchmark: read_text() against the paced pen simulator.
//
// Writes 32 KB of text in lines of 60 characters, starts kestrix-pensim with
// --pace (it sends and receives at the rate the program sets, 11 bits per
// byte) and downloads the text at 38400 and at 115200 bit/s. For each rate it
// prints the measured time, the least time the line allows for the same bytes
// (wake-up, command and goodbye at 300 bit/s, blocks, acknowledgements and the
// end marker at the download rate, plus the three speed changes of 120 ms
// each) and their ratio: what the program's own pauses and reads cost.
#include "pen/download.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/prefs.h"
#include "pen/protocol.h"
#include "state/state.h"
#include "text/store.h"

extern char** environ;

namespace {

constexpr int TEXT_BYTES = 32 * 1024;
constexpr int LINE_CHARS = 60;
constexpr double SPEED_CHANGE = 0.120;  // 100 ms before, 20 ms after each change

struct Text {
    std::string bytes;
    int lines = 0;
};

// Plain letters and punctuation, no braces (the simulator's markup).
Text make_text() {
    static const char words[] =
        "The quick brown fox jumps over the lazy dog. Pack my box with five dozen "
        "liquor jugs! How vexingly quick daft zebras jump, 0123456789; ";
    Text t;
    size_t w = 0;
    while (static_cast<int>(t.bytes.size()) < TEXT_BYTES) {
        for (int i = 0; i < LINE_CHARS; i++) t.bytes += words[w++ % (sizeof words - 1)];
        t.bytes += '\n';
        t.lines++;
    }
    return t;
}

double line_seconds(long bytes, int rate) {
    return static_cast<double>(bytes) * 11.0 / rate;
}

// Wake-up and reply, the 3-byte command, goodbye and reply at 300 bit/s; per
// block marker, count, pairs, checksum and the acknowledgement, then the end
// marker, at the download rate.
double least_seconds(const Text& t, int rate) {
    const long slow = 2 + 3 + 2;
    const long pairs = static_cast<long>(t.bytes.size());
    const long fast = pairs * 2 + t.lines * (3 + 1) + 1;
    return line_seconds(slow, 300) + line_seconds(fast, rate) + 3 * SPEED_CHANGE;
}

struct Simulator {
    pid_t pid = -1;
    int out = -1;
    std::string tty;
};

bool start_simulator(const std::string& text_path, Simulator* sim) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    std::string bin = PENSIM_BIN;
    std::string pace = "--pace";
    std::string text = "--text";
    std::string path = text_path;
    char* argv[] = {bin.data(), pace.data(), text.data(), path.data(), nullptr};
    int rc = posix_spawn(&sim->pid, bin.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    sim->out = fds[0];
    if (rc != 0) {
        sim->pid = -1;
        return false;
    }
    // The first line is the terminal's path; allow it 10 s.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) return false;
        struct pollfd p = {sim->out, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        char c;
        if (read(sim->out, &c, 1) != 1) return false;
        if (c == '\n') return !sim->tty.empty();
        sim->tty += c;
    }
}

void stop_simulator(Simulator* sim) {
    if (sim->pid > 0) {
        kill(sim->pid, SIGTERM);
        int status = 0;
        waitpid(sim->pid, &status, 0);
    }
    if (sim->out >= 0) close(sim->out);
}

bool write_text(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    bool written = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (f && std::fclose(f) != 0) written = false;
    return written;
}

// Milliseconds from the stop request, `after_s` into the download, to the end
// of read_text; -1 when the download did not end with a break.
double cancel_ms(double after_s) {
    setup_data();
    kxinterface_break = 0;
    int result = 0;
    std::thread worker([&result] { result = read_text(); });
    std::this_thread::sleep_for(std::chrono::duration<double>(after_s));
    const auto stop = std::chrono::steady_clock::now();
    kxinterface_break = 1;
    worker.join();
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - stop).count();
    return result == PEN_BREAK ? ms : -1;
}

// Stops at several moments inside the first and second block of 127 pairs
// at 300 bit/s, each against a fresh simulator (a stopped pen goes on sending
// the rest of its block).
int bench_cancel(const std::string& dir) {
    const std::string path = dir + "/long.txt";
    if (!write_text(path, std::string(126, 'x') + "\n" + std::string(126, 'y') + "\n")) return 1;
    std::printf("cancel inside 127-pair blocks at 300 bit/s (9.3 s a block)\n");
    int status = 0;
    double worst = 0;
    for (double after : {1.0, 3.0, 5.5, 8.0, 12.0}) {
        Simulator sim;
        if (!start_simulator(path, &sim)) {
            stop_simulator(&sim);
            status = 1;
            break;
        }
        copy_bounded(root.device, sim.tty.c_str(), DEVICE_MAX);
        root.speed = 300;
        const double ms = cancel_ms(after);
        stop_simulator(&sim);
        if (ms < 0) {
            std::printf("  stop at %5.1f s: the download did not end with a break\n", after);
            status = 1;
            continue;
        }
        std::printf("  stop at %5.1f s: read_text ended %6.1f ms later\n", after, ms);
        if (ms > worst) worst = ms;
    }
    std::printf(
        "  longest %.1f ms; with the 200 ms tick the break message follows within "
        "%.1f ms\n",
        worst, worst + 200);
    std::remove(path.c_str());
    return status;
}

}  // namespace

int main() {
    const Text text = make_text();
    char dir_template[] = "/tmp/kxbench.XXXXXX";
    if (!mkdtemp(dir_template)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = dir_template;
    const std::string text_path = dir + "/text.txt";
    if (!write_text(text_path, text.bytes)) {
        std::fprintf(stderr, "bench_download: cannot write %s\n", text_path.c_str());
        return 1;
    }

    Simulator sim;
    int status = 0;
    if (!start_simulator(text_path, &sim)) {
        std::fprintf(stderr, "bench_download: the simulator did not start (%s)\n", PENSIM_BIN);
        status = 1;
    } else {
        clear_root();
        setup_data();
        SetDefaultPreferences();
        copy_bounded(root.device, sim.tty.c_str(), DEVICE_MAX);
        std::printf("download of %zu bytes in %d blocks from the paced simulator on %s\n",
                    text.bytes.size(), text.lines, sim.tty.c_str());
        std::printf("%8s  %10s  %10s  %6s\n", "bit/s", "measured", "least", "ratio");
        for (int rate : {38400, 115200}) {
            root.speed = rate;
            setup_data();
            const auto start = std::chrono::steady_clock::now();
            const int result = read_text();
            const double measured =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (result != PEN_OK || root.text_length != static_cast<int>(text.bytes.size())) {
                std::printf("%8d  failed: result %d, %d of %zu characters\n", rate, result,
                            root.text_length.load(), text.bytes.size());
                status = 1;
                continue;
            }
            const double least = least_seconds(text, rate);
            std::printf("%8d  %8.3f s  %8.3f s  %6.3f\n", rate, measured, least, measured / least);
        }
    }
    stop_simulator(&sim);
    std::remove(text_path.c_str());
    if (bench_cancel(dir) != 0) status = 1;
    rmdir(dir.c_str());
    return status;
}
