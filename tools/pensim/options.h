// Simulator options: the command line of kestrix-pensim.
//
// Principles of operation: every option is a long option. Values are checked
// whole (no trailing characters, no sign); configuration values are raw bytes
// 0..255 so that out-of-range values can be served on purpose. Faults are
// collected in the order given; the pen takes the first unused one that
// matches an exchange.
//
//   parse_options   OPTIONS_OK, OPTIONS_HELP or OPTIONS_ERROR (with a message)
//   parse_fault     1 the fault text is valid, 0 not
//   parse_byte      1 a decimal or 0x-hex number 0..255, 0 not
//   print_help      the option list and the text file format
#pragma once

#include <cstdio>
#include <string>
#include <vector>

enum FaultTarget {
    FAULT_WAKE,
    FAULT_BYE,
    FAULT_CONFIG,
    FAULT_SETCONFIG,
    FAULT_ERASE,
    FAULT_BLOCK,
    FAULT_DISCONNECT,
};

enum FaultAction {
    ACTION_NONE,      // the normal reply
    ACTION_SILENCE,   // no reply at all
    ACTION_BYTE,      // `byte` in place of the reply's first byte
    ACTION_SHORT,     // configuration: 8 bytes; block: body cut short
    ACTION_MARKER,    // block: the single byte 0x85 in place of the block
    ACTION_NOCOUNT,   // block: the marker, then silence
    ACTION_CHECKSUM,  // block: a wrong checksum
    ACTION_COUNT200,  // block: announces (and sends) 200 pairs
    ACTION_UNPLUG,    // disconnect: close the line
};

struct Fault {
    FaultTarget target;
    FaultAction action;
    int number;          // block: attempt (1-based); disconnect: good blocks
    unsigned char byte;  // ACTION_BYTE
    bool used;
    std::string text;  // as given, for the log
};

// The configuration reply's eight bytes after 0x82, in reply order.
struct PenConfig {
    unsigned char mode;
    unsigned char menu_language;
    unsigned char text_language;
    unsigned char target_language;
    unsigned char memory_free;
    unsigned char battery_level;
    unsigned char firmware_major;
    unsigned char firmware_minor;  // low 7 bits minor, bit 7 translating
};

struct SimOptions {
    std::string text_path;  // empty: the pen holds no text
    PenConfig config = {0, 1, 1, 0, 100, 3, 1, 0};
    double erase_delay = 1.0;  // seconds
    bool pace = false;
    std::string log_path;
    std::vector<Fault> faults;
    bool fault_always = false;
    int sessions = 0;  // 0: serve until stopped
};

enum { OPTIONS_OK = 0, OPTIONS_HELP = 1, OPTIONS_ERROR = 2 };

int parse_options(int argc, char** argv, SimOptions* options, std::string* error);
int parse_fault(const char* text, Fault* fault);
int parse_byte(const char* text, unsigned char* value);
void print_help(FILE* out);
