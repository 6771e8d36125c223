// The main window, its menu bar in several languages, the accelerators, the
// exchange of the menu bar and the ways of ending the program.
#include "ui/main_window.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtksourceview/gtksource.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "app/catalogue.h"
#include "state/state.h"
#include "support/gui.h"
#include "support/ssip_listener.h"
#include "text/export.h"
#include "text/store.h"
#include "ui/dialogs.h"
#include "ui/edit.h"
#include "ui/quit.h"
#include "ui/speech.h"
#include "ui/spelling.h"
#include "ui/text_view.h"

namespace window_test {
namespace {

using Strings = std::vector<std::string>;

std::vector<GtkWidget*> children(GtkWidget* container) {
    std::vector<GtkWidget*> out;
    GList* list = gtk_container_get_children(GTK_CONTAINER(container));
    for (GList* l = list; l; l = l->next) out.push_back(GTK_WIDGET(l->data));
    g_list_free(list);
    return out;
}

// The labels of a menu shell's items, mnemonic marks included.
Strings item_labels(GtkWidget* shell) {
    Strings out;
    for (GtkWidget* item : children(shell)) {
        EXPECT_TRUE(gtk_menu_item_get_use_underline(GTK_MENU_ITEM(item)));
        out.push_back(gtk_menu_item_get_label(GTK_MENU_ITEM(item)));
    }
    return out;
}

GtkWidget* submenu(GtkWidget* bar, int index) {
    std::vector<GtkWidget*> items = children(bar);
    if (index >= static_cast<int>(items.size())) return nullptr;
    return gtk_menu_item_get_submenu(GTK_MENU_ITEM(items[index]));
}

GtkWidget* menu_item(GtkWidget* bar, int menu, int item) {
    GtkWidget* sub = submenu(bar, menu);
    if (!sub) return nullptr;
    std::vector<GtkWidget*> items = children(sub);
    return item < static_cast<int>(items.size()) ? items[item] : nullptr;
}

bool has_accelerator(guint key) {
    guint n = 0;
    gtk_accel_group_query(root.accel_group, key, GDK_CONTROL_MASK, &n);
    return n == 1;
}

size_t accel_groups_on_window() {
    return g_slist_length(gtk_accel_groups_from_object(G_OBJECT(root.main_window)));
}

// Runs the main loop with `action` started from it, as a menu action is;
// true when the loop ended by itself (the main window went) within 10 s.
bool main_loop_ends_after(void (*action)()) {
    struct Run {
        void (*action)();
        bool guard_fired;
    } run = {action, false};
    g_idle_add(
        [](gpointer data) -> gboolean {
            static_cast<Run*>(data)->action();
            return G_SOURCE_REMOVE;
        },
        &run);
    const guint guard = g_timeout_add(
        10000,
        [](gpointer data) -> gboolean {
            static_cast<Run*>(data)->guard_fired = true;
            gtk_main_quit();
            return G_SOURCE_REMOVE;
        },
        &run);
    gtk_main();
    if (!run.guard_fired) g_source_remove(guard);
    return !run.guard_fired;
}

// Appends `text` with the size class of each character taken in turn from
// `classes`, in blocks of the pen's size.
void store_sized(const std::string& text, const std::vector<int>& classes) {
    std::vector<unsigned char> pairs;
    for (size_t i = 0; i < text.size(); i++) {
        pairs.push_back(static_cast<unsigned char>(text[i]));
        pairs.push_back(static_cast<unsigned char>(0x40 | classes[i % classes.size()]));
        if (pairs.size() == 254 || i + 1 == text.size()) {
            ASSERT_EQ(store_block(pairs.data(), static_cast<int>(pairs.size() / 2)), 1);
            pairs.clear();
        }
    }
}

// Characters of the view whose font scale is not the one of their size class
// (the RTF size over the normal size); a character under no size tag or under
// several counts as wrong too.
int wrongly_sized() {
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(root.text_view));
    const int length = gtk_text_buffer_get_char_count(buffer);
    int wrong = 0;
    GtkTextIter at;
    gtk_text_buffer_get_start_iter(buffer, &at);
    while (gtk_text_iter_get_offset(&at) < length) {
        GtkTextIter next = at;
        gtk_text_iter_forward_to_tag_toggle(&next, nullptr);
        // Only the size tags: spelling underlines words with tags of its own.
        GSList* tags = gtk_text_iter_get_tags(&at);
        double scale = 0;
        int sizes = 0;
        for (GSList* t = tags; t; t = t->next) {
            g_autofree char* name = nullptr;
            g_object_get(t->data, "name", &name, nullptr);
            if (!name || !g_str_has_prefix(name, "size-")) continue;
            sizes++;
            g_object_get(t->data, "scale", &scale, nullptr);
        }
        if (sizes != 1) scale = 0;
        g_slist_free(tags);
        for (int i = gtk_text_iter_get_offset(&at); i < gtk_text_iter_get_offset(&next); i++) {
            const int k = root.attributes[i] & 3;
            if (std::abs(scale - rtf_half_points[k] / 20.0) > 1e-9) wrong++;
        }
        if (gtk_text_iter_get_offset(&next) <= gtk_text_iter_get_offset(&at)) return -1;
        at = next;
    }
    return wrong;
}

bool view_holds_store() {
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(root.text_view));
    return gtk_text_buffer_get_char_count(buffer) == root.text_length.load();
}

