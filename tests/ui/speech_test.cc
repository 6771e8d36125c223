// Reading aloud against a stand-in for the speech service: what the service
// receives and the highlight while it speaks.
#include "ui/speech.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "app/catalogue.h"
#include "state/state.h"
#include "support/gui.h"
#include "support/ssip_listener.h"

namespace window_test {
namespace {

// "One fish. Two fish? Ça va! Très bien." in UTF-8: "Two" at 10, "Ça" at 20.
#define CA     \
    "\xC3\x87" \
    "a va!"
#define TRES "Tr\xC3\xA8s bien."
const char* const TEXT = "One fish. Two fish? " CA " " TRES;

class Speech : public Fixture {
   protected:
    void SetUp() override {
        Fixture::SetUp();
        GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        root.text_view = gtk_text_view_new();
        gtk_container_add(GTK_CONTAINER(window), root.text_view);
        gtk_text_buffer_set_text(buffer(), TEXT, -1);
        gtk_widget_show_all(window);
        for (GtkWidget*& item : items_) item = g_object_ref_sink(gtk_menu_item_new());
        speech_set_items(items_[0], items_[1]);
    }
    void TearDown() override {
        speech_disconnect();
        for (GtkWidget* item : items_) g_object_unref(item);
        Fixture::TearDown();
    }
    static GtkTextBuffer* buffer() {
        return gtk_text_view_get_buffer(GTK_TEXT_VIEW(root.text_view));
    }
    bool connect(const std::string& address) {
        g_setenv("SPEECHD_ADDRESS", address.c_str(), TRUE);
        speech_connect();
        return run_until([&] { return sensitive(0) || gtk_widget_get_has_tooltip(items_[0]); },
                         9000);
    }
    bool sensitive(int item) const { return gtk_widget_get_sensitive(items_[item]); }
    void read_from(int from, int to) {
        GtkTextIter a, b;
        gtk_text_buffer_get_iter_at_offset(buffer(), &a, from);
        gtk_text_buffer_get_iter_at_offset(buffer(), &b, to);
        gtk_text_buffer_select_range(buffer(), &b, &a);
        read_aloud();
    }
    static std::string highlighted() {
        GtkTextTagTable* tags = gtk_text_buffer_get_tag_table(buffer());
        GtkTextTag* tag = gtk_text_tag_table_lookup(tags, "speech-sentence");
        GtkTextIter a, b;
        gtk_text_buffer_get_start_iter(buffer(), &a);
        if (!tag ||
            (!gtk_text_iter_has_tag(&a, tag) && !gtk_text_iter_forward_to_tag_toggle(&a, tag)))
            return "";
        b = a;
        gtk_text_iter_forward_to_tag_toggle(&b, tag);
        g_autofree char* text = gtk_text_iter_get_text(&a, &b);
        return text;
    }

    GtkWidget* items_[2] = {};  // Read Aloud, Stop Reading
};

TEST_F(Speech, ReadsTheSelectionOrFromTheCursorSentenceBySentenceInTheTextsLanguage) {
    const struct {
        int from, to;  // the selection, or the cursor where equal
        int language, config_read;
        std::vector<SsipListener::Message> said;
    } cases[] = {
        {10, 26, LANG_EN, 0, {{"en", "Two fish?"}, {"en", CA}}},
        {20, 20, LANG_EN, 1, {{"fr", CA}, {"fr", TRES}}},
        {4, 4, LANG_DE, 0, {{"de", "fish."}, {"de", "Two fish?"}, {"de", CA}, {"de", TRES}}},
    };
    SsipListener service;
    ASSERT_TRUE(connect(service.address()) && sensitive(0) && !sensitive(1));
    root.text_language = LANG_FR;
    for (const auto& c : cases) {
        root.language = c.language;
        root.config_read = c.config_read;
        const size_t before = service.messages().size();
        read_from(c.from, c.to);
        const auto done = [&] { return service.messages().size() >= before + c.said.size(); };
        EXPECT_TRUE(run_until([&] { return done() && !sensitive(1); }, 5000));
        const std::vector<SsipListener::Message> all = service.messages();
        EXPECT_EQ(decltype(all)(all.begin() + before, all.end()), c.said) << c.from;
        EXPECT_EQ(highlighted(), "");
    }
}

TEST_F(Speech, HighlightsTheSentenceBeingReadUntilStoppedOrTheWindowCloses) {
    SsipListener service;
    service.hold_end(true);
    ASSERT_TRUE(connect(service.address()));
    for (void (*end)() : {stop_reading, speech_disconnect}) {
        read_from(0, 0);
        EXPECT_TRUE(run_until([] { return highlighted() == "One fish."; }, 5000)) << highlighted();
        EXPECT_TRUE(sensitive(1));
        end();
        EXPECT_EQ(highlighted(), "");
        EXPECT_FALSE(sensitive(1));
        EXPECT_TRUE(run_until([&] { return service.last_command() == "CANCEL SELF"; }, 5000));
    }
    EXPECT_EQ(service.messages().size(), 2u);
}

}  // namespace
}  // namespace window_test
