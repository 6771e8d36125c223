// End to end: the real kestrix binary under the test display, against
// kestrix-pensim, driven with real key and mouse events (xdotool).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "app/catalogue.h"
#include "pen/devices.h"
#include "state/state.h"
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
    return wait_for(
        [&] {
            return xdotool({"search", "--onlyvisible", "--name", regex}, 5).empty();
        },
        timeout_ms);
}

// The number of visible windows of process `pid`.
size_t visible_windows(pid_t pid) {
    std::istringstream in(xdotool({"search", "--onlyvisible", "--pid", std::to_string(pid)}, 5));
    size_t n = 0;
    for (std::string id; in >> id;) n++;
    return n;
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

    explicit Program(const std::string& text, bool with_preferences = true,
                     const std::string& more_preferences = "",
                     const std::vector<std::string>& pen_options = {}, bool ignore_hangup = false) {
        write_file(files.file("pen.txt"), text);
        std::vector<std::string> args = {"--text", files.file("pen.txt"), "--sessions", "1",
                                         "--log",  files.file("pen.log")};
        args.insert(args.end(), pen_options.begin(), pen_options.end());
        pen = std::make_unique<PenSim>(args);
        if (with_preferences)
            write_file(home.file(".kxrc"),
                       "Language: English\nDevice: " + pen->tty() + "\n" + more_preferences);
        // As nohup starts it: SIGHUP ignored.
        std::vector<std::string> argv = {KESTRIX_BIN};
        if (ignore_hangup) argv = {"/bin/sh", "-c", "trap '' HUP; exec \"$0\"", KESTRIX_BIN};
        pid = spawn_program(argv, {"HOME=" + home.path(), "NO_AT_BRIDGE=1", "LC_ALL=C"},
                            files.file("kestrix.log"));
    }
    ~Program() {
        if (pid > 0 && wait_program(pid, 0) < 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    // Ctrl+R on the main window, then waits until the pen's session ended and
    // the progress dialog has closed. A window that has only just appeared may
    // not take the first key yet: the key is pressed again while the pen has
    // seen no wake-up.
    bool download(const std::string& main) {
        const size_t windows = visible_windows(pid);
        for (int attempt = 0; attempt < 3 && !woken(); attempt++) {
            press(main, "ctrl+r");
            wait_for([&] { return woken(); }, 3000);
        }
        if (pen->wait_exit(20000) != 0) return false;
        return wait_for([&] { return visible_windows(pid) <= windows; }, 10000);
    }
    std::string diagnostics() {
        return "pen log:\n" + read_file(files.file("pen.log")) + "kestrix log:\n" +
               read_file(files.file("kestrix.log"));
    }
    bool woken() { return wait_for_text(files.file("pen.log"), "PC>PEN 300 00", 0); }
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
    // The default device, unless exactly one USB adapter is plugged in.
    std::vector<SerialDevice> found;
    find_serial_devices(&found);
    const int only = only_usb_adapter(found);
    const std::string device = only >= 0 ? found[only].path : "/dev/ttyS1";
    EXPECT_EQ(read_file(p.home.file(".kxrc")), "Language: English\nSpeed: 38400\nDevice: " +
                                                   device + "\nSave as: ascii\nFilename: \n");
}

TEST(EndToEnd, SignalDuringADownloadCancelsItAndQuits) {
    if (!have_display()) GTEST_SKIP() << "needs a display and xdotool";
    Program p(std::string(400, 'x') + "\n", true, "Speed: 300\n", {"--pace"});
    ASSERT_TRUE(p.pen->ok());
    const std::string main = find_window("^KESTRIX V1\\.0");
    ASSERT_FALSE(main.empty()) << p.diagnostics();
    for (int attempt = 0; attempt < 3 && !p.woken(); attempt++) {
        press(main, "ctrl+r");
        wait_for([&] { return p.woken(); }, 3000);
    }
    ASSERT_TRUE(p.woken()) << p.diagnostics();
    // The pen starts the first block, which takes 9 s at 300 bit/s.
    ASSERT_TRUE(wait_for_text(p.files.file("pen.log"), "PEN>PC 300 84", 10000)) << p.diagnostics();
    kill(p.pid, SIGTERM);
    EXPECT_EQ(wait_program(p.pid, 3000), 0) << p.diagnostics();
    p.pid = -1;
    // Quit's way out: the preferences written, the line free for the next run.
    EXPECT_NE(read_file(p.home.file(".kxrc")).find("Speed: 300\nDevice: "), std::string::npos);
    const int line = open(p.pen->tty().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(line, 0);
    int exclusive = -1;
    EXPECT_EQ(ioctl(line, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    close(line);
}

TEST(EndToEnd, IgnoredHangupStaysIgnoredAndASignalKeepsUnsavedText) {
    if (!have_display()) GTEST_SKIP() << "needs a display and xdotool";
    Program p("Kept {3}text\n", true, "", {}, true);
    ASSERT_TRUE(p.pen->ok());
    const std::string main = find_window("^KESTRIX V1\\.0");
    ASSERT_FALSE(main.empty()) << p.diagnostics();
    ASSERT_TRUE(p.download(main)) << p.diagnostics();
    kill(p.pid, SIGHUP);
    EXPECT_EQ(wait_program(p.pid, 1000), -1) << "an ignored SIGHUP ended the run";
    kill(p.pid, SIGTERM);
    EXPECT_EQ(wait_program(p.pid, 10000), 0) << p.diagnostics();
    p.pid = -1;

    // The text as RTF, with its sizes, readable by its owner only.
    const std::string kept = read_file(p.home.file(".local/state/kestrix/last-unsaved"));
    ASSERT_NE(kept.find("/unsaved-"), std::string::npos) << kept;
    struct stat st;
    ASSERT_EQ(stat(kept.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string rtf = read_file(kept);
    EXPECT_NE(rtf.find("Kept "), std::string::npos) << rtf;
    EXPECT_NE(rtf.find("\\fs28 text"), std::string::npos) << rtf;

    // The next start names the file.
    const pid_t next = spawn_program({KESTRIX_BIN}, {"HOME=" + p.home.path(), "LC_ALL=C"},
                                     p.files.file("next.log"));
    EXPECT_FALSE(find_window("^Caution!$", 20).empty());
    kill(next, SIGKILL);
    wait_program(next, 5000);
}

// Two windows must not fight over one serial line: on a session bus of its
// own, a second start presents the first window and ends at once.
TEST(EndToEnd, SecondStartPresentsTheRunningWindow) {
    if (!have_display() || access("/usr/bin/dbus-run-session", X_OK) != 0)
        GTEST_SKIP() << "needs a display, xdotool and dbus-run-session";
    TempDir home;
    write_file(home.file(".kxrc"), "Language: English\nDevice: /dev/null\n");
    const std::string k = std::string("'") + KESTRIX_BIN + "'";
    const std::string script = k + " 2>/dev/null & first=$!; " + kXdotool +
                               " search --sync --onlyvisible --name '^KESTRIX V1' >/dev/null; " +
                               k + " -s 9600 2>&1; echo \"status $?\"; " + kXdotool +
                               " search --onlyvisible --name '^KESTRIX V1' | wc -l; kill $first";
    RunResult r = run_program({"/usr/bin/dbus-run-session", "--", "/bin/sh", "-c", script},
                              {"HOME=" + home.path(), "LC_ALL=C", "NO_AT_BRIDGE=1"}, "", 60);
    EXPECT_EQ(r.out, std::string(tnot_used[LANG_EN]) + "\nstatus 0\n1\n");
}

// A desktop groups the window with its launcher through the desktop entry's
// StartupWMClass, which must be one of the main window's two WM_CLASS names,
// exactly (case matters).
TEST(EndToEnd, MainWindowClassIsTheDesktopEntrysStartupWMClass) {
    if (!have_display() || access("/usr/bin/xprop", X_OK) != 0)
        GTEST_SKIP() << "needs a display, xdotool and xprop";
    const std::string entry =
        read_file(std::string(KX_SOURCE_DIR) + "/data/io.github.kestrix.kestrix.desktop");
    const std::string key = "\nStartupWMClass=";
    const size_t at = entry.find(key);
    ASSERT_NE(at, std::string::npos) << "no StartupWMClass in the desktop entry";
    const size_t start = at + key.size();
    const std::string wm_class = entry.substr(start, entry.find('\n', start) - start);
    Program p("");
    const std::string main = find_window("^KESTRIX V1\\.0");
    ASSERT_FALSE(main.empty()) << p.diagnostics();
    // Prints: WM_CLASS(STRING) = "instance", "class"
    const std::string names =
        run_program({"/usr/bin/xprop", "-id", main, "WM_CLASS"}, {}, "", 10).out;
    EXPECT_NE(names.find("\"" + wm_class + "\""), std::string::npos) << names;
}

}  // namespace
