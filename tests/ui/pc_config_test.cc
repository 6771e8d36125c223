// The PC configuration dialog: its defaults, the language change that
// rebuilds the menu bar, the device field and the rate list, the devices found
// and followed while it is open, and the three ways of closing it.
#include "ui/pc_config.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/catalogue.h"
#include "app/prefs.h"
#include "pen/devices.h"
#include "pen/serial.h"
#include "state/state.h"
#include "support/gui.h"
#include "support/process.h"
#include "ui/main_window.h"

namespace window_test {
namespace {

struct Shown {
    GtkWidget* dialog = nullptr;
    GtkWidget* language = nullptr;
    GtkWidget* device = nullptr;
    GtkWidget* speed = nullptr;
};

GtkEntry* device_entry(GtkWidget* combo) {
    return GTK_ENTRY(gtk_bin_get_child(GTK_BIN(combo)));
}

// The text of the first menu of the menu bar, without mnemonic marks.
std::string first_menu_title() {
    if (!root.menu_bar) return "";
    GList* items = gtk_container_get_children(GTK_CONTAINER(root.menu_bar));
    std::string out;
    if (items) {
        const char* label = gtk_menu_item_get_label(GTK_MENU_ITEM(items->data));
        for (const char* p = label ? label : ""; *p; p++)
            if (*p != '_') out += *p;
    }
    g_list_free(items);
    return out;
}

// The last component of a catalogue menu path, without mnemonic marks.
std::string menu_title(const char* path_latin1) {
    std::string out;
    for (const char* p = std::strrchr(path_latin1, '/') + 1; *p; p++)
        if (*p != '_') out += *p;
    return utf8(out.c_str());
}

// The devices the dialog finds, and a pipe in place of the tty monitor: a
// byte written to it is an event.
std::vector<SerialDevice> fixture_devices;
int fixture_monitor[2] = {-1, -1};
int closed_monitor = -1;

class PcConfigTest : public Fixture {
   protected:
    void SetUp() override {
        Fixture::SetUp();
        // The start-up defaults, /dev/ttyS1 included: this dialog only shows
        // and stores the device, it never opens it.
        SetDefaultPreferences();
        ASSERT_EQ(pipe2(fixture_monitor, O_NONBLOCK), 0);
        fixture_devices.clear();
        closed_monitor = -1;
        saved_source_ = device_source;
        device_source = {[](std::vector<SerialDevice>* out) {
                             return static_cast<int>((*out = fixture_devices).size());
                         },
                         [] { return fixture_monitor[0]; },
                         [](int fd) {
                             char events[16];
                             return static_cast<int>(read(fd, events, sizeof events) > 0);
                         },
                         [](int fd) { closed_monitor = fd; }};
    }
    void TearDown() override {
        Fixture::TearDown();
        device_source = saved_source_;
        for (int& fd : fixture_monitor) close(fd);
    }
    Shown open() {
        Shown s;
        ConfigurePC();
        const std::vector<GtkWidget*> found = windows_titled(text_of(tpcconfig));
        if (found.size() != 1) return s;
        s.dialog = found[0];
        std::vector<GtkWidget*> combos = find_widgets(s.dialog, GTK_TYPE_COMBO_BOX);
        if (combos.size() != 3) return s;
        s.language = combos[0];
        s.device = combos[1];
        s.speed = combos[2];
        return s;
    }