class MainWindow : public Fixture {};

TEST_F(MainWindow, EachRunOfASizeClassShowsInItsSize) {
    OpenMainWindow();
    // Large texts go in over several main-loop turns; a reload meanwhile
    // starts over. Runs of one to nine characters, line ends among them.
    std::string text;
    for (int i = 0; text.size() < 45000; i++)
        text += "Zeile " + std::to_string(i) + ": Gr\374\337e und ein langer Satz.\n";
    store_sized(text, {0, 1, 1, 2, 3, 3, 3, 1, 0, 2, 2, 2, 2, 2, 2, 2, 2, 2, 1});
    reload_text_view();
    setup_data();
    store_sized(text, {3, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 2});
    reload_text_view();
    ASSERT_TRUE(run_until(view_holds_store, 60000));
    settle();
    EXPECT_EQ(view_text(), utf8(text.c_str()));
    EXPECT_EQ(wrongly_sized(), 0);

    // A short text is all in the view, sized, as soon as the reload returns.
    setup_data();
    store_sized("small normal large larger\nback", {0, 1, 2, 3});
    reload_text_view();
    EXPECT_EQ(view_text(), "small normal large larger\nback");
    EXPECT_EQ(wrongly_sized(), 0);
}

TEST_F(MainWindow, LayoutAndHandles) {
    store_text("Gr\374\337e aus dem Lesestift");
    OpenMainWindow();
    ASSERT_NE(root.main_window, nullptr);
    EXPECT_EQ(window_title(root.main_window), "KESTRIX V1.0 \xc2\xa9 KESTRIX developers");
    // Windows without a title of their own show the program's name; all show
    // its icon, drawn from the SVG compiled in.
    EXPECT_STREQ(g_get_application_name(), "KESTRIX");
    GList* icons = gtk_window_get_default_icon_list();
    EXPECT_GE(g_list_length(icons), 1u);
    g_list_free(icons);
    EXPECT_EQ(gtk_container_get_border_width(GTK_CONTAINER(root.main_window)), 10u);
    int w = 0, h = 0;
    gtk_window_get_default_size(GTK_WINDOW(root.main_window), &w, &h);
    EXPECT_EQ(w, 600);
    EXPECT_EQ(h, 400);

    std::vector<GtkWidget*> rows = children(root.main_vbox);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], root.menu_bar);
    EXPECT_EQ(gtk_box_get_spacing(GTK_BOX(root.main_vbox)), 1);
    EXPECT_TRUE(GTK_IS_MENU_BAR(root.menu_bar));

    ASSERT_NE(root.text_view, nullptr);
    EXPECT_TRUE(gtk_text_view_get_editable(GTK_TEXT_VIEW(root.text_view)));
    EXPECT_NE(gtk_text_view_get_wrap_mode(GTK_TEXT_VIEW(root.text_view)), GTK_WRAP_NONE);
    EXPECT_EQ(view_text(),
              "Gr\xc3\xbc\xc3\x9f"
              "e aus dem Lesestift");

    // The visible scroll bar runs on the view's own vertical adjustment.
    GtkWidget* bar = find_widget(rows[2], GTK_TYPE_SCROLLBAR);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(gtk_range_get_adjustment(GTK_RANGE(bar)),
              gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(root.text_view)));
}

TEST_F(MainWindow, LongTextScrollsInsteadOfGrowingTheWindow) {
    std::string text;
    for (int i = 0; i < 400; i++)
        text += "Line of scanned text number " + std::to_string(i) + ".\n";
    store_text(text);
    OpenMainWindow();
    ASSERT_TRUE(run_until([] { return gtk_widget_get_mapped(root.main_window); }, 5000));
    GtkAdjustment* adj = gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(root.text_view));
    EXPECT_TRUE(run_until(
        [&] { return gtk_adjustment_get_upper(adj) > gtk_adjustment_get_page_size(adj); }, 5000));
    EXPECT_LT(gtk_widget_get_allocated_height(root.main_window), 1000);
}

TEST_F(MainWindow, ReloadReplacesTheWholeView) {
    store_text("first");
    OpenMainWindow();
    store_text(" second \351");
    reload_text_view();
    EXPECT_EQ(view_text(), "first second \xc3\xa9");
    setup_data();
    reload_text_view();
    EXPECT_EQ(view_text(), "");
}

