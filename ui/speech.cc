// Reading aloud: the speech thread with the service connection, the notes it
// hands to the main thread, and the reading with its highlight.
#include "ui/speech.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <libspeechd.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/catalogue.h"
#include "state/state.h"
#include "ui/convert.h"

namespace {

const char* const SENTENCE_TAG = "speech-sentence";
// A service that takes the connection but never answers leaves the items
// waiting no longer than this; an answer that comes later still counts.
constexpr guint CONNECT_SECONDS = 5;
// The speech thread looks at its queue and the socket at least this often.
constexpr int THREAD_POLL_MS = 1000;
// Events of a sentence that arrive before the speech thread has reported its
// message id (libspeechd's event thread may run first); more are not kept.
constexpr size_t EARLY_EVENTS = 8;

struct Request {
    enum Kind { SPEAK, CANCEL, QUIT } kind;
    unsigned serial;  // SPEAK: echoed in the QUEUED note
    std::string language, text;
};

struct Note {
    enum Kind { CONNECTED, UNREACHABLE, LOST, QUEUED, BEGIN, END, CANCELLED } kind;
    unsigned serial;     // QUEUED
    int message;         // QUEUED and the events: the service's message id
    std::string reason;  // UNREACHABLE
};

// What the main thread, the speech thread and libspeechd's event thread share.
// Each holds a reference as long as it may touch it, so a speech thread left
// behind by speech_disconnect never writes into freed memory.
struct Channel {
    std::mutex mutex;
    // Guarded by `mutex`.
    std::deque<Request> requests;
    std::deque<Note> notes;
    int socket_copy = -1;  // the connection's socket (a dup): written by the speech thread
    bool finished = false;
    std::condition_variable finished_changed;
    // Wake the other side's poll; written after the mutex is released.
    const int to_thread = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int to_main = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);

    Channel() = default;
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;
    ~Channel() {
        if (to_thread >= 0) close(to_thread);
        if (to_main >= 0) close(to_main);
        if (socket_copy >= 0) close(socket_copy);
    }
};

// A full counter (EAGAIN) already wakes the reader; nothing else can fail on a
// valid eventfd, and the queue keeps what it woke for in any case.
void wake(int fd) {
    const uint64_t one = 1;
    if (write(fd, &one, sizeof one) != sizeof one && errno != EAGAIN)
        g_warning("speech: wake-up not written: %s", g_strerror(errno));
}

void drain(int fd) {
    uint64_t count;
    if (read(fd, &count, sizeof count) != sizeof count && errno != EAGAIN)
        g_warning("speech: wake-up not read: %s", g_strerror(errno));
}

void post(Channel& channel, Note note) {
    {
        std::lock_guard<std::mutex> lock(channel.mutex);
        channel.notes.push_back(std::move(note));
    }
    wake(channel.to_main);
}

// libspeechd's callbacks carry no user data: the channel of the open
// connection is found here.
std::mutex sink_mutex;
std::shared_ptr<Channel> event_sink;

// On libspeechd's event thread. spd_close cancels that thread; cancellation is
// held off here, so it never ends inside one of our locks.
void on_event(size_t message, size_t, SPDNotificationType type) {
    int old_state;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &old_state);
    std::shared_ptr<Channel> channel;
    {
        std::lock_guard<std::mutex> lock(sink_mutex);
        channel = event_sink;
    }
    const Note::Kind kind = type == SPD_EVENT_BEGIN ? Note::BEGIN
                            : type == SPD_EVENT_END ? Note::END
                                                    : Note::CANCELLED;
    if (channel) post(*channel, {kind, 0, static_cast<int>(message), {}});
    pthread_setcancelstate(old_state, nullptr);
}

// False, with the reason, when nothing listens on the Unix socket of the
// address. libspeechd finds the same, but keeps the words of its report (a
// leak on each attempt) and says it at length; where it may start the service
// itself, it is left to try.
bool listening(const SPDConnectionAddress* address, std::string& reason) {
    if (address->method != SPD_METHOD_UNIX_SOCKET || !address->unix_socket_name) return true;
    const std::string name = address->unix_socket_name;
    sockaddr_un where = {};
    where.sun_family = AF_UNIX;
    int error = ENAMETOOLONG;
    if (name.size() < sizeof where.sun_path) {
        memcpy(where.sun_path, name.c_str(), name.size() + 1);
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        // A listener with a full backlog answers EAGAIN: it is there.
        const int result =
            fd < 0 ? -1 : connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where);
        error = result == 0 ? 0 : errno;
        if (fd >= 0) close(fd);
        if (error == 0 || error == EAGAIN) return true;
    }
    reason = name + ": " + g_strerror(error);
    return false;
}

