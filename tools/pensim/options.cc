#include "tools/pensim/options.h"

#include <getopt.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

enum {
    OPT_HELP = 256,
    OPT_TEXT,
    OPT_FIRMWARE,
    OPT_TRANSLATING,
    OPT_MEMORY,
    OPT_BATTERY,
    OPT_MODE,
    OPT_MENU_LANGUAGE,
    OPT_TEXT_LANGUAGE,
    OPT_TARGET_LANGUAGE,
    OPT_ERASE_DELAY,
    OPT_PACE,
    OPT_LOG,
    OPT_FAULT,
    OPT_FAULT_ALWAYS,
    OPT_SESSIONS,
};

const struct option long_options[] = {
    {"help", no_argument, nullptr, OPT_HELP},
    {"text", required_argument, nullptr, OPT_TEXT},
    {"firmware", required_argument, nullptr, OPT_FIRMWARE},
    {"translating", no_argument, nullptr, OPT_TRANSLATING},
    {"memory", required_argument, nullptr, OPT_MEMORY},
    {"battery", required_argument, nullptr, OPT_BATTERY},
    {"mode", required_argument, nullptr, OPT_MODE},
    {"menu-language", required_argument, nullptr, OPT_MENU_LANGUAGE},
    {"text-language", required_argument, nullptr, OPT_TEXT_LANGUAGE},
    {"target-language", required_argument, nullptr, OPT_TARGET_LANGUAGE},
    {"erase-delay", required_argument, nullptr, OPT_ERASE_DELAY},
    {"pace", no_argument, nullptr, OPT_PACE},
    {"log", required_argument, nullptr, OPT_LOG},
    {"fault", required_argument, nullptr, OPT_FAULT},
    {"fault-always", no_argument, nullptr, OPT_FAULT_ALWAYS},
    {"sessions", required_argument, nullptr, OPT_SESSIONS},
    {nullptr, 0, nullptr, 0},
};

// A whole unsigned decimal number no larger than `max`.
bool parse_decimal(const char* text, long max, long* value) {
    if (!text || !*text) return false;
    long v = 0;
    for (const char* p = text; *p; p++) {
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + (*p - '0');
        if (v > max) return false;
    }
    *value = v;
    return true;
}

// A whole positive number of attempts or blocks, as in "block:3:short".
bool parse_count(const std::string& text, int min, int* value) {
    long v = 0;
    if (!parse_decimal(text.c_str(), 1000000000L, &v) || v < min) return false;
    *value = static_cast<int>(v);
    return true;
}

// MAJOR.MINOR, both decimal: "1.05" is major 1, minor 5. The minor number
// has 7 bits; bit 7 of the byte is the translating flag.
bool parse_firmware(const char* text, unsigned char* major, unsigned char* minor) {
    const char* dot = std::strchr(text, '.');
    std::string major_text = dot ? std::string(text, static_cast<size_t>(dot - text)) : text;
    long ma = 0;
    long mi = 0;
    if (!parse_decimal(major_text.c_str(), 255, &ma)) return false;
    if (dot && !parse_decimal(dot + 1, 127, &mi)) return false;
    *major = static_cast<unsigned char>(ma);
    *minor = static_cast<unsigned char>(mi);
    return true;
}

bool parse_seconds(const char* text, double* value) {
    if (!text || !*text || *text == '-' || *text == '+') return false;
    char* end = nullptr;
    double v = std::strtod(text, &end);
    if (*end || !std::isfinite(v) || v < 0 || v > 3600) return false;
    *value = v;
    return true;
}

bool parse_reply_fault(const std::string& what, Fault* fault) {
    if (what == "silence") {
        fault->action = ACTION_SILENCE;
        return true;
    }
    if (what == "short" && fault->target == FAULT_CONFIG) {
        fault->action = ACTION_SHORT;
        return true;
    }
    if (what.compare(0, 5, "byte=") == 0 && parse_byte(what.c_str() + 5, &fault->byte)) {
        fault->action = ACTION_BYTE;
        return true;
    }
    return false;
}

bool parse_block_fault(const std::string& rest, Fault* fault) {
    size_t colon = rest.find(':');
    if (colon == std::string::npos) return false;
    if (!parse_count(rest.substr(0, colon), 1, &fault->number)) return false;
    const std::string what = rest.substr(colon + 1);
    static const struct {
        const char* name;
        FaultAction action;
    } actions[] = {
        {"silence", ACTION_SILENCE}, {"marker", ACTION_MARKER},     {"nocount", ACTION_NOCOUNT},
        {"short", ACTION_SHORT},     {"checksum", ACTION_CHECKSUM}, {"count200", ACTION_COUNT200},
    };
    for (const auto& a : actions) {
        if (what == a.name) {
            fault->action = a.action;
            return true;
        }
    }
    return false;
}

