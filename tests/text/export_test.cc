#include "text/export.h"

#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/catalogue.h"
#include "state/state.h"
#include "support/export_frame.h"
#include "support/process.h"
#include "text/store.h"

namespace {

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; i++) out += s;
    return out;
}

// A piece of text whose characters all carry the same attribute byte.
struct TextRun {
    std::string text;
    unsigned char attribute;
};

// Puts the runs into the store, growing its buffers the way the download does.
void fill_store(const std::vector<TextRun>& runs) {
    std::string text;
    std::string attributes;
    for (const TextRun& r : runs) {
        text += r.text;
        attributes += std::string(r.text.size(), static_cast<char>(r.attribute));
    }
    const int length = static_cast<int>(text.size());
    while (length + 2 >= root.text_capacity) {
        root.text = static_cast<char*>(g_realloc(root.text, root.text_capacity + STORE_STEP));
        root.attributes = static_cast<unsigned char*>(
            g_realloc(root.attributes, root.text_capacity + STORE_STEP));
        root.text_capacity += STORE_STEP;
    }
    std::memcpy(root.text, text.data(), text.size());
    std::memcpy(root.attributes, attributes.data(), attributes.size());
    root.text[length] = '\0';
    root.text_length = length;
    root.unsaved = 1;
}

void fill_store(const std::string& text, unsigned char attribute = 1) {
    fill_store({{text, attribute}});
}

class ExportTest : public ::testing::Test {
   protected:
    void SetUp() override {
        setup_data();
        root.language = LANG_EN;
        root.save_format = FORMAT_ASCII;
        root.save_name[0] = '\0';
        root.unsaved = 0;
    }

    // Exports through ExportText to a new file and returns its bytes.
    std::string exported(int format) {
        root.save_format = format;
        const std::string path = dir.file("out" + std::to_string(++count));
        EXPECT_EQ(ExportText(path.c_str(), nullptr), 1) << "format " << format;
        EXPECT_EQ(root.unsaved, 0);
        return read_file(path);
    }

    TempDir dir;
    int count = 0;
};

using ExportFormats = ExportTest;
using ExportLatex = ExportTest;
using ExportEntry = ExportTest;
using ExportFailure = ExportTest;
using ExportStream = ExportTest;

TEST_F(ExportFormats, EmptyStoreWritesHeaderAndTrailerOnly) {
    fill_store("");
    for (int format : {FORMAT_ASCII, FORMAT_RTF, FORMAT_LATEX}) {
        root.unsaved = 1;
        const std::string expected[] = {"", kRtfHeader + kRtfTrailer, kLatexHeader + kLatexTrailer};
        EXPECT_EQ(exported(format), expected[format]);
    }
}

TEST_F(ExportFormats, Utf8IsTheAsciiTextConvertedForEveryByte) {
    // Every byte value in every size class, in rounds of 259 bytes, over more
    // than one output buffer.
    std::vector<TextRun> runs;
    for (int round = 0; round < 600; round++) {
        std::string all(256, '\0');
        for (int c = 0; c < 256; c++) all[static_cast<size_t>(c)] = static_cast<char>(c);
        runs.push_back({all + "abc", static_cast<unsigned char>(round % 4)});
    }
    fill_store(runs);
    const std::string ascii = exported(FORMAT_ASCII);
    ASSERT_EQ(ascii.size(), 600u * 259u);
    EXPECT_TRUE(exported(FORMAT_UTF8) == utf8_of(ascii));
}

TEST_F(ExportFormats, LineEndsStartParagraphs) {
    // RTF repeats the size after every paragraph; LaTeX keeps it.
    fill_store("ab\nc");
    EXPECT_EQ(exported(FORMAT_ASCII), "ab\nc");
    EXPECT_EQ(exported(FORMAT_RTF), rtf("\\fs20 ab" + kRtfPar + "\\fs20 c"));
    EXPECT_EQ(exported(FORMAT_LATEX), latex("\\normalsize ab\n\nc"));

    fill_store("a\n\nb");
    EXPECT_EQ(exported(FORMAT_RTF), rtf("\\fs20 a" + kRtfPar + kRtfPar + "\\fs20 b"));
    EXPECT_EQ(exported(FORMAT_LATEX), latex("\\normalsize a\n\n\n\nb"));

    // A text that ends with a line end, and a class change after one.
    fill_store({{"a\n", 1}, {"b\n", 2}});
    EXPECT_EQ(exported(FORMAT_RTF), rtf("\\fs20 a" + kRtfPar + "\\fs24 b" + kRtfPar));
    EXPECT_EQ(exported(FORMAT_LATEX), latex("\\normalsize a\n\n\\large b\n\n"));
}

