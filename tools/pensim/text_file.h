// The pen's text: a text file turned into the blocks the pen sends.
//
// Principles of operation: the file is ISO-8859-1 bytes and is never
// converted. Each line is one scan and becomes one block of (character,
// attribute) pairs; its line end 0x0A is the scan's last pair. A last line
// without a line end is a scan too, without the 0x0A pair. A scan of more than
// 127 pairs is sent as several blocks of at most 127 pairs. Markup in braces
// sets attributes and gives the codes that ISO-8859-1 lacks; a brace that is
// meant as a character is doubled. Bad markup is an error with its line
// number, so a mistyped file is never served half-right.
//
//   parse_pen_text  1 the bytes were turned into blocks, 0 bad markup (message)
//   load_pen_text   1 the file was read and parsed, 0 not (message)
#pragma once

#include <string>
#include <vector>

// One block: 2n bytes, each pair a character code and its attribute byte.
using PenBlock = std::vector<unsigned char>;

constexpr int PEN_MAX_PAIRS = 127;

int parse_pen_text(const std::string& bytes, std::vector<PenBlock>* blocks, std::string* error);
int load_pen_text(const std::string& path, std::vector<PenBlock>* blocks, std::string* error);
