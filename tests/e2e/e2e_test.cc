// End to end: the real kestrix binary under the test display, against
// kestrix-pensim, driven with real key and mouse events (xdotool).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "support/process.h"

namespace {

const char kXdotool[] = "/usr/bin/xdotool";

bool have_display() {
    return std::getenv("DISPLAY") != nullptr && access(kXdotool, X_OK) == 0;
}

std::string xdotool(const std::vector<std::string>& args, int timeout_s = 20) {
    std::vector<std::string> argv = {kXdotool};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = run_program(argv, {}, "", timeout_s);
    return r.status == 0 ? r.out : "";
}

// The first visible window whose title matches `regex`, waiting for it.
std::string find_window(const std::string& regex, int timeout_s = 20) {
    std::string out = xdotool({"search", "--sync", "--onlyvisible", "--name", regex}, timeout_s);
    std::istringstream in(out);
    std::string id;
    in >> id;
    return id;
}

bool window_gone(const std::string& regex, int timeout_ms) {
    for (int waited = 0; waited < timeout_ms; waited += 100) {
        if (xdotool({"search", "--onlyvisible", "--name", regex}, 5).empty()) return true;
        usleep(100000);
    }
    return false;
}

void press(const std::string& window, const std::string& keys) {
    xdotool({"windowfocus", "--sync", window});
    xdotool({"key", "--clearmodifiers", keys});
}

// Clicks button `index` of `count` in a dialog's bottom row: the buttons share
// the width equally.
void click_button(const std::string& window, int index, int count) {
    std::string geometry = xdotool({"getwindowgeometry", "--shell", window});
    int x = 0, y = 0, w = 0, h = 0;
    std::istringstream in(geometry);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("X=", 0) == 0) x = std::atoi(line.c_str() + 2);
        if (line.rfind("Y=", 0) == 0) y = std::atoi(line.c_str() + 2);
        if (line.rfind("WIDTH=", 0) == 0) w = std::atoi(line.c_str() + 6);
        if (line.rfind("HEIGHT=", 0) == 0) h = std::atoi(line.c_str() + 7);
    }
    const int bx = x + w * (2 * index + 1) / (2 * count);
    const int by = y + h - 20;
    xdotool({"mousemove", "--sync", std::to_string(bx), std::to_string(by)});
    xdotool({"click", "1"});
}

struct Program {
    TempDir home;
    TempDir files;
    std::unique_ptr<PenSim> pen;
    pid_t pid = -1;

