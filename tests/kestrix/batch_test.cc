// Batch mode end to end: the built kestrix against kestrix-pensim, with a
// temporary HOME; standard output, standard error, exit status and the
// preferences file compared byte for byte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/catalogue.h"
#include "state/state.h"
#include "support/export_frame.h"
#include "support/process.h"

namespace {

std::string rows3(const MessageText& a, const MessageText& b, const MessageText& c, int l) {
    return std::string(a[l]) + "\n" + b[l] + "\n" + c[l] + "\n";
}

std::string prefs(const std::string& device, int speed, const char* format,
                  const char* language = "English") {
    return std::string("Language: ") + language + "\nSpeed: " + std::to_string(speed) +
           "\nDevice: " + device + "\nSave as: " + format + "\nFilename: \n";
}

// `err` ends with `tail`.
void expect_tail(const std::string& err, const std::string& tail) {
    ASSERT_GE(err.size(), tail.size()) << err;
    EXPECT_EQ(err.substr(err.size() - tail.size()), tail);
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
                         rows3(tce_serial1, tce_serial2, tce_serial3, LANG_EN) +
                         home.file("no-such-tty") + ": " + tcause_missing[LANG_EN] + "\n");
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
    EXPECT_EQ(r.out, rtf("\\fs20 Hello" + kRtfPar + "\\fs28 W\\fs16 orld" + kRtfPar));
    EXPECT_EQ(read_file(home.file(".kxrc")), prefs(pen.sim->tty(), 115200, "rtf"));
}

TEST(Batch, LatexExport) {
    Pen pen("Hello\n{3}W{0}orld\n");
    ASSERT_TRUE(pen.sim->ok());
    TempDir home;
    RunResult r = run_kestrix(home.path(), {"--batch", "--format=LaTeX", "-d", pen.sim->tty()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, latex("\\normalsize Hello\n\n\\Large W\\footnotesize orld\n\n"));
    EXPECT_EQ(read_file(home.file(".kxrc")), prefs(pen.sim->tty(), 38400, "latex"));
}

TEST(Batch, Utf8ExportIsConvertedOnceOnAUtf8Terminal) {
    Pen pen("Gr\374\337e\n");
    ASSERT_TRUE(pen.sim->ok());
    TempDir home;
    RunResult r = run_program({KESTRIX_BIN, "-batch", "-f", "utf8", "-d", pen.sim->tty()},
                              {"HOME=" + home.path(), "LC_ALL=C.UTF-8", "LANGUAGE="});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Gr\303\274\303\237e\n");
    EXPECT_EQ(read_file(home.file(".kxrc")), prefs(pen.sim->tty(), 38400, "utf8"));
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
    expect_tail(r.err, rows3(tce_transfer1, tce_transfer2, tce_transfer3, LANG_EN));
    EXPECT_FALSE(file_exists(home.file(".kxrc")));
}

// The export to a standard output that fails says why and saves nothing; a
// closed standard error must not become the serial line, or the debug output
// would go to the pen and break the download.
TEST(Batch, StandardDescriptorsThatFailOrAreClosed) {
    const struct {
        const char* redirect;
        int status;
        std::string out, err_tail;
    } cases[] = {
        {">/dev/full", 1, "", std::string(texport_failed[LANG_EN]) + ": No space left on device\n"},
        {"2>&-", 0, "Hello\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.redirect);
        Pen pen("Hello\n");
        ASSERT_TRUE(pen.sim->ok());
        TempDir home;
        RunResult r = run_program({"/bin/sh", "-c",
                                   std::string("exec '") + KESTRIX_BIN + "' -batch -d '" +
                                       pen.sim->tty() + "' " + c.redirect},
                                  {"HOME=" + home.path(), "LC_ALL=C", "KESTRIX_DEBUG=serial"});
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        expect_tail(r.err, c.err_tail);
        EXPECT_EQ(file_exists(home.file(".kxrc")), c.status == 0);
    }
}

// After the usual lines, one naming the device and why its line failed. Root
// opens any device whatever its mode: run without the capabilities that let
// it, root meets a user's permission check (where it cannot drop them, that
// case is skipped).
TEST(Batch, LineFailureNamesTheDeviceAndTheCause) {
    const std::vector<std::string> unprivileged = {"/usr/bin/setpriv",
                                                   "--bounding-set=-dac_override,-dac_read_search"};
    const bool as_root = geteuid() == 0;
    const bool permissions_checked =
        !as_root || run_program({unprivileged[0], unprivileged[1], "/bin/true"}, {}).status == 0;
    const std::string serial = rows3(tce_serial1, tce_serial2, tce_serial3, LANG_EN);
    struct Case {
        const char* name;
        const MessageText* cause;
        std::string usual;  // the lines scripts read, unchanged
    };
    const Case cases[] = {{"denied", &tcause_denied, serial},
                          {"busy", &tcause_busy, serial},
                          {"unplugged", &tcause_unplugged,
                           rows3(tce_transfer1, tce_transfer2, tce_transfer3, LANG_EN)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Pen pen("one\ntwo\n", {"--fault", "disconnect:1"});
        ASSERT_TRUE(pen.sim->ok());
        const std::string tty = pen.sim->tty();
        int holder = -1;
        std::vector<std::string> argv = {KESTRIX_BIN, "-batch", "-d", tty};
        if (c.cause == &tcause_denied) {
            if (!permissions_checked) {
                std::printf("denied: skipped, root cannot drop its capabilities here\n");
                continue;
            }
            ASSERT_EQ(chmod(tty.c_str(), 0), 0);
            if (as_root) argv.insert(argv.begin(), unprivileged.begin(), unprivileged.end());
        } else if (c.cause == &tcause_busy) {
            holder = open(tty.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
            ASSERT_GE(holder, 0);
            ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
        }
        TempDir home;
        RunResult r = run_program(argv, {"HOME=" + home.path(), "LC_ALL=C"});
        if (holder >= 0) close(holder);
        EXPECT_EQ(r.status, 1);
        expect_tail(r.err, c.usual + tty + ": " + (*c.cause)[LANG_EN] + "\n");
    }
}

TEST(Batch, SignalCancelsGivesTheLineBackAndEndsByTheSignal) {
    TempDir home;
    Pen pen(std::string(400, 'x') + "\n", {"--pace", "--log", home.file("pen.log")});
    ASSERT_TRUE(pen.sim->ok());
    const int line = open(pen.sim->tty().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(line, 0);
    struct termios before;
    ASSERT_EQ(tcgetattr(line, &before), 0);
    const std::string kept = "; mine\n" + prefs(pen.sim->tty(), 300, "ascii");
    write_file(home.file(".kxrc"), kept);
    const pid_t pid = spawn_program({KESTRIX_BIN, "-batch"}, {"HOME=" + home.path(), "LC_ALL=C"},
                                    home.file("out"));
    // At 300 bit/s the first 127-pair block takes 9 s: stop once it has begun.
    EXPECT_TRUE(wait_for_text(home.file("pen.log"), "PEN>PC 300 84", 10000));
    kill(pid, SIGTERM);
    EXPECT_EQ(wait_program(pid, 3000), 128 + SIGTERM);
    EXPECT_EQ(read_file(home.file("out")), "");
    EXPECT_EQ(read_file(home.file(".kxrc")), kept);
    int exclusive = -1;
    ASSERT_EQ(ioctl(line, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    EXPECT_EQ(flock(line, LOCK_EX | LOCK_NB), 0);
    struct termios after;
    ASSERT_EQ(tcgetattr(line, &after), 0);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    close(line);
}

}  // namespace
