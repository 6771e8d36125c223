// Reading aloud against a stand-in for the speech service: what the service
// receives, the highlight while it speaks, and the items when it is missing.
#include "ui/speech.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "app/catalogue.h"
#include "state/state.h"
#include "support/gui.h"
#include "support/ssip_listener.h"

namespace window_test {
namespace {

// "One fish. Two fish? Ça va! Très bien." in UTF-8: "Two" at 10, "Ça" at 20.
const char* const TEXT =
    "One fish. Two fish? \xC3\x87"
    "a va! Tr\xC3\xA8s bien.";

class Speech : public Fixture {
   protected:
    void SetUp() override {
        Fixture::SetUp();
        GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        root.text_view = gtk_text_view_new();
        gtk_container_add(GTK_CONTAINER(window), root.text_view);
        gtk_text_buffer_set_text(buffer(), TEXT, -1);
        gtk_widget_show_all(window);
        for (GtkWidget*& item : items_)
            item = GTK_WIDGET(g_object_ref_sink(gtk_menu_item_new_with_label("")));
        speech_set_items(items_[0], items_[1]);
    }
    void TearDown() override {
        speech_disconnect();  // while reading, in one test
        for (GtkWidget* item : items_) g_object_unref(item);
        g_unsetenv("SPEECHD_ADDRESS");
        Fixture::TearDown();
        root.text_view = nullptr;
    }
    static GtkTextBuffer* buffer() {
        return gtk_text_view_get_buffer(GTK_TEXT_VIEW(root.text_view));
    }
    void connect(const std::string& address) {
        g_setenv("SPEECHD_ADDRESS", address.c_str(), TRUE);
        speech_connect();
    }
    bool sensitive(int item) const { return gtk_widget_get_sensitive(items_[item]); }
    // The characters under a tag with a background.
    static std::string highlighted() {
        std::string out;
        GtkTextIter at;
        for (gtk_text_buffer_get_start_iter(buffer(), &at); !gtk_text_iter_is_end(&at);
             gtk_text_iter_forward_char(&at)) {
            GSList* tags = gtk_text_iter_get_tags(&at);
            gboolean set = FALSE;
            for (GSList* t = tags; t; t = t->next)
                if (!set) g_object_get(t->data, "background-set", &set, nullptr);
            g_slist_free(tags);
            char utf8[6];
            if (set) out.append(utf8, g_unichar_to_utf8(gtk_text_iter_get_char(&at), utf8));
        }
        return out;
    }
    void place(int from, int to) {
        GtkTextIter a, b;
        gtk_text_buffer_get_iter_at_offset(buffer(), &a, from);
        gtk_text_buffer_get_iter_at_offset(buffer(), &b, to);
        gtk_text_buffer_select_range(buffer(), &b, &a);
    }

    GtkWidget* items_[2] = {};  // Read Aloud, Stop Reading
};

TEST_F(Speech, ReadsTheSelectionOrFromTheCursorSentenceBySentenceInTheTextsLanguage) {
    using Said = SsipListener::Message;
    const struct {
        int from, to;  // the selection; the cursor alone where equal
        int language, config_read, text_language;
        std::vector<Said> said;
    } cases[] = {
        {10,
         26,
         LANG_EN,
         0,
         LANG_DE,
         {{"en", "Two fish?"},
          {"en",
           "\xC3\x87"
           "a va!"}}},
        {20,
         20,
         LANG_EN,
         1,
         LANG_FR,
         {{"fr",
           "\xC3\x87"
           "a va!"},
          {"fr", "Tr\xC3\xA8s bien."}}},
        {4,
         4,
         LANG_DE,
         0,
         LANG_FR,
         {{"de", "fish."},
          {"de", "Two fish?"},
          {"de",
           "\xC3\x87"
           "a va!"},
          {"de", "Tr\xC3\xA8s bien."}}},
    };
    SsipListener service;
    connect(service.address());
    ASSERT_TRUE(run_until([&] { return sensitive(0); }, 5000));
    EXPECT_FALSE(sensitive(1));
    for (const auto& c : cases) {
        root.language = c.language;
        root.config_read = c.config_read;
        root.text_language = c.text_language;
        place(c.from, c.to);
        const size_t before = service.messages().size();
        read_aloud();
        EXPECT_TRUE(run_until(
            [&] { return service.messages().size() == before + c.said.size() && !sensitive(1); },
            5000));
        const std::vector<Said> all = service.messages();
        EXPECT_EQ(std::vector<Said>(all.begin() + before, all.end()), c.said) << c.from;
        EXPECT_EQ(highlighted(), "");
    }
}

TEST_F(Speech, HighlightsTheSentenceBeingReadUntilStopped) {
    SsipListener service;
    service.hold_end(true);
    connect(service.address());
    ASSERT_TRUE(run_until([&] { return sensitive(0); }, 5000));
    place(0, 0);
    read_aloud();
    EXPECT_TRUE(run_until([] { return highlighted() == "One fish."; }, 5000)) << highlighted();
    EXPECT_TRUE(sensitive(1));
    stop_reading();
    EXPECT_EQ(highlighted(), "");
    EXPECT_FALSE(sensitive(1));
    EXPECT_TRUE(run_until([&] { return service.commands().back() == "CANCEL SELF"; }, 5000))
        << service.commands().back();
    EXPECT_EQ(service.messages().size(), 1u);
    // Read again, and the window closes while the service speaks.
    read_aloud();
    EXPECT_TRUE(run_until([] { return highlighted() == "One fish."; }, 5000));
}

TEST_F(Speech, WithoutTheServiceBothItemsAreDisabledAndSayWhy) {
    TempDir dir;
    write_file(dir.file("not-a-socket"), "");
    for (const char* name : {"missing", "not-a-socket"}) {
        connect("unix_socket:" + dir.file(name));
        ASSERT_TRUE(run_until([&] { return gtk_widget_get_has_tooltip(items_[0]); }, 5000));
        for (GtkWidget* item : items_) {
            EXPECT_FALSE(gtk_widget_get_sensitive(item)) << name;
            gchar* tip = gtk_widget_get_tooltip_text(item);
            EXPECT_EQ(std::string(tip).rfind(text_of(tspeech_unreachable) + ": ", 0), 0u) << tip;
            g_free(tip);
        }
        speech_disconnect();
    }
}

}  // namespace
}  // namespace window_test
