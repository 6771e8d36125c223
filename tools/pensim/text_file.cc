// Text file format (also shown by --help):
//
//   - ISO-8859-1 bytes. Every byte other than '{', '}' and the line end 0x0A
//     is sent as a character code as it stands (so raw bytes 0, 1 and 2 are
//     the pen's special codes too).
//   - Each line is one scan. Its line end 0x0A is sent as the scan's last pair.
//     A scan of more than 127 pairs is split into blocks of 127 pairs; the last
//     block carries the rest, line end included.
//   - Every pair carries the attribute in force. It is 1 at the start of each
//     line. {0} {1} {2} {3} set its size class (bits 0-1) and keep the other
//     bits; {attr=0xNN} (or a decimal number) sets the whole byte.
//   - {oe} {OE} {EUR} send the codes 0, 1 and 2 (oe, OE and the euro sign).
//   - {{ and }} send a literal '{' and '}'. Any other brace, an unknown name
//     in braces or a bad {attr=...} value is an error with the line number,
//     so a mistyped file is never served half-right.
#include "tools/pensim/text_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/pensim/options.h"

namespace {

constexpr long MAX_TEXT_FILE = 16L * 1024 * 1024;

std::string line_error(int line, const std::string& what) {
    return "line " + std::to_string(line) + ": " + what;
}

// Applies the markup `name` (the text between the braces). False when the
// name is unknown or its value bad.
bool apply_markup(const std::string& name, unsigned char* attribute,
                  std::vector<unsigned char>* pairs) {
    if (name.size() == 1 && name[0] >= '0' && name[0] <= '3') {
        *attribute = static_cast<unsigned char>((*attribute & ~3) | (name[0] - '0'));
        return true;
    }
    static const struct {
        const char* name;
        unsigned char code;
    } specials[] = {{"oe", 0}, {"OE", 1}, {"EUR", 2}};
    for (const auto& s : specials) {
        if (name == s.name) {
            pairs->push_back(s.code);
            pairs->push_back(*attribute);
            return true;
        }
    }
    if (name.compare(0, 5, "attr=") == 0) return parse_byte(name.c_str() + 5, attribute) == 1;
    return false;
}

void add_scan(const std::vector<unsigned char>& pairs, std::vector<PenBlock>* blocks) {
    const size_t step = 2 * PEN_MAX_PAIRS;
    for (size_t at = 0; at < pairs.size(); at += step) {
        size_t end = at + step < pairs.size() ? at + step : pairs.size();
        blocks->emplace_back(pairs.begin() + static_cast<long>(at),
                             pairs.begin() + static_cast<long>(end));
    }
}

}  // namespace

int parse_pen_text(const std::string& bytes, std::vector<PenBlock>* blocks, std::string* error) {
    std::vector<PenBlock> out;
    std::vector<unsigned char> pairs;
    unsigned char attribute = 1;
    int line = 1;
    size_t i = 0;
    while (i < bytes.size()) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\n') {
            pairs.push_back(c);
            pairs.push_back(attribute);
            add_scan(pairs, &out);
            pairs.clear();
            attribute = 1;
            line++;
            i++;
            continue;
        }
        if (c == '{' || c == '}') {
            if (i + 1 < bytes.size() && static_cast<unsigned char>(bytes[i + 1]) == c) {
                pairs.push_back(c);
                pairs.push_back(attribute);
                i += 2;
                continue;
            }
            if (c == '}') {
                *error = line_error(line, "a lone '}' (write }} for the character)");
                return 0;
            }
            size_t close = bytes.find_first_of("}\n", i + 1);
            if (close == std::string::npos || bytes[close] != '}') {
                *error = line_error(line, "'{' without '}' (write {{ for the character)");
                return 0;
            }
            const std::string name = bytes.substr(i + 1, close - i - 1);
            if (!apply_markup(name, &attribute, &pairs)) {
                *error = line_error(line, "unknown markup {" + name + "}");
                return 0;
            }
            i = close + 1;
            continue;
        }
        pairs.push_back(c);
        pairs.push_back(attribute);
        i++;
    }
    add_scan(pairs, &out);
    *blocks = std::move(out);
    return 1;
}

int load_pen_text(const std::string& path, std::vector<PenBlock>* blocks, std::string* error) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *error = path + ": " + std::strerror(errno);
        return 0;
    }
    std::string bytes;
    char buf[65536];
    bool failed = false;
    for (;;) {
        size_t n = std::fread(buf, 1, sizeof buf, f);
        bytes.append(buf, n);
        if (static_cast<long>(bytes.size()) > MAX_TEXT_FILE) {
            *error = path + ": larger than 16 MB";
            failed = true;
            break;
        }
        if (n < sizeof buf) {
            if (std::ferror(f)) {
                *error = path + ": " + std::strerror(errno);
                failed = true;
            }
            break;
        }
    }
    std::fclose(f);
    if (failed) return 0;
    if (!parse_pen_text(bytes, blocks, error)) {
        *error = path + ": " + *error;
        return 0;
    }
    return 1;
}