bool set_byte_option(const char* name, const char* value, unsigned char* field,
                     std::string* error) {
    if (parse_byte(value, field)) return true;
    *error = std::string("--") + name + ": '" + value + "' is not a number from 0 to 255";
    return false;
}

}  // namespace

int parse_byte(const char* text, unsigned char* value) {
    if (!text || !*text) return 0;
    long v = 0;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        const char* p = text + 2;
        if (!*p) return 0;
        for (; *p; p++) {
            int digit = 0;
            if (*p >= '0' && *p <= '9')
                digit = *p - '0';
            else if (*p >= 'a' && *p <= 'f')
                digit = *p - 'a' + 10;
            else if (*p >= 'A' && *p <= 'F')
                digit = *p - 'A' + 10;
            else
                return 0;
            v = v * 16 + digit;
            if (v > 255) return 0;
        }
    } else if (!parse_decimal(text, 255, &v)) {
        return 0;
    }
    *value = static_cast<unsigned char>(v);
    return 1;
}

int parse_fault(const char* text, Fault* fault) {
    const std::string given = text ? text : "";
    *fault = Fault{};
    fault->text = given;
    size_t colon = given.find(':');
    if (colon == std::string::npos) return 0;
    const std::string target = given.substr(0, colon);
    const std::string rest = given.substr(colon + 1);
    static const struct {
        const char* name;
        FaultTarget target;
    } replies[] = {
        {"wake", FAULT_WAKE},           {"bye", FAULT_BYE},     {"config", FAULT_CONFIG},
        {"setconfig", FAULT_SETCONFIG}, {"erase", FAULT_ERASE},
    };
    for (const auto& r : replies) {
        if (target == r.name) {
            fault->target = r.target;
            return parse_reply_fault(rest, fault) ? 1 : 0;
        }
    }
    if (target == "block") {
        fault->target = FAULT_BLOCK;
        return parse_block_fault(rest, fault) ? 1 : 0;
    }
    if (target == "disconnect") {
        fault->target = FAULT_DISCONNECT;
        fault->action = ACTION_UNPLUG;
        return parse_count(rest, 0, &fault->number) ? 1 : 0;
    }
    return 0;
}

void print_help(FILE* out) {
    std::fputs(
        "Usage: kestrix-pensim [OPTION]...\n"
        "Simulates a KESTRIX pen on a pseudo-terminal. Prints the terminal's path as the\n"
        "first line, then answers the program's commands until stopped (SIGINT, SIGTERM).\n"
        "\n"
        "  --help                 this text\n"
        "  --text FILE            the text the pen holds (default: none; format below)\n"
        "  --firmware MAJ.MIN     firmware version, e.g. 1.05 (default 1.0)\n"
        "  --translating          translating model (bit 7 of the minor byte)\n"
        "  --memory N             free memory in percent, raw byte 0..255 (default 100)\n"
        "  --battery N            battery level, raw byte 0..255 (default 3)\n"
        "  --mode N               operating mode, raw byte 0..255 (default 0)\n"
        "  --menu-language N      menu language, raw byte 0..255 (default 1)\n"
        "  --text-language N      text language, raw byte 0..255 (default 1)\n"
        "  --target-language N    target language, raw byte 0..255 (default 0)\n"
        "  --erase-delay SECONDS  time the erase takes, fractions allowed (default 1)\n"
        "  --pace                 send and receive at the line rate set by the program\n"
        "  --log FILE             byte log: time, direction, line rate, bytes in hex;\n"
        "                         a note at each change of the line rate\n"
        "  --fault FAULT          inject a fault (repeatable; each applies once)\n"
        "  --fault-always         apply every fault each time it matches\n"
        "  --sessions N           exit after N sessions (wake-up to goodbye)\n"
        "\n"
        "Numbers are decimal or 0x-hexadecimal. Faults:\n"
        "  wake:silence, wake:byte=0xNN (likewise bye:, config:, setconfig:, erase:;\n"
        "  only the reply changes, the command is carried out), config:short (8 bytes),\n"
        "  block:N:silence|marker|nocount|short|checksum|count200 (N-th block attempt\n"
        "  of a download, resends counted), disconnect:N (unplug after N good blocks).\n"
        "\n"
        "Text file: ISO-8859-1 bytes; each line is one scan, sent as one block of\n"
        "(character, attribute) pairs with its line end 0x0A as the last pair; lines of\n"
        "more than 127 pairs take several blocks. Markup: {0} {1} {2} {3} set the size\n"
        "class for what follows (1 at each line start), {attr=0xNN} sets the whole\n"
        "attribute byte, {oe} {OE} {EUR} send the codes 0, 1, 2, {{ and }} are braces.\n",
        out);
}

