#include "support/gui.h"

#include <chrono>
#include <cstring>

#include "pen/download.h"
#include "pen/serial.h"
#include "state/state.h"
#include "support/process.h"
#include "text/store.h"
#include "ui/convert.h"

namespace window_test {

void send_key(GtkWidget* window, guint keyval, GdkModifierType modifiers) {
    GdkWindow* gdk_window = gtk_widget_get_window(window);
    if (!gdk_window) return;
    GdkDisplay* display = gdk_window_get_display(gdk_window);
    GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
    event->key.window = GDK_WINDOW(g_object_ref(gdk_window));
    event->key.send_event = TRUE;
    event->key.time = GDK_CURRENT_TIME;
    event->key.keyval = keyval;
    event->key.state = modifiers;
    GdkKeymapKey* keys = nullptr;
    gint n = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(display), keyval, &keys, &n) &&
        n > 0) {
        event->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
        event->key.group = static_cast<guint8>(keys[0].group);
    }
    g_free(keys);
    gdk_event_set_device(event, gdk_seat_get_keyboard(gdk_display_get_default_seat(display)));
    gtk_main_do_event(event);
    gdk_event_free(event);
}

namespace {

void collect(GtkWidget* widget, gpointer data) {
    auto* out = static_cast<std::vector<GtkWidget*>*>(data);
    out->push_back(widget);
    if (GTK_IS_CONTAINER(widget)) gtk_container_forall(GTK_CONTAINER(widget), collect, data);
}

bool inside_button(GtkWidget* widget, GtkWidget* stop) {
    for (GtkWidget* p = gtk_widget_get_parent(widget); p && p != stop; p = gtk_widget_get_parent(p))
        if (GTK_IS_BUTTON(p)) return true;
    return false;
}

std::string button_label(GtkWidget* button) {
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(button));
    if (child && GTK_IS_LABEL(child)) return gtk_label_get_text(GTK_LABEL(child));
    const char* label = gtk_button_get_label(GTK_BUTTON(button));
    return label ? label : "";
}

// A button reads `text` in its label widget or, with an image beside it, in
// its label property.
bool button_reads(GtkWidget* button, const std::string& text) {
    if (button_label(button) == text) return true;
    const char* label = gtk_button_get_label(GTK_BUTTON(button));
    return label && text == label;
}

bool shows_text(GtkWidget* window, const std::string& text) {
    for (const std::string& b : button_texts(window))
        if (b == text) return true;
    for (const std::string& l : label_texts(window))
        if (l.find(text) != std::string::npos) return true;
    return false;
}

}  // namespace

bool ensure_gtk() {
    static int state = -1;
    if (state < 0) {
        // HOME must be set before GLib first looks at it; it then stays.
        static TempDir home;
        g_setenv("HOME", home.path().c_str(), TRUE);
        g_setenv("NO_AT_BRIDGE", "1", FALSE);
        g_setenv("GDK_BACKEND", "x11", FALSE);
        // Tests never read or write the user's desktop settings, nor reach
        // the desktop's session bus.
        g_setenv("GSETTINGS_BACKEND", "memory", FALSE);
        g_setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kx-no-session-bus", TRUE);
        // A display busy with other test processes may refuse a connection
        // for a moment: try a few times before giving up.
        for (int attempt = 0; attempt < 5 && state != 1; attempt++) {
            if (attempt > 0) g_usleep(200000);
            state = gtk_init_check(nullptr, nullptr) ? 1 : 0;
        }
    }
    return state == 1;
}

const std::string& test_home() {
    static const std::string home = g_getenv("HOME") ? g_getenv("HOME") : "";
    return home;
}

bool run_until(const std::function<bool()>& done, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(2000);
    }
    return true;
}

bool settle() {
    GdkDisplay* display = gdk_display_get_default();
    if (display) gdk_display_sync(display);
    return run_until([] { return !g_main_context_pending(nullptr); }, 5000);
}