// The speech thread: every libspeechd call of the program is made here.
class Speaker {
   public:
    Speaker(std::shared_ptr<Channel> channel, SPDConnectionAddress* address, bool autospawn)
        : channel_(std::move(channel)), address_(address), autospawn_(autospawn) {}
    Speaker(const Speaker&) = delete;
    Speaker& operator=(const Speaker&) = delete;
    ~Speaker() { SPDConnectionAddress__free(address_); }
    void run();

   private:
    bool open_connection(std::string& reason);
    void close_connection();
    int say(const Request& request);
    bool next_request(Request& request);
    void speak(const Request& request);

    std::shared_ptr<Channel> channel_;
    SPDConnectionAddress* address_;
    const bool autospawn_;
    SPDConnection* connection_ = nullptr;
    std::string language_;  // set on this connection
};

bool Speaker::open_connection(std::string& reason) {
    if (!autospawn_ && !listening(address_, reason)) return false;
    char* error = nullptr;
    connection_ =
        spd_open2("kestrix", "main", nullptr, SPD_MODE_THREADED, address_, autospawn_, &error);
    if (!connection_) {
        reason = error ? error : g_strerror(ECONNREFUSED);
        free(error);
        return false;
    }
    connection_->callback_begin = on_event;
    connection_->callback_end = on_event;
    connection_->callback_cancel = on_event;
    {
        std::lock_guard<std::mutex> lock(sink_mutex);
        event_sink = channel_;
    }
    // spd_open2 returns a connection even when the service did not answer
    // its first command: this one tells.
    if (spd_set_notification_on(connection_,
                                static_cast<SPDNotification>(SPD_BEGIN | SPD_END | SPD_CANCEL))) {
        close_connection();
        reason = g_strerror(EPROTO);
        return false;
    }
    // A copy of the socket for the hang-up watch and for speech_disconnect,
    // which shuts it to end a wait in libspeechd (the `socket` field is the
    // only way to it; libspeechd sets it to -1 once the connection broke).
    const int copy = connection_->socket >= 0 ? fcntl(connection_->socket, F_DUPFD_CLOEXEC, 0) : -1;
    std::lock_guard<std::mutex> lock(channel_->mutex);
    channel_->socket_copy = copy;
    return true;
}

void Speaker::close_connection() {
    {
        std::lock_guard<std::mutex> lock(sink_mutex);
        if (event_sink == channel_) event_sink.reset();
    }
    spd_close(connection_);
    connection_ = nullptr;
    language_.clear();
    std::lock_guard<std::mutex> lock(channel_->mutex);
    if (channel_->socket_copy >= 0) close(channel_->socket_copy);
    channel_->socket_copy = -1;
}

int Speaker::say(const Request& request) {
    if (request.language != language_) {
        if (spd_set_language(connection_, request.language.c_str())) return -1;
        language_ = request.language;
    }
    return spd_say(connection_, SPD_TEXT, request.text.c_str());
}

// The next request, or false after at most THREAD_POLL_MS; a hang-up of the
// connection meanwhile closes it and tells the main thread.
bool Speaker::next_request(Request& request) {
    {
        std::lock_guard<std::mutex> lock(channel_->mutex);
        if (!channel_->requests.empty()) {
            request = std::move(channel_->requests.front());
            channel_->requests.pop_front();
            return true;
        }
    }
    // Only this thread writes socket_copy: reading it here needs no lock.
    pollfd fds[2] = {{channel_->to_thread, POLLIN, 0}, {channel_->socket_copy, POLLRDHUP, 0}};
    const nfds_t count = connection_ && fds[1].fd >= 0 ? 2 : 1;
    if (poll(fds, count, THREAD_POLL_MS) <= 0) return false;
    if (fds[0].revents & POLLIN) drain(channel_->to_thread);
    if (count == 2 && (fds[1].revents & (POLLRDHUP | POLLHUP | POLLERR))) {
        close_connection();
        post(*channel_, {Note::LOST, 0, 0, {}});
    }
    return false;
}

