// Export speed: a 10 MB store exported in each format to a temporary file,
// against one fwrite of the same number of bytes. Prints MB/s of both and the
// ratio of the times; the target is a ratio of 3 or less for each format.
//
// Two texts, both with line ends and mixed size classes:
//   random  printable ISO-8859-1 bytes drawn uniformly (0x20-0x7E, 0xA0-0xFF),
//           so about half need an RTF escape and blanks are rare;
//   prose   words of letters (a few accented) with blanks and punctuation,
//           one scanned line of 40-80 characters per line end, as the pen
//           delivers it.
//
// Rounds alternate between export and reference and the best of each counts,
// so other work on the machine disturbs both alike and as little as can be.
#include "text/export.h"

#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "state/state.h"
#include "text/store.h"

namespace {

constexpr int kStoreBytes = 10 * 1000 * 1000;
constexpr int kRounds = 15;

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

// Time of a single fwrite of `bytes` bytes, open and close included.
double time_single_fwrite(const std::string& path, const std::vector<char>& bytes) {
    const auto start = std::chrono::steady_clock::now();
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return -1;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !ok) return -1;
    return seconds_since(start);
}

double time_export(const std::string& path) {
    const auto start = std::chrono::steady_clock::now();
    if (ExportText(path.c_str(), nullptr) != 1) return -1;
    return seconds_since(start);
}

// Runs every format on the store as it stands; false when a target is missed.
bool run_formats(const std::string& dir, const char* text_name, bool* failed) {
    struct Format {
        int format;
        const char* name;
    };
    const Format formats[] = {{FORMAT_ASCII, "ascii"},
                              {FORMAT_RTF, "rtf"},
                              {FORMAT_LATEX, "latex"},
                              {FORMAT_UTF8, "utf8"}};
    bool met = true;
    for (const Format& f : formats) {
        root.save_format = f.format;
        const std::string path = dir + "/out";
        if (time_export(path) < 0) {
            *failed = true;
            return false;
        }
        const long bytes = file_size(path);
        const std::vector<char> same(static_cast<size_t>(bytes), 'x');
        double best = 1e9;
        double reference = 1e9;
        for (int round = 0; round < kRounds; round++) {
            const double e = time_export(path);
            const double w = time_single_fwrite(dir + "/fwrite", same);
            if (e < 0 || w < 0) {
                *failed = true;
                return false;
            }
            best = std::min(best, e);
            reference = std::min(reference, w);
        }
        const double mb = static_cast<double>(bytes) / 1e6;
        const double ratio = best / reference;
        std::printf("%-7s %-6s %10ld %7.0f MB/s %7.0f MB/s %6.2fx%s\n", text_name, f.name, bytes,
                    mb / best, mb / reference, ratio, ratio <= 3.0 ? "" : "  (above 3x)");
        if (ratio > 3.0) met = false;
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

    std::printf("%-7s %-6s %10s %12s %12s %7s\n", "text", "format", "bytes", "export", "fwrite",
                "ratio");
    bool failed = false;
    fill_random();
    bool met = run_formats(dir, "random", &failed);
    fill_prose();
    met = run_formats(dir, "prose", &failed) && met;

    std::remove((dir + "/out").c_str());
    std::remove((dir + "/fwrite").c_str());
    rmdir(dir.c_str());
    if (failed) {
        std::fprintf(stderr, "an export or the reference write failed\n");
        return 1;
    }
    return met ? 0 : 2;
}
