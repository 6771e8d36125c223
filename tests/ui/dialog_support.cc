#include "ui/dialog_support.h"

#include <algorithm>
#include <cstdlib>

#include "app/prefs.h"
#include "app/state.h"
#include "gui/gui_support.h"
#include "text/store.h"
#include "ui/convert.h"
#include "ui/main_window.h"

namespace dialogs_test {

namespace {

bool inside_button(GtkWidget* widget, GtkWidget* top) {
    for (GtkWidget* p = gtk_widget_get_parent(widget); p && p != top; p = gtk_widget_get_parent(p))
        if (GTK_IS_BUTTON(p)) return true;
    return false;
}

std::vector<GtkWidget*> windows_at_setup;

void destroy_new_windows(const std::vector<GtkWidget*>& keep) {
    for (GtkWidget* w : visible_windows())
        if (std::find(keep.begin(), keep.end(), w) == keep.end()) gtk_widget_destroy(w);
}

}  // namespace

bool gtk_ready() {
    static int state = -1;
    if (state < 0) {
        // HOME must be set before GLib first looks at it; it then stays.
        static TempDir home;
        g_setenv("HOME", home.path().c_str(), TRUE);
        state = window_test::ensure_gtk() ? 1 : 0;
    }
    return state == 1;
}

const std::string& test_home() {
    static const std::string home = g_getenv("HOME") ? g_getenv("HOME") : "";
    return home;
}

// The pump, the widget walk, titles and close requests are the window
// tests' own.
bool pump_until(const std::function<bool()>& done, int timeout_ms) {
    return window_test::run_until(done, timeout_ms);
}

void pump_for(int ms) {
    window_test::run_for(ms);
}

std::vector<GtkWidget*> widgets_below(GtkWidget* widget) {
    return window_test::descendants(widget);
}

std::vector<std::string> labels_of(GtkWidget* widget) {
    std::vector<std::string> out;
    for (GtkWidget* w : widgets_below(widget))
        if (GTK_IS_LABEL(w) && gtk_widget_get_visible(w) && !inside_button(w, widget))
            out.push_back(gtk_label_get_text(GTK_LABEL(w)));
    return out;
}

GtkWidget* button_labelled(GtkWidget* widget, const std::string& text) {
    for (GtkWidget* w : widgets_below(widget)) {
        if (!GTK_IS_BUTTON(w)) continue;
        const char* label = gtk_button_get_label(GTK_BUTTON(w));
        if (label && text == label) return w;
        GtkWidget* child = gtk_bin_get_child(GTK_BIN(w));
        if (child && GTK_IS_LABEL(child) && text == gtk_label_get_text(GTK_LABEL(child))) return w;
    }
    return nullptr;
}

std::string title_of(GtkWidget* window) {
    return window_test::window_title(window);
}

std::vector<GtkWidget*> visible_windows() {
    std::vector<GtkWidget*> out;
    GList* all = gtk_window_list_toplevels();
    // The list comes newest first.
    for (GList* i = all; i; i = i->next) {
        GtkWidget* w = GTK_WIDGET(i->data);
        if (gtk_widget_get_visible(w) &&
            gtk_window_get_window_type(GTK_WINDOW(w)) == GTK_WINDOW_TOPLEVEL)
            out.insert(out.begin(), w);
    }
    g_list_free(all);
    return out;
}

GtkWidget* window_titled(const std::string& title) {
    auto windows = visible_windows();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        if (title_of(*it) == title) return *it;
    return nullptr;
}

std::string u8(const char* latin1) {
    char* s = to_utf8(latin1);
    std::string out = s ? s : "";
    g_free(s);
    return out;
}

std::string u8(const char* const row[5]) {
    return u8(row[root.language]);
}

void request_close(GtkWidget* window) {
    window_test::send_delete(window);
}

Answer::Answer(const std::string& button)
    : button_(button),
      before_(visible_windows()),
      deadline_(g_get_monotonic_time() + 10 * G_USEC_PER_SEC) {
    timer_ = g_timeout_add(20, tick, this);
}

Answer::~Answer() {
    if (timer_) g_source_remove(timer_);
}

gboolean Answer::tick(gpointer self) {
    Answer* a = static_cast<Answer*>(self);
    if (g_get_monotonic_time() > a->deadline_) {
        a->gave_up_ = true;
        a->timer_ = 0;
        destroy_new_windows(a->before_);
        return G_SOURCE_REMOVE;
    }
    for (GtkWidget* w : visible_windows()) {
        if (std::find(a->before_.begin(), a->before_.end(), w) != a->before_.end()) continue;
        GtkWidget* button = button_labelled(w, a->button_);
        if (!button) continue;
        a->title_ = title_of(w);
        a->labels_ = labels_of(w);
        a->answered_ = true;
        a->timer_ = 0;
        gtk_button_clicked(GTK_BUTTON(button));
        return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
}

void DialogTest::SetUp() {
    ASSERT_TRUE(gtk_ready()) << "no display";
    g_free(root.text);
    g_free(root.attributes);
    clear_root();
    setup_data();
    SetDefaultPreferences();
    windows_at_setup = visible_windows();
}

void DialogTest::TearDown() {
    // The main window's destroy handler would leave a main loop that is not
    // running here.
    GtkWidget* main_window = root.main_window;
    root.main_window = nullptr;
    if (main_window) gtk_widget_destroy(main_window);
    destroy_new_windows(windows_at_setup);
    pump_for(20);
    EXPECT_EQ(gtk_grab_get_current(), nullptr) << "a grab outlived its dialog";
}

void DialogTest::open_main_window() {
    OpenMainWindow();
}

}  // namespace dialogs_test