int parse_options(int argc, char** argv, SimOptions* options, std::string* error) {
    bool translating = false;
    unsigned char minor = options->config.firmware_minor;
    opterr = 0;
    optind = 1;
    for (;;) {
        const int prev = optind;
        int c = getopt_long(argc, argv, "+:", long_options, nullptr);
        if (c == -1) break;
        const char* word = prev < argc ? argv[prev] : "";
        switch (c) {
            case OPT_HELP:
                return OPTIONS_HELP;
            case OPT_TEXT:
                if (!*optarg) {
                    *error = "--text: the file name is empty";
                    return OPTIONS_ERROR;
                }
                options->text_path = optarg;
                break;
            case OPT_FIRMWARE:
                if (!parse_firmware(optarg, &options->config.firmware_major, &minor)) {
                    *error = std::string("--firmware: '") + optarg +
                             "' is not MAJOR.MINOR (0..255 . 0..127)";
                    return OPTIONS_ERROR;
                }
                break;
            case OPT_TRANSLATING:
                translating = true;
                break;
            case OPT_MEMORY:
                if (!set_byte_option("memory", optarg, &options->config.memory_free, error))
                    return OPTIONS_ERROR;
                break;
            case OPT_BATTERY:
                if (!set_byte_option("battery", optarg, &options->config.battery_level, error))
                    return OPTIONS_ERROR;
                break;
            case OPT_MODE:
                if (!set_byte_option("mode", optarg, &options->config.mode, error))
                    return OPTIONS_ERROR;
                break;
            case OPT_MENU_LANGUAGE:
                if (!set_byte_option("menu-language", optarg, &options->config.menu_language,
                                     error))
                    return OPTIONS_ERROR;
                break;
            case OPT_TEXT_LANGUAGE:
                if (!set_byte_option("text-language", optarg, &options->config.text_language,
                                     error))
                    return OPTIONS_ERROR;
                break;
            case OPT_TARGET_LANGUAGE:
                if (!set_byte_option("target-language", optarg, &options->config.target_language,
                                     error))
                    return OPTIONS_ERROR;
                break;
            case OPT_ERASE_DELAY:
                if (!parse_seconds(optarg, &options->erase_delay)) {
                    *error = std::string("--erase-delay: '") + optarg +
                             "' is not a number of seconds from 0 to 3600";
                    return OPTIONS_ERROR;
                }
                break;
            case OPT_PACE:
                options->pace = true;
                break;
            case OPT_LOG:
                if (!*optarg) {
                    *error = "--log: the file name is empty";
                    return OPTIONS_ERROR;
                }
                options->log_path = optarg;
                break;
            case OPT_FAULT: {
                Fault fault;
                if (!parse_fault(optarg, &fault)) {
                    *error = std::string("--fault: '") + optarg + "' is not a known fault";
                    return OPTIONS_ERROR;
                }
                options->faults.push_back(fault);
                break;
            }
            case OPT_FAULT_ALWAYS:
                options->fault_always = true;
                break;
            case OPT_SESSIONS: {
                long n = 0;
                if (!parse_decimal(optarg, 1000000000L, &n) || n < 1) {
                    *error = std::string("--sessions: '") + optarg + "' is not a positive number";
                    return OPTIONS_ERROR;
                }
                options->sessions = static_cast<int>(n);
                break;
            }
            case ':':
                *error = std::string(word) + ": a value is missing";
                return OPTIONS_ERROR;
            default:
                *error = std::string(word) + ": unknown or ambiguous option";
                return OPTIONS_ERROR;
        }
    }
    if (optind < argc) {
        *error = std::string(argv[optind]) + ": unexpected argument";
        return OPTIONS_ERROR;
    }
    options->config.firmware_minor =
        static_cast<unsigned char>((minor & 0x7F) | (translating ? 0x80 : 0));
    return OPTIONS_OK;
}