// A sentence that cannot be sent closes the connection and is sent once more
// on a new one; only when that fails too is the service unreachable.
void Speaker::speak(const Request& request) {
    int message = connection_ ? say(request) : -1;
    if (message < 0) {
        if (connection_) close_connection();
        std::string reason;
        if (open_connection(reason)) {
            message = say(request);
            if (message < 0) reason = g_strerror(EPROTO);
        }
        if (message < 0) {
            post(*channel_, {Note::UNREACHABLE, 0, 0, reason});
            return;
        }
    }
    post(*channel_, {Note::QUEUED, request.serial, message, {}});
}

void Speaker::run() {
    // libspeechd writes to its socket without MSG_NOSIGNAL: a service gone
    // away must fail the write, not end the program. libspeechd's event
    // thread, started from here, inherits the mask.
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);

    std::string reason;
    if (open_connection(reason))
        post(*channel_, {Note::CONNECTED, 0, 0, {}});
    else
        post(*channel_, {Note::UNREACHABLE, 0, 0, reason});
    for (;;) {
        Request request;
        if (!next_request(request)) continue;
        if (request.kind == Request::QUIT) break;
        if (request.kind == Request::SPEAK) {
            speak(request);
        } else if (connection_ && spd_cancel(connection_)) {
            close_connection();
        }
    }
    if (connection_) close_connection();
}

// The speech thread is detached from the start: speech_disconnect waits for
// `finished` with a bound, and a thread it left behind ends by itself.
void speech_thread(std::shared_ptr<Channel> channel, SPDConnectionAddress* address,
                   bool autospawn) {
    Speaker(channel, address, autospawn).run();
    std::lock_guard<std::mutex> lock(channel->mutex);
    channel->finished = true;
    channel->finished_changed.notify_all();
}

// The main thread's side.

enum class Link { OFF, CONNECTING, READY, UNREACHABLE };

struct Service {
    std::shared_ptr<Channel> channel;
    guint watch = 0;
    guint connect_timer = 0;
    Link link = Link::OFF;
    std::string reason;  // UTF-8, while UNREACHABLE
    unsigned serial = 0;
    GtkWidget* read_item = nullptr;  // weak pointers
    GtkWidget* stop_item = nullptr;
} service;

struct Reading {
    GtkTextBuffer* buffer = nullptr;  // a reference held; null while not reading
    GtkTextMark* next = nullptr;      // where the next sentence starts
    GtkTextMark* stop = nullptr;      // the end of the range read
    GtkTextMark* sentence_start = nullptr;
    GtkTextMark* sentence_end = nullptr;
    std::string language;
    unsigned serial = 0;  // of the sentence with the service
    int message = -1;     // its message id, -1 until queued
    std::vector<Note> early;
} reading;

void update_items() {
    const bool unreachable = service.link == Link::UNREACHABLE;
    std::string tip;
    if (unreachable) {
        g_autofree char* row = to_utf8(tspeech_unreachable[interface_language()]);
        tip = std::string(row) + ": " + service.reason;
    }
    for (GtkWidget* item : {service.read_item, service.stop_item})
        if (item) gtk_widget_set_tooltip_text(item, unreachable ? tip.c_str() : nullptr);
    if (service.read_item) gtk_widget_set_sensitive(service.read_item, service.link == Link::READY);
    if (service.stop_item)
        gtk_widget_set_sensitive(service.stop_item, service.link == Link::READY && reading.buffer);
}

void set_link(Link link, const std::string& reason = "") {
    service.link = link;
    // libspeechd's reasons name paths, which need not be UTF-8.
    g_autofree char* valid = g_utf8_make_valid(reason.c_str(), -1);
    service.reason = valid;
    update_items();
}

void request(Request r) {
    if (!service.channel) return;
    {
        std::lock_guard<std::mutex> lock(service.channel->mutex);
        service.channel->requests.push_back(std::move(r));
    }
    wake(service.channel->to_thread);
}

GtkTextIter iter_at(GtkTextMark* mark) {
    GtkTextIter iter;
    gtk_text_buffer_get_iter_at_mark(reading.buffer, &iter, mark);
    return iter;
}

void unhighlight() {
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(reading.buffer, &start, &end);
    gtk_text_buffer_remove_tag_by_name(reading.buffer, SENTENCE_TAG, &start, &end);
}

