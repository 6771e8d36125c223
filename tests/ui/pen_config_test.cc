// The pen configuration dialog against kestrix-pensim: what it shows for
// plain and translating pens and for values out of range, what OK writes,
// and how a missing or unplugged pen is reported.
#include "ui/pen_config.h"

#include <memory>
#include <string>
#include <vector>

#include "app/catalogue.h"
#include "pen/protocol.h"
#include "state/state.h"
#include "support/gui.h"
#include "support/process.h"

namespace window_test {
namespace {

struct Shown {
    GtkWidget* dialog = nullptr;
    std::vector<std::string> labels;
    std::string firmware;
    bool firmware_editable = true;
    double memory_fraction = -1;
    std::string memory_text;
    double battery = -1;
    std::vector<GtkWidget*> combos;  // menu, text, then target and mode
};

int entry_count(GtkWidget* combo) {
    return gtk_tree_model_iter_n_children(gtk_combo_box_get_model(GTK_COMBO_BOX(combo)), nullptr);
}

class PenConfigTest : public Fixture {
   protected:
    // Starts a simulator with `args` and points the program at it.
    void start_pen(const std::vector<std::string>& args) {
        pen.reset(new PenSim(args));
        ASSERT_TRUE(pen->ok());
        copy_bounded(root.device, pen->tty().c_str(), DEVICE_MAX);
    }

    // Runs the menu action; the dialog it opened, read back, or no dialog.
    Shown open() {
        Shown s;
        ConfigureKX();
        const std::vector<GtkWidget*> found = windows_titled(text_of(tkxconfig));
        if (found.size() != 1) return s;
        s.dialog = found[0];
        s.labels = label_texts(s.dialog);
        for (GtkWidget* w : descendants(s.dialog)) {
            if (GTK_IS_ENTRY(w) && !GTK_IS_COMBO_BOX(gtk_widget_get_parent(w))) {
                s.firmware = gtk_entry_get_text(GTK_ENTRY(w));
                s.firmware_editable = gtk_editable_get_editable(GTK_EDITABLE(w));
            } else if (GTK_IS_PROGRESS_BAR(w)) {
                s.memory_fraction = gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(w));
                s.memory_text = gtk_progress_bar_get_text(GTK_PROGRESS_BAR(w));
                EXPECT_TRUE(gtk_progress_bar_get_show_text(GTK_PROGRESS_BAR(w)));
            } else if (GTK_IS_LEVEL_BAR(w)) {
                GtkLevelBar* bar = GTK_LEVEL_BAR(w);
                s.battery = gtk_level_bar_get_value(bar);
                EXPECT_EQ(gtk_level_bar_get_mode(bar), GTK_LEVEL_BAR_MODE_DISCRETE);
                EXPECT_EQ(gtk_level_bar_get_min_value(bar), 0);
                EXPECT_EQ(gtk_level_bar_get_max_value(bar), 3);
            } else if (GTK_IS_COMBO_BOX_TEXT(w)) {
                EXPECT_FALSE(gtk_combo_box_get_has_entry(GTK_COMBO_BOX(w)));
                s.combos.push_back(w);
            }
        }
        return s;
    }

    // What the simulated pen holds now, read as the program reads it.
    AppState& pen_state() {
        static AppState probe;
        EXPECT_EQ(read_configuration(&probe), PEN_OK);
        return probe;
    }

    std::vector<std::string> row_labels(bool translating) {
        std::vector<std::string> out = {text_of(tkxconfigver), text_of(tkxconfigmem),
                                        text_of(tkxconfigbatt), text_of(tkxconfigmenulang),
                                        text_of(tkxconfigtextlang)};
        if (translating) {
            out.push_back(text_of(tkxconfigtargetlang));
            out.push_back(text_of(tkxconfigmode));
        }
        return out;
    }

