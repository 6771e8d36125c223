#include "support/process.h"

#include <fcntl.h>
#include <glib.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

TempDir::TempDir() {
    char pattern[] = "/tmp/kxtest.XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made) path_ = made;
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    // Make read-only folders writable again so they can be removed.
    std::string cmd = "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
    int rc = std::system(cmd.c_str());
    (void)rc;
}

std::string utf8_of(const std::string& latin1) {
    gsize size = 0;
    gchar* utf8 = g_convert(latin1.data(), static_cast<gssize>(latin1.size()), "UTF-8",
                            "ISO-8859-1", nullptr, &size, nullptr);
    std::string out = utf8 ? std::string(utf8, size) : "(not converted)";
    g_free(utf8);
    return out;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool file_exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

namespace {

std::vector<char*> c_argv(const std::vector<std::string>& v) {
    std::vector<char*> out;
    for (const auto& s : v) out.push_back(const_cast<char*>(s.c_str()));
    out.push_back(nullptr);
    return out;
}

}  // namespace

RunResult run_program(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      const std::string& input, int timeout_s) {
    RunResult result;
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe(in_pipe) || pipe(out_pipe) || pipe(err_pipe)) return result;
    pid_t pid = fork();
    if (pid < 0) return result;
    if (pid == 0) {
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        // A test run with standard input closed gets pipe ends as low as 0:
        // never close what was just put in place.
        for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
            if (fd > 2) close(fd);
        for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
        auto args = c_argv(argv);
        execv(args[0], args.data());
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    // Input is small in every test: write it whole, then close.
    if (!input.empty()) {
        ssize_t w = write(in_pipe[1], input.data(), input.size());
        (void)w;
    }
    close(in_pipe[1]);

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    struct pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    int open_count = 2;
    bool timed_out = false;
    while (open_count > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            timed_out = true;
            break;
        }
        int n = poll(fds, 2, static_cast<int>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) continue;
        for (int i = 0; i < 2; i++) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            ssize_t r = read(fds[i].fd, buf, sizeof buf);
            if (r <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                open_count--;
            } else {
                (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(r));
            }
        }
    }
    if (timed_out) kill(pid, SIGKILL);
    for (auto& f : fds)
        if (f.fd >= 0) close(f.fd);
    int status = 0;
    waitpid(pid, &status, 0);
    if (timed_out)
        result.status = -1;
    else if (WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.status = 128 + WTERMSIG(status);
    return result;
}

RunResult run_kestrix(const std::string& home, const std::vector<std::string>& args,
                      int timeout_s) {
    std::vector<std::string> argv = {KESTRIX_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(argv, {"HOME=" + home, "LC_ALL=C"}, "", timeout_s);
}

pid_t spawn_program(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                    const std::string& log) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    if (!log.empty()) {
        int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
        }
    }
    for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
    auto args = c_argv(argv);
    execv(args[0], args.data());
    _exit(127);
}

int wait_program(pid_t pid, int timeout_ms) {
    int result = -1;
    wait_for(
        [&] {
            int status = 0;
            const pid_t r = waitpid(pid, &status, WNOHANG);
            if (r == pid) result = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return r != 0;
        },
        timeout_ms);
    return result;
}

bool wait_for(const std::function<bool()>& done, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        usleep(20000);
    }
    return true;
}

bool wait_for_text(const std::string& path, const std::string& text, int timeout_ms) {
    return wait_for([&] { return read_file(path).find(text) != std::string::npos; }, timeout_ms);
}

PenSim::PenSim(const std::vector<std::string>& args) {
    int out_pipe[2];
    if (pipe(out_pipe)) return;
    pid_ = fork();
    if (pid_ < 0) return;
    if (pid_ == 0) {
        dup2(out_pipe[1], 1);
        close(out_pipe[0]);
        close(out_pipe[1]);
        std::vector<std::string> argv = {PENSIM_BIN};
        argv.insert(argv.end(), args.begin(), args.end());
        auto a = c_argv(argv);
        execv(a[0], a.data());
        _exit(127);
    }
    close(out_pipe[1]);
    out_fd_ = out_pipe[0];
    // The first line is the terminal path; wait for it at most 10 s.
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) return;
        struct pollfd p = {out_fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        char c;
        if (read(out_fd_, &c, 1) != 1) return;
        line += c;
    }
    line.pop_back();
    tty_ = line;
}

int PenSim::stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    if (out_fd_ >= 0) close(out_fd_);
    out_fd_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int PenSim::wait_exit(int timeout_ms) {
    if (pid_ <= 0) return -1;
    int status = wait_program(pid_, timeout_ms);
    if (status >= 0) {
        pid_ = -1;
        if (out_fd_ >= 0) close(out_fd_);
        out_fd_ = -1;
    }
    return status;
}

void PenSim::unplug() {
    if (hold_fd_ < 0) hold_fd_ = open(tty_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    stop();
}

PenSim::~PenSim() {
    stop();
    if (hold_fd_ >= 0) close(hold_fd_);
}
