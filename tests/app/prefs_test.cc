#include "app/prefs.h"

#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/catalogue.h"
#include "state/state.h"
#include "support/process.h"
#include "text/export.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

std::string error_line(int lang, int line, const MessageText& row, const std::string& value) {
    return std::string(terrorline[lang]) + " " + std::to_string(line) + ": " + row[lang] + ": " +
           value;
}

std::string no_colon(int lang, int line) {
    return std::string(terrorline[lang]) + " " + std::to_string(line) + ": " + tnocolumn[lang] +
           "\n";
}

std::string wrong_keyword(int line, const std::string& text) {
    return std::string(terrorline[LANG_EN]) + " " + std::to_string(line) + ": " +
           twrongkeyword[LANG_EN] + ":\n  " + text;
}

std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d) return names;
    while (const dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
    return names;
}

mode_t mode_of(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

// In a child: root ignores permissions, so the child gives `paths` to nobody
// and becomes nobody; anyone else stays who they are.
void become_owner_unless_root(const std::vector<std::string>& paths) {
    if (geteuid() != 0) return;
    const passwd* nobody = getpwnam("nobody");
    if (!nobody) _exit(3);
    for (const std::string& p : paths)
        if (chown(p.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) _exit(4);
    if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) _exit(4);
}

class PrefsTest : public ::testing::Test {
   protected:
    void SetUp() override {
        const char* h = std::getenv("HOME");
        had_home_ = h != nullptr;
        if (h) old_home_ = h;
        setenv("HOME", home.path().c_str(), 1);
        // A missing file's messages in English, whatever the machine speaks.
        setenv("LC_ALL", "C", 1);
        old_umask_ = umask(022);
        SetDefaultPreferences();
        root.save_format = FORMAT_ASCII;
        root.save_name[0] = '\0';
    }
    void TearDown() override {
        umask(old_umask_);
        if (had_home_)
            setenv("HOME", old_home_.c_str(), 1);
        else
            unsetenv("HOME");
    }

    // The file in the folder HOME names at the moment.
    std::string kxrc() const { return std::string(std::getenv("HOME")) + "/.kxrc"; }

    // Reads `contents` as the preferences file; returns what went to stderr.
    std::string read_with(const std::string& contents, int* result = nullptr) {
        write_file(kxrc(), contents);
        CaptureStderr();
        const int r = ReadPreferences();
        if (result) *result = r;
        return GetCapturedStderr();
    }

    std::string save() {
        CaptureStderr();
        SavePreferences();
        return GetCapturedStderr();
    }

    // Runs SavePreferences in a child prepared by `prepare`; returns its stderr.
    std::string save_in_child(const std::function<void()>& prepare) {
        int fds[2];
        if (pipe(fds) != 0) return "pipe failed";
        const pid_t pid = fork();
        if (pid < 0) return "fork failed";
        if (pid == 0) {
            dup2(fds[1], 2);
            close(fds[0]);
            close(fds[1]);
            prepare();
            SavePreferences();
            _exit(0);
        }
        close(fds[1]);
        std::string err;
        char buf[512];
        ssize_t n;
        while ((n = read(fds[0], buf, sizeof buf)) > 0) err.append(buf, static_cast<size_t>(n));
        close(fds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        return err;
    }

    TempDir home;

   private:
    bool had_home_ = false;
    std::string old_home_;
    mode_t old_umask_ = 022;
};

using PrefsRead = PrefsTest;
using PrefsSave = PrefsTest;
using PrefsPath = PrefsTest;

const char kDefaultFile[] =
    "Language: English\nSpeed: 38400\nDevice: /dev/ttyS1\nSave as: ascii\nFilename: \n";

TEST_F(PrefsSave, DefaultsAndTheFileTheyWrite) {
    root.language = LANG_IT;
    root.speed = 300;
    root.mode = root.menu_language = root.text_language = root.target_language = 3;
    root.firmware_major = root.firmware_minor = root.memory_free = root.battery_level = 7;
    root.save_format = FORMAT_RTF;
    SetDefaultPreferences();
    EXPECT_EQ(root.language, LANG_EN);
    EXPECT_EQ(root.speed, 38400);
    EXPECT_STREQ(root.device, "/dev/ttyS1");
    for (int v : {root.mode, root.menu_language, root.text_language, root.target_language,
                  root.firmware_major, root.firmware_minor, root.memory_free, root.battery_level})
        EXPECT_EQ(v, 0);
    EXPECT_EQ(root.save_format, FORMAT_RTF);  // left to the clearing at start-up

    root.save_format = FORMAT_ASCII;
    EXPECT_EQ(save(), "");
    EXPECT_EQ(read_file(kxrc()), kDefaultFile);
    EXPECT_EQ(mode_of(kxrc()), 0644u);
    EXPECT_EQ(entries(home.path()), std::vector<std::string>{".kxrc"});
}

TEST_F(PrefsSave, RoundTripInEveryLanguage) {
    for (int l = 0; l < LANG_COUNT; l++) {
        root.language = l;
        root.speed = 115200;
        copy_bounded(root.device, "/dev/ttyUSB0", DEVICE_MAX);
        root.save_format = l % FORMAT_COUNT;
        copy_bounded(root.save_name, "/home/u/notes.tex", SAVE_NAME_MAX);
        EXPECT_EQ(save(), "");
        SetDefaultPreferences();
        root.save_format = FORMAT_COUNT;
        root.save_name[0] = '\0';
        EXPECT_EQ(read_with(read_file(kxrc())), "");
        EXPECT_EQ(root.language, l);
        EXPECT_EQ(root.speed, 115200);
        EXPECT_STREQ(root.device, "/dev/ttyUSB0");
        EXPECT_EQ(root.save_format, l % FORMAT_COUNT);
        EXPECT_STREQ(root.save_name, "/home/u/notes.tex");
    }
    // Names are written in ISO-8859-1.
    EXPECT_EQ(read_file(kxrc()).substr(0, 19), "Language: Italiano\n");
    root.language = LANG_ES;
    save();
    EXPECT_EQ(read_file(kxrc()).substr(0, 18), "Language: Espa\361ol\n");
}

TEST_F(PrefsRead, MissingOrUnreadableFile) {
    const std::string expected =
        std::string(tnopreffile1[LANG_EN]) + " " + kxrc() + "\n" + tnopreffile2[LANG_EN] + "\n";
    CaptureStderr();
    EXPECT_EQ(ReadPreferences(), 0);
    EXPECT_EQ(GetCapturedStderr(), expected);
    // A directory is no file of settings either.
    ASSERT_EQ(mkdir(kxrc().c_str(), 0755), 0);
    CaptureStderr();
    EXPECT_EQ(ReadPreferences(), 0);
    EXPECT_EQ(GetCapturedStderr(), expected);
    EXPECT_EQ(root.language, LANG_EN);
    EXPECT_EQ(root.speed, 38400);
}

TEST_F(PrefsRead, MessagesFollowTheLanguageJustRead) {
    int result = 0;
    // The German words as scripts see them on standard error.
    EXPECT_EQ(read_with("Language: Deutsch\nSpeed: 600\n", &result),
              "Fehler in Zeile 2: Falsche Geschwindigkeit:  600\n");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(root.language, LANG_DE);
    EXPECT_EQ(root.speed, 38400);
}

TEST_F(PrefsRead, LanguageNames) {
    struct Case {
        const char* value;
        int language;  // -1: reported
    };
    const Case cases[] = {
        {" ENGLISH\n", LANG_EN},
        {"\t English, please\n", LANG_EN},
        {" Fran\347ais\n", LANG_FR},
        {" espa\361ol\n", LANG_ES},
        {"Italiano", LANG_IT},
        {" Deutsch\n", LANG_DE},
        {" Fran\303\247ais\n", -1},
        {" FRAN\307AIS\n", -1},
        {" Klingon\n", -1},
        {"\n", -1},
        {" Engl\n", -1},
    };
    for (const Case& c : cases) {
        root.language = LANG_IT;
        const std::string err = read_with(std::string("Language:") + c.value);
        if (c.language >= 0) {
            EXPECT_EQ(err, "") << c.value;
            EXPECT_EQ(root.language, c.language) << c.value;
        } else {
            const char* shown = c.value + std::strspn(c.value, " \t");
            EXPECT_EQ(err, error_line(LANG_IT, 1, twronglang, shown)) << c.value;
            EXPECT_EQ(root.language, LANG_IT);
        }
    }
}

TEST_F(PrefsRead, Speeds) {
    const std::pair<const char*, int> accepted[] = {{" 38400.0\n", 38400},    {"19200\n", 19200},
                                                    {" 38400 baud\n", 38400}, {"\t300\n", 300},
                                                    {" 115200\n", 115200},    {" 9600", 9600}};
    for (const auto& c : accepted) {
        root.speed = 1200;
        EXPECT_EQ(read_with(std::string("Speed:") + c.first), "") << c.first;
        EXPECT_EQ(root.speed, c.second) << c.first;
    }
    // The value is shown as it follows the colon; without a line end at the
    // end of the file the message has none either.
    for (const char* bad : {" fast\n", " 600\n", "\n", " 0\n", " -9600\n", " 1e9\n", " fast"}) {
        root.speed = 1200;
        EXPECT_EQ(read_with(std::string("Speed:") + bad), error_line(LANG_EN, 1, twrongspeed, bad));
        EXPECT_EQ(root.speed, 1200);
    }
}

TEST_F(PrefsRead, KeywordsAreExactPrefixes) {
    for (const char* line : {"language: English\n", "Language : English\n", "Speedy: 9600\n",
                             "#Speed: 9600\n", " Device: /dev/x\n", "SAVE AS: rtf\n"}) {
        EXPECT_EQ(read_with(line), wrong_keyword(1, line));
    }
    EXPECT_EQ(root.speed, 38400);
    EXPECT_STREQ(root.device, "/dev/ttyS1");
}

TEST_F(PrefsRead, SaveFormats) {
    const std::pair<const char*, int> accepted[] = {{" LaTeX\n", FORMAT_LATEX},
                                                    {"  rtfd\n", FORMAT_RTF},
                                                    {"\tascii", FORMAT_ASCII},
                                                    {" UTF8\n", FORMAT_UTF8}};
    for (const auto& c : accepted) {
        root.save_format = -1;
        EXPECT_EQ(read_with(std::string("Save as:") + c.first), "");
        EXPECT_EQ(root.save_format, c.second);
    }
    root.save_format = FORMAT_RTF;
    EXPECT_EQ(read_with("Save as:\n"), error_line(LANG_EN, 1, twrongformat, "\n"));
    EXPECT_EQ(read_with("Save as:  pdf\n"), error_line(LANG_EN, 1, twrongformat, "pdf\n"));
    EXPECT_EQ(root.save_format, FORMAT_RTF);
}

TEST_F(PrefsRead, DeviceAndFilenameTakeTheFirstWord) {
    EXPECT_EQ(read_with("Device:\nFilename:\n"), "");
    EXPECT_STREQ(root.device, "/dev/ttyS1");
    EXPECT_STREQ(root.save_name, "");

    EXPECT_EQ(read_with("Device:\t /dev/ttyUSB0 extra\nFilename: /home/u/my text.rtf\n"), "");
    EXPECT_STREQ(root.device, "/dev/ttyUSB0");
    EXPECT_STREQ(root.save_name, "/home/u/my");

    // A value may hold colons of its own.
    EXPECT_EQ(read_with("Filename: /a:b/c\n"), "");
    EXPECT_STREQ(root.save_name, "/a:b/c");
}

TEST_F(PrefsRead, EveryPieceCountsAsALine) {
    // Comments and empty lines count; a line of blanks or "#" is ordinary.
    EXPECT_EQ(read_with("; comment\n\nSpeed: 9600\nverbose\n   \n#x\n"),
              no_colon(LANG_EN, 4) + no_colon(LANG_EN, 5) + no_colon(LANG_EN, 6));
    EXPECT_EQ(root.speed, 9600);

    // 200 characters arrive as 159 and 41; the next line is line 3.
    EXPECT_EQ(read_with(std::string(200, 'x') + "\nSpeed: 600\n"),
              no_colon(LANG_EN, 1) + no_colon(LANG_EN, 2) +
                  error_line(LANG_EN, 3, twrongspeed, " 600\n"));

    // A device name longer than 80 characters is an error, not cut; the
    // rest of the piece is a line of its own.
    const std::string piece = " " + std::string(151, 'd');
    EXPECT_EQ(read_with("Device: " + std::string(160, 'd') + "\n"),
              error_line(LANG_EN, 1, tdevice_toolong, piece) + no_colon(LANG_EN, 2));
    EXPECT_EQ(std::string(root.device), "/dev/ttyS1");
    EXPECT_EQ(read_with("Device: " + std::string(DEVICE_MAX, 'd') + "\n"), "");
    EXPECT_EQ(std::string(root.device), std::string(DEVICE_MAX, 'd'));
}

TEST_F(PrefsRead, CarriageReturnsBelongToTheLineEnd) {
    EXPECT_EQ(read_with("Language: Deutsch\r\nSpeed: 9600\r\nDevice: /dev/ttyUSB0\r\n"
                        "Save as: rtf\r\nFilename: /tmp/a b\r\n; note\r\n\r\nDevice: /dev/x\r"),
              "");
    EXPECT_EQ(root.language, LANG_DE);
    EXPECT_EQ(root.speed, 9600);
    EXPECT_EQ(root.save_format, FORMAT_RTF);
    EXPECT_EQ(std::string(root.save_name), "/tmp/a");
    EXPECT_EQ(std::string(root.device), "/dev/x");
}

TEST_F(PrefsRead, NulBytesEndTheLine) {
    EXPECT_EQ(read_with(std::string("Speed: 9600\0: junk\n", 19)), "");
    EXPECT_EQ(root.speed, 9600);
    EXPECT_EQ(read_with(std::string("\0Language: Deutsch\nSpeed: 600\n", 30)),
              no_colon(LANG_EN, 1) + error_line(LANG_EN, 2, twrongspeed, " 600\n"));
    EXPECT_EQ(root.language, LANG_EN);
    // A NUL where the line end would be: the message has no line end.
    EXPECT_EQ(read_with(std::string("Save as: pdf\0\nSpeed: 300\n", 25)),
              error_line(LANG_EN, 1, twrongformat, "pdf"));
    EXPECT_EQ(root.speed, 300);
}

TEST_F(PrefsPath, HomeUnsetOrEmptyUsesThePasswordDatabase) {
    const passwd* pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr);
    const std::string expected = std::string(pw->pw_dir) + "/.kxrc";
    for (bool empty : {false, true}) {
        if (empty)
            setenv("HOME", "", 1);
        else
            unsetenv("HOME");
        char* path = preferences_path();
        EXPECT_EQ(std::string(path), expected);
        g_free(path);
    }
}

// Creates the folder `base` + "/..." whose path has exactly `length` characters.
std::string deep_folder(const std::string& base, size_t length) {
    std::string path = base;
    while (length - path.size() > 202) {
        path += "/" + std::string(200, 'h');
        mkdir(path.c_str(), 0755);
    }
    path += "/" + std::string(length - path.size() - 1, 'h');
    mkdir(path.c_str(), 0755);
    return path;
}

TEST_F(PrefsPath, LongestHomeWorksOneMoreIsRefused) {
    // The longest name is read. Saving it needs a temporary name seven
    // characters longer, more than the system allows: the save fails cleanly.
    const std::string fits = deep_folder(home.path(), PREFS_PATH_MAX - 6);
    setenv("HOME", fits.c_str(), 1);
    EXPECT_EQ(read_with("Speed: 9600\n"), "");
    EXPECT_EQ(root.speed, 9600);
    EXPECT_EQ(save(), std::string(tprefsaveerr[LANG_EN]) + ": " + fits + "/.kxrc\n");
    EXPECT_EQ(read_file(fits + "/.kxrc"), "Speed: 9600\n");
    const std::string shorter = deep_folder(home.path(), PREFS_PATH_MAX - 13);
    setenv("HOME", shorter.c_str(), 1);
    root.speed = 38400;
    EXPECT_EQ(save(), "");
    EXPECT_EQ(read_file(shorter + "/.kxrc"), kDefaultFile);

    // One character more: neither the whole name nor a cut-short one is used.
    const std::string too_long = deep_folder(home.path(), PREFS_PATH_MAX - 5);
    const std::string path = too_long + "/.kxrc";
    write_file(path, "Speed: 9600\n");
    write_file(too_long + "/.kxr", "Speed: 9600\n");
    setenv("HOME", too_long.c_str(), 1);
    CaptureStderr();
    EXPECT_EQ(ReadPreferences(), 0);
    EXPECT_EQ(GetCapturedStderr(), std::string(tnopreffile1[LANG_EN]) + " " + path + "\n" +
                                       tnopreffile2[LANG_EN] + "\n");
    EXPECT_EQ(root.speed, 38400);
    root.speed = 300;
    EXPECT_EQ(save(), std::string(tprefsaveerr[LANG_EN]) + ": " + path + "\n");
    EXPECT_EQ(read_file(path), "Speed: 9600\n");
    EXPECT_EQ(read_file(too_long + "/.kxr"), "Speed: 9600\n");
}

TEST_F(PrefsSave, FailureReportsAndKeepsTheOldFile) {
    const std::string old = "Language: Deutsch\nSpeed: 9600\n";
    const std::string message = std::string(tprefsaveerr[LANG_EN]) + ": " + kxrc() + "\n";
    const std::string home_dir = home.path();
    const std::string file = kxrc();
    write_file(file, old);

    // A home folder that takes no new files (as another user when run as root).
    EXPECT_EQ(save_in_child([&] {
                  become_owner_unless_root({home_dir, file});
                  if (chmod(home_dir.c_str(), 0555) != 0) _exit(5);
              }),
              message);
    chmod(home_dir.c_str(), 0700);
    EXPECT_EQ(read_file(file), old);
    EXPECT_EQ(entries(home_dir), std::vector<std::string>{".kxrc"});

    // A disk that fills up after a few bytes.
    EXPECT_EQ(save_in_child([] {
                  std::signal(SIGXFSZ, SIG_IGN);
                  const rlimit small = {8, 8};
                  if (setrlimit(RLIMIT_FSIZE, &small) != 0) _exit(6);
              }),
              message);
    EXPECT_EQ(read_file(file), old);
    EXPECT_EQ(entries(home_dir), std::vector<std::string>{".kxrc"});

    // A folder where the file should be.
    ASSERT_EQ(unlink(file.c_str()), 0);
    ASSERT_EQ(mkdir(file.c_str(), 0755), 0);
    EXPECT_EQ(save(), message);
    EXPECT_TRUE(entries(file).empty());
}

TEST_F(PrefsSave, SymbolicLinksStayAndTheirTargetGetsTheFile) {
    ASSERT_EQ(mkdir(home.file("conf").c_str(), 0700), 0);
    write_file(home.file("conf/kxrc"), "old\n");
    chmod(home.file("conf/kxrc").c_str(), 0664);
    ASSERT_EQ(symlink("conf/kxrc", kxrc().c_str()), 0);
    EXPECT_EQ(save(), "");
    char target[256] = {0};
    ASSERT_GT(readlink(kxrc().c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "conf/kxrc");
    EXPECT_EQ(read_file(home.file("conf/kxrc")), kDefaultFile);
    EXPECT_EQ(mode_of(home.file("conf/kxrc")), 0664u);  // kept, though the umask is 022

    // A chain through an absolute link to a file that does not exist yet.
    TempDir other;
    ASSERT_EQ(unlink(kxrc().c_str()), 0);
    ASSERT_EQ(symlink(home.file("second").c_str(), kxrc().c_str()), 0);
    ASSERT_EQ(symlink(other.file("kxrc").c_str(), home.file("second").c_str()), 0);
    EXPECT_EQ(save(), "");
    EXPECT_EQ(read_file(other.file("kxrc")), kDefaultFile);
    EXPECT_EQ(mode_of(other.file("kxrc")), 0644u);

    // A link that leads nowhere is reported.
    ASSERT_EQ(unlink(kxrc().c_str()), 0);
    ASSERT_EQ(symlink(".kxrc", kxrc().c_str()), 0);
    EXPECT_EQ(save(), std::string(tprefsaveerr[LANG_EN]) + ": " + kxrc() + "\n");
}

TEST_F(PrefsSave, CharacterDeviceIsWrittenNotReplaced) {
    // A private copy of /dev/null, so a fault could never touch the real one.
    const std::string null_dev = home.file("null");
    if (mknod(null_dev.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "cannot create a device node here";
    const int fd = open(null_dev.c_str(), O_WRONLY);
    if (fd < 0) GTEST_SKIP() << "device nodes do not work in this folder";
    close(fd);
    ASSERT_EQ(symlink(null_dev.c_str(), kxrc().c_str()), 0);
    EXPECT_EQ(save(), "");
    struct stat st;
    ASSERT_EQ(stat(null_dev.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(entries(home.path()).size(), 2u);
}

TEST_F(PrefsSave, ReadOnlyFileIsKept) {
    const std::string old = "Language: Deutsch\n";
    const std::string home_dir = home.path();
    const std::string file = kxrc();
    write_file(file, old);
    // The folder takes new files; only the file itself says no (root would
    // write it anyway, so the save runs as nobody then).
    EXPECT_EQ(save_in_child([&] {
                  become_owner_unless_root({home_dir, file});
                  if (chmod(file.c_str(), 0444) != 0) _exit(5);
              }),
              std::string(tprefsaveerr[LANG_EN]) + ": " + file + "\n");
    EXPECT_EQ(read_file(file), old);
    EXPECT_EQ(mode_of(file), 0444u);
}

TEST_F(PrefsSave, ValueWithALineBreakAddsNoLine) {
    copy_bounded(root.device, "/dev/x\nLanguage: Deutsch", DEVICE_MAX);
    copy_bounded(root.save_name, "/tmp/a\rSpeed: 300", SAVE_NAME_MAX);
    EXPECT_EQ(save(), "");
    EXPECT_EQ(
        read_file(kxrc()),
        "Language: English\nSpeed: 38400\nDevice: /dev/x\nSave as: ascii\nFilename: /tmp/a\n");
}

TEST_F(PrefsRead, OnlyARegularFileAndItsFirstMiBAreRead) {
    ASSERT_EQ(symlink("/dev/zero", kxrc().c_str()), 0);
    CaptureStderr();
    EXPECT_EQ(ReadPreferences(), 0);
    EXPECT_EQ(GetCapturedStderr(), std::string(tnopreffile1[LANG_EN]) + " " + kxrc() + "\n" +
                                       tnopreffile2[LANG_EN] + "\n");
    ASSERT_EQ(unlink(kxrc().c_str()), 0);

    // Two MiB of comments: reading stops after the first with one message.
    std::string big = "Speed: 9600\n";
    while (big.size() < (2u << 20)) big += "; " + std::string(60, 'x') + "\n";
    int result = 0;
    EXPECT_EQ(read_with(big + "Speed: 300\n", &result),
              std::string(tpreftoolarge[LANG_EN]) + ": " + kxrc() + "\n");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(root.speed, 9600);
}

}  // namespace