    std::unique_ptr<PenSim> pen;
};

TEST_F(PenConfigTest, PlainModelShowsFiveRowsAndWritesBackWhatItRead) {
    start_pen({"--firmware", "1.05", "--menu-language", "2", "--text-language", "3",
               "--target-language", "4", "--mode", "0", "--memory", "25", "--battery", "2"});
    Shown s = open();
    ASSERT_NE(s.dialog, nullptr);
    EXPECT_EQ(grab_window(), s.dialog);
    EXPECT_EQ(s.labels, row_labels(false));
    EXPECT_EQ(s.firmware, "1.05");
    EXPECT_FALSE(s.firmware_editable);
    EXPECT_DOUBLE_EQ(s.memory_fraction, 0.75);
    EXPECT_EQ(s.memory_text, "75 %");
    EXPECT_EQ(s.battery, 2);
    ASSERT_EQ(s.combos.size(), 2u);
    EXPECT_EQ(entry_count(s.combos[0]), LANG_COUNT);
    EXPECT_EQ(active_text(s.combos[0]), utf8(tlanguages[LANG_FR]));
    EXPECT_EQ(active_text(s.combos[1]), utf8(tlanguages[LANG_ES]));

    gtk_combo_box_set_active(GTK_COMBO_BOX(s.combos[0]), LANG_DE);
    click_button(s.dialog, text_of(tOK));
    EXPECT_FALSE(is_open(s.dialog));
    EXPECT_EQ(grab_window(), nullptr);
    EXPECT_EQ(root.menu_language, LANG_DE);
    AppState& now = pen_state();
    EXPECT_EQ(now.menu_language, LANG_DE);
    EXPECT_EQ(now.text_language, LANG_ES);
    EXPECT_EQ(now.target_language, 4);
    EXPECT_EQ(now.mode, 0);
}

TEST_F(PenConfigTest, LabelsStandLeftOfTheirValuesAtTheRightEdge) {
    start_pen({"--firmware", "2.03", "--translating"});
    Shown s = open();
    ASSERT_NE(s.dialog, nullptr);
    ASSERT_TRUE(run_until([&] { return gtk_widget_get_mapped(s.dialog); }, 5000));
    ASSERT_TRUE(wait_for_frame(s.dialog));
    int rows = 0;
    std::vector<int> value_widths;  // firmware, memory, battery
    for (GtkWidget* w : descendants(s.dialog)) {
        if (!GTK_IS_BOX(w) ||
            gtk_orientable_get_orientation(GTK_ORIENTABLE(w)) != GTK_ORIENTATION_HORIZONTAL)
            continue;
        GList* kids = gtk_container_get_children(GTK_CONTAINER(w));
        GtkWidget* label = nullptr;
        GtkWidget* value = nullptr;
        for (GList* k = kids; k; k = k->next)
            (GTK_IS_LABEL(k->data) ? label : value) = GTK_WIDGET(k->data);
        const bool is_row = g_list_length(kids) == 2 && label && value;
        g_list_free(kids);
        if (!is_row) continue;
        GtkAllocation row, v, l;
        gtk_widget_get_allocation(w, &row);
        gtk_widget_get_allocation(value, &v);
        gtk_widget_get_allocation(label, &l);
        SCOPED_TRACE(gtk_label_get_text(GTK_LABEL(label)));
        rows++;
        EXPECT_LT(l.x + l.width, v.x + 1);
        EXPECT_EQ(v.x + v.width, row.x + row.width);
        if (!GTK_IS_COMBO_BOX(value)) value_widths.push_back(v.width);
    }
    EXPECT_EQ(rows, 7);
    // About 140 pixels each, the theme's minimum for a bar allowed, and aligned.
    ASSERT_EQ(value_widths.size(), 3u);
    EXPECT_GE(value_widths[0], 140);
    EXPECT_LE(value_widths[0], 160);
    EXPECT_EQ(value_widths[1], value_widths[0]);
    EXPECT_EQ(value_widths[2], value_widths[0]);
}

TEST_F(PenConfigTest, TranslatingModelShowsSevenRowsAndWritesChosenMode) {
    start_pen({"--firmware", "2.03", "--translating", "--mode", "0", "--target-language", "2"});
    Shown s = open();
    ASSERT_NE(s.dialog, nullptr);
    EXPECT_EQ(s.labels, row_labels(true));
    EXPECT_EQ(s.firmware, "2.03");
    ASSERT_EQ(s.combos.size(), 4u);
    EXPECT_EQ(active_text(s.combos[2]), utf8(tlanguages[LANG_FR]));
    GtkWidget* mode = s.combos[3];
    EXPECT_EQ(entry_count(mode), 2);
    EXPECT_EQ(active_text(mode), text_of(tkxconfigmodescan));

    gtk_combo_box_set_active(GTK_COMBO_BOX(mode), 1);
    EXPECT_EQ(active_text(mode), text_of(tkxconfigmodetrans));
    gtk_combo_box_set_active(GTK_COMBO_BOX(s.combos[2]), LANG_IT);
    click_button(s.dialog, text_of(tOK));
    EXPECT_FALSE(is_open(s.dialog));
    EXPECT_EQ(root.mode, 1);
    AppState& now = pen_state();
    EXPECT_EQ(now.mode, 1);
    EXPECT_EQ(now.target_language, LANG_IT);

    // And back to reading text.
    s = open();
    ASSERT_NE(s.dialog, nullptr);
    ASSERT_EQ(s.combos.size(), 4u);
    EXPECT_EQ(active_text(s.combos[3]), text_of(tkxconfigmodetrans));
    gtk_combo_box_set_active(GTK_COMBO_BOX(s.combos[3]), 0);
    click_button(s.dialog, text_of(tOK));
    EXPECT_EQ(pen_state().mode, 0);
}

TEST_F(PenConfigTest, MemoryAndBatteryBars) {
    struct Case {
        const char* memory_free;
        const char* battery;
        double fraction;
        const char* text;
        double level;
    };
    const Case cases[] = {
        {"100", "0", 0.0, "0 %", 0},
        {"75", "3", 0.25, "25 %", 3},
        {"0", "1", 1.0, "100 %", 1},
        {"150", "9", 0.0, "0 %", 3},  // out of range: clamped
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.memory_free);
        start_pen({"--memory", c.memory_free, "--battery", c.battery});
        Shown s = open();
        ASSERT_NE(s.dialog, nullptr);
        EXPECT_DOUBLE_EQ(s.memory_fraction, c.fraction);
        EXPECT_EQ(s.memory_text, c.text);
        EXPECT_EQ(s.battery, c.level);
        click_button(s.dialog, text_of(tCancel));
        EXPECT_FALSE(is_open(s.dialog));
    }
}

