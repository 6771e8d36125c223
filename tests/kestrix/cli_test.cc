// The command line of the built program, run as a subprocess with a temporary
// HOME and LC_ALL=C; output compared byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "app/catalogue.h"
#include "pen/devices.h"
#include "state/state.h"
#include "support/process.h"

namespace {

std::string usage(int l) {
    return std::string(tusage1[l]) + "\n" + "  -h, -help:            " + tusage2[l] + "\n" +
           "  -batch:               " + tusage3[l] + "\n" +
           "  -d, -device <device>: " + tusage4[l] + "\n" +
           "  -s, -speed <speed>:   " + tusage5[l] + "\n" +
           "  -f, -format <format>: " + tusage6[l] + "\n" +
           "  -list:                " + tusage7[l] + "\n" +
           "  -erase:               " + tusage8[l] + "\n" +
           "  -version:             " + tusage9[l] + "\n";
}

const char kEnglishUsage[] =
    "Commandline options:\n"
    "  -h, -help:            This text.\n"
    "  -batch:               Batch mode: do not open window\n"
    "  -d, -device <device>: Interface name.\n"
    "  -s, -speed <speed>:   Speed (e.g. 38400)\n"
    "  -f, -format <format>: Output format\n"
    "  -list:                List the serial interfaces found\n"
    "  -erase:               With -batch: erase the KESTRIX memory after the export\n"
    "  -version:             Print the version\n";

// What every run without a preferences file writes first.
std::string missing(const TempDir& home) {
    return "Settings can not be loaded: " + home.file(".kxrc") +
           "\nStarting with default values.\n";
}

// kestrix with HOME and only the locale variables in `locale`: the runner's
// own are emptied first (an empty one counts as unset), and LC_CTYPE=C keeps
// the bytes as stored, whatever locales the machine has, unless LC_ALL is set.
RunResult run_in_locale(const std::string& home, const std::vector<std::string>& locale,
                        const std::vector<std::string>& args) {
    std::vector<std::string> env = {
        "HOME=" + home, "LANGUAGE=", "LC_ALL=", "LC_MESSAGES=", "LC_CTYPE=C", "LANG="};
    env.insert(env.end(), locale.begin(), locale.end());
    std::vector<std::string> argv = {KESTRIX_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(argv, env);
}

// The preferences file is created only by runs that save it.
void expect_no_preferences(const TempDir& home) {
    EXPECT_FALSE(file_exists(home.file(".kxrc")));
}

TEST(CommandLine, HelpPrintsEnglishUsageAndSavesNothing) {
    for (const char* word : {"-h", "-help", "--help", "--h", "-he"}) {
        TempDir home;
        RunResult r = run_kestrix(home.path(), {word});
        EXPECT_EQ(r.status, 0) << word;
        EXPECT_EQ(r.out, kEnglishUsage) << word;
        EXPECT_EQ(usage(LANG_EN), kEnglishUsage);
        expect_no_preferences(home);
    }
}

TEST(CommandLine, VersionPrintsTheVersionAndSavesNothing) {
    for (const char* word : {"-version", "--version", "-v"}) {
        TempDir home;
        RunResult r = run_kestrix(home.path(), {word});
        EXPECT_EQ(r.status, 0) << word;
        EXPECT_EQ(r.out, "kestrix 1.0\n") << word;
        expect_no_preferences(home);
    }
}

TEST(CommandLine, ListPrintsTheDevicesFoundAndSavesNothing) {
    std::vector<SerialDevice> found;
    find_serial_devices(&found);
    std::string expected;
    for (const SerialDevice& d : found) expected += d.path + "\t" + d.description + "\n";
    // An option after it is never reached, as after -h.
    const std::vector<std::vector<std::string>> runs = {
        {"-list", "-x"}, {"--list"}, {"-l"}, {"-li", "-erase"}};
    for (const auto& args : runs) {
        TempDir home;
        RunResult r = run_kestrix(home.path(), args);
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_EQ(r.out, expected) << args[0];
        EXPECT_EQ(r.err, missing(home)) << args[0];
        expect_no_preferences(home);
    }
}

TEST(CommandLine, HelpFollowsTheLanguageOfThePreferencesFile) {
    TempDir home;
    write_file(home.file(".kxrc"), "Language: Espa\361ol\n");
    RunResult r = run_kestrix(home.path(), {"-h"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, usage(LANG_ES));
    // The Spanish second line, spelled out rather than taken from the catalogue.
    EXPECT_NE(r.out.find("  -h, -help:            Este texto.\n"), std::string::npos);
    EXPECT_EQ(r.err, "");
    // -h ends the run before anything is saved: the file is as it was.
    EXPECT_EQ(read_file(home.file(".kxrc")), "Language: Espa\361ol\n");
}

TEST(CommandLine, UnknownOptionsPrintMessageAndUsageOnStderr) {
    struct Case {
        std::vector<std::string> args;
        std::string rejected;
    };
    const Case cases[] = {
        {{"-x"}, "-x"},
        {{"-d"}, "-d"},  // missing argument as the last word
        {{"-d/dev/ttyS0"}, "-d/dev/ttyS0"},
        {{"--display=:0"}, "--display=:0"},
        {{"-batch=1"}, "-batch=1"},  // argument to an option that takes none
        {{"-s", "38400", "--nonsense"}, "--nonsense"},
    };
    for (const auto& c : cases) {
        TempDir home;
        RunResult r = run_kestrix(home.path(), c.args);
        EXPECT_EQ(r.status, 1) << c.rejected;
        EXPECT_EQ(r.out, "") << c.rejected;
        const std::string tail = "Option unknown: " + c.rejected + "\n" + kEnglishUsage;
        ASSERT_GE(r.err.size(), tail.size()) << r.err;
        EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail) << c.rejected;
        // The missing file's message, then the parser's own message come first.
        EXPECT_EQ(r.err.rfind(missing(home), 0), 0u) << r.err;
        EXPECT_GT(r.err.size(), missing(home).size() + tail.size()) << c.rejected;
        expect_no_preferences(home);
    }
}

TEST(CommandLine, WrongSpeedHasNoLineEnd) {
    TempDir home;
    RunResult r = run_kestrix(home.path(), {"-s", "600"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, missing(home) + "Wrong Speed: 600");
    EXPECT_EQ(r.out, "");
    expect_no_preferences(home);

    r = run_kestrix(home.path(), {"-speed=fast"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, missing(home) + "Wrong Speed: fast");
}

TEST(CommandLine, AcceptedSpeedsAndFormatsLetHelpRun) {
    // Options are handled in order, so a valid option before -h leaves -h to
    // end the run with status 0.
    const std::vector<std::vector<std::string>> ok = {
        {"-s", "38400", "-h"},      {"--speed=115200", "-h"}, {"-s", "57600baud", "-h"},
        {"-sp", "300", "-h"},       {"-f", "RTF", "-h"},      {"-format", "latex2e", "-h"},
        {"-f", "Latex2e", "-h"},    {"-fo=asciitext", "-h"},  {"-f", "UTF8", "-h"},
        {"-d", "/dev/ttyS0", "-h"}, {"-dev=/dev/null", "-h"}, {"-de", "/x", "-h"},
    };
    for (const auto& args : ok) {
        TempDir home;
        RunResult r = run_kestrix(home.path(), args);
        EXPECT_EQ(r.status, 0) << args[0] << " " << args[1];
        EXPECT_EQ(r.out, kEnglishUsage);
        EXPECT_EQ(r.err, missing(home)) << args[0];
    }
}

TEST(CommandLine, DeviceNamesLongerThanTheFieldAreRefusedNotCut) {
    TempDir home;
    const std::string name = "/dev/" + std::string(DEVICE_MAX - 4, 'x');
    RunResult r = run_kestrix(home.path(), {"-batch", "-d", name});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, missing(home) + tdevice_toolong[LANG_EN] + ": " + name + "\n");
    expect_no_preferences(home);
    // 80 characters are taken: the run fails at the device, not at the option.
    r = run_kestrix(home.path(), {"-batch", "-d", name.substr(0, DEVICE_MAX)});
    EXPECT_EQ(r.err.find(tdevice_toolong[LANG_EN]), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(tce_serial1[LANG_EN]), std::string::npos) << r.err;
}

TEST(CommandLine, UnknownFormatHasNoLineEnd) {
    for (const char* f : {"tex", "rt", "utf", ""}) {
        TempDir home;
        RunResult r = run_kestrix(home.path(), {"-f", f});
        EXPECT_EQ(r.status, 1) << f;
        EXPECT_EQ(r.err, missing(home) + "Format unknown: " + f);
        expect_no_preferences(home);
    }
}

TEST(CommandLine, ErrorsFollowTheLanguageOfThePreferencesFile) {
    TempDir home;
    write_file(home.file(".kxrc"), "Language: Deutsch\n");
    RunResult r = run_kestrix(home.path(), {"-s", "600"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Falsche Geschwindigkeit: 600");

    r = run_kestrix(home.path(), {"-q"});
    EXPECT_EQ(r.status, 1);
    const std::string tail = std::string(toption[LANG_DE]) + ": -q\n" + usage(LANG_DE);
    ASSERT_GE(r.err.size(), tail.size());
    EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
}

TEST(CommandLine, LaterOptionsOverrideEarlierOnes) {
    TempDir home;
    // The first -s is bad, so the run ends there even though a good one follows.
    RunResult r = run_kestrix(home.path(), {"-s", "600", "-s", "9600"});
    EXPECT_EQ(r.status, 1);
    // A good one followed by a bad one fails on the bad one.
    r = run_kestrix(home.path(), {"-s", "9600", "-s", "601"});
    EXPECT_EQ(r.err, missing(home) + "Wrong Speed: 601");
}

TEST(CommandLine, WordsThatAreNotOptionsAreIgnored) {
    TempDir home;
    RunResult r = run_kestrix(home.path(), {"stray", "-h", "words"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kEnglishUsage);
}

TEST(CommandLine, MessagesReachAUtf8TerminalAsUtf8AndAnyOtherAsTheyAre) {
    TempDir home;
    write_file(home.file(".kxrc"), "Language: Deutsch\nSave as: \344rger\n");
    // No settings in there; that path and the speed word are the system's UTF-8.
    const std::string elsewhere = home.file("J\303\274rgen");
    for (const std::string locale : {"LC_ALL=C", "LC_ALL=C.UTF-8"}) {
        const bool utf8 = locale == "LC_ALL=C.UTF-8";
        auto shown = [&](const std::string& latin1) { return utf8 ? utf8_of(latin1) : latin1; };
        RunResult r = run_in_locale(home.path(), {locale}, {"-h"});
        EXPECT_EQ(r.out, shown(usage(LANG_DE))) << locale;
        EXPECT_EQ(r.err, shown("Fehler in Zeile 2: Unbekanntes Format: \344rger\n")) << locale;

        r = run_in_locale(elsewhere, {locale, "LANGUAGE=de"}, {"-s", "600\303\274"});
        const int l = utf8 ? LANG_DE : LANG_EN;  // the C locale ignores LANGUAGE
        EXPECT_EQ(r.err, shown(tnopreffile1[l]) + " " + elsewhere + "/.kxrc\n" +
                             shown(tnopreffile2[l]) + "\n" + shown(twrongspeed[l]) +
                             ": 600\303\274");
    }
}

TEST(CommandLine, WithoutPreferencesTheDesktopsLanguageIsUsed) {
    struct Case {
        std::vector<std::string> locale;
        const char* preferences;  // none when null
        int language;
    };
    const Case cases[] = {
        {{"LANG=de_AT.UTF-8"}, nullptr, LANG_DE},
        {{"LANGUAGE=nl:it_IT", "LANG=fr_FR.UTF-8"}, nullptr, LANG_IT},
        {{"LC_MESSAGES=es_ES", "LANG=de_DE.UTF-8"}, nullptr, LANG_ES},
        {{"LANG=nl_NL.UTF-8"}, nullptr, LANG_EN},
        {{"LANGUAGE=de", "LC_ALL=C"}, nullptr, LANG_EN},
        {{"LANG=de_DE.UTF-8"}, "Language: Fran\347ais\n", LANG_FR},
    };
    for (const Case& c : cases) {
        TempDir home;
        if (c.preferences) write_file(home.file(".kxrc"), c.preferences);
        RunResult r = run_in_locale(home.path(), c.locale, {"-h"});
        EXPECT_EQ(r.out, usage(c.language)) << c.locale[0];
        const int l = c.language;
        EXPECT_EQ(r.err, c.preferences ? ""
                                       : std::string(tnopreffile1[l]) + " " + home.file(".kxrc") +
                                             "\n" + tnopreffile2[l] + "\n");
    }
}

}  // namespace