    explicit Program(const std::string& text, bool with_preferences = true) {
        write_file(files.file("pen.txt"), text);
        pen = std::make_unique<PenSim>(std::vector<std::string>{
            "--text", files.file("pen.txt"), "--sessions", "1", "--log", files.file("pen.log")});
        if (with_preferences)
            write_file(home.file(".kxrc"), "Language: English\nDevice: " + pen->tty() + "\n");
        pid = spawn_program({KESTRIX_BIN}, {"HOME=" + home.path(), "NO_AT_BRIDGE=1", "LC_ALL=C"},
                            files.file("kestrix.log"));
    }
    ~Program() {
        if (pid > 0 && wait_program(pid, 0) < 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    // Ctrl+R on the main window, then waits until the pen's session ended and
    // the progress dialog has had time to close. A window that has only just
    // appeared may not take the first key yet: the key is pressed again while
    // the pen has seen no wake-up.
    bool download(const std::string& main) {
        for (int attempt = 0; attempt < 3; attempt++) {
            press(main, "ctrl+r");
            for (int waited = 0; waited < 3000 && !woken(); waited += 100) usleep(100000);
            if (woken()) break;
        }
        if (pen->wait_exit(20000) != 0) return false;
        usleep(800000);
        return true;
    }
    std::string diagnostics() {
        return "pen log:\n" + read_file(files.file("pen.log")) + "kestrix log:\n" +
               read_file(files.file("kestrix.log"));
    }
    bool woken() {
        return read_file(files.file("pen.log")).find("PC>PEN 300 00") != std::string::npos;
    }
};

TEST(EndToEnd, DownloadThenQuitAsksAboutUnsavedText) {
    if (!have_display()) GTEST_SKIP() << "needs a display and xdotool";
    Program p("Hello pen\nSecond line\n");
    ASSERT_TRUE(p.pen->ok());
    const std::string main = find_window("^KESTRIX V1\\.0");
    ASSERT_FALSE(main.empty()) << read_file(p.files.file("kestrix.log"));
    ASSERT_TRUE(p.download(main)) << p.diagnostics();

    // The text arrived unsaved: quitting asks first; "No" keeps the program.
    press(main, "ctrl+q");
    std::string caution = find_window("^Caution!$", 10);
    ASSERT_FALSE(caution.empty());
    click_button(caution, 1, 2);
    EXPECT_TRUE(window_gone("^Caution!$", 5000));
    EXPECT_EQ(wait_program(p.pid, 500), -1) << "the program ended after No";

    // "Yes" quits, and the preferences are written.
    press(main, "ctrl+q");
    caution = find_window("^Caution!$", 10);
    ASSERT_FALSE(caution.empty());
    click_button(caution, 0, 2);
    EXPECT_EQ(wait_program(p.pid, 10000), 0) << p.diagnostics();
    p.pid = -1;
    EXPECT_NE(read_file(p.home.file(".kxrc")).find("Device: " + p.pen->tty()), std::string::npos);
}

TEST(EndToEnd, DownloadSaveThroughTheDialogThenQuitWithoutQuestion) {
    if (!have_display()) GTEST_SKIP() << "needs a display and xdotool";
    Program p("Hello pen\n{3}Big{0} small\n");
    ASSERT_TRUE(p.pen->ok());
    const std::string main = find_window("^KESTRIX V1\\.0");
    ASSERT_FALSE(main.empty()) << read_file(p.files.file("kestrix.log"));
    ASSERT_TRUE(p.download(main)) << p.diagnostics();

    press(main, "ctrl+s");
    const std::string save = find_window("^Save text$", 10);
    ASSERT_FALSE(save.empty());
    const std::string target = p.files.file("scans.txt");
    xdotool({"windowfocus", "--sync", save});
    // The name field proposes a name: replace all of it.
    xdotool({"key", "ctrl+a"});
    xdotool({"type", "--delay", "20", target});
    xdotool({"key", "Return"});
    ASSERT_TRUE(window_gone("^Save text$", 10000));
    EXPECT_EQ(read_file(target), "Hello pen\nBig small\n");

    // Everything is saved: Ctrl+Q ends the program at once.
    press(main, "ctrl+q");
    EXPECT_EQ(wait_program(p.pid, 10000), 0) << p.diagnostics();
    p.pid = -1;
    const std::string prefs = read_file(p.home.file(".kxrc"));
    EXPECT_NE(prefs.find("Filename: " + target + "\n"), std::string::npos) << prefs;
}

TEST(EndToEnd, FirstStartOpensThePcConfigurationOverTheMainWindow) {
    if (!have_display()) GTEST_SKIP() << "needs a display and xdotool";
    Program p("", false);
    ASSERT_TRUE(p.pen->ok());
    const std::string main = find_window("^KESTRIX V1\\.0");
    ASSERT_FALSE(main.empty()) << p.diagnostics();
    const std::string config = find_window("^PC Configuration$", 10);
    ASSERT_FALSE(config.empty()) << "no PC configuration dialog at the first start";
    click_button(config, 0, 2);  // OK
    ASSERT_TRUE(window_gone("^PC Configuration$", 5000));

    press(main, "ctrl+q");
    EXPECT_EQ(wait_program(p.pid, 10000), 0) << p.diagnostics();
    p.pid = -1;
    EXPECT_EQ(read_file(p.home.file(".kxrc")),
              "Language: English\nSpeed: 38400\nDevice: /dev/ttyS1\nSave as: ascii\nFilename: \n");
}

}  // namespace
