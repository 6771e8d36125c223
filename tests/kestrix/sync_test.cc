// Unattended sync (-batch -erase) against kestrix-pensim, whose byte log shows
// whether the pen was erased, and the batch progress line on a terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

#include "app/catalogue.h"
#include "state/state.h"
#include "support/process.h"

namespace {

// A simulated pen holding `text`, with its byte log.
struct Pen {
    TempDir dir;
    std::unique_ptr<PenSim> sim;
    explicit Pen(const std::string& text, std::vector<std::string> extra = {}) {
        write_file(dir.file("pen.txt"), text);
        std::vector<std::string> args = {"--text", dir.file("pen.txt"), "--erase-delay", "0.1",
                                         "--log",  dir.file("pen.log")};
        args.insert(args.end(), extra.begin(), extra.end());
        sim = std::make_unique<PenSim>(args);
    }
    // The log once the pen has stopped, so every line is in.
    std::string log() {
        sim->stop();
        return read_file(dir.file("pen.log"));
    }
};

const char kErased[] = "text erased";

// kestrix -batch -erase in HOME, which holds an English preferences file,
// with standard output redirected by the shell redirection `redirect`.
// `prefix` runs in the shell first.
RunResult sync(Pen& pen, const TempDir& home, const std::string& redirect,
               const std::string& options = "-batch -erase", const std::string& prefix = "") {
    write_file(home.file(".kxrc"), "Language: English\n");
    return run_program({"/bin/sh", "-c",
                        "cd '" + home.path() + "' && " + prefix + "exec '" + KESTRIX_BIN + "' " +
                            options + " -d '" + pen.sim->tty() + "' " + redirect},
                       {"HOME=" + home.path(), "LC_ALL=C"});
}

TEST(Sync, ErasesAfterTheExportIsWrittenAndTheGoodbyeSent) {
    Pen pen("Hello\n");
    ASSERT_TRUE(pen.sim->ok());
    TempDir home;
    write_file(home.file("scans.txt"), "old\n");
    RunResult r = sync(pen, home, ">>scans.txt");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(home.file("scans.txt")), "old\nHello\n");
    const std::string log = pen.log();
    const size_t goodbye = log.find("PC>PEN 300 01\n");
    const size_t erased = log.find(kErased);
    ASSERT_NE(erased, std::string::npos) << log;
    EXPECT_LT(goodbye, erased) << log;
    EXPECT_NE(log.find("PC>PEN 300 07\n", goodbye), std::string::npos) << log;
}

TEST(Sync, NeverErasesWhenTheTextIsNotSafe) {
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> faults;
        std::string redirect;  // the file "out" exists
        int status;
        std::string err;  // the whole of standard error, when given
        std::string prefix = "";
    };
    const std::string refused = std::string(terase_nofile[LANG_EN]) + "\n";
    const std::string unlinked = std::string(terase_unlinked[LANG_EN]) + "\n";
    const Case cases[] = {
        {"standard output a pipe (the test's own)", "Hello\n", {}, "", 1, refused},
        {"standard output a device", "Hello\n", {}, ">/dev/null", 1, refused},
        {"an empty pen", "", {}, ">out", 0, ""},
        // A descriptor open for reading only: the export cannot be written.
        {"a failed write",
         "Hello\n",
         {},
         "1<out",
         1,
         std::string(texport_failed[LANG_EN]) + ": Bad file descriptor\n"},
        {"a failed download", "Hello\n", {"--fault", "wake:silence"}, ">out", 1, ""},
        // The file has no name left when the export is done.
        {"a file removed after the shell opened it",
         "Hello\n",
         {},
         ">&3",
         1,
         unlinked,
         "exec 3>out; rm out; "},
        {"a file an editor saved over",
         "Hello\n",
         {},
         ">&3",
         1,
         unlinked,
         "exec 3>out; echo new >new; mv new out; "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Pen pen(c.text, c.faults);
        ASSERT_TRUE(pen.sim->ok());
        TempDir home;
        write_file(home.file("out"), "");
        RunResult r = sync(pen, home, c.redirect, "-batch -erase", c.prefix);
        EXPECT_EQ(r.status, c.status);
        if (!c.err.empty()) {
            EXPECT_EQ(r.err, c.err);
        }
        const std::string log = pen.log();
        EXPECT_EQ(log.find(kErased), std::string::npos) << log;
        // An option error stops the run before the pen is woken.
        if (c.err == refused) {
            EXPECT_EQ(log.find("PC>PEN"), std::string::npos) << log;
        }
    }
}

TEST(Sync, EraseFailureIsReportedAfterTheTextIsWritten) {
    Pen pen("Hello\n", {"--fault", "erase:byte=0x00"});
    ASSERT_TRUE(pen.sim->ok());
    TempDir home;
    RunResult r = sync(pen, home, ">out");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string(tce_transfer1[LANG_EN]) + "\n" + tce_transfer2[LANG_EN] + "\n" +
                         tce_transfer3[LANG_EN] + "\n");
    EXPECT_EQ(read_file(home.file("out")), "Hello\n");
    EXPECT_EQ(read_file(home.file(".kxrc")), "Language: English\n");
}

TEST(Sync, EraseWithoutBatchIsAnOptionError) {
    TempDir home;
    write_file(home.file(".kxrc"), "Language: Deutsch\n");
    RunResult r = run_kestrix(home.path(), {"-e", "-d", "/dev/null"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string(terase_nobatch[LANG_DE]) + "\n");
}

TEST(Sync, ProgressLineOnATerminalIsRedrawnAtMostFiveTimesASecondAndCleared) {
    std::string text;
    for (int i = 0; i < 40; i++) text += std::string(60, static_cast<char>('a' + i % 26)) + "\n";
    // Paced at the line rate, so the download lasts over a second.
    Pen pen(text, {"--pace"});
    ASSERT_TRUE(pen.sim->ok());
    TempDir home;
    int master = -1, slave = -1;
    char name[128];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    fcntl(master, F_SETFL, O_NONBLOCK);

    const auto start = std::chrono::steady_clock::now();
    RunResult r = sync(pen, home, std::string("2>'") + name + "'", "-batch");
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::string shown;
    char buf[4096];
    for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;) shown.append(buf, n);
    close(slave);
    close(master);

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, text);
    // "\r0 Characters / 0 Scans", redraws, then blanks over the longest line.
    std::vector<std::string> parts;
    for (size_t from = 0, to; (to = shown.find('\r', from)) != std::string::npos; from = to + 1)
        parts.push_back(shown.substr(from, to - from));
    ASSERT_GE(parts.size(), 3u) << shown;
    EXPECT_EQ(parts[1], "0 Characters / 0 Scans");
    size_t longest = 0;
    for (size_t i = 1; i + 1 < parts.size(); i++) longest = std::max(longest, parts[i].size());
    EXPECT_EQ(parts.back(), std::string(longest, ' '));
    EXPECT_NE(parts[parts.size() - 2], parts[1]) << "never redrawn: " << shown;
    const int draws = static_cast<int>(parts.size()) - 2;
    EXPECT_LE(draws, 2 + static_cast<int>(seconds * 5)) << shown;
}

}  // namespace