TEST_F(ExportFormats, SizeClassesMapToFontSizes) {
    fill_store({{"a", 0}, {"b", 3}});
    EXPECT_EQ(exported(FORMAT_RTF), rtf("\\fs16 a\\fs28 b"));
    EXPECT_EQ(exported(FORMAT_LATEX), latex("\\footnotesize a\\Large b"));

    fill_store({{"a", 0}, {"b", 1}, {"c", 2}, {"d", 3}, {"e", 3}});
    EXPECT_EQ(exported(FORMAT_RTF), rtf("\\fs16 a\\fs20 b\\fs24 c\\fs28 de"));
    EXPECT_EQ(exported(FORMAT_LATEX), latex("\\footnotesize a\\normalsize b\\large c\\Large de"));

    // Only bits 0-1 are the size: 0xC5 is class 1, 0xFE class 2.
    fill_store({{"x", 0xC5}, {"y", 0x01}, {"z", 0xFE}});
    EXPECT_EQ(exported(FORMAT_RTF), rtf("\\fs20 xy\\fs24 z"));
}

TEST_F(ExportFormats, HighBytesAndEscapedCharacters) {
    fill_store("\xe4\xf7\x80\xff");
    EXPECT_EQ(exported(FORMAT_ASCII), "\xe4\xf7\x80\xff");
    EXPECT_EQ(exported(FORMAT_RTF), rtf("\\fs20 \\'e4\\'f7\\'80\\'ff"));
    EXPECT_EQ(exported(FORMAT_LATEX), latex("\\normalsize \xe4$\xf7$\x80\xff"));

    fill_store("\\{}50%");
    EXPECT_EQ(exported(FORMAT_ASCII), "\\{}50%");
    EXPECT_EQ(exported(FORMAT_RTF), rtf("\\fs20 \\\\\\{\\}50%"));
    EXPECT_EQ(exported(FORMAT_LATEX), latex("\\normalsize $\\backslash$\\{{}\\}{}50\\%{}"));

    fill_store("#$&_^~");
    EXPECT_EQ(exported(FORMAT_RTF), rtf("\\fs20 #$&_^~"));
    EXPECT_EQ(exported(FORMAT_LATEX), latex("\\normalsize \\#{}\\${}\\&{}\\_{}\\^{}\\~{}"));

    // Control bytes pass through RTF and LaTeX unchanged.
    fill_store("\x01\t\x7f");
    EXPECT_EQ(exported(FORMAT_RTF), rtf("\\fs20 \x01\t\x7f"));
    EXPECT_EQ(exported(FORMAT_LATEX), latex("\\normalsize \x01\t\x7f"));
}

TEST_F(ExportFormats, MathOnlyCharactersGoBetweenDollars) {
    const std::string math = "\xac\xb1\xb2\xb3\xb5\xb9\xd7\xf7";
    fill_store(math);
    std::string body = "\\normalsize ";
    for (char c : math) body += std::string("$") + c + "$";
    EXPECT_EQ(exported(FORMAT_LATEX), latex(body));
    EXPECT_EQ(exported(FORMAT_ASCII), math);
    // Their neighbours stay plain.
    fill_store("\xab\xb0\xb4\xb6\xd6\xd8\xf6\xf8");
    EXPECT_EQ(exported(FORMAT_LATEX), latex("\\normalsize \xab\xb0\xb4\xb6\xd6\xd8\xf6\xf8"));
}

TEST_F(ExportFormats, MixedText) {
    fill_store(
        {{"Gr\xfc\xdf", 1}, {"e {x}", 2}, {"\n", 0}, {"\n", 3}, {"50% \\ ", 2}, {"\xf7~", 0}});
    EXPECT_EQ(exported(FORMAT_ASCII),
              "Gr\xfc\xdf"
              "e {x}\n\n50% \\ \xf7~");
    EXPECT_EQ(exported(FORMAT_RTF), rtf("\\fs20 Gr\\'fc\\'df\\fs24 e \\{x\\}" + kRtfPar + kRtfPar +
                                        "\\fs24 50% \\\\ \\fs16 \\'f7~"));
    EXPECT_EQ(exported(FORMAT_LATEX), latex("\\normalsize Gr\xfc\xdf\\large e \\{{}x\\}{}\n\n\n\n"
                                            "50\\%{} $\\backslash$ \\footnotesize $\xf7$\\~{}"));
}