void end_reading() {
    if (!reading.buffer) return;
    unhighlight();
    for (GtkTextMark* mark :
         {reading.next, reading.stop, reading.sentence_start, reading.sentence_end})
        gtk_text_buffer_delete_mark(reading.buffer, mark);
    g_object_unref(reading.buffer);
    reading = Reading();
    update_items();
}

// Sends the sentence at the `next` mark (blanks before it skipped), or ends
// the reading when the range is done.
void send_next() {
    GtkTextIter at = iter_at(reading.next);
    const GtkTextIter stop = iter_at(reading.stop);
    while (gtk_text_iter_compare(&at, &stop) < 0 && g_unichar_isspace(gtk_text_iter_get_char(&at)))
        gtk_text_iter_forward_char(&at);
    if (gtk_text_iter_compare(&at, &stop) >= 0) {
        end_reading();
        return;
    }
    GtkTextIter end = at;
    gtk_text_iter_forward_sentence_end(&end);
    if (gtk_text_iter_compare(&end, &stop) > 0 || gtk_text_iter_compare(&end, &at) <= 0) end = stop;
    g_autofree char* text = gtk_text_buffer_get_text(reading.buffer, &at, &end, FALSE);
    // Line breaks mean nothing to the voice, and a line of its own could end
    // the message in the service's protocol.
    for (char* p = text; *p; p++)
        if (*p == '\r' || *p == '\n') *p = ' ';
    gtk_text_buffer_move_mark(reading.buffer, reading.sentence_start, &at);
    gtk_text_buffer_move_mark(reading.buffer, reading.sentence_end, &end);
    gtk_text_buffer_move_mark(reading.buffer, reading.next, &end);
    reading.serial = ++service.serial;
    reading.message = -1;
    reading.early.clear();
    request({Request::SPEAK, reading.serial, reading.language, text});
}

void on_sentence_event(const Note& note) {
    if (!reading.buffer) return;
    if (reading.message < 0) {
        if (reading.early.size() < EARLY_EVENTS) reading.early.push_back(note);
        return;
    }
    if (note.message != reading.message) return;
    unhighlight();
    if (note.kind == Note::BEGIN) {
        const GtkTextIter start = iter_at(reading.sentence_start);
        const GtkTextIter end = iter_at(reading.sentence_end);
        gtk_text_buffer_apply_tag_by_name(reading.buffer, SENTENCE_TAG, &start, &end);
    } else if (note.kind == Note::END) {
        send_next();
    } else {
        end_reading();  // cancelled by someone else, a message of higher priority
    }
}

void on_note(const Note& note) {
    switch (note.kind) {
        case Note::CONNECTED:
            set_link(Link::READY);
            break;
        case Note::UNREACHABLE:
            end_reading();
            set_link(Link::UNREACHABLE, note.reason);
            break;
        case Note::LOST:
            end_reading();  // the next Read Aloud connects again
            break;
        case Note::QUEUED:
            if (reading.buffer && note.serial == reading.serial) {
                reading.message = note.message;
                std::vector<Note> early;
                early.swap(reading.early);
                for (const Note& event : early) on_sentence_event(event);
            }
            break;
        default:
            on_sentence_event(note);
    }
}

gboolean on_notes(int fd, GIOCondition, gpointer) {
    drain(fd);
    std::deque<Note> notes;
    {
        std::lock_guard<std::mutex> lock(service.channel->mutex);
        notes.swap(service.channel->notes);
    }
    for (const Note& note : notes) on_note(note);
    return G_SOURCE_CONTINUE;
}

gboolean on_connect_timeout(gpointer) {
    service.connect_timer = 0;
    if (service.link == Link::CONNECTING) set_link(Link::UNREACHABLE, g_strerror(ETIMEDOUT));
    return G_SOURCE_REMOVE;
}

void hold_item(GtkWidget*& slot, GtkWidget* item) {
    if (slot) g_object_remove_weak_pointer(G_OBJECT(slot), reinterpret_cast<gpointer*>(&slot));
    slot = item;
    if (slot) g_object_add_weak_pointer(G_OBJECT(slot), reinterpret_cast<gpointer*>(&slot));
}

