// Batch mode end to end: the built kestrix against kestrix-pensim, with a
// temporary HOME; standard output, standard error, exit status and the
// preferences file compared byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "app/catalogue.h"
#include "app/state.h"
#include "support/process.h"

namespace {

std::string rows3(const MessageText& a, const MessageText& b, const MessageText& c, int l) {
    return std::string(a[l]) + "\n" + b[l] + "\n" + c[l] + "\n";
}

const char kRtfHeader[] =
    "{\\rtf1\\ansi\\deff1\n"
    "{\\fonttbl{\\f0\\froman new century schoolbook;}}\n"
    "{\\stylesheet{\\s1\\snext1 Standard;}}\n"
    "\\pard\\plain\\s1\\f0 ";
const char kLatexHeader[] =
    "\\documentclass[a4paper,12pt]{article}\n"
    "\\usepackage[latin1]{inputenc}\n"
    "\\usepackage[T1]{fontenc}\n"
    "\n"
    "\\parskip\\medskipamount\n"
    "\\parindent 0cm\n"
    "\n"
    "\\begin{document}\n";

std::string prefs(const std::string& device, int speed, const char* format,
                  const char* language = "English") {
    return std::string("Language: ") + language + "\nSpeed: " + std::to_string(speed) +
           "\nDevice: " + device + "\nSave as: " + format + "\nFilename: \n";
}

struct Pen {
    TempDir dir;
    std::unique_ptr<PenSim> sim;
    explicit Pen(const std::string& text, std::vector<std::string> extra = {}) {
        write_file(dir.file("pen.txt"), text);
        std::vector<std::string> args = {"--text", dir.file("pen.txt")};
        args.insert(args.end(), extra.begin(), extra.end());
        sim = std::make_unique<PenSim>(args);
    }
};

TEST(Batch, NoDeviceReportsSerialFailureAndSavesNothing) {
    TempDir home;
    RunResult r = run_kestrix(home.path(), {"-batch", "-d", home.file("no-such-tty")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("Settings can not be loaded: ") + home.file(".kxrc") +
                         "\nStarting with default values.\n" +
                         rows3(tce_serial1, tce_serial2, tce_serial3, LANG_EN));
    EXPECT_FALSE(file_exists(home.file(".kxrc")));
}

TEST(Batch, SilentDeviceReportsConnectionFailureInGerman) {
    TempDir home;
    const std::string old = "Language: Deutsch\n";
    write_file(home.file(".kxrc"), old);
    // /dev/null opens but never answers the wake-up.
    RunResult r = run_kestrix(home.path(), {"-ba", "-de=/dev/null"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, rows3(tce_connect1, tce_connect2, tce_connect3, LANG_DE));
    EXPECT_EQ(read_file(home.file(".kxrc")), old);
}

TEST(Batch, RegularFileAsDeviceIsRefusedAndLeftAlone) {
    TempDir home;
    write_file(home.file("notes.txt"), "my notes\n");
    RunResult r = run_kestrix(home.path(), {"-batch", "-d", home.file("notes.txt")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(tce_serial1[LANG_EN]), std::string::npos);
    EXPECT_EQ(read_file(home.file("notes.txt")), "my notes\n");
}

TEST(Batch, AsciiExportGoesToStandardOutputAndPreferencesAreSaved) {
    Pen pen("Hello\n{3}W{0}orld\n");
    ASSERT_TRUE(pen.sim->ok());
    TempDir home;
    RunResult r = run_kestrix(home.path(), {"-batch", "-d", pen.sim->tty()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Hello\nWorld\n");
    EXPECT_EQ(read_file(home.file(".kxrc")), prefs(pen.sim->tty(), 38400, "ascii"));
}

TEST(Batch, RtfExportWithSizesAndCommandLineSettingsKept) {
    Pen pen("Hello\n{3}W{0}orld\n");
    ASSERT_TRUE(pen.sim->ok());
    TempDir home;
    RunResult r =
        run_kestrix(home.path(), {"-batch", "-f", "rtf", "-s", "115200", "-d", pen.sim->tty()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string(kRtfHeader) + "\\fs20 Hello" + "\n\\par\\pard\\plain\\s1\\f0 " +
                         "\\fs28 W\\fs16 orld" + "\n\\par\\pard\\plain\\s1\\f0 " +
                         "\n\\par\n\\par}");
    EXPECT_EQ(read_file(home.file(".kxrc")), prefs(pen.sim->tty(), 115200, "rtf"));
}

TEST(Batch, LatexExport) {
    Pen pen("Hello\n{3}W{0}orld\n");
    ASSERT_TRUE(pen.sim->ok());
    TempDir home;
    RunResult r = run_kestrix(home.path(), {"--batch", "--format=LaTeX", "-d", pen.sim->tty()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string(kLatexHeader) + "\\normalsize Hello\n\n" +
                         "\\Large W\\footnotesize orld\n\n" + "\n\\end{document}\n");
    EXPECT_EQ(read_file(home.file(".kxrc")), prefs(pen.sim->tty(), 38400, "latex"));
}

TEST(Batch, EmptyPenExportsEmptyStore) {
    Pen pen("");
    ASSERT_TRUE(pen.sim->ok());
    TempDir home;
    RunResult r = run_kestrix(home.path(), {"-batch", "-d", pen.sim->tty()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(file_exists(home.file(".kxrc")));
}

TEST(Batch, TransmissionErrorReportedAndNothingSaved) {
    // Every block attempt has a bad checksum: the download gives up.
    Pen pen("Hello\n",
            {"--fault-always", "--fault", "block:1:checksum", "--fault", "block:2:checksum",
             "--fault", "block:3:checksum", "--fault", "block:4:checksum"});
    ASSERT_TRUE(pen.sim->ok());
    TempDir home;
    RunResult r = run_kestrix(home.path(), {"-batch", "-d", pen.sim->tty()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    const std::string rows = rows3(tce_transfer1, tce_transfer2, tce_transfer3, LANG_EN);
    ASSERT_GE(r.err.size(), rows.size());
    EXPECT_EQ(r.err.substr(r.err.size() - rows.size()), rows);
    EXPECT_FALSE(file_exists(home.file(".kxrc")));
}

TEST(Batch, FailingStandardOutputIsAFailure) {
    Pen pen("Hello\n");
    ASSERT_TRUE(pen.sim->ok());
    TempDir home;
    RunResult r = run_program(
        {"/bin/sh", "-c",
         std::string("exec '") + KESTRIX_BIN + "' -batch -d '" + pen.sim->tty() + "' >/dev/full"},
        {"HOME=" + home.path(), "LC_ALL=C"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(file_exists(home.file(".kxrc")));
}

}  // namespace
