// Export formats: a text with its attributes written as ISO-8859-1 text, RTF,
// LaTeX or UTF-8 text.
//
// Each format is a row of `formats`: its option name and its writer. A writer is one loop over the
// characters that appends to one output buffer; `flush` hands the buffer to fwrite when it is
// nearly full, so output goes out in large pieces whose counts are checked (one fwrite per
// character would be many times slower). After the first short write nothing
// more is written. A format that turns each byte into bytes of its own is a
// piece table and a loop like write_rtf's; UTF-8 text is one without sizes.
#include "text/export.h"

#include <glib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string_view>

#include "state/state.h"

namespace {

constexpr size_t OUT_SIZE = 131072;
// Room for one step of a writer, which checks for room only between steps: one
// character (its size declaration and its piece, which is copied as 16 bytes)
// or, in LaTeX, BLOCK characters.
constexpr size_t STEP_ROOM = 256;

struct Output {
    FILE* file;
    char buf[OUT_SIZE];
};

struct Text {
    const unsigned char* chars;
    const unsigned char* attributes;  // bits 0-1: the size class
    size_t length;
};

// The writers append at a pointer of their own rather than through a count in
// `Output`: a store through a char pointer may change any object, so a count
// kept in memory would be reloaded and stored again for every byte.

// Past this point a step may not fit: flush first.
char* limit(Output& out) {
    return out.buf + OUT_SIZE - STEP_ROOM;
}

// Hands the buffer up to `end` to fwrite. Returns the buffer's start, where
// writing goes on, or null when `end` is null or the write came up short.
char* flush(Output& out, char* end) {
    if (!end) return nullptr;
    const size_t used = static_cast<size_t>(end - out.buf);
    if (used > 0 && std::fwrite(out.buf, 1, used, out.file) != used) return nullptr;
    return out.buf;
}

// Appends a short piece; the caller made the room.
char* copy(char* p, std::string_view s) {
    std::memcpy(p, s.data(), s.size());
    return p + s.size();
}

// Appends bytes of any length at `p`: headers, trailers, a whole ASCII text.
// What does not fit the buffer goes to fwrite directly rather than being
// copied. Null (also for a null `p`) once a write has failed.
char* put(Output& out, char* p, const void* bytes, size_t count) {
    if (!p || count == 0) return p;
    if (count > static_cast<size_t>(out.buf + OUT_SIZE - p)) {
        p = flush(out, p);
        if (!p) return nullptr;
        if (count > OUT_SIZE) return std::fwrite(bytes, 1, count, out.file) == count ? p : nullptr;
    }
    std::memcpy(p, bytes, count);
    return p + count;
}

char* put(Output& out, char* p, std::string_view s) {
    return put(out, p, s.data(), s.size());
}

// What one byte becomes in RTF or LaTeX, as a block of fixed size built at
// compile time. The writers copy the whole block and advance by `len`, so a
// byte takes no branch of its own. This is a fast path: with a test per kind of
// byte, the tests go wrong at random on varied text, and bench/export measured
// RTF at about 4 and LaTeX at about 8 times one fwrite.
struct Piece {
    char s[15];
    unsigned char len;
};
static_assert(sizeof(Piece) == 16, "pieces are copied whole");

constexpr Piece piece(std::string_view s) {
    Piece p{};
    for (size_t i = 0; i < s.size() && i < sizeof p.s; i++) p.s[i] = s[i];
    p.len = static_cast<unsigned char>(s.size());
    return p;
}

constexpr Piece piece(std::initializer_list<char> chars) {
    return piece(std::string_view(chars.begin(), chars.size()));
}

constexpr bool is_one_of(char ch, std::string_view set) {
    return set.find(ch) != std::string_view::npos;
}

using PieceTable = std::array<Piece, 256>;

constexpr PieceTable make_table(Piece (*of)(unsigned char)) {
    PieceTable t{};
    for (int c = 0; c < 256; c++) t[static_cast<size_t>(c)] = of(static_cast<unsigned char>(c));
    return t;
}

char* copy(char* p, const Piece& piece_) {
    std::memcpy(p, &piece_, sizeof piece_);
    return p + piece_.len;
}

// Each writer appends `text` in its format at `p` and returns the end of what
// it appended, or null when a write failed.

char* write_ascii(Output& out, char* p, Text text) {
    return put(out, p, text.chars, text.length);
}

constexpr std::string_view RTF_HEADER =
    "{\\rtf1\\ansi\\deff1\n"
    "{\\fonttbl{\\f0\\froman new century schoolbook;}}\n"
    "{\\stylesheet{\\s1\\snext1 Standard;}}\n"
    "\\pard\\plain\\s1\\f0 ";
constexpr std::string_view RTF_PARAGRAPH = "\n\\par\\pard\\plain\\s1\\f0 ";
constexpr std::string_view RTF_TRAILER = "\n\\par\n\\par}";
// rtf_half_points (export.h) in RTF's words; the text view scales by the same.
constexpr std::string_view RTF_SIZES[4] = {"\\fs16 ", "\\fs20 ", "\\fs24 ", "\\fs28 "};

constexpr Piece rtf_piece(unsigned char c) {
    const char ch = static_cast<char>(c);
    if (c >= 0x80) {
        constexpr char hex[] = "0123456789abcdef";
        return piece({'\\', '\'', hex[c >> 4], hex[c & 15]});
    }
    if (is_one_of(ch, "\\{}")) return piece({'\\', ch});
    return piece({ch});
}
constexpr PieceTable rtf_pieces = make_table(rtf_piece);

// A line end starts a paragraph, which forgets the size; the size is written
// before the first character of every run of one size class.
char* write_rtf(Output& out, char* p, Text text) {
    p = put(out, p, RTF_HEADER);
    if (!p) return nullptr;
    char* const last = limit(out);
    int current = -1;  // size class in force; -1 at the start of a paragraph
    for (size_t i = 0; i < text.length; i++) {
        if (p > last) {
            p = flush(out, p);
            if (!p) return nullptr;
        }
        const unsigned char c = text.chars[i];
        const int size = text.attributes[i] & 3;
        // Line ends and size changes are rare: one test for both.
        if (c == '\n' || size != current) {
            if (c == '\n') {
                p = copy(p, RTF_PARAGRAPH);
                current = -1;
                continue;
            }
            p = copy(p, RTF_SIZES[size]);
            current = size;
        }
        p = copy(p, rtf_pieces[c]);
    }
    return put(out, p, RTF_TRAILER);
}

constexpr std::string_view LATEX_HEADER =
    "\\documentclass[a4paper,12pt]{article}\n"
    "\\usepackage[latin1]{inputenc}\n"
    "\\usepackage[T1]{fontenc}\n"
    "\n"
    "\\parskip\\medskipamount\n"
    "\\parindent 0cm\n"
    "\n"
    "\\begin{document}\n";
constexpr std::string_view LATEX_TRAILER = "\n\\end{document}\n";
constexpr std::string_view LATEX_SIZES[4] = {"\\footnotesize ", "\\normalsize ", "\\large ",
                                             "\\Large "};
constexpr int LATEX_WRAP_COLUMN = 64;

constexpr Piece latex_piece(unsigned char c) {
    const char ch = static_cast<char>(c);
    if (ch == '\n') return piece("\n\n");  // an empty line: a new paragraph
    if (is_one_of(ch, "#$%&_{}")) return piece({'\\', ch, '{', '}'});
    if (is_one_of(ch, "^~")) return piece({'\\', ch, '\\', ' '});
    if (ch == '\\') return piece("$\\backslash$");
    // The latin1 input encoding defines these for math mode only: not sign,
    // plus-minus, superscripts two, three and one, micro, times and division.
    if (is_one_of(ch, "\xAC\xB1\xB2\xB3\xB5\xB9\xD7\xF7")) return piece({'$', ch, '$'});
    return piece({ch});
}
constexpr PieceTable latex_pieces = make_table(latex_piece);

// Prose is mostly letters and blanks in one size, written as they stand; up to
// the break column, stretches of them are copied BLOCK characters at a time.
// This is a fast path: written one by one, LaTeX prose took 1.7 ns a character
// against 1.0, nearly three times one fwrite (bench/export.cc) and over three
// on a busy machine.
constexpr size_t BLOCK = sizeof(std::uint64_t);
static_assert(BLOCK * (LATEX_SIZES[0].size() + sizeof(Piece)) <= STEP_ROOM,
              "a block of the longest size declarations and pieces fits the step room");

// The BLOCK characters at `i` are in size class `current` and each writes one
// byte. The size classes (bits 0-1 of each attribute) are compared as one
// word, in whatever byte order, as each byte is compared with the same value.
// Every piece is at least one byte, so the lengths or'd together are 1 only
// when each is 1.
bool plain_block(const Text& text, size_t i, int current) {
    std::uint64_t sizes;
    std::memcpy(&sizes, text.attributes + i, sizeof sizes);
    if ((sizes & 0x0303030303030303u) != 0x0101010101010101u * static_cast<unsigned>(current))
        return false;
    const unsigned char* c = text.chars + i;
    return (latex_pieces[c[0]].len | latex_pieces[c[1]].len | latex_pieces[c[2]].len |
            latex_pieces[c[3]].len | latex_pieces[c[4]].len | latex_pieces[c[5]].len |
            latex_pieces[c[6]].len | latex_pieces[c[7]].len) == 1;
}

// A line end becomes an empty line (a new paragraph, same size). The size is
// declared where it changes. Lines are kept short for editors: the first blank
// once the output line is past LATEX_WRAP_COLUMN bytes becomes a line end.
char* write_latex(Output& out, char* p, Text text) {
    p = put(out, p, LATEX_HEADER);
    if (!p) return nullptr;
    char* const last = limit(out);
    int current = -1;         // size class in force; a paragraph does not reset it
    std::int64_t column = 0;  // bytes written since the output's last line end
    for (size_t i = 0; i < text.length;) {
        if (p > last) {
            p = flush(out, p);
            if (!p) return nullptr;
        }
        // No blank in the block can pass the column.
        if (current >= 0 && text.length - i >= BLOCK &&
            column <= LATEX_WRAP_COLUMN - static_cast<int>(BLOCK - 1) &&
            plain_block(text, i, current)) {
            std::memcpy(p, text.chars + i, BLOCK);
            p += BLOCK;
            column += BLOCK;
            i += BLOCK;
            continue;
        }
        // Otherwise the next BLOCK characters one by one.
        for (const size_t end = std::min(i + BLOCK, text.length); i < end; i++) {
            const unsigned char c = text.chars[i];
            const int size = text.attributes[i] & 3;
            // Line ends and size changes are rare: one test for both.
            if (c == '\n' || size != current) {
                if (c == '\n') {
                    p = copy(p, latex_pieces[c]);
                    column = 0;
                    continue;
                }
                p = copy(p, LATEX_SIZES[size]);
                column += static_cast<std::int64_t>(LATEX_SIZES[size].size());
                current = size;
            }
            // The column first: it is rarely past the break, blanks are frequent.
            if (column > LATEX_WRAP_COLUMN && c == ' ') {
                *p++ = '\n';
                column = 0;
                continue;
            }
            const Piece& e = latex_pieces[c];
            p = copy(p, e);
            column += e.len;
        }
    }
    return put(out, p, LATEX_TRAILER);
}

// UTF-8 text is the ASCII export with every byte above 127, an ISO-8859-1
// character, written as the two bytes of the same character in UTF-8; every
// other byte stays as it is.
constexpr Piece utf8_piece(unsigned char c) {
    if (c < 0x80) return piece({static_cast<char>(c)});
    return piece({static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))});
}
constexpr PieceTable utf8_pieces = make_table(utf8_piece);

