// Export formats: the text store written as ISO-8859-1 text, RTF or LaTeX.
//
// RTF and LaTeX output is built in a buffer and handed to fwrite in large
// pieces: one fwrite per character would be many times slower, and a piece's
// count is as easy to check as a character's. After the first short write
// nothing more is written. Each character's escape comes from a table of 256 entries
// built at compile time, so the loop does one lookup and one fixed-size copy
// per byte; line ends and size changes, which are rare, leave that path.
#include "text/export.h"

#include <glib.h>

#include <cstdint>
#include <cstring>

#include "app/catalogue.h"
#include "app/state.h"

namespace {

// Output goes to fwrite in pieces of about 100 KB: few enough calls that
// their cost disappears beside the work on the characters. Characters are
// handled in chunks, with one test for room per chunk; one character writes at
// most 32 bytes: a size string and an escape, each copied as a fixed 16-byte
// block, or the RTF paragraph.
constexpr size_t OUT_SIZE = 131072;
constexpr int CHUNK = 512;
constexpr size_t CHAR_ROOM = 32;
constexpr size_t OUT_SLACK = CHUNK * CHAR_ROOM;
static_assert(OUT_SLACK < OUT_SIZE, "a chunk must fit the output buffer");

struct Output {
    FILE* file;
    bool failed;
    size_t used;
    char buf[OUT_SIZE];
};

// Writes what the buffer holds; false once any write came up short.
bool flush_out(Output& out) {
    if (out.failed) return false;
    if (out.used > 0 && std::fwrite(out.buf, 1, out.used, out.file) != out.used) out.failed = true;
    out.used = 0;
    return !out.failed;
}

// Appends a literal that is shorter than the buffer (headers, trailers).
template <size_t N>
void put(Output& out, const char (&s)[N]) {
    static_assert(N - 1 <= OUT_SIZE, "literal longer than the output buffer");
    if (out.used + (N - 1) > OUT_SIZE && !flush_out(out)) return;
    if (out.failed) return;
    std::memcpy(out.buf + out.used, s, N - 1);
    out.used += N - 1;
}

template <size_t N>
inline char* emit(char* p, const char (&s)[N]) {
    std::memcpy(p, s, N - 1);
    return p + N - 1;
}

// What one byte becomes; `len` is also what it adds to the LaTeX column.
struct Piece {
    char s[15];
    unsigned char len;
};
static_assert(sizeof(Piece) == 16, "pieces are copied as 16-byte blocks");

constexpr Piece piece(const char* s) {
    Piece p{};
    unsigned char n = 0;
    while (s[n] != '\0' && n < sizeof p.s) {
        p.s[n] = s[n];
        n++;
    }
    p.len = n;
    return p;
}

// The piece of every byte, for one format, and (for LaTeX) whether a byte
// ends a run of bytes written as they stand: an escape or a line end, and,
// once the column is near the break, also a blank.
struct PieceTable {
    Piece at[256];
    unsigned char stop[256];
    unsigned char stop_or_blank[256];
};

constexpr void set_stops(PieceTable& t) {
    for (int c = 0; c < 256; c++) {
        t.stop[c] = t.at[c].len != 1 || c == '\n';
        t.stop_or_blank[c] = t.stop[c] || c == ' ';
    }
}

constexpr Piece piece_of(char a, char b = 0, char c = 0, char d = 0) {
    Piece p{};
    p.s[0] = a;
    p.s[1] = b;
    p.s[2] = c;
    p.s[3] = d;
    p.len = static_cast<unsigned char>(d ? 4 : c ? 3 : b ? 2 : 1);
    return p;
}

constexpr char hex_digit(int v) {
    return static_cast<char>(v < 10 ? '0' + v : 'a' + v - 10);
}

constexpr PieceTable make_rtf_table() {
    PieceTable t{};
    for (int c = 0; c < 256; c++) {
        const char ch = static_cast<char>(c);
        if (c >= 0x80) {
            // "\'%x" of the unsigned byte: always two lower-case digits here.
            t.at[c] = piece_of('\\', '\'', hex_digit(c >> 4), hex_digit(c & 15));
        } else if (c == '\\' || c == '{' || c == '}') {
            t.at[c] = piece_of('\\', ch);
        } else {
            t.at[c] = piece_of(ch);  // the zero byte too: its length is 1
        }
    }
    return t;
}

// Bytes that latin1 input encoding defines for math mode only: not sign,
// plus-minus, superscripts two, three and one, micro, times and division.
constexpr bool latex_math_only(int c) {
    return c == 0xAC || c == 0xB1 || c == 0xB2 || c == 0xB3 || c == 0xB5 || c == 0xB9 ||
           c == 0xD7 || c == 0xF7;
}

constexpr PieceTable make_latex_table() {
    PieceTable t{};
    for (int c = 0; c < 256; c++) {
        const char ch = static_cast<char>(c);
        if (c == '#' || c == '$' || c == '%' || c == '&' || c == '_' || c == '{' || c == '}') {
            t.at[c] = piece_of('\\', ch, '{', '}');
        } else if (c == '^' || c == '~') {
            t.at[c] = piece_of('\\', ch, '\\', ' ');
        } else if (c == '\\') {
            t.at[c] = piece("$\\backslash$");
        } else if (latex_math_only(c)) {
            t.at[c] = piece_of('$', ch, '$');
        } else {
            t.at[c] = piece_of(ch);
        }
    }
    set_stops(t);
    return t;
}

constexpr PieceTable rtf_table = make_rtf_table();
constexpr PieceTable latex_table = make_latex_table();

// "\fsN " for a size of two digits.
constexpr Piece rtf_size_piece(int half_points) {
    Piece p = piece("\\fs00 ");
    p.s[3] = static_cast<char>('0' + half_points / 10);
    p.s[4] = static_cast<char>('0' + half_points % 10);
    return p;
}
static_assert(rtf_half_points[0] >= 10 && rtf_half_points[3] <= 99, "sizes of two digits");

constexpr Piece rtf_size[4] = {
    rtf_size_piece(rtf_half_points[0]), rtf_size_piece(rtf_half_points[1]),
    rtf_size_piece(rtf_half_points[2]), rtf_size_piece(rtf_half_points[3])};
constexpr Piece latex_size[4] = {piece("\\footnotesize "), piece("\\normalsize "),
                                 piece("\\large "), piece("\\Large ")};

constexpr int LATEX_WRAP_COLUMN = 64;

inline char* put_piece(char* p, const Piece& piece_) {
    std::memcpy(p, &piece_, sizeof piece_);
    return p + piece_.len;
}

// In LaTeX most of a line is letters and blanks written as they stand, in one
// size, before the column comes near the break: such stretches are recognised
// and copied eight bytes at a time.
constexpr int BLOCK = 8;

// True when the BLOCK characters at `text` all have size class `current` and
// none is marked in `stops`. The attribute bytes are compared as one word; the
// byte order does not matter, as every byte is compared with the same value.
inline bool plain_block(const unsigned char* text, const unsigned char* attributes,
                        const unsigned char* stops, int current) {
    std::uint64_t sizes;
    std::memcpy(&sizes, attributes, sizeof sizes);
    if ((sizes & 0x0303030303030303ull) != 0x0101010101010101ull * static_cast<unsigned>(current))
        return false;
    return (stops[text[0]] | stops[text[1]] | stops[text[2]] | stops[text[3]] | stops[text[4]] |
            stops[text[5]] | stops[text[6]] | stops[text[7]]) == 0;
}

// The store's length, bounded by its buffers.
int store_length() {
    if (!root.text || !root.attributes) return 0;
    int length = root.text_length.load();
    if (length < 0) return 0;
    if (root.text_capacity > 0 && length >= root.text_capacity) return root.text_capacity - 1;
    return length;
}

void body_ascii(Output& out) {
    const size_t length = static_cast<size_t>(store_length());
    if (length > 0 && std::fwrite(root.text, 1, length, out.file) != length) out.failed = true;
}

void body_rtf(Output& out) {
    put(out,
        "{\\rtf1\\ansi\\deff1\n"
        "{\\fonttbl{\\f0\\froman new century schoolbook;}}\n"
        "{\\stylesheet{\\s1\\snext1 Standard;}}\n"
        "\\pard\\plain\\s1\\f0 ");
    if (out.failed) return;
    const int length = store_length();
    const unsigned char* text = reinterpret_cast<const unsigned char*>(root.text);
    const unsigned char* attributes = root.attributes;
    int current = -1;  // size class last written; -1 at the start of a paragraph
    char* p = out.buf + out.used;
    char* const limit = out.buf + OUT_SIZE - OUT_SLACK;
    for (int i = 0; i < length;) {
        if (p > limit) {
            out.used = static_cast<size_t>(p - out.buf);
            if (!flush_out(out)) return;
            p = out.buf;
        }
        const int end = length - i > CHUNK ? i + CHUNK : length;
        for (; i < end; i++) {
            const unsigned char c = text[i];
            const int k = attributes[i] & 3;
            // Line ends and size changes are rare: one test for both.
            if (__builtin_expect(c == '\n' || k != current, 0)) {
                if (c == '\n') {
                    p = emit(p, "\n\\par\\pard\\plain\\s1\\f0 ");
                    current = -1;
                    continue;
                }
                p = put_piece(p, rtf_size[k]);
                current = k;
            }
            p = put_piece(p, rtf_table.at[c]);
        }
    }
    out.used = static_cast<size_t>(p - out.buf);
    put(out, "\n\\par\n\\par}");
}

void body_latex(Output& out) {
    put(out,
        "\\documentclass[a4paper,12pt]{article}\n"
        "\\usepackage[latin1]{inputenc}\n"
        "\\usepackage[T1]{fontenc}\n"
        "\n"
        "\\parskip\\medskipamount\n"
        "\\parindent 0cm\n"
        "\n"
        "\\begin{document}\n");
    if (out.failed) return;
    const int length = store_length();
    const unsigned char* text = reinterpret_cast<const unsigned char*>(root.text);
    const unsigned char* attributes = root.attributes;
    int current = -1;         // size class in force; a paragraph does not reset it
    std::int64_t column = 0;  // characters written since the output's last line end
    char* p = out.buf + out.used;
    char* const limit = out.buf + OUT_SIZE - OUT_SLACK;
    for (int i = 0; i < length;) {
        if (p > limit) {
            out.used = static_cast<size_t>(p - out.buf);
            if (!flush_out(out)) return;
            p = out.buf;
        }
        const int end = length - i > CHUNK ? i + CHUNK : length;
        while (i < end) {
            // While no blank in the block can pass the column, blanks are
            // written as they stand; past that point a block may hold no
            // blank, since the first one there becomes a line end.
            if (current >= 0 && end - i >= BLOCK &&
                plain_block(text + i, attributes + i,
                            column <= LATEX_WRAP_COLUMN - (BLOCK - 1) ? latex_table.stop
                                                                      : latex_table.stop_or_blank,
                            current)) {
                std::memcpy(p, text + i, BLOCK);
                p += BLOCK;
                i += BLOCK;
                column += BLOCK;
                continue;
            }
            // Otherwise up to BLOCK characters one by one.
            for (const int stop = end - i > BLOCK ? i + BLOCK : end; i < stop; i++) {
                const unsigned char c = text[i];
                const int k = attributes[i] & 3;
                if (__builtin_expect(c == '\n' || k != current, 0)) {
                    // The attribute of a line end plays no part.
                    if (c == '\n') {
                        p = emit(p, "\n\n");
                        column = 0;
                        continue;
                    }
                    p = put_piece(p, latex_size[k]);
                    column += latex_size[k].len;
                    current = k;
                }
                // A blank past the column becomes a line end. Blanks are
                // frequent and irregular, a break is rare: the two tests are
                // combined with `&`, not `&&`, so the branch is rarely taken.
                // Up to the column a blank is written by its piece, " ".
                if (__builtin_expect((column > LATEX_WRAP_COLUMN) & (c == ' '), 0)) {
                    *p++ = '\n';
                    column = 0;
                    continue;
                }
                const Piece& e = latex_table.at[c];
                p = put_piece(p, e);
                column += e.len;
            }
        }
    }
    out.used = static_cast<size_t>(p - out.buf);
    put(out, "\n\\end{document}\n");
}

// The frame shared by the three exporters: open (or take the stream), write,
// flush or close, and count a failure at any of these steps. A stream passed
// in is never closed.
int run_export(const char* path, FILE* stream, void (*body)(Output&)) {
    FILE* file = stream;
    if (!file) {
        if (!path) return 0;
        file = std::fopen(path, "w");
        if (!file) return 0;
    }
    // On the heap: the buffer is too large for a thread's stack to take lightly.
    Output* out = g_new(Output, 1);
    out->file = file;
    out->failed = false;
    out->used = 0;
    body(*out);
    bool ok = flush_out(*out);
    g_free(out);
    if (stream) {
        // Data still in the stream's buffer fails only when it is flushed.
        if (ok && (std::fflush(stream) != 0 || std::ferror(stream))) ok = false;
    } else if (std::fclose(file) != 0) {
        ok = false;
    }
    if (!ok) return 0;
    root.unsaved = 0;
    return 1;
}

int interface_language() {
    return root.language >= 0 && root.language < LANG_COUNT ? root.language : LANG_EN;
}

}  // namespace

