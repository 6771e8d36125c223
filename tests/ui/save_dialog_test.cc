// The save dialog, driven in-process: presets, directories, the overwrite
// question, failed exports and the format row.
#include "ui/save_dialog.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "app/catalogue.h"
#include "state/state.h"
#include "support/export_frame.h"
#include "support/gui.h"
#include "support/process.h"
#include "text/export.h"
#include "text/store.h"

namespace window_test {
namespace {

class SaveDialogTest : public Fixture {
   protected:
    void SetUp() override {
        Fixture::SetUp();
        ASSERT_FALSE(dir.path().empty());
        char* cwd = g_get_current_dir();
        old_cwd = cwd;
        g_free(cwd);
        ASSERT_EQ(chdir(dir.path().c_str()), 0);
    }
    void TearDown() override {
        Fixture::TearDown();
        EXPECT_EQ(chdir(old_cwd.c_str()), 0);
    }

    // Opens the dialog and waits until it shows its first folder.
    GtkWidget* open() {
        Save();
        GtkWidget* dialog = nullptr;
        for (GtkWidget* w : toplevels())
            if (GTK_IS_FILE_CHOOSER_DIALOG(w)) dialog = w;
        if (!dialog) return nullptr;
        run_until([&] { return !folder(dialog).empty(); }, 5000);
        return dialog;
    }
    static std::string folder(GtkWidget* dialog) {
        gchar* f = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(dialog));
        std::string out = f ? f : "";
        g_free(f);
        return out;
    }
    static std::string name(GtkWidget* dialog) {
        gchar* n = gtk_file_chooser_get_current_name(GTK_FILE_CHOOSER(dialog));
        std::string out = n ? n : "";
        g_free(n);
        return out;
    }
    static void type(GtkWidget* dialog, const std::string& text) {
        gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog), text.c_str());
    }
    static GtkWidget* combo(GtkWidget* dialog) {
        GtkWidget* extra = gtk_file_chooser_get_extra_widget(GTK_FILE_CHOOSER(dialog));
        return find_widget(extra, GTK_TYPE_COMBO_BOX_TEXT);
    }
    static void press_ok(GtkWidget* dialog) { click_button(dialog, text_of(tOK)); }
    // The store holds `latin1`, not yet saved.
    static void unsaved_text(const std::string& latin1) {
        store_text(latin1);
        root.unsaved = 1;
    }
    // Entries of a folder, "." and ".." left out, sorted.
    static std::vector<std::string> listing(const std::string& path) {
        std::vector<std::string> out;
        GDir* d = g_dir_open(path.c_str(), 0, nullptr);
        if (!d) return out;
        while (const char* n = g_dir_read_name(d)) out.push_back(n);
        g_dir_close(d);
        std::sort(out.begin(), out.end());
        return out;
    }

    TempDir dir;
    std::string old_cwd;
};

TEST_F(SaveDialogTest, FirstOpeningShowsWorkingDirectoryAndAscii) {
    GtkWidget* dialog = open();
    ASSERT_NE(dialog, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    EXPECT_EQ(window_title(dialog), text_of(tfs_title));
    EXPECT_EQ(folder(dialog), dir.path());
    EXPECT_EQ(name(dialog).substr(0, 6), "scans-");  // today's, see save_names_test
    EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_SAVE);
    EXPECT_FALSE(gtk_file_chooser_get_create_folders(chooser));
    EXPECT_FALSE(gtk_file_chooser_get_do_overwrite_confirmation(chooser));
    EXPECT_NE(find_button(dialog, text_of(tCancel)), nullptr);
    EXPECT_EQ(grab_window(), dialog);

    GtkWidget* formats = combo(dialog);
    ASSERT_NE(formats, nullptr);
    EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(formats)), FORMAT_ASCII);
    EXPECT_EQ(active_text(formats), utf8(get_format_string(FORMAT_ASCII)));
    GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(formats));
    EXPECT_EQ(gtk_tree_model_iter_n_children(model, nullptr), FORMAT_COUNT);
    // The format row's label stands left of the combo.
    GtkWidget* extra = gtk_file_chooser_get_extra_widget(chooser);
    EXPECT_EQ(label_texts(extra), std::vector<std::string>{text_of(tfs_format)});
}