TEST_F(MainWindow, EnglishMenus) {
    OpenMainWindow();
    EXPECT_EQ(item_labels(root.menu_bar), (Strings{"_File", "_Edit", "_KESTRIX", "_Help"}));
    EXPECT_EQ(item_labels(submenu(root.menu_bar, 0)), (Strings{"_Save+Export", "_Quit"}));
    EXPECT_EQ(item_labels(submenu(root.menu_bar, 1)),
              (Strings{"_Undo", "_Redo", "Cu_t", "_Copy", "_Paste", "Select _All", "_Find...",
                       "R_eplace...", "Read A_loud", "_Stop Reading"}));
    EXPECT_EQ(
        item_labels(submenu(root.menu_bar, 2)),
        (Strings{"_Read Text", "_Erase KESTRIX memory", "_Configure KESTRIX", "Configure _PC"}));
    EXPECT_EQ(item_labels(submenu(root.menu_bar, 3)), Strings{"_Info"});
}

TEST_F(MainWindow, GermanMenus) {
    root.language = LANG_DE;
    OpenMainWindow();
    EXPECT_EQ(item_labels(root.menu_bar), (Strings{"_Datei", "_Bearbeiten", "_KESTRIX", "_Hilfe"}));
    EXPECT_EQ(item_labels(submenu(root.menu_bar, 0)),
              (Strings{"_Speichern+Exportieren", "Programm _beenden"}));
    EXPECT_EQ(item_labels(submenu(root.menu_bar, 2)),
              (Strings{"_Text einlesen", "Lesestift-Speicher _l\xc3\xb6schen",
                       "Lesestift _konfigurieren", "_PC konfigurieren"}));
    EXPECT_EQ(item_labels(submenu(root.menu_bar, 3)), Strings{"_Produktinformation"});
}

TEST_F(MainWindow, ItalianMenus) {
    root.language = LANG_IT;
    OpenMainWindow();
    EXPECT_EQ(item_labels(root.menu_bar), (Strings{"_File", "_Modifica", "_KESTRIX", "_Guida"}));
    // The file menu holds both items, although their paths spell it differently.
    EXPECT_EQ(item_labels(submenu(root.menu_bar, 0)), (Strings{"_Salvare+Esportare", "_Esci"}));
    EXPECT_EQ(item_labels(submenu(root.menu_bar, 2))[1],
              "E_limina la memoria della penna lettrice");
    EXPECT_EQ(item_labels(submenu(root.menu_bar, 2))[2], "_Configura la penna lettrice");
    EXPECT_EQ(item_labels(submenu(root.menu_bar, 3)), Strings{"_Info"});
}

TEST_F(MainWindow, EveryLanguageHasFourMenusAndTheirEntries) {
    OpenMainWindow();
    for (int l = 0; l < LANG_COUNT; l++) {
        root.language = l;
        ExchangeMenubar();
        ASSERT_EQ(children(root.menu_bar).size(), 4u) << "language " << l;
        size_t items = 0;
        for (int m = 0; m < 4; m++) items += children(submenu(root.menu_bar, m)).size();
        EXPECT_EQ(items, static_cast<size_t>(MENU_ITEM_COUNT - 4)) << "language " << l;
        // The erase item carries no accelerator.
        GList* closures = gtk_widget_list_accel_closures(menu_item(root.menu_bar, 2, 1));
        EXPECT_EQ(closures, nullptr) << "language " << l;
        g_list_free(closures);
    }
}

TEST_F(MainWindow, CopyMenuItemsTakesThePathsOfTheLanguage) {
    // French and Spanish, which no window test shows: the file menu, the
    // erase item and the information item.
    const std::pair<int, Strings> given[] = {
        {LANG_FR,
         {"/_Fichier", "/Fichier/_Sauvegarder+Exporter", "/Fichier/_Quitter",
          "/KESTRIX/_Supprimer la m\351moire du stylo lecteur", "/Aide/_Info"}},
        {LANG_ES,
         {"/_Archivo", "/Archivo/_Grabar+Exportar", "/Archivo/_Salir",
          "/KESTRIX/E_liminar la memoria del estilo lector", "/Ayuda/_Informaci\363n"}},
    };
    for (const auto& language : given) {
        root.language = language.first;
        MenuEntry* copy = CopyMenuItems();
        ASSERT_NE(copy, nullptr);
        Strings paths;
        for (int i : {0, 1, 2, 16, 20}) paths.push_back(static_cast<const char*>(copy[i].path));
        EXPECT_EQ(paths, language.second);
        for (int i = 0; i < MENU_ITEM_COUNT; i++) {
            EXPECT_EQ(copy[i].callback, menu_items[i].callback);
            EXPECT_EQ(copy[i].accelerator, menu_items[i].accelerator);
            // The texts are the catalogue's own, not copies.
            EXPECT_EQ(copy[i].path,
                      (*static_cast<const MessageText*>(menu_items[i].path))[language.first]);
        }
        g_free(copy);
    }
}

