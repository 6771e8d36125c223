// A stand-in for the desktop's speech service: a Unix socket in a temporary
// folder, served one connection after the other by a thread of the test
// process (every wait a poll of 50 ms). It answers the text protocol as far
// as libspeechd uses it (SET, SPEAK with its data up to a line ".", STOP,
// CANCEL, QUIT), records each message with its language and the last
// command, and once notifications are on sends BEGIN for each message and END
// at once or, while held, never: STOP and CANCEL end it with CANCELED.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/process.h"

class SsipListener {
   public:
    using Message = std::pair<std::string, std::string>;  // language, text

    SsipListener();
    ~SsipListener();
    // The value for SPEECHD_ADDRESS.
    std::string address() const { return "unix_socket:" + dir_.file("speechd.sock"); }
    void hold_end(bool hold) { hold_ = hold; }
    std::vector<Message> messages() const;
    std::string last_command() const;

   private:
    void serve(int fd);

    TempDir dir_;
    int fd_ = -1;
    std::atomic<bool> stop_{false}, hold_{false};
    mutable std::mutex mutex_;
    std::vector<Message> messages_;
    std::string last_command_;
    std::thread thread_;
};