TEST_F(SaveDialogTest, SavedFileIsPresetWithItsFormatNextTime) {
    unsaved_text("Hallo\nWelt");
    GtkWidget* dialog = open();
    ASSERT_NE(dialog, nullptr);
    type(dialog, "out.rtf");
    gtk_combo_box_set_active(GTK_COMBO_BOX(combo(dialog)), FORMAT_RTF);
    press_ok(dialog);

    const std::string path = dir.file("out.rtf");
    EXPECT_FALSE(is_open(dialog));
    EXPECT_EQ(grab_window(), nullptr);
    EXPECT_STREQ(root.save_name, path.c_str());
    EXPECT_EQ(root.save_format, FORMAT_RTF);
    EXPECT_EQ(root.unsaved, 0);
    EXPECT_EQ(read_file(path).rfind(kRtfHeader, 0), 0u);

    // Opened from elsewhere: the last file's folder and name come back.
    ASSERT_EQ(chdir("/"), 0);
    dialog = open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(folder(dialog), dir.path());
    EXPECT_EQ(name(dialog), "out.rtf");
    EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(combo(dialog))), FORMAT_RTF);

    // Enter in the name field presses OK: LaTeX this time, same file.
    gtk_combo_box_set_active(GTK_COMBO_BOX(combo(dialog)), FORMAT_LATEX);
    type(dialog, dir.file("out.tex"));
    GtkWidget* entry = nullptr;
    for (GtkWidget* w : find_widgets(dialog, GTK_TYPE_ENTRY))
        if (gtk_widget_get_mapped(w) && dir.file("out.tex") == gtk_entry_get_text(GTK_ENTRY(w)))
            entry = w;
    ASSERT_NE(entry, nullptr);
    gtk_widget_activate(entry);
    // A button activated from the keyboard emits "clicked" after a short delay.
    EXPECT_TRUE(run_until([&] { return !is_open(dialog); }, 5000));
    EXPECT_EQ(root.save_format, FORMAT_LATEX);
    EXPECT_EQ(read_file(dir.file("out.tex")).rfind(kLatexHeader, 0), 0u);
}

TEST_F(SaveDialogTest, OkOnDirectoryEntersItAndWritesNothing) {
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
    ASSERT_EQ(symlink(dir.file("sub").c_str(), dir.file("link").c_str()), 0);
    std::strcpy(root.save_name, "/elsewhere/kept.txt");
    const auto top_before = listing(dir.path());

    struct Case {
        std::string typed;
        std::string lands_in;
    };
    const Case cases[] = {
        {"sub", dir.file("sub")},
        {"sub/", dir.file("sub")},
        {"sub///", dir.file("sub")},
        {dir.file("sub") + "//", dir.file("sub")},
        {"link", dir.file("link")},  // a link to a directory is a directory
        {"/", "/"},
        {"///", "/"},
        {"~/", g_get_home_dir()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        GtkWidget* dialog = open();
        ASSERT_NE(dialog, nullptr);
        gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), dir.path().c_str());
        ASSERT_TRUE(run_until([&] { return folder(dialog) == dir.path(); }, 5000));
        type(dialog, c.typed);
        press_ok(dialog);
        EXPECT_TRUE(is_open(dialog));
        EXPECT_TRUE(run_until([&] { return folder(dialog) == c.lands_in; }, 5000))
            << folder(dialog);
        EXPECT_EQ(name(dialog), "");
        EXPECT_EQ(grab_window(), dialog);
        gtk_widget_destroy(dialog);
    }
    EXPECT_EQ(listing(dir.path()), top_before);
    EXPECT_TRUE(listing(dir.file("sub")).empty());
    EXPECT_STREQ(root.save_name, "/elsewhere/kept.txt");
}

TEST_F(SaveDialogTest, EmptyNameKeepsDialogWithoutMessage) {
    unsaved_text("x");
    GtkWidget* dialog = open();
    ASSERT_NE(dialog, nullptr);
    type(dialog, "");
    const size_t windows = toplevels().size();
    press_ok(dialog);
    settle();
    EXPECT_TRUE(is_open(dialog));
    EXPECT_EQ(toplevels().size(), windows);
    EXPECT_EQ(folder(dialog), dir.path());
    EXPECT_TRUE(listing(dir.path()).empty());
    EXPECT_STREQ(root.save_name, "");
    EXPECT_EQ(root.unsaved, 1);
}

