// Names in the save dialog: the proposal when nothing has been saved yet, and
// the extension that follows the format.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <string>

#include "app/state.h"
#include "support/gui.h"
#include "support/process.h"
#include "ui/save_dialog.h"

namespace window_test {
namespace {

std::string today() {
    GDateTime* now = g_date_time_new_now_local();
    gchar* date = g_date_time_format(now, "%Y-%m-%d");
    std::string out = date;
    g_free(date);
    g_date_time_unref(now);
    return out;
}

// The dialog opens in the working directory: a temporary one.
class SaveNames : public Fixture {
   protected:
    void SetUp() override {
        Fixture::SetUp();
        char* cwd = g_get_current_dir();
        old_cwd_ = cwd;
        g_free(cwd);
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    }
    void TearDown() override {
        Fixture::TearDown();
        EXPECT_EQ(chdir(old_cwd_.c_str()), 0);
    }
    static std::string name(GtkWidget* dialog) {
        gchar* n = gtk_file_chooser_get_current_name(GTK_FILE_CHOOSER(dialog));
        std::string out = n ? n : "";
        g_free(n);
        return out;
    }
    static void choose(GtkWidget* dialog, int format) {
        GtkWidget* extra = gtk_file_chooser_get_extra_widget(GTK_FILE_CHOOSER(dialog));
        gtk_combo_box_set_active(GTK_COMBO_BOX(find_widget(extra, GTK_TYPE_COMBO_BOX_TEXT)),
                                 format);
    }
    static void type(GtkWidget* dialog, const char* text) {
        gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog), text);
    }

    TempDir dir_;
    std::string old_cwd_;
};

TEST_F(SaveNames, FirstSaveProposesTodaysScansAndTheExtensionFollowsTheFormat) {
    const std::string stem = "scans-" + today();
    write_file(dir_.file(stem + ".rtf"), "old");
    store_text("new text");
    Save();
    GtkWidget* dialog = grab_window();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(name(dialog), stem + ".txt");
    choose(dialog, FORMAT_RTF);
    EXPECT_EQ(name(dialog), stem + ".rtf");

    // The proposal is asked about like any other existing file.
    {
        DialogAnswerer answer;
        answer.click("No");
        gtk_button_clicked(GTK_BUTTON(find_button(dialog, "OK")));
        EXPECT_TRUE(answer.finished());
    }
    EXPECT_EQ(read_file(dir_.file(stem + ".rtf")), "old");

    type(dialog, "notes.TXT");
    choose(dialog, FORMAT_LATEX);
    EXPECT_EQ(name(dialog), "notes.tex");
    // Any other name stays as typed.
    for (const char* typed : {"notes.doc", "notes", ".rtf", "sub/.rtf"}) {
        type(dialog, typed);
        choose(dialog, FORMAT_ASCII);
        choose(dialog, FORMAT_LATEX);
        EXPECT_EQ(name(dialog), typed);
    }
    gtk_widget_destroy(dialog);
}

}  // namespace
}  // namespace window_test
