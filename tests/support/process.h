// Test support: running the built programs as subprocesses, and temporary
// folders for HOME and files.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

// A temporary directory removed (with its contents) when the object goes.
class TempDir {
   public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

   private:
    std::string path_;
};

// ISO-8859-1 bytes as UTF-8, converted by GLib as iconv would.
std::string utf8_of(const std::string& latin1);

struct RunResult {
    int status = -1;  // exit status, or 128 + signal, or -1 when it timed out
    std::string out;
    std::string err;
};

// Runs `argv` (argv[0] is the program path) with the given environment
// additions ("NAME=value"; HOME and LC_ALL=C are the caller's business) and
// `input` on standard input. Kills it after `timeout_s` seconds.
RunResult run_program(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      const std::string& input = "", int timeout_s = 60);

// Convenience: runs the built kestrix with a temporary HOME and LC_ALL=C.
RunResult run_kestrix(const std::string& home, const std::vector<std::string>& args,
                      int timeout_s = 60);

// Starts `argv` with the environment additions and returns at once; standard
// output and error go to `log` (appended) when given, else they are inherited.
pid_t spawn_program(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                    const std::string& log = "");
// Waits up to `timeout_ms` for `pid` to end: its exit status (or 128 + signal),
// or -1 when it is still running.
int wait_program(pid_t pid, int timeout_ms);

// Checks `done()` every 20 ms until it holds or `timeout_ms` has passed; true
// when it held. For waits on other processes: a test waits for what it needs,
// never for a fixed time.
bool wait_for(const std::function<bool()>& done, int timeout_ms);
// Waits up to `timeout_ms` for the file at `path` to hold `text` (a log line).
bool wait_for_text(const std::string& path, const std::string& text, int timeout_ms);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);

// A running kestrix-pensim on a pseudo-terminal; stopped (SIGTERM) on
// destruction. `tty()` is the terminal path it printed first.
class PenSim {
   public:
    explicit PenSim(const std::vector<std::string>& args);
    ~PenSim();
    PenSim(const PenSim&) = delete;
    PenSim& operator=(const PenSim&) = delete;
    bool ok() const { return !tty_.empty(); }
    const std::string& tty() const { return tty_; }
    pid_t pid() const { return pid_; }
    // Waits up to `timeout_ms` for the simulator to end by itself (for example
    // after --sessions N): its exit status, or -1 when it is still running.
    int wait_exit(int timeout_ms);
    // Stops the simulator and returns its exit status.
    int stop();
    // Stops the simulator as if the pen were pulled out: its terminal path
    // vanishes, and stays vanished until this object goes, as the test keeps
    // the far side open so that no later pseudo-terminal takes the number.
    void unplug();

   private:
    pid_t pid_ = -1;
    int out_fd_ = -1;
    int hold_fd_ = -1;
    std::string tty_;
};