TEST_F(MainWindow, AcceleratorsInTheGroup) {
    OpenMainWindow();
    ASSERT_NE(root.accel_group, nullptr);
    for (guint key : {GDK_KEY_s, GDK_KEY_q, GDK_KEY_r, GDK_KEY_k, GDK_KEY_p, GDK_KEY_z, GDK_KEY_x,
                      GDK_KEY_c, GDK_KEY_v, GDK_KEY_a, GDK_KEY_f, GDK_KEY_h})
        EXPECT_TRUE(has_accelerator(key)) << gdk_keyval_name(key);
    EXPECT_FALSE(has_accelerator(GDK_KEY_e));
    EXPECT_EQ(accel_groups_on_window(), 1u);
    EXPECT_EQ(gtk_accel_groups_from_object(G_OBJECT(root.main_window))->data, root.accel_group);
}

TEST_F(MainWindow, ExchangeKeepsTheBarFirstAndDetachesTheOldGroup) {
    OpenMainWindow();
    GtkAccelGroup* old_group = GTK_ACCEL_GROUP(g_object_ref(root.accel_group));
    root.language = LANG_DE;
    ExchangeMenubar();

    EXPECT_EQ(children(root.main_vbox).size(), 4u);
    EXPECT_EQ(children(root.main_vbox)[0], root.menu_bar);
    EXPECT_EQ(item_labels(root.menu_bar), (Strings{"_Datei", "_Bearbeiten", "_KESTRIX", "_Hilfe"}));
    EXPECT_NE(root.accel_group, old_group);
    EXPECT_EQ(accel_groups_on_window(), 1u);
    EXPECT_EQ(gtk_accel_groups_from_object(G_OBJECT(root.main_window))->data, root.accel_group);
    guint n = 0;
    gtk_accel_group_query(old_group, GDK_KEY_F1, static_cast<GdkModifierType>(0), &n);
    EXPECT_EQ(n, 0u);  // the old items are gone with their accelerators
    g_object_unref(old_group);

    // F1 now opens exactly one product-information dialog.
    root.language = LANG_EN;
    EXPECT_TRUE(gtk_accel_groups_activate(G_OBJECT(root.main_window), GDK_KEY_F1,
                                          static_cast<GdkModifierType>(0)));
    EXPECT_EQ(windows_titled(text_of(tcr_title)).size(), 1u);
}

TEST_F(MainWindow, QuitWithoutUnsavedTextEndsAtOnce) {
    OpenMainWindow();
    DialogAnswerer answer;
    answer.click("Yes");
    EXPECT_TRUE(main_loop_ends_after(quit_program));
    EXPECT_EQ(answer.answered(), 0u);
    EXPECT_EQ(root.main_window, nullptr);
    EXPECT_EQ(root.text_view, nullptr);
    EXPECT_EQ(root.menu_bar, nullptr);
    EXPECT_EQ(root.accel_group, nullptr);
}

TEST_F(MainWindow, QuitWithUnsavedTextAsks) {
    store_text("unsaved");
    root.unsaved = 1;
    OpenMainWindow();
    {
        DialogAnswerer answer;
        answer.click("No");
        quit_program();
        ASSERT_TRUE(answer.finished());
        EXPECT_EQ(answer.seen()[0].title, "Caution!");
        EXPECT_EQ(answer.seen()[0].labels, (Strings{"Data not yet saved!", "Quit anyway?"}));
        EXPECT_EQ(answer.seen()[0].buttons, (Strings{"Yes", "No"}));
        ASSERT_NE(root.main_window, nullptr);
        EXPECT_TRUE(gtk_widget_get_visible(root.main_window));
    }
    DialogAnswerer answer;
    answer.click("Yes");
    EXPECT_TRUE(main_loop_ends_after(quit_program));
    EXPECT_TRUE(answer.finished());
    EXPECT_EQ(root.main_window, nullptr);
}

TEST_F(MainWindow, CloseWithoutUnsavedTextEndsAtOnce) {
    OpenMainWindow();
    ASSERT_TRUE(run_until([] { return gtk_widget_get_realized(root.main_window); }, 5000));
    DialogAnswerer answer;
    answer.click("Yes");
    EXPECT_TRUE(main_loop_ends_after([] { send_delete(root.main_window); }));
    EXPECT_EQ(answer.answered(), 0u);
    EXPECT_EQ(root.main_window, nullptr);
}

