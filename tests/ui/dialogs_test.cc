// The waiting dialogs, the question, button relabelling, product information
// and the reporting of pen result codes, in a real GTK under Xvfb.
#include "ui/dialogs.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "app/catalogue.h"
#include "pen/protocol.h"
#include "state/state.h"
#include "support/gui.h"
#include "ui/main_window.h"

namespace window_test {
namespace {

using Strings = std::vector<std::string>;

class Dialogs : public Fixture {};

TEST_F(Dialogs, MessageWithOneLineWaitsForOk) {
    DialogAnswerer answer;
    answer.click("OK");
    show_error_and_wait("Not enough memory!", nullptr, nullptr);
    ASSERT_TRUE(answer.finished());
    EXPECT_EQ(answer.seen()[0].labels, Strings{"Not enough memory!"});
    EXPECT_EQ(answer.seen()[0].buttons, Strings{"OK"});
    // Gone, and the grab with it: input reaches the application again.
    EXPECT_EQ(grab_window(), nullptr);
    EXPECT_TRUE(toplevels().empty());
}

TEST_F(Dialogs, MessageWithThreeLinesInOrderConverted) {
    DialogAnswerer answer;
    answer.click("OK");
    show_error_and_wait("eins", "zwei \374ber", "drei");
    ASSERT_TRUE(answer.finished());
    EXPECT_EQ(answer.seen()[0].labels, (Strings{"eins",
                                                "zwei \xc3\xbc"
                                                "ber",
                                                "drei"}));
}

TEST_F(Dialogs, MessageClosedByWindowManager) {
    DialogAnswerer answer;
    answer.close("OK");
    show_error_and_wait("closing", nullptr, nullptr);
    EXPECT_TRUE(answer.finished());
    EXPECT_TRUE(toplevels().empty());
}

TEST_F(Dialogs, SicherAnswers) {
    {
        DialogAnswerer answer;
        answer.click("Ja");
        EXPECT_EQ(Sicher("Titel", "Zeile 1", "Zeile 2", "Ja", "Nein"), 1);
        ASSERT_TRUE(answer.finished());
        EXPECT_EQ(answer.seen()[0].title, "Titel");
        EXPECT_EQ(answer.seen()[0].labels, (Strings{"Zeile 1", "Zeile 2"}));
        EXPECT_EQ(answer.seen()[0].buttons, (Strings{"Ja", "Nein"}));
    }
    {
        DialogAnswerer answer;
        answer.click("Nein");
        EXPECT_EQ(Sicher("Titel", "Zeile 1", "Zeile 2", "Ja", "Nein"), 0);
        EXPECT_TRUE(answer.finished());
    }
    {
        // A close request counts as the second button.
        DialogAnswerer answer;
        answer.close("Ja");
        EXPECT_EQ(Sicher("Titel", "Zeile 1", "Zeile 2", "Ja", "Nein"), 0);
        EXPECT_TRUE(answer.finished());
    }
    EXPECT_EQ(grab_window(), nullptr);
    EXPECT_TRUE(toplevels().empty());
}

TEST_F(Dialogs, SicherWithoutTitleOrSecondLine) {
    DialogAnswerer answer;
    answer.click("No");
    EXPECT_EQ(Sicher(nullptr, "Only line", nullptr, "Yes", "No"), 0);
    ASSERT_TRUE(answer.finished());
    EXPECT_EQ(answer.seen()[0].title, "");
    EXPECT_EQ(answer.seen()[0].labels, Strings{"Only line"});
}

TEST_F(Dialogs, QuestionStartsOnTheButtonThatChangesNothing) {
    std::string focused = "<none>";
    DialogAnswerer answer;
    answer.click("Nein", [&](GtkWidget* d) {
        GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(d));
        if (focus && GTK_IS_BUTTON(focus)) focused = gtk_button_get_label(GTK_BUTTON(focus));
        return true;
    });
    EXPECT_EQ(Sicher("Titel", "Alles l\366schen?", nullptr, "Ja", "Nein"), 0);
    EXPECT_EQ(focused, "Nein");
}

// A question asked while another waits: each returns its own answer, the
// inner one first.
gboolean ask_inner(gpointer result) {
    *static_cast<int*>(result) = Sicher(nullptr, "inner", nullptr, "In-Yes", "In-No");
    return G_SOURCE_REMOVE;
}

TEST_F(Dialogs, NestedQuestionsReturnTheirOwnAnswers) {
    int inner = -1;
    DialogAnswerer answer;
    answer.click("In-Yes").click("Out-No");
    g_timeout_add(50, ask_inner, &inner);
    EXPECT_EQ(Sicher(nullptr, "outer", nullptr, "Out-Yes", "Out-No"), 0);
    EXPECT_EQ(inner, 1);
    EXPECT_TRUE(answer.finished());
}

TEST_F(Dialogs, DialogIsTransientForTheMainWindow) {
    OpenMainWindow();
    GtkWidget* parent = nullptr;
    DialogAnswerer answer;
    answer.click("OK", [&](GtkWidget* d) {
        parent = GTK_WIDGET(gtk_window_get_transient_for(GTK_WINDOW(d)));
        return true;
    });
    show_error_and_wait("x", nullptr, nullptr);
    EXPECT_EQ(parent, root.main_window);
}

TEST_F(Dialogs, ButtonsShareTheRowEqually) {
    GtkWidget* vbox = nullptr;
    GtkWidget* buttons = nullptr;
    GtkWidget* dialog = kx_dialog_new(10, &vbox, &buttons);
    EXPECT_EQ(gtk_container_get_border_width(GTK_CONTAINER(vbox)), 10u);
    EXPECT_EQ(kx_dialog_add_label(vbox, nullptr), nullptr);
    kx_dialog_add_label(vbox, "a fairly long line of text to make the dialog wide");
    GtkWidget* a = kx_dialog_add_button(buttons, "A");
    GtkWidget* b = kx_dialog_add_button(buttons, "A much longer label");
    gtk_widget_show(dialog);
    ASSERT_TRUE(run_until([&] { return gtk_widget_get_mapped(b); }, 5000));
    ASSERT_TRUE(wait_for_frame(dialog));
    EXPECT_EQ(gtk_widget_get_allocated_width(a), gtk_widget_get_allocated_width(b));
    EXPECT_EQ(label_texts(dialog).size(), 1u);
    gtk_widget_destroy(dialog);
}

TEST_F(Dialogs, RenameButton) {
    GtkWidget* labelled = gtk_button_new_with_label("Old");
    rename_button(labelled, "Neu \374");
    EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(gtk_bin_get_child(GTK_BIN(labelled))))),
              "Neu \xc3\xbc");

    GtkWidget* image_button = gtk_button_new();
    GtkWidget* image = gtk_image_new_from_icon_name("document-save", GTK_ICON_SIZE_BUTTON);
    gtk_container_add(GTK_CONTAINER(image_button), image);
    rename_button(image_button, "Neu");
    EXPECT_EQ(gtk_bin_get_child(GTK_BIN(image_button)), image);

    GtkWidget* empty = gtk_button_new();
    rename_button(empty, "Neu");
    EXPECT_EQ(gtk_bin_get_child(GTK_BIN(empty)), nullptr);

    for (GtkWidget* w : {labelled, image_button, empty}) gtk_widget_destroy(w);
}