TEST_F(ExportFormats, LongOutputIsComplete) {
    // Several hundred kilobytes each, so output is written in many pieces.
    fill_store(std::string(100000, '\xe4'), 2);
    EXPECT_EQ(exported(FORMAT_RTF), rtf("\\fs24 " + repeat("\\'e4", 100000)));
    fill_store(std::string(40000, '\\'), 1);
    EXPECT_EQ(exported(FORMAT_LATEX), latex("\\normalsize " + repeat("$\\backslash$", 40000)));
    fill_store(std::string(30000, '\n') + "x");
    EXPECT_EQ(exported(FORMAT_RTF), rtf(repeat(kRtfPar, 30000) + "\\fs20 x"));
    const std::string ascii(300000, 'q');
    fill_store(ascii);
    EXPECT_EQ(exported(FORMAT_ASCII), ascii);
}

TEST_F(ExportLatex, BlankPastColumn64BecomesLineEnd) {
    // "\normalsize " counts 12, so 52 letters end at column 64.
    fill_store(std::string(52, 'a') + " x");
    EXPECT_EQ(exported(FORMAT_LATEX), latex("\\normalsize " + std::string(52, 'a') + " x"));
    // 53 letters pass it; the counter starts again at 0 after the break.
    fill_store(std::string(53, 'a') + " " + std::string(64, 'b') + " " + "c");
    EXPECT_EQ(exported(FORMAT_LATEX),
              latex("\\normalsize " + std::string(53, 'a') + "\n" + std::string(64, 'b') + " c"));
    // A run without blanks is never broken.
    fill_store(std::string(300, 'z'));
    EXPECT_EQ(exported(FORMAT_LATEX), latex("\\normalsize " + std::string(300, 'z')));
}

TEST_F(ExportLatex, BreakFallsOnTheFirstBlankPastTheColumnWhereverItStands) {
    // m percent signs (4 columns each) and n letters put the first blank at
    // column 12 + 4m + n, and so at every place in every group of eight bytes;
    // a second blank follows unless the first one broke the line.
    for (int m = 0; m < 8; m++) {
        for (int col = 56; col <= 66; col++) {
            const int n = col - 12 - 4 * m;
            fill_store(std::string(m, '%') + std::string(n, 'a') + "  " + std::string(20, 'z'));
            const bool first = col > 64;
            const bool second = !first && col + 1 > 64;
            const std::string blanks = std::string(first ? "\n" : " ") + (second ? "\n" : " ");
            EXPECT_EQ(exported(FORMAT_LATEX),
                      latex("\\normalsize " + repeat("\\%{}", m) + std::string(n, 'a') + blanks +
                            std::string(20, 'z')))
                << m << " " << n;
        }
    }
}

TEST_F(ExportLatex, AccentsTakeAnEmptyArgumentAndCountFourColumns) {
    // "\~ " would set the accent on the blank and print "~ /scans".
    fill_store("~/scans ^2");
    EXPECT_EQ(exported(FORMAT_LATEX), latex("\\normalsize \\~{}/scans \\^{}2"));
    // 12 + 13*4 = 64: the blank stays; one more passes the column.
    fill_store(std::string(13, '~') + " a");
    EXPECT_EQ(exported(FORMAT_LATEX), latex("\\normalsize " + repeat("\\~{}", 13) + " a"));
    fill_store(std::string(14, '^') + " b");
    EXPECT_EQ(exported(FORMAT_LATEX), latex("\\normalsize " + repeat("\\^{}", 14) + "\nb"));
}

TEST_F(ExportFormats, RtfDefaultFontIsInTheFontTable) {
    fill_store("a");
    const std::string rtf_text = exported(FORMAT_RTF);
    const size_t at = rtf_text.find("\\deff");
    ASSERT_NE(at, std::string::npos);
    const std::string font =
        rtf_text.substr(at + 5, rtf_text.find_first_not_of("0123456789", at + 5) - at - 5);
    EXPECT_NE(rtf_text.find("{\\fonttbl{\\f" + font + "\\"), std::string::npos) << font;
}

TEST_F(ExportFormats, SizeChangesInsideLongRuns) {
    fill_store({{std::string(10, 'a'), 1}, {std::string(10, 'b'), 2}, {std::string(10, 'c'), 1}});
    EXPECT_EQ(exported(FORMAT_RTF), rtf("\\fs20 " + std::string(10, 'a') + "\\fs24 " +
                                        std::string(10, 'b') + "\\fs20 " + std::string(10, 'c')));
    EXPECT_EQ(exported(FORMAT_LATEX),
              latex("\\normalsize " + std::string(10, 'a') + "\\large " + std::string(10, 'b') +
                    "\\normalsize " + std::string(10, 'c')));
}