TEST_F(MainWindow, CloseWithUnsavedTextAsks) {
    root.unsaved = 1;
    OpenMainWindow();
    ASSERT_TRUE(run_until([] { return gtk_widget_get_realized(root.main_window); }, 5000));
    {
        DialogAnswerer answer;
        answer.click("No");
        send_delete(root.main_window);
        EXPECT_TRUE(answer.finished());
        ASSERT_NE(root.main_window, nullptr);
    }
    {
        // A close request on the question itself is "No" as well.
        DialogAnswerer answer;
        answer.close("Quit anyway?");
        send_delete(root.main_window);
        EXPECT_TRUE(answer.finished());
        ASSERT_NE(root.main_window, nullptr);
    }
    DialogAnswerer answer;
    answer.click("Yes");
    EXPECT_TRUE(main_loop_ends_after([] { send_delete(root.main_window); }));
    EXPECT_TRUE(answer.finished());
    EXPECT_EQ(root.main_window, nullptr);
}

TEST_F(MainWindow, CloseIsIgnoredWhileADialogHoldsTheGrab) {
    OpenMainWindow();
    ASSERT_TRUE(run_until([] { return gtk_widget_get_realized(root.main_window); }, 5000));
    bool window_survived = false;
    DialogAnswerer answer;
    answer.click("OK", [&](GtkWidget*) {
        send_delete(root.main_window);
        window_survived = root.main_window != nullptr;
        return true;
    });
    show_error_and_wait("busy", nullptr, nullptr);
    EXPECT_TRUE(window_survived);
}

}  // namespace
}  // namespace window_test

