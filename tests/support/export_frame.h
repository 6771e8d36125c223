// The frame of the RTF and LaTeX exports, byte for byte: what the program
// writes before the text, between paragraphs and after the text. One copy for
// the exporter tests and the batch-mode tests.
#pragma once

#include <string>

inline const std::string kRtfHeader =
    "{\\rtf1\\ansi\\deff0\n"
    "{\\fonttbl{\\f0\\froman new century schoolbook;}}\n"
    "{\\stylesheet{\\s1\\snext1 Standard;}}\n"
    "\\pard\\plain\\s1\\f0 ";
inline const std::string kRtfPar = "\n\\par\\pard\\plain\\s1\\f0 ";
inline const std::string kRtfTrailer = "\n\\par\n\\par}";
inline const std::string kLatexHeader =
    "\\documentclass[a4paper,12pt]{article}\n"
    "\\usepackage[latin1]{inputenc}\n"
    "\\usepackage[T1]{fontenc}\n"
    "\n"
    "\\parskip\\medskipamount\n"
    "\\parindent 0cm\n"
    "\n"
    "\\begin{document}\n";
inline const std::string kLatexTrailer = "\n\\end{document}\n";

// A whole export of `body`.
inline std::string rtf(const std::string& body) {
    return kRtfHeader + body + kRtfTrailer;
}
inline std::string latex(const std::string& body) {
    return kLatexHeader + body + kLatexTrailer;
}