TEST_F(ExportLatex, ColumnCountsEscapesBlanksAndSizes) {
    // A line end resets the counter: a blank after 60 letters stays.
    fill_store("a\n" + std::string(60, 'b') + " c");
    EXPECT_EQ(exported(FORMAT_LATEX), latex("\\normalsize a\n\n" + std::string(60, 'b') + " c"));

    // Written blanks count one each: 51 letters reach 63, two blanks 65.
    fill_store(std::string(51, 'a') + "   x");
    EXPECT_EQ(exported(FORMAT_LATEX), latex("\\normalsize " + std::string(51, 'a') + "  \nx"));

    // Escapes count what they write: 12 + 4*12 + 4 = 64.
    fill_store("\\\\\\\\abcd e f");
    EXPECT_EQ(exported(FORMAT_LATEX),
              latex("\\normalsize " + repeat("$\\backslash$", 4) + "abcd e\nf"));
    // 12 + 13*3 + 3*4 + 1 = 64.
    fill_store(std::string(13, '\xf7') + "%%%a b c");
    EXPECT_EQ(exported(FORMAT_LATEX),
              latex("\\normalsize " + repeat("$\xf7$", 13) + repeat("\\%{}", 3) + "a b\nc"));

    // A size declaration before a blank counts: 64 + "\large " = 71.
    fill_store({{std::string(52, 'a'), 1}, {" b", 2}});
    EXPECT_EQ(exported(FORMAT_LATEX),
              latex("\\normalsize " + std::string(52, 'a') + "\\large \nb"));
}

TEST_F(ExportEntry, CopiesPathAndDispatchesOnFormat) {
    fill_store("a{");
    const std::string path = dir.file("x.rtf");
    root.save_format = FORMAT_RTF;
    EXPECT_EQ(ExportText(path.c_str(), nullptr), 1);
    EXPECT_STREQ(root.save_name, path.c_str());
    EXPECT_EQ(read_file(path), rtf("\\fs20 a\\{"));

    // A stream leaves save_name alone.
    FILE* f = tmpfile();
    ASSERT_NE(f, nullptr);
    root.save_format = FORMAT_LATEX;
    EXPECT_EQ(ExportText(nullptr, f), 1);
    EXPECT_STREQ(root.save_name, path.c_str());
    std::fclose(f);
}

TEST_F(ExportEntry, UnopenablePathFailsAndIsRemembered) {
    fill_store("abc");
    for (int format : {FORMAT_ASCII, FORMAT_RTF, FORMAT_LATEX}) {
        root.save_format = format;
        const std::string path = dir.file("missing/out.txt");
        EXPECT_EQ(ExportText(path.c_str(), nullptr), 0);
        EXPECT_STREQ(root.save_name, path.c_str());
        EXPECT_EQ(root.unsaved, 1);
        EXPECT_FALSE(file_exists(path));
        // A directory cannot be written either.
        EXPECT_EQ(ExportText(dir.path().c_str(), nullptr), 0);
        EXPECT_STREQ(root.save_name, dir.path().c_str());
        EXPECT_EQ(root.unsaved, 1);
    }
    // A path longer than the record holds is remembered cut.
    const std::string path = dir.path() + "/" + std::string(5000, 'n');
    EXPECT_EQ(ExportText(path.c_str(), nullptr), 0);
    EXPECT_EQ(std::string(root.save_name), path.substr(0, SAVE_NAME_MAX));
}

TEST_F(ExportEntry, UnknownFormatWritesNothing) {
    fill_store("abc");
    for (int format : {-1, int{FORMAT_COUNT}, 99}) {
        root.save_format = format;
        const std::string path = dir.file("never");
        EXPECT_EQ(ExportText(path.c_str(), nullptr), 0);
        EXPECT_STREQ(root.save_name, path.c_str());
        EXPECT_FALSE(file_exists(path));
        EXPECT_EQ(root.unsaved, 1);
    }
    // Neither a path nor a stream: nothing to write to.
    EXPECT_EQ(export_ascii(nullptr, nullptr), 0);
    EXPECT_EQ(export_rtf(nullptr, nullptr), 0);
    EXPECT_EQ(export_latex(nullptr, nullptr), 0);
}

