// Keys in the dialogs: Escape is the window manager's close, whatever that
// means for the dialog; Enter in the PC configuration's device field is OK.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstring>
#include <string>

#include "app/catalogue.h"
#include "app/state.h"
#include "gui/gui_support.h"
#include "support/process.h"
#include "text/save_dialog.h"
#include "ui/dialogs.h"
#include "ui/pc_config.h"

namespace window_test {
namespace {

// A key pressed and released in `window`, delivered through GTK's own
// dispatch as the keyboard would deliver it.
void send_key(GtkWidget* window, guint keyval) {
    GdkWindow* gdk_window = gtk_widget_get_window(window);
    if (!gdk_window) return;
    GdkDisplay* display = gdk_window_get_display(gdk_window);
    GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
    event->key.window = GDK_WINDOW(g_object_ref(gdk_window));
    event->key.send_event = TRUE;
    event->key.time = GDK_CURRENT_TIME;
    event->key.keyval = keyval;
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
    event->key.type = GDK_KEY_RELEASE;
    gtk_main_do_event(event);
    gdk_event_free(event);
}

// Presses Escape, from a 20 ms timer, once in the first modal dialog shown
// while it lives (the code under test waits in its nested loop). Should the
// dialog still be there 3 s later, its first button is clicked so the test
// fails instead of hanging.
class EscapeOnce {
   public:
    EscapeOnce() { timer_ = g_timeout_add(20, tick, this); }
    ~EscapeOnce() { g_source_remove(timer_); }
    EscapeOnce(const EscapeOnce&) = delete;
    EscapeOnce& operator=(const EscapeOnce&) = delete;
    bool sent() const { return sent_; }
    bool gave_up() const { return gave_up_; }

   private:
    static gboolean tick(gpointer data) {
        EscapeOnce* self = static_cast<EscapeOnce*>(data);
        GtkWidget* dialog = grab_window();
        if (!dialog || !gtk_widget_get_mapped(dialog)) return G_SOURCE_CONTINUE;
        if (!self->sent_) {
            self->sent_ = true;
            self->deadline_ = g_get_monotonic_time() + 3 * G_USEC_PER_SEC;
            send_key(dialog, GDK_KEY_Escape);
        } else if (!self->gave_up_ && g_get_monotonic_time() > self->deadline_) {
            self->gave_up_ = true;
            std::vector<GtkWidget*> all = descendants(dialog);
            for (GtkWidget* w : all)
                if (GTK_IS_BUTTON(w)) {
                    gtk_button_clicked(GTK_BUTTON(w));
                    break;
                }
        }
        return G_SOURCE_CONTINUE;
    }

    guint timer_ = 0;
    bool sent_ = false;
    bool gave_up_ = false;
    gint64 deadline_ = 0;
};

bool mapped(GtkWidget* window) {
    return run_until([&] { return gtk_widget_get_mapped(window); }, 5000);
}

bool gone(const std::string& title) {
    return run_until([&] { return windows_titled(title).empty(); }, 5000);
}

class DialogKeys : public Fixture {};

TEST_F(DialogKeys, EscapeAnswersAQuestionNoAndClosesAMessage) {
    {
        EscapeOnce escape;
        EXPECT_EQ(Sicher("Caution!", "Erase everything?", nullptr, "Yes", "No"), 0);
        EXPECT_TRUE(escape.sent());
        EXPECT_FALSE(escape.gave_up());
    }
    EscapeOnce escape;
    show_error_and_wait("Something went wrong.", nullptr, nullptr);
    EXPECT_TRUE(escape.sent());
    EXPECT_FALSE(escape.gave_up());
}

TEST_F(DialogKeys, EscapeIsACloseRequestThatTheDialogMayIgnore) {
    // As the erase progress does: the request reaches the dialog's handler,
    // which keeps the dialog.
    GtkWidget* dialog = kx_dialog_new(5, nullptr, nullptr);
    int requests = 0;
    g_signal_connect(dialog, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer n) {
                         ++*static_cast<int*>(n);
                         return TRUE;
                     }),
                     &requests);
    gtk_widget_show(dialog);
    ASSERT_TRUE(mapped(dialog));
    send_key(dialog, GDK_KEY_Escape);
    EXPECT_TRUE(run_until([&] { return requests == 1; }, 5000));
    run_for(50);
    EXPECT_TRUE(gtk_widget_get_visible(dialog));

    // The product information, which closing destroys, goes.
    Version();
    std::vector<GtkWidget*> info = windows_titled(text_of(tcr_title));
    ASSERT_EQ(info.size(), 1u);
    ASSERT_TRUE(mapped(info[0]));
    send_key(info[0], GDK_KEY_Escape);
    EXPECT_TRUE(gone(text_of(tcr_title)));
}

TEST_F(DialogKeys, PcConfigurationAppliesOnEscapeAsOnCloseAndOkOnEnterInTheDevice) {
    ConfigurePC();
    std::vector<GtkWidget*> found = windows_titled(text_of(tpcconfig));
    ASSERT_EQ(found.size(), 1u);
    GtkWidget* dialog = found[0];
    ASSERT_TRUE(mapped(dialog));
    GtkWidget* speed = nullptr;
    for (GtkWidget* w : descendants(dialog))
        if (GTK_IS_COMBO_BOX_TEXT(w)) speed = w;  // the last of the three
    ASSERT_NE(speed, nullptr);
    gtk_combo_box_set_active(GTK_COMBO_BOX(speed), 4);  // 9600
    send_key(dialog, GDK_KEY_Escape);
    EXPECT_TRUE(gone(text_of(tpcconfig)));
    EXPECT_EQ(root.speed, 9600);

    ConfigurePC();
    found = windows_titled(text_of(tpcconfig));
    ASSERT_EQ(found.size(), 1u);
    dialog = found[0];
    ASSERT_TRUE(mapped(dialog));
    GtkWidget* device = find_widget(dialog, GTK_TYPE_ENTRY);
    ASSERT_NE(device, nullptr);
    gtk_entry_set_text(GTK_ENTRY(device), "/dev/ttyUSB0");
    gtk_widget_grab_focus(device);
    send_key(dialog, GDK_KEY_Return);
    EXPECT_TRUE(gone(text_of(tpcconfig)));
    EXPECT_STREQ(root.device, "/dev/ttyUSB0");
}

TEST_F(DialogKeys, EscapeCancelsTheSaveDialog) {
    TempDir dir;
    store_text("unsaved text");
    root.unsaved = 1;
    copy_bounded(root.save_name, dir.file("kept.txt").c_str(), SAVE_NAME_MAX);
    root.save_format = FORMAT_LATEX;
    Save();
    GtkWidget* dialog = grab_window();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(GTK_IS_FILE_CHOOSER_DIALOG(dialog));
    ASSERT_TRUE(mapped(dialog));
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog), "other.txt");
    send_key(dialog, GDK_KEY_Escape);
    EXPECT_TRUE(run_until([] { return grab_window() == nullptr; }, 5000));
    EXPECT_TRUE(gone(text_of(tfs_title)));
    EXPECT_STREQ(root.save_name, dir.file("kept.txt").c_str());
    EXPECT_EQ(root.save_format, FORMAT_LATEX);
    EXPECT_EQ(root.unsaved, 1);
    EXPECT_FALSE(g_file_test(dir.file("other.txt").c_str(), G_FILE_TEST_EXISTS));
}

}  // namespace
}  // namespace window_test
