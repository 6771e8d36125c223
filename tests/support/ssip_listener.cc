#include "support/ssip_listener.h"

#include <glib.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

bool send_all(int fd, const std::string& bytes) {
    for (size_t at = 0; at < bytes.size();) {
        const ssize_t n = send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += static_cast<size_t>(n);
    }
    return true;
}

std::string event(int code, int id, const char* name) {
    const std::string c = std::to_string(code);
    return c + "-" + std::to_string(id) + "\r\n" + c + "-1\r\n" + c + " " + name + "\r\n";
}

bool starts(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

bool readable(int fd) {
    pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, 50) > 0;
}

}  // namespace

SsipListener::SsipListener() {
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    const std::string path = dir_.file("speechd.sock");
    if (path.size() >= sizeof addr.sun_path) return;
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd_, 4) != 0)
        return;
    thread_ = std::thread([this] {
        while (!stop_) {
            const int client = readable(fd_) ? accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC) : -1;
            if (client >= 0) serve(client);
            if (client >= 0) close(client);
        }
    });
}

SsipListener::~SsipListener() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
}

std::vector<SsipListener::Message> SsipListener::messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

std::string SsipListener::last_command() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_command_;
}

// Until the client leaves or QUITs, or the listener stops.
void SsipListener::serve(int fd) {
    std::string in, language, text, reply;
    bool data = false, notify = false;
    int id = 0, held = 0;  // the last message; the one whose END is held back
    for (char buffer[4096]; !stop_;) {
        const ssize_t n = readable(fd) ? read(fd, buffer, sizeof buffer) : -2;  // -2: nothing yet
        if (n == 0 || n == -1) return;
        in.append(buffer, n > 0 ? static_cast<size_t>(n) : 0);
        for (size_t end; (end = in.find("\r\n")) != std::string::npos; in.erase(0, end + 2)) {
            const std::string line = in.substr(0, end);
            std::lock_guard<std::mutex> lock(mutex_);
            if (data && line != ".") {
                text += (text.empty() ? "" : "\n") + line.substr(starts(line, "..") ? 1 : 0);
                continue;
            }
            if (data) {
                messages_.push_back({language, text});
                text.clear();
                data = false;
                held = notify && hold_ ? ++id : 0;
                id += held ? 0 : 1;
                reply = "225-" + std::to_string(id) + "\r\n225 OK MESSAGE QUEUED\r\n" +
                        (notify ? event(701, id, "BEGIN") : "") +
                        (notify && !hold_ ? event(702, id, "END") : "");
                if (!send_all(fd, reply)) return;
                continue;
            }
            last_command_ = line;
            // Keywords are case-insensitive; values keep their case.
            g_autofree char* command = g_ascii_strup(line.c_str(), -1);
            reply = "500 ERR INVALID COMMAND\r\n";
            if (strcmp(command, "SPEAK") == 0) {
                data = true;
                reply = "230 OK RECEIVING DATA\r\n";
            } else if (starts(command, "SET SELF LANGUAGE ")) {
                language = line.substr(strlen("SET SELF LANGUAGE "));
                reply = "201 OK LANGUAGE SET\r\n";
            } else if (starts(command, "SET ")) {
                notify = notify || (starts(command, "SET SELF NOTIFICATION ") &&
                                    g_str_has_suffix(command, " ON"));
                reply = "299 OK BUT NOT IMPLEMENTED -- DOES NOTHING\r\n";
            } else if (starts(command, "STOP ") || starts(command, "CANCEL ")) {
                reply = (held ? event(703, held, "CANCELED") : "") + "210 OK STOPPED\r\n";
                held = 0;
            } else if (strcmp(command, "QUIT") == 0) {
                send_all(fd, "231 HAPPY HACKING\r\n");  // the connection ends either way
                return;
            }
            if (!send_all(fd, reply)) return;
        }
    }
}
