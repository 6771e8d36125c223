// Export formats: a text with its attributes written as ISO-8859-1 text, RTF,
// LaTeX or UTF-8 text.
//
// Each format is a row of `formats`: its option name and its writer. A writer
// is one loop over the characters that appends to one buffered Writer, which
// hands its buffer to fwrite whenever it is full, so the output goes out in
// large pieces whose counts are checked. After the first short write nothing
// more is written.
#include "text/export.h"

#include <glib.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "state/state.h"

namespace {

struct Text {
    const unsigned char* chars;
    const unsigned char* attributes;  // bits 0-1: the size class
    size_t length;
};

// Bytes collect in a buffer of its own and go to the file when it is full or
// at flush(). False from flush() once any write came up short.
class Writer {
   public:
    explicit Writer(FILE* file) : file_(file), buf_(new char[SIZE]) {}

    void put(char c) {
        if (used_ == SIZE) flush();
        buf_[used_++] = c;
    }
    void put(std::string_view s) {
        for (char c : s) put(c);
    }
    bool flush() {
        if (ok_ && used_ > 0 && std::fwrite(buf_.get(), 1, used_, file_) != used_) ok_ = false;
        used_ = 0;
        return ok_;
    }

   private:
    static constexpr size_t SIZE = 65536;
    FILE* file_;
    std::unique_ptr<char[]> buf_;  // on the heap: too large for a thread's stack to take lightly
    size_t used_ = 0;
    bool ok_ = true;
};

void write_ascii(Writer& out, const Text& text) {
    for (size_t i = 0; i < text.length; i++) out.put(static_cast<char>(text.chars[i]));
}

constexpr std::string_view RTF_HEADER =
    "{\\rtf1\\ansi\\deff0\n"
    "{\\fonttbl{\\f0\\froman new century schoolbook;}}\n"
    "{\\stylesheet{\\s1\\snext1 Standard;}}\n"
    "\\pard\\plain\\s1\\f0 ";
constexpr std::string_view RTF_PARAGRAPH = "\n\\par\\pard\\plain\\s1\\f0 ";
constexpr std::string_view RTF_TRAILER = "\n\\par\n\\par}";
// rtf_half_points (export.h) in RTF's words; the text view scales by the same.
constexpr std::string_view RTF_SIZES[4] = {"\\fs16 ", "\\fs20 ", "\\fs24 ", "\\fs28 "};

// A line end starts a paragraph, which forgets the size; the size is written
// before the first character of every run of one size class. Bytes above 127
// are written as hexadecimal escapes, so the file itself is 7-bit.
void write_rtf(Writer& out, const Text& text) {
    static const char hex[] = "0123456789abcdef";
    out.put(RTF_HEADER);
    int current = -1;  // size class in force; -1 at the start of a paragraph
    for (size_t i = 0; i < text.length; i++) {
        const unsigned char c = text.chars[i];
        if (c == '\n') {
            out.put(RTF_PARAGRAPH);
            current = -1;
            continue;
        }
        const int size = text.attributes[i] & 3;
        if (size != current) {
            out.put(RTF_SIZES[size]);
            current = size;
        }
        if (c >= 0x80) {
            out.put("\\'");
            out.put(hex[c >> 4]);
            out.put(hex[c & 15]);
            continue;
        }
        if (c == '\\' || c == '{' || c == '}') out.put('\\');
        out.put(static_cast<char>(c));
    }
    out.put(RTF_TRAILER);
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
constexpr size_t LATEX_WRAP_COLUMN = 64;

bool is_one_of(char ch, std::string_view set) {
    return set.find(ch) != std::string_view::npos;
}

// What character `c` (not a line end) becomes in LaTeX, built in `buf`.
std::string_view latex_of(unsigned char c, char (&buf)[4]) {
    const char ch = static_cast<char>(c);
    // The accents take an empty argument: "\~ " would put the accent on the
    // blank, and LaTeX would print that blank after it.
    if (is_one_of(ch, "#$%&_{}^~")) {
        buf[0] = '\\';
        buf[1] = ch;
        buf[2] = '{';
        buf[3] = '}';
        return {buf, 4};
    }
    if (ch == '\\') return "$\\backslash$";
    // The latin1 input encoding defines these for math mode only: not sign,
    // plus-minus, superscripts two, three and one, micro, times and division.
    if (is_one_of(ch, "\xAC\xB1\xB2\xB3\xB5\xB9\xD7\xF7")) {
        buf[0] = '$';
        buf[1] = ch;
        buf[2] = '$';
        return {buf, 3};
    }
    buf[0] = ch;
    return {buf, 1};
}

// A line end becomes an empty line (a new paragraph, same size). The size is
// declared where it changes. Lines are kept short for editors: the first blank
// once the output line is past LATEX_WRAP_COLUMN bytes becomes a line end.
void write_latex(Writer& out, const Text& text) {
    out.put(LATEX_HEADER);
    int current = -1;   // size class in force; a paragraph does not reset it
    size_t column = 0;  // bytes written since the output's last line end
    for (size_t i = 0; i < text.length; i++) {
        const unsigned char c = text.chars[i];
        if (c == '\n') {
            out.put("\n\n");
            column = 0;
            continue;
        }
        const int size = text.attributes[i] & 3;
        if (size != current) {
            out.put(LATEX_SIZES[size]);
            column += LATEX_SIZES[size].size();
            current = size;
        }
        if (c == ' ' && column > LATEX_WRAP_COLUMN) {
            out.put('\n');
            column = 0;
            continue;
        }
        char buf[4];
        const std::string_view piece = latex_of(c, buf);
        out.put(piece);
        column += piece.size();
    }
    out.put(LATEX_TRAILER);
}

// UTF-8 text is the ASCII export with every byte above 127, an ISO-8859-1
// character, written as the two bytes of the same character in UTF-8; every
// other byte stays as it is.
void write_utf8(Writer& out, const Text& text) {
    for (size_t i = 0; i < text.length; i++) {
        const unsigned char c = text.chars[i];
        if (c < 0x80) {
            out.put(static_cast<char>(c));
        } else {
            out.put(static_cast<char>(0xC0 | (c >> 6)));
            out.put(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
}

struct Format {
    const char* option;  // command line and preferences file
    void (*write)(Writer&, const Text&);
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
    Writer out(file);
    formats[format].write(out, input);
    bool ok = out.flush();
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