namespace window_test {
namespace {

// The store's characters and the size class of each, as digits.
std::pair<std::string, std::string> store_now() {
    const int length = root.text_length.load();
    std::string sizes;
    for (int i = 0; i < length; i++) sizes += static_cast<char>('0' + (root.attributes[i] & 3));
    return {std::string(root.text, static_cast<size_t>(length)), sizes};
}

GtkTextBuffer* view_buffer() {
    return gtk_text_view_get_buffer(GTK_TEXT_VIEW(root.text_view));
}

void select_chars(int from, int to) {
    GtkTextIter a, b;
    gtk_text_buffer_get_iter_at_offset(view_buffer(), &a, from);
    gtk_text_buffer_get_iter_at_offset(view_buffer(), &b, to);
    gtk_text_buffer_select_range(view_buffer(), &a, &b);
}

// Types `text` over the characters [from, to) as the user does: one user
// action that deletes the selection and inserts at the cursor.
void type_over(int from, int to, const char* text) {
    select_chars(from, to);
    gtk_text_buffer_begin_user_action(view_buffer());
    gtk_text_buffer_delete_selection(view_buffer(), TRUE, TRUE);
    gtk_text_buffer_insert_interactive_at_cursor(view_buffer(), text, -1, TRUE);
    gtk_text_buffer_end_user_action(view_buffer());
}

// A window over "ab\ncd\nef\ngh" whose lines are in the classes 0, 1, 2 and 3,
// its text focused and its load finished.
void open_sized_text() {
    store_sized("ab\ncd\nef\ngh", {0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3});
    root.unsaved = 0;
    OpenMainWindow();
    ASSERT_TRUE(run_until(view_holds_store, 5000));
    gtk_widget_grab_focus(root.text_view);
}

// Typing and deleting as the user does (interactive edits, one user action
// each): the store follows with the class of the character before, or of the
// replaced text; undo and redo follow too.
TEST_F(MainWindow, EditsGoIntoTheStoreWithTheirSizes) {
    open_sized_text();
    const struct {
        int from, to;  // the range replaced (from == to: an insertion)
        const char* typed;
        const char* text;
        const char* sizes;
    } edits[] = {
        {0, 0, "X", "Xab\ncd\nef\ngh", "100011122233"},    // at the start: normal
        {3, 3, "y", "Xaby\ncd\nef\ngh", "1000011122233"},  // after a small one
        {11, 11, "zz", "Xaby\ncd\nef\nzzgh", "100001112222233"},
        {11, 13, "", "Xaby\ncd\nef\ngh", "1000011122233"},
        {8, 10, "EFG", "Xaby\ncd\nEFG\ngh", "10000111222233"},  // over a large word
        {0, 5, "", "cd\nEFG\ngh", "111222233"},
    };
    const auto original = store_now();
    for (const auto& e : edits) {
        type_over(e.from, e.to, e.typed);
        EXPECT_EQ(store_now(), std::make_pair(std::string(e.text), std::string(e.sizes)))
            << e.from << " " << e.typed;
        EXPECT_EQ(wrongly_sized(), 0) << e.from << " " << e.typed;
    }
    EXPECT_EQ(root.unsaved, 1);
    // A key typed into the view takes the same way.
    select_chars(1, 1);
    send_key(root.main_window, GDK_KEY_ssharp, static_cast<GdkModifierType>(0));
    EXPECT_EQ(store_now().first, "c\337d\nEFG\ngh");

    // Undo takes every edit back, sizes included; redo does the first again;
    // a reload starts a new history.
    GtkSourceBuffer* buffer = GTK_SOURCE_BUFFER(view_buffer());
    for (int i = 0; i < 20 && gtk_source_buffer_can_undo(buffer); i++)
        send_key(root.main_window, GDK_KEY_z, GDK_CONTROL_MASK);
    EXPECT_EQ(store_now(), original);
    EXPECT_EQ(wrongly_sized(), 0);
    send_key(root.main_window, GDK_KEY_z,
             static_cast<GdkModifierType>(GDK_CONTROL_MASK | GDK_SHIFT_MASK));
    EXPECT_EQ(store_now().first, "Xab\ncd\nef\ngh");
    reload_text_view();
    EXPECT_FALSE(gtk_source_buffer_can_undo(buffer));
}

// Text the store cannot hold is refused whole, over a selection too: a key
// (AltGr+E gives the euro sign) and Ctrl+V are refused before anything is
// deleted, so the undo history stays empty; where GTK deletes first (its own
// paste, an input method) the deleted text comes back. The text, its sizes,
// the unsaved mark and the selection stay as they were.
TEST_F(MainWindow, ARefusedCharacterChangesNothing) {
    open_sized_text();
    const auto before = store_now();
    GtkClipboard* clipboard = gtk_widget_get_clipboard(root.text_view, GDK_SELECTION_CLIPBOARD);
    gtk_clipboard_set_text(clipboard, "\xc5\x93uvre", -1);
    const struct {
        void (*edit)();
        const char* named;
        bool deletes_first;
    } refusals[] = {
        {[] { send_key(root.main_window, GDK_KEY_EuroSign, static_cast<GdkModifierType>(0)); },
         "\"\xe2\x82\xac\" (U+20AC)", false},
        {[] { send_key(root.main_window, GDK_KEY_v, GDK_CONTROL_MASK); }, "(U+0153)", false},
        {[] { type_over(6, 8, "5 \xe2\x80\x93"); }, "(U+2013)", true},
    };
    for (const auto& r : refusals) {
        select_chars(6, 8);
        r.edit();
        settle();
        EXPECT_EQ(store_now(), before) << r.named;
        EXPECT_EQ(view_text(), "ab\ncd\nef\ngh");
        EXPECT_EQ(wrongly_sized(), 0);
        EXPECT_EQ(root.unsaved, 0);
        GtkTextIter a, b;
        ASSERT_TRUE(gtk_text_buffer_get_selection_bounds(view_buffer(), &a, &b));
        EXPECT_EQ(gtk_text_iter_get_offset(&a) * 100 + gtk_text_iter_get_offset(&b), 608);
        EXPECT_EQ(std::string(text_view_message()).rfind(text_of(tnot_latin1) + " ", 0), 0u);
        EXPECT_NE(std::string(text_view_message()).find(r.named), std::string::npos);
        EXPECT_EQ(gtk_source_buffer_can_undo(GTK_SOURCE_BUFFER(view_buffer())), r.deletes_first);
    }
}

// replacement in the size of the first character it replaces.
TEST_F(MainWindow, FindAndReplaceIgnoreCase) {
    store_sized("Teh cat, teh dog, TEH end", {1, 2});
    OpenMainWindow();
    ASSERT_TRUE(run_until(view_holds_store, 5000));
    gtk_widget_show(root.main_window);
    send_key(root.main_window, GDK_KEY_f, GDK_CONTROL_MASK);
    GtkWidget* search = gtk_window_get_focus(GTK_WINDOW(root.main_window));
    ASSERT_TRUE(GTK_IS_SEARCH_ENTRY(search));
    gtk_entry_set_text(GTK_ENTRY(search), "teh");
    // The match selected: where it starts, or -1 for none.
    const auto selected = [] {
        GtkTextIter a, b;
        if (!gtk_text_buffer_get_selection_bounds(view_buffer(), &a, &b)) return -1;
        return gtk_text_iter_get_offset(&a);
    };
    ASSERT_TRUE(run_until([&] { return selected() == 0; }, 5000));
    // Enter three times (wrapping around), then Shift+Enter.
    for (int match : {9, 18, 0}) {
        send_key(root.main_window, GDK_KEY_Return, static_cast<GdkModifierType>(0));
        EXPECT_EQ(selected(), match);
    }
    send_key(root.main_window, GDK_KEY_Return, GDK_SHIFT_MASK);
    EXPECT_EQ(selected(), 18);
    send_key(root.main_window, GDK_KEY_Escape, static_cast<GdkModifierType>(0));
    EXPECT_FALSE(gtk_widget_get_visible(gtk_widget_get_parent(search)));

    send_key(root.main_window, GDK_KEY_h, GDK_CONTROL_MASK);
    std::vector<GtkWidget*> fields = find_widgets(gtk_widget_get_parent(search), GTK_TYPE_ENTRY);
    ASSERT_EQ(fields.size(), 2u);
    gtk_entry_set_text(GTK_ENTRY(fields[1]), "\xe2\x82\xac");  // refused: nothing replaced
    EXPECT_EQ(replace_all_matches(), 0);
    gtk_entry_set_text(GTK_ENTRY(fields[1]), "the");
    select_chars(9, 12);
    replace_match();
    EXPECT_EQ(store_now().first, "Teh cat, the dog, TEH end");
    EXPECT_EQ(replace_all_matches(), 2);
    EXPECT_EQ(store_now(), std::make_pair(std::string("the cat, the dog, the end"),
                                          std::string("1112121212221212121112121")));
    EXPECT_EQ(wrongly_sized(), 0);
}

// Whether the character at `offset` is underlined as misspelt.
bool misspelt(int offset) {
    GtkTextIter at;
    gtk_text_buffer_get_iter_at_offset(view_buffer(), &at, offset);
    g_autoptr(GSList) tags = gtk_text_iter_get_tags(&at);
    for (GSList* t = tags; t; t = t->next) {
        int underline = PANGO_UNDERLINE_NONE;
        g_object_get(t->data, "underline", &underline, nullptr);
        if (underline != PANGO_UNDERLINE_NONE) return true;
    }
    return false;
}

// Spelling follows the text's language: the interface's (English, whose
// dictionary the tests install) until a pen's configuration says French, for
// which there is none: then nothing is underlined.
TEST_F(MainWindow, SpellingFollowsTheTextLanguage) {
    store_text("Teh house");
    OpenMainWindow();
    ASSERT_TRUE(run_until([] { return misspelt(0); }, 5000));
    EXPECT_FALSE(misspelt(5));
    root.config_read = 1;
    root.text_language = LANG_FR;
    update_spelling();
    EXPECT_TRUE(run_until([] { return !misspelt(0); }, 5000));
}

// "One fish. Two fish? Ça va! Très bien." in UTF-8: "Two" at 10, "Ça" at 20.
#define CA     \
    "\xC3\x87" \
    "a va!"
#define TRES "Tr\xC3\xA8s bien."

// The text under the reading highlight.
std::string highlighted() {
    GtkTextTag* tag =
        gtk_text_tag_table_lookup(gtk_text_buffer_get_tag_table(view_buffer()), "speech-sentence");
    GtkTextIter a, b;
    gtk_text_buffer_get_start_iter(view_buffer(), &a);
    if (!tag || (!gtk_text_iter_has_tag(&a, tag) && !gtk_text_iter_forward_to_tag_toggle(&a, tag)))
        return "";
    b = a;
    gtk_text_iter_forward_to_tag_toggle(&b, tag);
    g_autofree char* text = gtk_text_iter_get_text(&a, &b);
    return text;
}

// A window over that text. The Edit menu's opening connects to the speech
// service: Read Aloud and Stop Reading (`items`) are greyed out, the reason in
// their tooltip, while none answers (the tests' SPEECHD_ADDRESS names none);
// opening the menu again finds `service`, started since.
void open_with_speech(const SsipListener& service, GtkWidget* items[2]) {
    store_text("One fish. Two fish? \307a va! Tr\350s bien.");
    OpenMainWindow();
    GtkTextIter cursor;  // a load leaves it at the start
    gtk_text_buffer_get_iter_at_mark(view_buffer(), &cursor,
                                     gtk_text_buffer_get_insert(view_buffer()));
    EXPECT_EQ(gtk_text_iter_get_offset(&cursor), 0);
    items[0] = menu_item(root.menu_bar, 1, 8);
    items[1] = menu_item(root.menu_bar, 1, 9);
    GtkWidget* menu = submenu(root.menu_bar, 1);
    gtk_widget_show(menu);
    ASSERT_TRUE(run_until([&] { return gtk_widget_get_has_tooltip(items[1]); }, 9000));
    for (int i = 0; i < 2; i++) {
        EXPECT_FALSE(gtk_widget_get_sensitive(items[i]));
        g_autofree char* tip = gtk_widget_get_tooltip_text(items[i]);
        EXPECT_EQ(std::string(tip).rfind(text_of(tspeech_unreachable) + ": ", 0), 0u) << tip;
    }
    g_setenv("SPEECHD_ADDRESS", service.address().c_str(), TRUE);
    gtk_widget_hide(menu);
    gtk_widget_show(menu);
    ASSERT_TRUE(run_until([&] { return gtk_widget_get_sensitive(items[0]); }, 9000));
    EXPECT_FALSE(gtk_widget_get_sensitive(items[1]));
}

// Read Aloud reads the selection, or from the cursor to the end, sentence by
// sentence, in the text's language; the sentence being read is highlighted
// until Stop Reading or the window's end, which cancel the speech.
TEST_F(MainWindow, ReadAloudSpeaksInTheTextsLanguageAndHighlights) {
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
    GtkWidget* items[2];
    open_with_speech(service, items);
    root.text_language = LANG_FR;
    for (const auto& c : cases) {
        root.language = c.language;
        root.config_read = c.config_read;
        const size_t before = service.messages().size();
        select_chars(c.to, c.from);
        gtk_menu_item_activate(GTK_MENU_ITEM(items[0]));
        EXPECT_TRUE(run_until(
            [&] {
                return service.messages().size() >= before + c.said.size() &&
                       !gtk_widget_get_sensitive(items[1]);
            },
            5000));
        const std::vector<SsipListener::Message> all = service.messages();
        EXPECT_EQ(decltype(all)(all.begin() + before, all.end()), c.said) << c.from;
        EXPECT_EQ(highlighted(), "");
    }

    // The service now holds back each END: the first sentence stays read.
    service.hold_end(true);
    for (void (*end)() : {stop_reading, speech_disconnect}) {
        select_chars(0, 0);
        read_aloud();
        EXPECT_TRUE(run_until([] { return highlighted() == "One fish."; }, 5000)) << highlighted();
        EXPECT_TRUE(gtk_widget_get_sensitive(items[1]));
        end();
        EXPECT_EQ(highlighted(), "");
        EXPECT_FALSE(gtk_widget_get_sensitive(items[1]));
        EXPECT_TRUE(run_until([&] { return service.last_command() == "CANCEL SELF"; }, 5000));
    }
}

// Configure KESTRIX is Ctrl+K (here, with no device, it reports the serial
// line; F1 for Info is tested with the exchanged menu bar); Ctrl+C, Ctrl+A,
// Ctrl+X and Ctrl+V are the text's.
TEST_F(MainWindow, TheClipboardKeysAreTheTextsAndCtrlKConfiguresThePen) {
    std::strcpy(root.device, "/nonexistent/kestrix-test");
    open_sized_text();
    select_chars(0, 2);
    send_key(root.main_window, GDK_KEY_c, GDK_CONTROL_MASK);
    GtkClipboard* clipboard = gtk_widget_get_clipboard(root.text_view, GDK_SELECTION_CLIPBOARD);
    g_autofree char* copied = gtk_clipboard_wait_for_text(clipboard);
    EXPECT_STREQ(copied, "ab");
    // Ctrl+A and Ctrl+X take the whole text out, Ctrl+V puts it back.
    for (guint key : {GDK_KEY_a, GDK_KEY_x}) send_key(root.main_window, key, GDK_CONTROL_MASK);
    EXPECT_EQ(store_now().first, "");
    send_key(root.main_window, GDK_KEY_v, GDK_CONTROL_MASK);
    EXPECT_TRUE(run_until([] { return store_now().first == "ab\ncd\nef\ngh"; }, 5000));
    {
        DialogAnswerer answer;
        answer.click(text_of(tOK));
        send_key(root.main_window, GDK_KEY_k, GDK_CONTROL_MASK);
        ASSERT_TRUE(run_until([&] { return answer.finished(); }, 5000));
        EXPECT_EQ(answer.seen()[0].labels[0], text_of(tce_serial1));
    }
}

}  // namespace
}  // namespace window_test

