// In-process GUI test support for the tests of ui/: GTK set up once per
// process with a temporary HOME, a main-context pump with a deadline, widget
// searches, and an answerer that deals with modal dialogs from a timer while
// the code under test waits in its nested main loop.
#pragma once

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

namespace window_test {

// gtk_init once per process (NO_AT_BRIDGE set and HOME a temporary folder
// first). False without a display.
bool ensure_gtk();
// The temporary HOME that ensure_gtk() set.
const std::string& test_home();

// Pumps the default main context until `done()` holds or `timeout_ms` has
// passed; true when `done()` held.
bool run_until(const std::function<bool()>& done, int timeout_ms);
// Lets everything already due happen, for checks that something did not: a
// round trip to the display brings in the events of what was sent, then the
// main context runs until nothing is ready (at most 5 s). False when it never
// came to rest.
bool settle();
// Waits until the window of `widget` has drawn a frame, whose layout holds
// every size change made before the call. False after `timeout_ms`.
bool wait_for_frame(GtkWidget* widget, int timeout_ms = 5000);

// Every widget below `widget` (internal children too), depth first, in order.
std::vector<GtkWidget*> descendants(GtkWidget* widget);
// Texts of the visible GtkLabels below `widget` that are not inside a button
// (menu accelerator labels left out), in order.
std::vector<std::string> label_texts(GtkWidget* widget);
// Texts of the buttons below `widget`, in order.
std::vector<std::string> button_texts(GtkWidget* widget);
// The first button below `widget` whose label reads `text` (UTF-8), or null.
GtkWidget* find_button(GtkWidget* widget, const std::string& text);
// Clicks that button; a test failure when there is none.
void click_button(GtkWidget* widget, const std::string& text);
// The first descendant of type `type`, or null; every one of them, in order.
GtkWidget* find_widget(GtkWidget* widget, GType type);
std::vector<GtkWidget*> find_widgets(GtkWidget* widget, GType type);
std::string window_title(GtkWidget* window);
// The text a GtkComboBoxText shows ("" when none).
std::string active_text(GtkWidget* combo);
// The texts of a column of a combo box's list, by default the one its entry takes.
std::vector<std::string> combo_texts(GtkWidget* combo, int column = -1);

// Visible top-level windows of type GTK_WINDOW_TOPLEVEL.
std::vector<GtkWidget*> toplevels();
// Visible top-level windows whose title is `title`.
std::vector<GtkWidget*> windows_titled(const std::string& title);
// True while `window` is one of toplevels().
bool is_open(GtkWidget* window);
// A key pressed in `window`, delivered through GTK's own dispatch as the
// keyboard would deliver it.
void send_key(GtkWidget* window, guint keyval,
              GdkModifierType modifiers = static_cast<GdkModifierType>(0));
// The window of the innermost modal grab, or null.
GtkWidget* grab_window();
// A window-manager close request: a delete event through GTK's own dispatch,
// so grabs and the window's handler decide as they would for a real one.
void send_delete(GtkWidget* window);

// A catalogue row in the current interface language, as UTF-8.
std::string text_of(const char* const row[5]);
std::string utf8(const char* latin1);

// What a dialog showed when it was answered.
struct Seen {
    std::string title;
    std::vector<std::string> labels;
    std::vector<std::string> buttons;
};

// Answers modal dialogs one after the other from a 20 ms timer, whichever
// main loop is running. A step applies to the innermost grabbed window once
// that window shows `match` (a button or a label text) and `ready` holds.
class DialogAnswerer {
   public:
    using Ready = std::function<bool(GtkWidget* dialog)>;
    DialogAnswerer();
    ~DialogAnswerer();
    DialogAnswerer(const DialogAnswerer&) = delete;
    DialogAnswerer& operator=(const DialogAnswerer&) = delete;

    // Press the button labelled `button`.
    DialogAnswerer& click(const std::string& button, Ready ready = nullptr);
    // Send a close request to the dialog showing `match`.
    DialogAnswerer& close(const std::string& match, Ready ready = nullptr);

    bool finished() const { return next_ == steps_.size(); }
    size_t answered() const { return next_; }
    const std::vector<Seen>& seen() const { return seen_; }

   private:
    struct Step {
        bool click;
        std::string text;
        Ready ready;
    };
    static gboolean tick(gpointer self);
    void step();

    std::vector<Step> steps_;
    std::vector<Seen> seen_;
    size_t next_ = 0;
    guint timer_ = 0;
};

// Appends ISO-8859-1 text to the store as blocks of the pen (one scan per
// block of at most 127 characters, size class 0).
void store_text(const std::string& latin1);
// The whole content of root.text_view as UTF-8 ("" without a view).
std::string view_text();

// Base fixture: GTK up, `root` cleared, English, 38400 bit/s, a device path
// that does not exist, an empty store. Afterwards every window left over is
// destroyed and no grab may remain. A fixture whose tests start a pen
// operation lets it end before this TearDown: its worker writes into the
// progress dialog's record until then.
class Fixture : public ::testing::Test {
   protected:
    void SetUp() override;
    void TearDown() override;
};

}  // namespace window_test