TEST_F(Dialogs, VersionOpensAnotherDialogEachTime) {
    const std::string title = text_of(tcr_title);
    Version();
    Version();
    ASSERT_TRUE(run_until([&] { return windows_titled(title).size() == 2; }, 5000));
    // Not modal: nothing waits and no grab is held.
    EXPECT_EQ(grab_window(), nullptr);
    GtkWidget* first = windows_titled(title)[0];
    const Strings labels = label_texts(first);
    ASSERT_EQ(labels.size(), 3u);
    EXPECT_EQ(labels[0], "KESTRIX for Linux version 1.0");
    EXPECT_EQ(labels[1], text_of(tcr_s2));
    EXPECT_EQ(labels[2], text_of(tcr_s3));
    gtk_button_clicked(GTK_BUTTON(find_button(first, "OK")));
    EXPECT_EQ(windows_titled(title).size(), 1u);
}

// The message shown for each pen result code, or nothing.
Strings response_lines(int code) {
    DialogAnswerer answer;
    answer.click(text_of(tOK));
    show_response_and_wait(code);
    return answer.finished() ? answer.seen()[0].labels : Strings{};
}

TEST_F(Dialogs, ResponsePerCode) {
    EXPECT_TRUE(response_lines(PEN_OK).empty());
    EXPECT_TRUE(response_lines(0).empty());
    EXPECT_TRUE(response_lines(42).empty());
    EXPECT_EQ(response_lines(PEN_BREAK), Strings{"Transfer interrupted by user request!"});
    EXPECT_EQ(response_lines(PEN_ERR_MEMORY), Strings{"Not enough memory!"});
    EXPECT_EQ(response_lines(PEN_ERR_CONNECT),
              (Strings{"Connection to KESTRIX failed.", "Please check the cabling and make sure ",
                       "that the KESTRIX is activated."}));
    EXPECT_EQ(response_lines(PEN_ERR_SERIAL),
              (Strings{"Access to the serial interface failed.",
                       "Please make sure you have write and ", "read access rights."}));
    EXPECT_EQ(response_lines(PEN_ERR_TRANSFER),
              (Strings{"Transmission error!", "Retry the transfer again ", "at a lower speed. "}));
    // In the interface language, with the pen's own wording.
    root.language = LANG_IT;
    const Strings italian = response_lines(PEN_ERR_CONNECT);
    ASSERT_EQ(italian.size(), 3u);
    EXPECT_EQ(italian[1], "Per favore controlli il cablaggio e si assicuri");
    EXPECT_TRUE(toplevels().empty());
}

// The device as the system names it, then the cause in the interface language.
TEST_F(Dialogs, ResponseNamesTheDeviceAndTheCause) {
    const std::string path = "/nonexistent/\xc3\x84rger-tty";
    copy_bounded(root.device, path.c_str(), DEVICE_MAX);
    root.language = LANG_DE;
    ASSERT_EQ(open_port(), 0);
    const Strings lines = response_lines(PEN_ERR_SERIAL);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], text_of(tce_serial1));
    EXPECT_EQ(lines[3], path + ": " + text_of(tcause_missing));
}

}  // namespace
}  // namespace window_test
