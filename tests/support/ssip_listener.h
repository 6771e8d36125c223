// A stand-in for the desktop's speech service: a Unix socket in a temporary
// folder, served by a thread of the test process that answers the service's
// text protocol as far as libspeechd uses it (the client name, SET LANGUAGE,
// SET NOTIFICATION, SET PRIORITY, SPEAK with its data up to a line ".",
// STOP, CANCEL, QUIT). It records every command line and each message with
// the language it was sent in, and, once notifications are on, sends BEGIN
// for each message and END at once or, while held, never: STOP and CANCEL
// end a held message with CANCELED.
#pragma once

#include <atomic>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"

class SsipListener {
   public:
    struct Message {
        std::string language, text;
        bool operator==(const Message& o) const { return language == o.language && text == o.text; }
        friend void PrintTo(const Message& m, std::ostream* os) {
            *os << m.language << ":" << m.text;
        }
    };

    SsipListener();
    ~SsipListener();
    SsipListener(const SsipListener&) = delete;
    SsipListener& operator=(const SsipListener&) = delete;

    // The value for SPEECHD_ADDRESS.
    std::string address() const { return "unix_socket:" + dir_.file("speechd.sock"); }
    void hold_end(bool hold) { hold_ = hold; }
    std::vector<Message> messages() const;
    std::vector<std::string> commands() const;

   private:
    struct Client {
        int fd;
        std::string in, language, text;
        bool data = false, notify = false;
        int held = 0;  // message id whose END is held back
    };
    void run();
    bool serve(Client& c);
    bool answer(Client& c, std::string line);

    TempDir dir_;
    int listen_fd_ = -1;
    std::atomic<bool> stop_{false}, hold_{false};
    mutable std::mutex mutex_;
    std::vector<Message> messages_;
    std::vector<std::string> commands_;
    int last_id_ = 0;
    std::thread thread_;
};