TEST_F(PenConfigTest, ModeTwoShowsTranslateAndIsWrittenAsOne) {
    start_pen({"--firmware", "1.03", "--translating", "--mode", "2"});
    Shown s = open();
    ASSERT_NE(s.dialog, nullptr);
    ASSERT_EQ(s.combos.size(), 4u);
    EXPECT_EQ(s.firmware, "1.03");
    EXPECT_EQ(active_text(s.combos[3]), text_of(tkxconfigmodetrans));
    click_button(s.dialog, text_of(tOK));
    EXPECT_FALSE(is_open(s.dialog));
    EXPECT_EQ(root.mode, 1);
    EXPECT_EQ(pen_state().mode, 1);
}

TEST_F(PenConfigTest, UnknownLanguageIsShownAndKeptUnlessChosen) {
    start_pen({"--translating", "--menu-language", "7", "--text-language", "200",
               "--target-language", "5"});
    Shown s = open();
    ASSERT_NE(s.dialog, nullptr);
    ASSERT_EQ(s.combos.size(), 4u);
    EXPECT_EQ(active_text(s.combos[0]), "? (7)");
    EXPECT_EQ(active_text(s.combos[1]), "? (200)");
    EXPECT_EQ(active_text(s.combos[2]), "? (5)");
    EXPECT_EQ(entry_count(s.combos[0]), LANG_COUNT + 1);

    // The user picks a text language only; the other two stay the pen's own.
    gtk_combo_box_set_active(GTK_COMBO_BOX(s.combos[1]), LANG_EN);
    click_button(s.dialog, text_of(tOK));
    EXPECT_FALSE(is_open(s.dialog));
    AppState& now = pen_state();
    EXPECT_EQ(now.menu_language, 7);
    EXPECT_EQ(now.text_language, LANG_EN);
    EXPECT_EQ(now.target_language, 5);
}