TEST_F(ExportEntry, ExporterTakesItsTextAndLeavesTheStateAlone) {
    fill_store("store");
    const unsigned char attributes[] = {2, 2, 2};
    const std::string path = dir.file("given.rtf");
    EXPECT_EQ(write_export(path.c_str(), nullptr, FORMAT_RTF, "a{b", attributes, 2), 1);
    EXPECT_EQ(read_file(path), rtf("\\fs24 a\\{"));
    EXPECT_EQ(root.unsaved, 1);
    EXPECT_STREQ(root.save_name, "");
    EXPECT_EQ(write_export(path.c_str(), nullptr, FORMAT_COUNT, "a", attributes, 1), 0);
}

TEST_F(ExportFailure, FullDeviceFailsWhetherAtWriteOrAtClose) {
    // A short text fails only when the file is closed; a long one at a write.
    for (size_t size : {size_t{3}, size_t{400000}}) {
        fill_store(std::string(size, 'x'));
        for (int format : {FORMAT_ASCII, FORMAT_RTF, FORMAT_LATEX, FORMAT_UTF8}) {
            root.save_format = format;
            EXPECT_EQ(ExportText("/dev/full", nullptr), 0) << size << " " << format;
            EXPECT_EQ(root.unsaved, 1);
            EXPECT_STREQ(root.save_name, "/dev/full");
        }
    }
}

TEST_F(ExportFailure, FullStreamFailsAndStaysOpen) {
    for (size_t size : {size_t{3}, size_t{400000}}) {
        fill_store(std::string(size, 'x'));
        for (int format : {FORMAT_ASCII, FORMAT_RTF, FORMAT_LATEX, FORMAT_UTF8}) {
            FILE* f = std::fopen("/dev/full", "w");
            ASSERT_NE(f, nullptr);
            root.save_format = format;
            EXPECT_EQ(ExportText(nullptr, f), 0) << size << " " << format;
            EXPECT_EQ(root.unsaved, 1);
            // Still open: its descriptor is valid and it can be closed once.
            EXPECT_NE(fcntl(fileno(f), F_GETFD), -1);
            std::fclose(f);
        }
    }
}

TEST_F(ExportStream, StreamStaysOpenAndUsable) {
    fill_store("ab\nc");
    FILE* f = tmpfile();
    ASSERT_NE(f, nullptr);
    root.save_format = FORMAT_ASCII;
    root.unsaved = 1;
    EXPECT_EQ(ExportText(nullptr, f), 1);
    EXPECT_EQ(root.unsaved, 0);
    root.save_format = FORMAT_RTF;
    EXPECT_EQ(ExportText(nullptr, f), 1);
    ASSERT_GE(std::fputs("|end", f), 0);
    ASSERT_EQ(std::fflush(f), 0);
    std::rewind(f);
    std::string got;
    char buf[256];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) got.append(buf, n);
    std::fclose(f);
    EXPECT_EQ(got, "ab\nc" + rtf("\\fs20 ab" + kRtfPar + "\\fs20 c") + "|end");
}

TEST(ExportNames, ShortNames) {
    EXPECT_STREQ(get_format_string_opt(FORMAT_ASCII), "ascii");
    EXPECT_STREQ(get_format_string_opt(FORMAT_RTF), "rtf");
    EXPECT_STREQ(get_format_string_opt(FORMAT_LATEX), "latex");
    for (int bad : {-1, int{FORMAT_COUNT}, 1000}) EXPECT_EQ(get_format_string_opt(bad), nullptr);
}

TEST_F(ExportLatex, EveryPrintableCharacterCompiles) {
    gchar* pdflatex = g_find_program_in_path("pdflatex");
    if (!pdflatex) GTEST_SKIP() << "pdflatex is not installed";
    const std::string program = pdflatex;
    g_free(pdflatex);

    std::vector<TextRun> runs;
    int n = 0;
    for (int c = 0x20; c <= 0xFF; c++) {
        if (c > 0x7E && c < 0xA0) continue;
        runs.push_back({std::string(1, static_cast<char>(c)), static_cast<unsigned char>(n % 4)});
        if (++n % 20 == 0) runs.push_back({"\n", 0});
    }
    runs.push_back({"\n\nend of text", 1});
    fill_store(runs);
    root.save_format = FORMAT_LATEX;
    const std::string tex = dir.file("all.tex");
    ASSERT_EQ(ExportText(tex.c_str(), nullptr), 1);

    RunResult r = run_program({program, "-interaction=nonstopmode", "-halt-on-error",
                               "-no-shell-escape", "-output-directory=" + dir.path(), tex},
                              {"HOME=" + dir.path(), "TEXMFOUTPUT=" + dir.path()}, "", 170);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(file_exists(dir.file("all.pdf")));
}

}  // namespace