TEST_F(SaveDialogTest, ExistingFileAnsweredNoKeepsEverything) {
    unsaved_text("new text");
    write_file(dir.file("old.txt"), "old");
    std::strcpy(root.save_name, dir.file("previous.txt").c_str());
    root.save_format = FORMAT_ASCII;
    GtkWidget* dialog = open();
    ASSERT_NE(dialog, nullptr);
    gtk_combo_box_set_active(GTK_COMBO_BOX(combo(dialog)), FORMAT_LATEX);
    type(dialog, "old.txt");
    {
        DialogAnswerer answer;
        answer.click(text_of(tNo));
        press_ok(dialog);
        ASSERT_TRUE(answer.finished());
        EXPECT_EQ(answer.seen()[0].title, text_of(tfs_exists_title));
        EXPECT_EQ(answer.seen()[0].labels,
                  (std::vector<std::string>{dir.file("old.txt"), text_of(tfs_exists_s1)}));
    }
    EXPECT_TRUE(is_open(dialog));
    EXPECT_EQ(grab_window(), dialog);
    EXPECT_EQ(read_file(dir.file("old.txt")), "old");
    EXPECT_EQ(root.save_format, FORMAT_ASCII);
    EXPECT_STREQ(root.save_name, dir.file("previous.txt").c_str());
    EXPECT_EQ(root.unsaved, 1);
}

TEST_F(SaveDialogTest, ExistingFileAnsweredYesIsRewritten) {
    unsaved_text("new");
    write_file(dir.file("old.txt"), "a much longer old content");
    GtkWidget* dialog = open();
    ASSERT_NE(dialog, nullptr);
    type(dialog, "old.txt");
    {
        DialogAnswerer answer;
        answer.click(text_of(tYes));
        press_ok(dialog);
        ASSERT_TRUE(answer.finished());
    }
    EXPECT_FALSE(is_open(dialog));
    EXPECT_EQ(read_file(dir.file("old.txt")), "new");
    EXPECT_EQ(root.unsaved, 0);
}

TEST_F(SaveDialogTest, QuestionShowsNonAsciiNameAsTheChooserDoes) {
    const std::string file = dir.file("\xC3\x84rger.txt");  // "Ärger.txt" in UTF-8
    write_file(file, "old");
    GtkWidget* dialog = open();
    ASSERT_NE(dialog, nullptr);
    type(dialog, "\xC3\x84rger.txt");
    DialogAnswerer answer;
    answer.click(text_of(tNo));
    press_ok(dialog);
    ASSERT_TRUE(answer.finished());
    ASSERT_FALSE(answer.seen()[0].labels.empty());
    EXPECT_EQ(answer.seen()[0].labels[0], file);
}

TEST_F(SaveDialogTest, FailedExportShowsErrorAndPresetsFailedPath) {
    unsaved_text("text");
    write_file(dir.file("plain"), "a file, not a folder");
    // Fails for root too: a file cannot hold another.
    const std::string bad = dir.file("plain") + "/inner.txt";
    GtkWidget* dialog = open();
    ASSERT_NE(dialog, nullptr);
    gtk_combo_box_set_active(GTK_COMBO_BOX(combo(dialog)), FORMAT_RTF);
    type(dialog, bad);
    {
        DialogAnswerer answer;
        answer.click(text_of(tOK));
        press_ok(dialog);
        ASSERT_TRUE(answer.finished());
        EXPECT_EQ(answer.seen()[0].labels,
                  (std::vector<std::string>{
                      text_of(tfs_error1), bad,
                      text_of(tfs_error2) + "\n" + text_of(texport_failed) + ": Not a directory"}));
    }
    EXPECT_TRUE(is_open(dialog));
    EXPECT_EQ(grab_window(), dialog);
    EXPECT_STREQ(root.save_name, bad.c_str());
    EXPECT_EQ(root.save_format, FORMAT_RTF);
    EXPECT_EQ(root.unsaved, 1);
    EXPECT_EQ(read_file(dir.file("plain")), "a file, not a folder");

    click_button(dialog, text_of(tCancel));
    EXPECT_FALSE(is_open(dialog));

    // The failed path comes back whole, although its folder cannot be shown.
    dialog = open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(name(dialog), bad);
    EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(combo(dialog))), FORMAT_RTF);
}

