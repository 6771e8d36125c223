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
    size_t at = 0;
    while (at < bytes.size()) {
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
    return s.compare(0, strlen(prefix), prefix) == 0;
}

}  // namespace

SsipListener::SsipListener() {
    const std::string path = dir_.file("speechd.sock");
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return;
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listen_fd_, 4) != 0)
        return;
    thread_ = std::thread(&SsipListener::run, this);
}

SsipListener::~SsipListener() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listen_fd_ >= 0) close(listen_fd_);
}

std::vector<SsipListener::Message> SsipListener::messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

std::vector<std::string> SsipListener::commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

// Every wait is a poll of 50 ms, so the destructor's stop is seen within it.
void SsipListener::run() {
    std::vector<Client> clients;
    while (!stop_) {
        std::vector<pollfd> fds = {{listen_fd_, POLLIN, 0}};
        for (const Client& c : clients) fds.push_back({c.fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), 50) <= 0) continue;
        for (size_t i = clients.size(); i > 0; i--) {
            if (!fds[i].revents || serve(clients[i - 1])) continue;
            close(clients[i - 1].fd);
            clients.erase(clients.begin() + static_cast<long>(i - 1));
        }
        if (fds[0].revents & POLLIN) {
            const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) clients.push_back({fd, {}, {}, {}});
        }
    }
    for (const Client& c : clients) close(c.fd);
}

// Reads what came and answers each complete line; false when the client went.
bool SsipListener::serve(Client& c) {
    char buffer[4096];
    const ssize_t n = read(c.fd, buffer, sizeof buffer);
    if (n <= 0) return n < 0 && errno == EINTR;
    c.in.append(buffer, static_cast<size_t>(n));
    for (size_t end; (end = c.in.find('\n')) != std::string::npos;) {
        std::string line = c.in.substr(0, end);
        c.in.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!answer(c, line)) return false;
    }
    return true;
}

bool SsipListener::answer(Client& c, std::string line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (c.data) {
        if (line != ".") {
            if (starts(line, "..")) line.erase(0, 1);
            c.text += (c.text.empty() ? "" : "\n") + line;
            return true;
        }
        c.data = false;
        messages_.push_back({c.language, c.text});
        c.text.clear();
        const int id = ++last_id_;
        std::string reply = "225-" + std::to_string(id) + "\r\n225 OK MESSAGE QUEUED\r\n";
        if (c.notify) reply += event(701, id, "BEGIN");
        c.held = hold_ ? id : 0;
        if (c.notify && !hold_) reply += event(702, id, "END");
        return send_all(c.fd, reply);
    }
    commands_.push_back(line);
    // Commands and their keywords are case-insensitive; values keep their case.
    const std::string value = line;
    for (char& ch : line) ch = static_cast<char>(g_ascii_toupper(ch));
    std::string reply = "299 OK BUT NOT IMPLEMENTED -- DOES NOTHING\r\n";
    if (line == "SPEAK") {
        c.data = true;
        reply = "230 OK RECEIVING DATA\r\n";
    } else if (starts(line, "SET SELF LANGUAGE ")) {
        c.language = value.substr(strlen("SET SELF LANGUAGE "));
        reply = "201 OK LANGUAGE SET\r\n";
    } else if (starts(line, "SET SELF NOTIFICATION ")) {
        c.notify = c.notify || (line.size() > 3 && line.compare(line.size() - 3, 3, " ON") == 0);
        reply = "220 OK NOTIFICATION SET\r\n";
    } else if (starts(line, "STOP ") || starts(line, "CANCEL ")) {
        reply = (c.notify && c.held ? event(703, c.held, "CANCELED") : "") +
                (starts(line, "STOP") ? "210 OK STOPPED\r\n" : "213 OK CANCELED\r\n");
        c.held = 0;
    } else if (line == "QUIT") {
        send_all(c.fd, "231 HAPPY HACKING\r\n");  // the connection ends either way
        return false;
    } else if (!starts(line, "SET ")) {
        reply = "500 ERR INVALID COMMAND\r\n";
    }
    return send_all(c.fd, reply);
}
