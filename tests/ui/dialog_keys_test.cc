// Keys in the dialogs: Escape is the window manager's close, whatever that
// means for the dialog; Enter in the PC configuration's device field is OK.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <memory>
#include <string>

#include "app/catalogue.h"
#include "state/state.h"
#include "support/gui.h"
#include "support/process.h"
#include "ui/dialogs.h"
#include "ui/pc_config.h"
#include "ui/save_dialog.h"

namespace window_test {
namespace {

// For a DialogAnswerer step: presses Escape in the dialog at once, and lets
// the step's click through only if the dialog is still there 3 s later, so a
// broken Escape fails the test instead of hanging it.
DialogAnswerer::Ready escape_first() {
    auto deadline = std::make_shared<gint64>(0);
    return [deadline](GtkWidget* dialog) {
        if (*deadline == 0) {
            *deadline = g_get_monotonic_time() + 3 * G_USEC_PER_SEC;
            send_key(dialog, GDK_KEY_Escape);
        }
        return g_get_monotonic_time() > *deadline;
    };
}

bool mapped(GtkWidget* window) {
    return run_until([&] { return gtk_widget_get_mapped(window); }, 5000);
}

bool gone(const std::string& title) {
    return run_until([&] { return windows_titled(title).empty(); }, 5000);
}

class DialogKeys : public Fixture {};

TEST_F(DialogKeys, EscapeAnswersAQuestionNoAndClosesAMessage) {
    {
        DialogAnswerer answer;
        answer.click("Yes", escape_first());
        EXPECT_EQ(Sicher("Caution!", "Erase everything?", nullptr, "Yes", "No"), 0);
        EXPECT_EQ(answer.answered(), 0u);
    }
    DialogAnswerer answer;
    answer.click("OK", escape_first());
    show_error_and_wait("Something went wrong.", nullptr, nullptr);
    EXPECT_EQ(answer.answered(), 0u);
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
    settle();
    EXPECT_TRUE(gtk_widget_get_visible(dialog));

    // The product information, which closing destroys, goes.
    Version();
    std::vector<GtkWidget*> info = windows_titled(text_of(tcr_title));
    ASSERT_EQ(info.size(), 1u);
    ASSERT_TRUE(mapped(info[0]));
    send_key(info[0], GDK_KEY_Escape);
    EXPECT_TRUE(gone(text_of(tcr_title)));
}

TEST_F(DialogKeys, PcConfigurationCancelsOnEscapeAndTakesOkOnEnterInTheDevice) {
    ConfigurePC();
    std::vector<GtkWidget*> found = windows_titled(text_of(tpcconfig));
    ASSERT_EQ(found.size(), 1u);
    GtkWidget* dialog = found[0];
    ASSERT_TRUE(mapped(dialog));
    GtkWidget* speed = nullptr;
    for (GtkWidget* w : descendants(dialog))
        if (GTK_IS_COMBO_BOX_TEXT(w)) speed = w;  // the last of the three
    ASSERT_NE(speed, nullptr);
    const int before = root.speed;
    gtk_combo_box_set_active(GTK_COMBO_BOX(speed), before == 9600 ? 3 : 4);
    send_key(dialog, GDK_KEY_Escape);
    EXPECT_TRUE(gone(text_of(tpcconfig)));
    EXPECT_EQ(root.speed, before);

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