// Runs of ASCII, most of any prose, are copied BLOCK bytes at a time.
char* write_utf8(Output& out, char* p, Text text) {
    char* const last = limit(out);
    for (size_t i = 0; i < text.length;) {
        if (p > last) {
            p = flush(out, p);
            if (!p) return nullptr;
        }
        if (text.length - i >= BLOCK) {
            std::uint64_t block;
            std::memcpy(&block, text.chars + i, BLOCK);
            if ((block & 0x8080808080808080u) == 0) {
                std::memcpy(p, &block, BLOCK);
                p += BLOCK;
                i += BLOCK;
                continue;
            }
        }
        for (const size_t end = std::min(i + BLOCK, text.length); i < end; i++)
            p = copy(p, utf8_pieces[text.chars[i]]);
    }
    return p;
}

struct Format {
    const char* option;  // command line and preferences file
    char* (*write)(Output&, char*, Text);
};

const Format formats[] = {
    {"ascii", write_ascii},
    {"rtf", write_rtf},
    {"latex", write_latex},
    {"utf8", write_utf8},
};
static_assert(sizeof formats / sizeof formats[0] == FORMAT_COUNT, "one row per export format");

bool known_format(int format) {
    return format >= 0 && format < FORMAT_COUNT;
}

// The store's length, bounded by its buffers.
int store_length() {
    if (!root.text || !root.attributes) return 0;
    int length = root.text_length.load();
    if (length < 0) return 0;
    if (root.text_capacity > 0 && length >= root.text_capacity) return root.text_capacity - 1;
    return length;
}