TEST_F(PenConfigTest, CancelWritesNothing) {
    start_pen({"--translating", "--menu-language", "1", "--mode", "0"});
    Shown s = open();
    ASSERT_NE(s.dialog, nullptr);
    gtk_combo_box_set_active(GTK_COMBO_BOX(s.combos[0]), LANG_IT);
    gtk_combo_box_set_active(GTK_COMBO_BOX(s.combos[3]), 1);
    click_button(s.dialog, text_of(tCancel));
    EXPECT_FALSE(is_open(s.dialog));
    EXPECT_EQ(grab_window(), nullptr);
    EXPECT_EQ(root.menu_language, LANG_EN);
    EXPECT_EQ(root.mode, 0);
    AppState& now = pen_state();
    EXPECT_EQ(now.menu_language, LANG_EN);
    EXPECT_EQ(now.mode, 0);
}

TEST_F(PenConfigTest, UnpluggedPenIsReportedAndDialogStays) {
    start_pen({"--translating"});
    Shown s = open();
    ASSERT_NE(s.dialog, nullptr);
    gtk_combo_box_set_active(GTK_COMBO_BOX(s.combos[0]), LANG_IT);
    pen->unplug();

    {
        DialogAnswerer answer;
        answer.click(text_of(tOK));
        click_button(s.dialog, text_of(tOK));
        ASSERT_TRUE(answer.finished());
        ASSERT_EQ(answer.seen()[0].labels.size(), 4u);
        EXPECT_EQ(answer.seen()[0].labels[0], text_of(tce_serial1));
        EXPECT_EQ(answer.seen()[0].labels[3], pen->tty() + ": " + text_of(tcause_missing));
    }
    EXPECT_TRUE(is_open(s.dialog));
    EXPECT_EQ(grab_window(), s.dialog);
    EXPECT_EQ(active_text(s.combos[0]), utf8(tlanguages[LANG_IT]));
    EXPECT_EQ(root.menu_language, LANG_IT);  // the choice is kept for another try

    // The window manager's close is Cancel: it closes without another try.
    send_delete(s.dialog);
    EXPECT_FALSE(is_open(s.dialog));
    EXPECT_EQ(grab_window(), nullptr);
}

TEST_F(PenConfigTest, WindowCloseIsCancel) {
    start_pen({"--menu-language", "1"});
    Shown s = open();
    ASSERT_NE(s.dialog, nullptr);
    gtk_combo_box_set_active(GTK_COMBO_BOX(s.combos[0]), LANG_ES);
    send_delete(s.dialog);
    EXPECT_FALSE(is_open(s.dialog));
    EXPECT_EQ(pen_state().menu_language, 1);
}

TEST_F(PenConfigTest, PenNotReachedOpensNoDialog) {
    struct Case {
        const char* what;
        std::vector<std::string> sim;  // empty: no simulator, a missing device
        const char* const* first;
    };
    const Case cases[] = {
        {"missing device", {}, tce_serial1},
        {"silent pen", {"--fault-always", "--fault", "wake:silence"}, tce_connect1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        root.mode = 5;
        if (c.sim.empty()) {
            pen.reset();
            copy_bounded(root.device, "/nonexistent/kestrix-tty", DEVICE_MAX);
        } else {
            start_pen(c.sim);
        }
        DialogAnswerer answer;
        answer.click(text_of(tOK));
        ConfigureKX();
        ASSERT_TRUE(answer.finished());
        ASSERT_FALSE(answer.seen()[0].labels.empty());
        EXPECT_EQ(answer.seen()[0].labels[0], text_of(c.first));
        EXPECT_TRUE(windows_titled(text_of(tkxconfig)).empty());
        EXPECT_EQ(grab_window(), nullptr);
        EXPECT_EQ(root.mode, 5);  // nothing read
    }
}

}  // namespace
}  // namespace window_test