namespace window_test {
namespace {

double normal_scale() {
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(root.text_view));
    GtkTextTag* tag =
        gtk_text_tag_table_lookup(gtk_text_buffer_get_tag_table(buffer), "size-normal");
    double scale = 0;
    g_object_get(tag, "scale", &scale, nullptr);
    return scale;
}

// The four sizes zoom together between 50 % and 400 %; the store stays.
TEST_F(MainWindow, CtrlPlusMinusAndZeroZoomTheText) {
    store_sized("Hello pen\n", {3});
    OpenMainWindow();
    const struct {
        guint key;
        int presses;
        double scale;
    } steps[] = {{GDK_KEY_plus, 20, 4.0},
                 {GDK_KEY_0, 1, 1.0},
                 {GDK_KEY_minus, 20, 0.5},
                 {GDK_KEY_KP_Add, 1, 0.67}};
    for (const auto& step : steps) {
        for (int i = 0; i < step.presses; i++)
            send_key(root.main_window, step.key, GDK_CONTROL_MASK);
        EXPECT_DOUBLE_EQ(normal_scale(), step.scale) << step.key;
    }
    EXPECT_EQ(std::string(root.text, root.text_length.load()), "Hello pen\n");
    EXPECT_EQ(root.attributes[0] & 3, 3);
}

}  // namespace
}  // namespace window_test