   private:
    DeviceSource saved_source_ = {};
};

TEST_F(PcConfigTest, OpensWithDefaults) {
    Shown s = open();
    ASSERT_NE(s.dialog, nullptr);
    ASSERT_NE(s.speed, nullptr);
    EXPECT_EQ(grab_window(), s.dialog);
    EXPECT_EQ(label_texts(s.dialog),
              (std::vector<std::string>{text_of(tpcconfiglang), text_of(tpcconfigdevice),
                                        text_of(tpcconfigspeed)}));

    EXPECT_FALSE(gtk_combo_box_get_has_entry(GTK_COMBO_BOX(s.language)));
    EXPECT_EQ(active_text(s.language), "English");
    std::vector<std::string> names;
    for (int i = 0; i < LANG_COUNT; i++) names.push_back(utf8(tlanguages[i]));
    EXPECT_EQ(combo_texts(s.language), names);

    ASSERT_TRUE(gtk_combo_box_get_has_entry(GTK_COMBO_BOX(s.device)));
    EXPECT_STREQ(gtk_entry_get_text(device_entry(s.device)), "/dev/ttyS1");
    EXPECT_TRUE(gtk_editable_get_editable(GTK_EDITABLE(device_entry(s.device))));
    EXPECT_EQ(combo_texts(s.device),
              (std::vector<std::string>{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3"}));

    EXPECT_FALSE(gtk_combo_box_get_has_entry(GTK_COMBO_BOX(s.speed)));
    EXPECT_EQ(active_text(s.speed), "38400");
    std::vector<std::string> rates;
    for (int i = 0; i < SPEED_COUNT; i++) rates.push_back(std::to_string(get_speed(i)));
    EXPECT_EQ(combo_texts(s.speed), rates);

    click_button(s.dialog, text_of(tOK));
    EXPECT_FALSE(is_open(s.dialog));
    EXPECT_EQ(grab_window(), nullptr);
    EXPECT_EQ(root.language, LANG_EN);
    EXPECT_STREQ(root.device, "/dev/ttyS1");
    EXPECT_EQ(root.speed, 38400);
}

TEST_F(PcConfigTest, GermanRebuildsMenuBarAtOnceAndIsSaved) {
    OpenMainWindow();
    ASSERT_NE(root.menu_bar, nullptr);
    GtkWidget* old_bar = root.menu_bar;
    EXPECT_EQ(first_menu_title(), menu_title(tdatmen[LANG_EN]));

    Shown s = open();
    ASSERT_NE(s.language, nullptr);
    gtk_combo_box_set_active(GTK_COMBO_BOX(s.language), LANG_DE);
    click_button(s.dialog, text_of(tOK));
    EXPECT_FALSE(is_open(s.dialog));
    EXPECT_EQ(root.language, LANG_DE);
    EXPECT_NE(root.menu_bar, old_bar);
    EXPECT_EQ(first_menu_title(), menu_title(tdatmen[LANG_DE]));
    GList* children = gtk_container_get_children(GTK_CONTAINER(root.main_vbox));
    EXPECT_EQ(children ? children->data : nullptr, root.menu_bar);
    g_list_free(children);

    const std::string prefs = test_home() + "/.kxrc";
    SavePreferences();
    EXPECT_NE(read_file(prefs).find("Language: Deutsch\n"), std::string::npos) << read_file(prefs);
    std::remove(prefs.c_str());
}

TEST_F(PcConfigTest, SameLanguageKeepsMenuBar) {
    OpenMainWindow();
    GtkWidget* old_bar = root.menu_bar;
    ASSERT_NE(old_bar, nullptr);
    Shown s = open();
    ASSERT_NE(s.language, nullptr);
    gtk_combo_box_set_active(GTK_COMBO_BOX(s.language), LANG_EN);
    click_button(s.dialog, text_of(tOK));
    EXPECT_EQ(root.menu_bar, old_bar);
    EXPECT_EQ(root.language, LANG_EN);
}

TEST_F(PcConfigTest, LanguageChangeWithoutMainWindow) {
    Shown s = open();
    ASSERT_NE(s.language, nullptr);
    gtk_combo_box_set_active(GTK_COMBO_BOX(s.language), LANG_IT);
    click_button(s.dialog, text_of(tOK));
    EXPECT_EQ(root.language, LANG_IT);
    EXPECT_EQ(root.menu_bar, nullptr);
}

TEST_F(PcConfigTest, TypedDevicePaths) {
    const std::string long_path = "/dev/" + std::string(95, 'x');  // 100 characters
    struct Case {
        std::string typed;  // UTF-8, as in the entry
        std::string stored;
    };
    const Case cases[] = {
        {"/dev/ttyUSB0", "/dev/ttyUSB0"},
        {long_path.substr(0, DEVICE_MAX), long_path.substr(0, DEVICE_MAX)},
        // Paths go to the file system's encoding (UTF-8), not ISO-8859-1.
        {"/dev/pen-\xC3\xA4", "/dev/pen-\xC3\xA4"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        Shown s = open();
        ASSERT_NE(s.device, nullptr);
        gtk_entry_set_text(device_entry(s.device), c.typed.c_str());
        click_button(s.dialog, text_of(tOK));
        EXPECT_EQ(std::string(root.device), c.stored);
    }
    // A longer name is refused with a message, not cut; the dialog stays.
    std::strcpy(root.device, "/dev/ttyUSB0");
    Shown s = open();
    ASSERT_NE(s.device, nullptr);
    gtk_entry_set_text(device_entry(s.device), long_path.c_str());
    {
        DialogAnswerer answer;
        answer.click(text_of(tOK));
        click_button(s.dialog, text_of(tOK));
        ASSERT_TRUE(answer.finished());
        EXPECT_EQ(answer.seen()[0].labels, std::vector<std::string>{text_of(tdevice_toolong)});
    }
    EXPECT_TRUE(is_open(s.dialog));
    EXPECT_STREQ(root.device, "/dev/ttyUSB0");
    click_button(s.dialog, text_of(tCancel));
    // Choosing from the list works like typing.
    s = open();
    ASSERT_NE(s.device, nullptr);
    gtk_combo_box_set_active(GTK_COMBO_BOX(s.device), 3);
    click_button(s.dialog, text_of(tOK));
    EXPECT_STREQ(root.device, "/dev/ttyS3");
}

TEST_F(PcConfigTest, UntouchedDeviceKeepsItsBytes) {
    // Not valid UTF-8: shown converted, but OK must not rewrite it.
    std::strcpy(root.device, "/dev/tty\xE9");
    Shown s = open();
    ASSERT_NE(s.device, nullptr);
    EXPECT_STREQ(gtk_entry_get_text(device_entry(s.device)), "/dev/tty\xC3\xA9");
    click_button(s.dialog, text_of(tOK));
    EXPECT_STREQ(root.device, "/dev/tty\xE9");
}

TEST_F(PcConfigTest, WindowCloseIsCancel) {
    OpenMainWindow();
    GtkWidget* old_bar = root.menu_bar;
    Shown s = open();
    ASSERT_NE(s.speed, nullptr);
    gtk_combo_box_set_active(GTK_COMBO_BOX(s.speed), 4);
    ASSERT_EQ(active_text(s.speed), "9600");
    gtk_combo_box_set_active(GTK_COMBO_BOX(s.language), LANG_FR);
    const int speed = root.speed;
    const int language = root.language;
    send_delete(s.dialog);
    EXPECT_FALSE(is_open(s.dialog));
    EXPECT_EQ(grab_window(), nullptr);
    EXPECT_EQ(root.speed, speed);
    EXPECT_EQ(root.language, language);
    EXPECT_EQ(root.menu_bar, old_bar);
}

TEST_F(PcConfigTest, CancelAppliesNothing) {
    OpenMainWindow();
    GtkWidget* old_bar = root.menu_bar;
    Shown s = open();
    ASSERT_NE(s.speed, nullptr);
    gtk_combo_box_set_active(GTK_COMBO_BOX(s.language), LANG_DE);
    gtk_entry_set_text(device_entry(s.device), "/dev/ttyUSB7");
    gtk_combo_box_set_active(GTK_COMBO_BOX(s.speed), 0);
    click_button(s.dialog, text_of(tCancel));
    EXPECT_FALSE(is_open(s.dialog));
    EXPECT_EQ(grab_window(), nullptr);
    EXPECT_EQ(root.language, LANG_EN);
    EXPECT_STREQ(root.device, "/dev/ttyS1");
    EXPECT_EQ(root.speed, 38400);
    EXPECT_EQ(root.menu_bar, old_bar);
}

TEST_F(PcConfigTest, FoundDevicesComeFirstAndFollowPluggingWithoutTouchingTheEntry) {
    const std::string adapter = "/dev/serial/by-id/usb-Prolific-if00-port0";
    fixture_devices = {{adapter, "Prolific PL2303", true}, {"/dev/ttyS1", "16550A UART", false}};
    Shown s = open();
    ASSERT_NE(s.device, nullptr);
    EXPECT_EQ(combo_texts(s.device), (std::vector<std::string>{adapter, "/dev/ttyS1", "/dev/ttyS0",
                                                               "/dev/ttyS2", "/dev/ttyS3"}));
    EXPECT_EQ(combo_texts(s.device, 1)[0], "Prolific PL2303");

    // An adapter plugged while the user types; then the chosen one unplugged.
    gtk_entry_set_text(device_entry(s.device), "/dev/my");
    fixture_devices.insert(fixture_devices.begin() + 1, {"/dev/ttyUSB1", "FTDI", true});
    ASSERT_EQ(write(fixture_monitor[1], "+", 1), 1);
    EXPECT_TRUE(run_until([&] { return combo_texts(s.device).size() == 6; }, 5000));
    EXPECT_STREQ(gtk_entry_get_text(device_entry(s.device)), "/dev/my");
    gtk_combo_box_set_active(GTK_COMBO_BOX(s.device), 0);
    fixture_devices.erase(fixture_devices.begin());
    ASSERT_EQ(write(fixture_monitor[1], "-", 1), 1);
    EXPECT_TRUE(run_until([&] { return combo_texts(s.device)[0] == "/dev/ttyUSB1"; }, 5000));
    EXPECT_EQ(gtk_entry_get_text(device_entry(s.device)), adapter);

    click_button(s.dialog, text_of(tOK));
    EXPECT_STREQ(root.device, adapter.c_str());
    EXPECT_EQ(closed_monitor, fixture_monitor[0]);
}

TEST_F(PcConfigTest, TextsInInterfaceLanguageNamesInTheirOwn) {
    root.language = LANG_ES;
    root.speed = 115200;
    Shown s = open();
    ASSERT_NE(s.dialog, nullptr);
    EXPECT_EQ(window_title(s.dialog), utf8(tpcconfig[LANG_ES]));
    EXPECT_EQ(active_text(s.language), utf8(tlanguages[LANG_ES]));
    EXPECT_EQ(combo_texts(s.language)[LANG_FR],
              "Fran\xC3\xA7"
              "ais");
    EXPECT_EQ(active_text(s.speed), "115200");
    EXPECT_NE(find_button(s.dialog, utf8(tCancel[LANG_ES])), nullptr);
}

}  // namespace
}  // namespace window_test

namespace window_test {
namespace {

// The label text a screen reader takes for `field`, through its relation.
std::string labelled_by(GtkWidget* field) {
    AtkRelationSet* set = atk_object_ref_relation_set(gtk_widget_get_accessible(field));
    AtkRelation* relation = atk_relation_set_get_relation_by_type(set, ATK_RELATION_LABELLED_BY);
    std::string text;
    GPtrArray* targets = relation ? atk_relation_get_target(relation) : nullptr;
    if (targets && targets->len > 0) {
        GtkWidget* label = gtk_accessible_get_widget(GTK_ACCESSIBLE(g_ptr_array_index(targets, 0)));
        if (label && GTK_IS_LABEL(label)) text = gtk_label_get_text(GTK_LABEL(label));
    }
    g_object_unref(set);
    return text;
}

TEST_F(PcConfigTest, FieldsAreNamedByTheirLabelsAndDevicesByTheirDescriptions) {
    fixture_devices = {{"/dev/ttyUSB0", "FTDI FT232R", true}};
    Shown s = open();
    ASSERT_NE(s.speed, nullptr);
    EXPECT_EQ(labelled_by(s.language), text_of(tpcconfiglang));
    EXPECT_EQ(labelled_by(s.device), text_of(tpcconfigdevice));
    EXPECT_EQ(labelled_by(gtk_bin_get_child(GTK_BIN(s.device))), text_of(tpcconfigdevice));
    EXPECT_EQ(labelled_by(s.speed), text_of(tpcconfigspeed));
    gtk_combo_box_set_active(GTK_COMBO_BOX(s.device), 0);
    EXPECT_STREQ(atk_object_get_description(gtk_widget_get_accessible(s.device)), "FTDI FT232R");
    click_button(s.dialog, text_of(tCancel));
}

}  // namespace
}  // namespace window_test
