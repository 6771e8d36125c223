// In-process test support for the save and configuration dialogs: GTK set up
// once with a temporary HOME, a main-loop pump with a deadline, widget
// searches, and an answerer that presses a button of a modal question from a
// timer while the code under test waits in its nested main loop.
#pragma once

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

#include "support/process.h"

namespace dialogs_test {

// GTK initialised once per process, HOME a temporary folder. False without
// a display.
bool gtk_ready();
const std::string& test_home();

// Pumps the main context until `done()` holds or `timeout_ms` passed.
bool pump_until(const std::function<bool()>& done, int timeout_ms);
void pump_for(int ms);

// Every widget below `widget`, internal children included, depth first.
std::vector<GtkWidget*> widgets_below(GtkWidget* widget);
template <typename Pred>
std::vector<GtkWidget*> widgets_where(GtkWidget* widget, Pred pred) {
    std::vector<GtkWidget*> out;
    for (GtkWidget* w : widgets_below(widget))
        if (pred(w)) out.push_back(w);
    return out;
}
// Visible texts of the labels below `widget`, buttons' labels excluded.
std::vector<std::string> labels_of(GtkWidget* widget);
// The first button below `widget` labelled `text` (UTF-8), or null.
GtkWidget* button_labelled(GtkWidget* widget, const std::string& text);
std::string title_of(GtkWidget* window);

// Visible top-level windows, newest last.
std::vector<GtkWidget*> visible_windows();
// The newest visible window titled `title` (UTF-8), or null.
GtkWidget* window_titled(const std::string& title);

// A catalogue row at root.language, or an ISO-8859-1 text, as UTF-8.
std::string u8(const char* const row[5]);
std::string u8(const char* latin1);

// A window-manager close request delivered through GTK's own event dispatch.
void request_close(GtkWidget* window);

// Presses, from a 20 ms timer, the button `button` (UTF-8) of the first new
// window that shows it, and remembers what that window showed. Used for the
// questions and messages that run their own nested main loop. Gives up after
// 10 s by closing every new window, so a missing question cannot hang a test.
class Answer {
   public:
    explicit Answer(const std::string& button);
    ~Answer();
    Answer(const Answer&) = delete;
    Answer& operator=(const Answer&) = delete;

    bool answered() const { return answered_; }
    bool gave_up() const { return gave_up_; }
    const std::string& title() const { return title_; }
    const std::vector<std::string>& labels() const { return labels_; }

   private:
    static gboolean tick(gpointer self);
    std::string button_;
    std::vector<GtkWidget*> before_;
    gint64 deadline_;
    guint timer_ = 0;
    bool answered_ = false;
    bool gave_up_ = false;
    std::string title_;
    std::vector<std::string> labels_;
};

// Base fixture: GTK up; root cleared and set up as at start-up (empty store,
// default preferences, English); afterwards every window the test left is
// destroyed and no grab remains.
class DialogTest : public ::testing::Test {
   protected:
    void SetUp() override;
    void TearDown() override;
    // Builds the main window (menu bar included) as the program does.
    void open_main_window();
    // The grab-holding widget, or null.
    static GtkWidget* grab() { return gtk_grab_get_current(); }
};

}  // namespace dialogs_test