TEST_F(SaveDialogTest, TrailingSlashOnNewNameFailsInsteadOfWritingAnotherName) {
    unsaved_text("text");
    GtkWidget* dialog = open();
    ASSERT_NE(dialog, nullptr);
    type(dialog, "new.txt/");
    {
        DialogAnswerer answer;
        answer.click(text_of(tOK));
        press_ok(dialog);
        ASSERT_TRUE(answer.finished());
    }
    EXPECT_TRUE(is_open(dialog));
    EXPECT_TRUE(listing(dir.path()).empty());
    gtk_widget_destroy(dialog);

    // Offered again as it was typed, not as "new.txt" in a folder "new.txt".
    dialog = open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(name(dialog), dir.file("new.txt/"));
}

TEST_F(SaveDialogTest, CancelAndWindowCloseChangeNothing) {
    unsaved_text("text");
    std::strcpy(root.save_name, dir.file("kept.txt").c_str());
    root.save_format = FORMAT_LATEX;
    for (int closing = 0; closing < 2; closing++) {
        SCOPED_TRACE(closing ? "window closed" : "Cancel");
        GtkWidget* dialog = open();
        ASSERT_NE(dialog, nullptr);
        type(dialog, "other.txt");
        gtk_combo_box_set_active(GTK_COMBO_BOX(combo(dialog)), FORMAT_ASCII);
        if (closing) {
            send_delete(dialog);
        } else {
            click_button(dialog, text_of(tCancel));
        }
        EXPECT_FALSE(is_open(dialog));
        EXPECT_EQ(grab_window(), nullptr);
        EXPECT_STREQ(root.save_name, dir.file("kept.txt").c_str());
        EXPECT_EQ(root.save_format, FORMAT_LATEX);
        EXPECT_EQ(root.unsaved, 1);
        EXPECT_TRUE(listing(dir.path()).empty());
    }
}

TEST_F(SaveDialogTest, TextsFollowInterfaceLanguage) {
    root.language = LANG_DE;
    GtkWidget* dialog = open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(window_title(dialog), utf8(tfs_title[LANG_DE]));
    EXPECT_NE(find_button(dialog, utf8(tOK[LANG_DE])), nullptr);
    EXPECT_NE(find_button(dialog, utf8(tCancel[LANG_DE])), nullptr);
    GtkWidget* extra = gtk_file_chooser_get_extra_widget(GTK_FILE_CHOOSER(dialog));
    EXPECT_EQ(label_texts(extra), std::vector<std::string>{utf8(tfs_format[LANG_DE])});
}

// Nothing saved yet: the name proposed is today's scans; a name ending in a
// format's extension follows the format chosen, any other stays as typed.
TEST_F(SaveDialogTest, ProposedNameAndExtensionThatFollowsTheFormat) {
    GDateTime* now = g_date_time_new_now_local();
    gchar* date = g_date_time_format(now, "%Y-%m-%d");
    const std::string stem = std::string("scans-") + date;
    g_free(date);
    g_date_time_unref(now);
    write_file(dir.file(stem + ".rtf"), "old");
    store_text("new text");
    GtkWidget* dialog = open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(name(dialog), stem + ".txt");
    gtk_combo_box_set_active(GTK_COMBO_BOX(combo(dialog)), FORMAT_RTF);
    EXPECT_EQ(name(dialog), stem + ".rtf");

    // The proposal is asked about like any other existing file.
    {
        DialogAnswerer answer;
        answer.click("No");
        press_ok(dialog);
        EXPECT_TRUE(answer.finished());
    }
    EXPECT_EQ(read_file(dir.file(stem + ".rtf")), "old");

    type(dialog, "notes.TXT");
    gtk_combo_box_set_active(GTK_COMBO_BOX(combo(dialog)), FORMAT_LATEX);
    EXPECT_EQ(name(dialog), "notes.tex");
    for (const char* typed : {"notes.doc", "notes", ".rtf", "sub/.rtf"}) {
        type(dialog, typed);
        gtk_combo_box_set_active(GTK_COMBO_BOX(combo(dialog)), FORMAT_ASCII);
        gtk_combo_box_set_active(GTK_COMBO_BOX(combo(dialog)), FORMAT_LATEX);
        EXPECT_EQ(name(dialog), typed);
    }
    gtk_widget_destroy(dialog);
}

}  // namespace
}  // namespace window_test