// The store in `format`; on success the text counts as saved.
int export_store(const char* path, FILE* stream, int format) {
    if (!write_export(path, stream, format, root.text, root.attributes, store_length())) return 0;
    root.unsaved = 0;
    return 1;
}

}  // namespace

int write_export(const char* path, FILE* stream, int format, const char* text,
                 const unsigned char* attributes, int length) {
    if (!known_format(format)) return 0;
    FILE* file = stream;
    if (!file) {
        if (!path) return 0;
        file = std::fopen(path, "w");
        if (!file) return 0;
    }
    const bool empty = !text || !attributes || length <= 0;
    const Text input = {reinterpret_cast<const unsigned char*>(text), attributes,
                        empty ? 0 : static_cast<size_t>(length)};
    // On the heap: the buffer is too large for a thread's stack to take lightly.
    std::unique_ptr<Output> out(new Output);
    out->file = file;
    bool ok = flush(*out, formats[format].write(*out, out->buf, input)) != nullptr;
    if (stream) {
        // Data still in the stream's buffer fails only when it is flushed.
        if (ok && (std::fflush(stream) != 0 || std::ferror(stream))) ok = false;
    } else if (std::fclose(file) != 0) {
        ok = false;
    }
    return ok ? 1 : 0;
}

int ExportText(const char* path, FILE* stream) {
    if (path) copy_bounded(root.save_name, path, SAVE_NAME_MAX);
    return export_store(path, stream, root.save_format);
}

int export_ascii(const char* path, FILE* stream) {
    return export_store(path, stream, FORMAT_ASCII);
}
int export_rtf(const char* path, FILE* stream) {
    return export_store(path, stream, FORMAT_RTF);
}
int export_latex(const char* path, FILE* stream) {
    return export_store(path, stream, FORMAT_LATEX);
}

const char* get_format_string_opt(int format) {
    return known_format(format) ? formats[format].option : nullptr;
}

int format_from_name(const char* name) {
    for (int i = 0; i < FORMAT_COUNT; i++) {
        const char* option = get_format_string_opt(i);
        // ASCII case rules: in a Turkish locale "I" is not the capital "i".
        if (g_ascii_strncasecmp(name, option, std::strlen(option)) == 0) return i;
    }
    return -1;
}