int ExportText(const char* path, FILE* stream) {
    if (path) copy_bounded(root.save_name, path, SAVE_NAME_MAX);
    switch (root.save_format) {
        case FORMAT_ASCII:
            return export_ascii(path, stream);
        case FORMAT_RTF:
            return export_rtf(path, stream);
        case FORMAT_LATEX:
            return export_latex(path, stream);
        default:
            return 0;
    }
}

int export_ascii(const char* path, FILE* stream) {
    return run_export(path, stream, body_ascii);
}
int export_rtf(const char* path, FILE* stream) {
    return run_export(path, stream, body_rtf);
}
int export_latex(const char* path, FILE* stream) {
    return run_export(path, stream, body_latex);
}

const char* get_format_string_opt(int format) {
    switch (format) {
        case FORMAT_ASCII:
            return "ascii";
        case FORMAT_RTF:
            return "rtf";
        case FORMAT_LATEX:
            return "latex";
        default:
            return nullptr;
    }
}

const char* get_format_string_lang(int format) {
    const int l = interface_language();
    switch (format) {
        case FORMAT_ASCII:
            return tfs_ASCII[l];
        case FORMAT_RTF:
            return tfs_RTF[l];
        case FORMAT_LATEX:
            return tfs_LaTeX[l];
        default:
            return nullptr;
    }
}

const char* get_format_string(int format) {
    return get_format_string_lang(format);
}
