// Export speed: a 1 MB store exported in each format to a temporary file,
// open and close included. Prints the milliseconds of each; the target is under
// 50 ms for every format.
//
// Two texts, both with line ends and mixed size classes:
//   random  printable ISO-8859-1 bytes drawn uniformly (0x20-0x7E, 0xA0-0xFF),
//           so about half need an RTF escape and blanks are rare;
//   prose   words of letters (a few accented) with blanks and punctuation,
//           one scanned line of 40-80 characters per line end, as the pen
//           delivers it.
//
// The best of several rounds counts, so other work on the machine disturbs the
// figure as little as can be.
#include "text/export.h"

#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "state/state.h"
#include "text/store.h"

namespace {

constexpr int kStoreBytes = 1000 * 1000;
constexpr int kRounds = 10;
constexpr double kTargetMs = 50;

std::uint32_t seed = 12345;

std::uint32_t next(std::uint32_t n) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % n;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void make_room() {
    const int capacity = (kStoreBytes / STORE_STEP + 1) * STORE_STEP;
    root.text = static_cast<char*>(g_realloc(root.text, capacity));
    root.attributes = static_cast<unsigned char*>(g_realloc(root.attributes, capacity));
    root.text_capacity = capacity;
}

void finish_store() {
    root.text[kStoreBytes] = '\0';
    root.text_length = kStoreBytes;
}

void fill_random() {
    unsigned char size = 1;
    for (int i = 0; i < kStoreBytes; i++) {
        unsigned char c;
        if (next(100) == 0) {
            c = '\n';
        } else {
            const std::uint32_t r = next(95 + 96);
            c = static_cast<unsigned char>(r < 95 ? 0x20 + r : 0xA0 + (r - 95));
        }
        if (next(50) == 0) size = static_cast<unsigned char>(next(4));
        root.text[i] = static_cast<char>(c);
        root.attributes[i] = size;
    }
    finish_store();
}

void fill_prose() {
    static const char accented[] = "\344\366\374\337\351\350\340\347\361\362\354\311\304\326\334";
    static const char punctuation[] = ".,,,.;:!?-()'\"%&/\\{}#";
    unsigned char size = 1;
    int line = 40 + static_cast<int>(next(41));
    int column = 0;
    int word = 0;
    for (int i = 0; i < kStoreBytes; i++) {
        unsigned char c;
        if (column >= line) {
            c = '\n';
            column = 0;
            line = 40 + static_cast<int>(next(41));
            if (next(4) == 0) size = static_cast<unsigned char>(next(4));
        } else if (word == 0) {
            word = 2 + static_cast<int>(next(9));
            c = ' ';
            if (next(10) == 0) {
                c = static_cast<unsigned char>(punctuation[next(sizeof punctuation - 1)]);
            }
            column++;
        } else {
            const std::uint32_t r = next(100);
            c = static_cast<unsigned char>(r < 3 ? accented[next(sizeof accented - 1)]
                                                 : (r < 8 ? 'A' : 'a') + next(26));
            word--;
            column++;
        }
        if (next(400) == 0) size = static_cast<unsigned char>(next(4));
        root.text[i] = static_cast<char>(c);
        root.attributes[i] = size;
    }
    finish_store();
}

long file_size(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

double time_export(const std::string& path) {
    const auto start = std::chrono::steady_clock::now();
    if (ExportText(path.c_str(), nullptr) != 1) return -1;
    return seconds_since(start);
}

// Runs every format on the store as it stands; false when a target is missed.
bool run_formats(const std::string& path, const char* text_name, bool* failed) {
    bool met = true;
    for (int format = 0; format < FORMAT_COUNT; format++) {
        root.save_format = format;
        double best = 1e9;
        for (int round = 0; round < kRounds; round++) {
            const double t = time_export(path);
            if (t < 0) {
                *failed = true;
                return false;
            }
            best = std::min(best, t);
        }
        const double ms = best * 1000;
        std::printf("%-7s %-6s %10ld %8.1f ms%s\n", text_name, get_format_string_opt(format),
                    file_size(path), ms, ms < kTargetMs ? "" : "  (not under 50 ms)");
        if (ms >= kTargetMs) met = false;
    }
    return met;
}

}  // namespace

int main() {
    char pattern[] = "/tmp/kxbench.XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = pattern;
    clear_root();
    setup_data();
    make_room();

    std::printf("%-7s %-6s %10s %11s\n", "text", "format", "bytes", "export");
    bool failed = false;
    fill_random();
    const std::string path = dir + "/out";
    bool met = run_formats(path, "random", &failed);
    fill_prose();
    met = run_formats(path, "prose", &failed) && met;

    std::remove(path.c_str());
    rmdir(dir.c_str());
    if (failed) {
        std::fprintf(stderr, "an export failed\n");
        return 1;
    }
    return met ? 0 : 2;
}