bool wait_for_frame(GtkWidget* widget, int timeout_ms) {
    GdkFrameClock* clock = gtk_widget_get_frame_clock(widget);
    if (!clock) return false;
    bool drawn = false;
    const gulong handler = g_signal_connect_swapped(
        clock, "after-paint", G_CALLBACK(+[](bool* flag) { *flag = true; }), &drawn);
    gdk_frame_clock_request_phase(clock, GDK_FRAME_CLOCK_PHASE_AFTER_PAINT);
    const bool ok = run_until([&] { return drawn; }, timeout_ms);
    g_signal_handler_disconnect(clock, handler);
    return ok;
}

std::vector<GtkWidget*> descendants(GtkWidget* widget) {
    std::vector<GtkWidget*> out;
    if (widget && GTK_IS_CONTAINER(widget))
        gtk_container_forall(GTK_CONTAINER(widget), collect, &out);
    return out;
}

std::vector<std::string> label_texts(GtkWidget* widget) {
    std::vector<std::string> out;
    for (GtkWidget* w : descendants(widget))
        if (GTK_IS_LABEL(w) && gtk_widget_get_visible(w) && !inside_button(w, widget) &&
            !GTK_IS_ACCEL_LABEL(w))
            out.push_back(gtk_label_get_text(GTK_LABEL(w)));
    return out;
}

std::vector<std::string> button_texts(GtkWidget* widget) {
    std::vector<std::string> out;
    for (GtkWidget* w : descendants(widget))
        if (GTK_IS_BUTTON(w)) out.push_back(button_label(w));
    return out;
}

GtkWidget* find_button(GtkWidget* widget, const std::string& text) {
    for (GtkWidget* w : descendants(widget))
        if (GTK_IS_BUTTON(w) && button_reads(w, text)) return w;
    return nullptr;
}

void click_button(GtkWidget* widget, const std::string& text) {
    GtkWidget* button = find_button(widget, text);
    ASSERT_NE(button, nullptr) << "no button " << text;
    gtk_button_clicked(GTK_BUTTON(button));
}

GtkWidget* find_widget(GtkWidget* widget, GType type) {
    for (GtkWidget* w : descendants(widget))
        if (G_TYPE_CHECK_INSTANCE_TYPE(w, type)) return w;
    return nullptr;
}

std::vector<GtkWidget*> find_widgets(GtkWidget* widget, GType type) {
    std::vector<GtkWidget*> out;
    for (GtkWidget* w : descendants(widget))
        if (G_TYPE_CHECK_INSTANCE_TYPE(w, type)) out.push_back(w);
    return out;
}

std::string window_title(GtkWidget* window) {
    const char* title = gtk_window_get_title(GTK_WINDOW(window));
    return title ? title : "";
}

std::string active_text(GtkWidget* combo) {
    gchar* text = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(combo));
    std::string out = text ? text : "";
    g_free(text);
    return out;
}

std::vector<std::string> combo_texts(GtkWidget* combo, int column) {
    std::vector<std::string> out;
    GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(combo));
    if (column < 0) column = gtk_combo_box_get_entry_text_column(GTK_COMBO_BOX(combo));
    GtkTreeIter it;
    for (gboolean ok = gtk_tree_model_get_iter_first(model, &it); ok;
         ok = gtk_tree_model_iter_next(model, &it)) {
        gchar* s = nullptr;
        gtk_tree_model_get(model, &it, column, &s, -1);
        out.push_back(s ? s : "");
        g_free(s);
    }
    return out;
}

std::vector<GtkWidget*> toplevels() {
    std::vector<GtkWidget*> out;
    GList* list = gtk_window_list_toplevels();
    for (GList* l = list; l; l = l->next) {
        GtkWidget* w = GTK_WIDGET(l->data);
        if (gtk_window_get_window_type(GTK_WINDOW(w)) == GTK_WINDOW_TOPLEVEL &&
            gtk_widget_get_visible(w))
            out.push_back(w);
    }
    g_list_free(list);
    return out;
}

std::vector<GtkWidget*> windows_titled(const std::string& title) {
    std::vector<GtkWidget*> out;
    for (GtkWidget* w : toplevels())
        if (window_title(w) == title) out.push_back(w);
    return out;
}

bool is_open(GtkWidget* window) {
    for (GtkWidget* w : toplevels())
        if (w == window) return true;
    return false;
}

GtkWidget* grab_window() {
    GtkWidget* grab = gtk_grab_get_current();
    return grab ? gtk_widget_get_toplevel(grab) : nullptr;
}