void ensure_tag(GtkTextBuffer* buffer) {
    if (gtk_text_tag_table_lookup(gtk_text_buffer_get_tag_table(buffer), SENTENCE_TAG)) return;
    // The selection's colours of the theme, else those of the default theme.
    GdkRGBA background = {0.21, 0.52, 0.89, 1.0}, foreground = {1.0, 1.0, 1.0, 1.0};
    GtkStyleContext* style = gtk_widget_get_style_context(root.text_view);
    gtk_style_context_lookup_color(style, "theme_selected_bg_color", &background);
    gtk_style_context_lookup_color(style, "theme_selected_fg_color", &foreground);
    gtk_text_buffer_create_tag(buffer, SENTENCE_TAG, "background-rgba", &background,
                               "foreground-rgba", &foreground, nullptr);
}

}  // namespace

void speech_connect() {
    if (service.channel) return;
    char* error = nullptr;
    SPDConnectionAddress* address = spd_get_default_address(&error);
    if (!address) {
        set_link(Link::UNREACHABLE, error ? error : "SPEECHD_ADDRESS");
        free(error);
        return;
    }
    // An address given in SPEECHD_ADDRESS is a service someone runs: only the
    // desktop's own service is started when it is not running.
    const bool autospawn = g_getenv("SPEECHD_ADDRESS") == nullptr;
    auto channel = std::make_shared<Channel>();
    if (channel->to_thread < 0 || channel->to_main < 0) {
        SPDConnectionAddress__free(address);
        set_link(Link::UNREACHABLE, g_strerror(errno));
        return;
    }
    try {
        std::thread(speech_thread, channel, address, autospawn).detach();
    } catch (const std::system_error& e) {
        SPDConnectionAddress__free(address);
        set_link(Link::UNREACHABLE, e.what());
        return;
    }
    service.channel = channel;
    service.watch = g_unix_fd_add(channel->to_main, G_IO_IN, on_notes, nullptr);
    service.connect_timer = g_timeout_add_seconds(CONNECT_SECONDS, on_connect_timeout, nullptr);
    set_link(Link::CONNECTING);
}

void speech_set_items(GtkWidget* read_item, GtkWidget* stop_item) {
    hold_item(service.read_item, read_item);
    hold_item(service.stop_item, stop_item);
    update_items();
}

void read_aloud() {
    if (service.link != Link::READY || !root.text_view) return;
    stop_reading();
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(root.text_view));
    GtkTextIter start, end;
    if (!gtk_text_buffer_get_selection_bounds(buffer, &start, &end)) {
        gtk_text_buffer_get_iter_at_mark(buffer, &start, gtk_text_buffer_get_insert(buffer));
        gtk_text_buffer_get_end_iter(buffer, &end);
    }
    if (gtk_text_iter_compare(&start, &end) >= 0) return;
    ensure_tag(buffer);
    reading.buffer = GTK_TEXT_BUFFER(g_object_ref(buffer));
    reading.next = gtk_text_buffer_create_mark(buffer, nullptr, &start, TRUE);
    reading.stop = gtk_text_buffer_create_mark(buffer, nullptr, &end, TRUE);
    reading.sentence_start = gtk_text_buffer_create_mark(buffer, nullptr, &start, TRUE);
    reading.sentence_end = gtk_text_buffer_create_mark(buffer, nullptr, &start, TRUE);
    reading.language = text_language_code();
    send_next();
    update_items();
}

void stop_reading() {
    if (!reading.buffer) return;
    request({Request::CANCEL, 0, {}, {}});
    end_reading();
}

void speech_disconnect() {
    stop_reading();
    if (!service.channel) {
        service.link = Link::OFF;
        return;
    }
    if (service.watch) g_source_remove(service.watch);
    if (service.connect_timer) g_source_remove(service.connect_timer);
    service.watch = service.connect_timer = 0;
    request({Request::QUIT, 0, {}, {}});
    // A service that answers nothing keeps libspeechd waiting: after a second
    // its socket is shut, which ends the wait; after another the thread is
    // left to end by itself, with its own reference to the channel.
    std::shared_ptr<Channel> channel = std::move(service.channel);
    {
        std::unique_lock<std::mutex> lock(channel->mutex);
        const auto done = [&] { return channel->finished; };
        if (!channel->finished_changed.wait_for(lock, std::chrono::seconds(1), done)) {
            if (channel->socket_copy >= 0) shutdown(channel->socket_copy, SHUT_RDWR);
            channel->finished_changed.wait_for(lock, std::chrono::seconds(1), done);
        }
    }
    service.link = Link::OFF;
    update_items();
}

void speech_retry() {
    if (service.link == Link::UNREACHABLE) speech_disconnect();
    if (service.link == Link::OFF) speech_connect();
}