void send_delete(GtkWidget* window) {
    GdkWindow* gdk_window = gtk_widget_get_window(window);
    if (!gdk_window) return;
    GdkEvent* event = gdk_event_new(GDK_DELETE);
    event->any.window = GDK_WINDOW(g_object_ref(gdk_window));
    event->any.send_event = TRUE;
    gtk_main_do_event(event);
    gdk_event_free(event);
}

std::string utf8(const char* latin1) {
    char* converted = to_utf8(latin1);
    std::string out = converted ? converted : "";
    g_free(converted);
    return out;
}

std::string text_of(const char* const row[5]) {
    return utf8(row[root.language]);
}

void store_text(const std::string& latin1) {
    size_t at = 0;
    while (at < latin1.size()) {
        const size_t n = std::min<size_t>(BLOCK_MAX_PAIRS, latin1.size() - at);
        std::vector<unsigned char> pairs;
        for (size_t i = 0; i < n; i++) {
            pairs.push_back(static_cast<unsigned char>(latin1[at + i]));
            pairs.push_back(0);
        }
        ASSERT_EQ(store_block(pairs.data(), static_cast<int>(n)), 1);
        at += n;
    }
}

std::string view_text() {
    if (!root.text_view) return "";
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(root.text_view));
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    char* text = gtk_text_buffer_get_text(buffer, &start, &end, TRUE);
    std::string out = text;
    g_free(text);
    return out;
}

DialogAnswerer::DialogAnswerer() {
    timer_ = g_timeout_add(20, tick, this);
    // An answer may start a nested loop of its own; the next step must still
    // be answered from inside it.
    GSource* source = g_main_context_find_source_by_id(nullptr, timer_);
    if (source) g_source_set_can_recurse(source, TRUE);
}

DialogAnswerer::~DialogAnswerer() {
    if (timer_) g_source_remove(timer_);
}

DialogAnswerer& DialogAnswerer::click(const std::string& button, Ready ready) {
    steps_.push_back({true, button, std::move(ready)});
    return *this;
}

DialogAnswerer& DialogAnswerer::close(const std::string& match, Ready ready) {
    steps_.push_back({false, match, std::move(ready)});
    return *this;
}

gboolean DialogAnswerer::tick(gpointer self) {
    static_cast<DialogAnswerer*>(self)->step();
    return G_SOURCE_CONTINUE;
}

void DialogAnswerer::step() {
    if (finished()) return;
    GtkWidget* dialog = grab_window();
    if (!dialog || !gtk_widget_get_mapped(dialog)) return;
    const Step& s = steps_[next_];
    if (!shows_text(dialog, s.text)) return;
    if (s.ready && !s.ready(dialog)) return;

    seen_.push_back({window_title(dialog), label_texts(dialog), button_texts(dialog)});
    next_++;
    // The answer may run a nested loop (a handler asking its own question), in
    // which this timer fires again for the next step.
    if (s.click) {
        GtkWidget* button = find_button(dialog, s.text);
        if (button) gtk_button_clicked(GTK_BUTTON(button));
    } else {
        send_delete(dialog);
    }
}

void Fixture::SetUp() {
    ASSERT_TRUE(ensure_gtk()) << "no display: run under xvfb-run";
    g_free(root.text);
    g_free(root.attributes);
    clear_root();
    setup_data();
    root.language = LANG_EN;
    root.speed = 38400;
    // Never the machine's real serial ports.
    copy_bounded(root.device, "/nonexistent/kx-tty", DEVICE_MAX);
    kxinterface_break = 0;
    // No failed line of an earlier test: an open that succeeds forgets it.
    if (open_line("/dev/null")) close_port();
}

void Fixture::TearDown() {
    // One at a time: a window may take others with it.
    for (std::vector<GtkWidget*> left = toplevels(); !left.empty(); left = toplevels())
        gtk_widget_destroy(left.front());
    if (root.main_window) gtk_widget_destroy(root.main_window);
    settle();
    EXPECT_EQ(gtk_grab_get_current(), nullptr) << "a grab outlived its dialog";
    setup_data();
}

}  // namespace window_test
