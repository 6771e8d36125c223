// The text view of the store: each size class in its own font size, loaded
// step by step so that a large text never stalls the main loop.
#include "ui/text_view.h"

#include <gtksourceview/gtksource.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/catalogue.h"
#include "state/state.h"
#include "text/export.h"
#include "text/store.h"
#include "ui/convert.h"
#include "ui/progress.h"
#include "ui/speech.h"

namespace {

// Pixels between the text and the view's frame on the left and the right.
constexpr int TEXT_MARGIN = 6;

// The text view's tag for each size class: the font scaled in the steps of
// the RTF export, relative to the normal class 1.
constexpr int SIZE_CLASSES = 4;
const char* const size_tag_names[SIZE_CLASSES] = {"size-small", "size-normal", "size-large",
                                                  "size-larger"};

// Zoom scales the four sizes together, in the steps people know from
// browsers, from 50 % to 400 %; the store and the exports do not change.
constexpr int ZOOM_PERCENT[] = {50, 67, 80, 90, 100, 110, 125, 150, 175, 200, 250, 300, 400};
constexpr int ZOOM_LEVELS = sizeof ZOOM_PERCENT / sizeof ZOOM_PERCENT[0];
constexpr int ZOOM_NORMAL = 4;
int zoom_level = ZOOM_NORMAL;

double size_scale(int k) {
    return static_cast<double>(rtf_half_points[k]) / rtf_half_points[1] * ZOOM_PERCENT[zoom_level] /
           100.0;
}

void create_size_tags(GtkTextBuffer* buffer) {
    for (int k = 0; k < SIZE_CLASSES; k++)
        gtk_text_buffer_create_tag(buffer, size_tag_names[k], "scale", size_scale(k), nullptr);
}

// Editing. The view and the store hold the same characters at the same
// offsets, one ISO-8859-1 character per character of the view, so every edit
// of the buffer is made in the store first, by the buffer's "insert-text" and
// "delete-range" handlers, and the size tags follow the store's attributes.
// Only this module applies size tags: a paste that brings tags of its own
// (GTK copies them within one buffer) keeps the sizes the store gave it.
bool loading = false;  // the loader's insertions and the emptying: not edits
// From a reload until its last step: one step of the undo history's life (the
// history starts anew when it ends), and no edits meanwhile, as the loader
// appends at the view's end what the store already holds. The view stays
// editable all along: changing that would lay out the whole text again.
bool load_open = false;
bool own_tags = false;   // a size tag applied by this module
bool undoing = false;    // inside an undo or a redo
bool restoring = false;  // giving back what a refused user action deleted
bool in_action = false;  // inside a user action (typing, a paste, a replace)
bool refused = false;    // an insertion of this user action was refused
int unsaved_before = 0;  // root.unsaved when this user action began

// The attributes of the insertion between the two "insert-text" handlers.
std::vector<unsigned char> inserted_attributes;

// Text deleted by the edits since the last load, with its attributes, so that
// an undo or redo that inserts it again at its offset brings its sizes back
// (the undo history keeps only the characters). Bounded: the oldest go first.
struct Deletion {
    int offset;
    std::string text;
    std::vector<unsigned char> attributes;
};
std::vector<Deletion> deletions;
size_t deleted_bytes = 0;
constexpr size_t DELETIONS_MAX_BYTES = 32u << 20;
size_t action_first_deletion = 0;  // deletions[i >= this] are of this user action

// The line under the view that says why an edit was refused; empty otherwise.
GtkWidget* message_line = nullptr;

void show_message(const char* utf8) {
    if (!message_line) return;
    gtk_label_set_text(GTK_LABEL(message_line), utf8 ? utf8 : "");
    gtk_widget_set_visible(message_line, utf8 != nullptr);
}

bool is_size_tag(GtkTextTag* tag) {
    g_autofree char* name = nullptr;
    g_object_get(tag, "name", &name, nullptr);
    for (const char* size : size_tag_names)
        if (name && std::strcmp(name, size) == 0) return true;
    return false;
}

void apply_size_tag(GtkTextBuffer* buffer, GtkTextTag* tag, GtkTextIter* start, GtkTextIter* end) {
    own_tags = true;
    gtk_text_buffer_apply_tag(buffer, tag, start, end);
    own_tags = false;
}

// "apply-tag": size tags come from this module only.
void view_apply_tag(GtkTextBuffer* buffer, GtkTextTag* tag, GtkTextIter*, GtkTextIter*, gpointer) {
    if (!own_tags && is_size_tag(tag)) g_signal_stop_emission_by_name(buffer, "apply-tag");
}

// The error bell and, for text the store cannot hold, the line that names its
// first such character.
void tell_refused(const char* utf8, int bytes) {
    if (root.text_view) gtk_widget_error_bell(root.text_view);
    if (!utf8) return;
    gunichar bad = 0;
    for (const char* p = utf8; p < utf8 + bytes && !bad; p = g_utf8_next_char(p))
        if (g_utf8_get_char(p) > 0xFF) bad = g_utf8_get_char(p);
    g_autofree char* row = to_utf8(tnot_latin1[interface_language()]);
    char shown[8] = {0};
    g_unichar_to_utf8(bad, shown);
    g_autofree char* line = g_strdup_printf("%s \"%s\" (U+%04X)", row, shown, bad);
    show_message(line);
}

// Refuses the insertion being emitted.
void refuse_insertion(GtkTextBuffer* buffer, const char* utf8, int bytes) {
    g_signal_stop_emission_by_name(buffer, "insert-text");
    refused = true;
    tell_refused(utf8, bytes);
}

// The attributes of `count` characters inserted at `offset`: those they had
// when an undo or redo brings back deleted text; else, right where this user
// action deleted text (typing over a selection, a replace), the class of the
// first deleted character; else the class of the character before (normal at
// the start).
std::vector<unsigned char> attributes_for(int offset, const std::string& latin1) {
    if (undoing) {
        for (size_t i = deletions.size(); i-- > 0;) {
            if (deletions[i].offset != offset || deletions[i].text != latin1) continue;
            std::vector<unsigned char> found = std::move(deletions[i].attributes);
            deleted_bytes -= deletions[i].text.size();
            deletions.erase(deletions.begin() + static_cast<std::ptrdiff_t>(i));
            return found;
        }
    }
    // The deletion just before, of this user action and at this offset: the
    // text this insertion replaces. The whole attribute byte is copied, the
    // size class in its low bits.
    unsigned char size = 1;
    const bool replacing = in_action && deletions.size() > action_first_deletion &&
                           deletions.back().offset == offset &&
                           !deletions.back().attributes.empty();
    if (replacing)
        size = deletions.back().attributes[0];
    else if (offset > 0 && offset <= root.text_length.load())
        size = root.attributes[offset - 1];
    return std::vector<unsigned char>(latin1.size(), size);
}

// "insert-text", before the buffer inserts: the same characters into the
// store, or the whole insertion refused.
void view_insert_text(GtkTextBuffer* buffer, GtkTextIter* at, const char* utf8, int bytes,
                      gpointer) {
    inserted_attributes.clear();
    if (loading || bytes <= 0) return;
    if (progress_running() || load_open) return refuse_insertion(buffer, nullptr, 0);
    gsize written = 0;
    g_autofree char* latin1 =
        g_convert(utf8, bytes, "ISO-8859-1", "UTF-8", nullptr, &written, nullptr);
    if (!latin1 || written > INT_MAX) return refuse_insertion(buffer, utf8, bytes);
    const int offset = gtk_text_iter_get_offset(at);
    const std::string text(latin1, written);
    std::vector<unsigned char> attributes = attributes_for(offset, text);
    const int count = static_cast<int>(written);
    if (!store_insert(offset, latin1, count, attributes[0]))
        return refuse_insertion(buffer, nullptr, 0);
    std::memcpy(root.attributes + offset, attributes.data(), attributes.size());
    inserted_attributes = std::move(attributes);
    if (!restoring) show_message(nullptr);
}

// "insert-text", after the buffer inserted (`at` is the end of the new text):
// the size tags of the store's attributes, run by run.
void view_text_inserted(GtkTextBuffer* buffer, GtkTextIter* at, const char*, int, gpointer) {
    if (inserted_attributes.empty()) return;
    GtkTextTagTable* table = gtk_text_buffer_get_tag_table(buffer);
    GtkTextIter start = *at;
    gtk_text_iter_backward_chars(&start, static_cast<gint>(inserted_attributes.size()));
    // Text inserted inside a tagged run lies inside it: off with those first.
    for (const char* name : size_tag_names)
        gtk_text_buffer_remove_tag_by_name(buffer, name, &start, at);
    for (size_t i = 0; i < inserted_attributes.size();) {
        const unsigned char k = inserted_attributes[i] & 3;
        size_t next = i + 1;
        while (next < inserted_attributes.size() && (inserted_attributes[next] & 3) == k) next++;
        GtkTextIter end = start;
        gtk_text_iter_forward_chars(&end, static_cast<gint>(next - i));
        GtkTextTag* tag = gtk_text_tag_table_lookup(table, size_tag_names[k]);
        if (tag) apply_size_tag(buffer, tag, &start, &end);
        start = end;
        i = next;
    }
    inserted_attributes.clear();
}

void remember_deletion(int offset, int count) {
    deletions.push_back(
        {offset, std::string(root.text + offset, static_cast<size_t>(count)),
         std::vector<unsigned char>(root.attributes + offset, root.attributes + offset + count)});
    deleted_bytes += static_cast<size_t>(count);
    while (deleted_bytes > DELETIONS_MAX_BYTES && deletions.size() > 1) {
        deleted_bytes -= deletions.front().text.size();
        deletions.erase(deletions.begin());
        if (action_first_deletion > 0) action_first_deletion--;
    }
}

// "delete-range", before the buffer deletes: the same characters out of the
// store, remembered with their attributes.
void view_delete_range(GtkTextBuffer* buffer, GtkTextIter* start, GtkTextIter* end, gpointer) {
    if (loading) return;
    int from = gtk_text_iter_get_offset(start), to = gtk_text_iter_get_offset(end);
    if (from > to) std::swap(from, to);
    if (from == to) return;
    const int length = root.text_length.load();
    if (progress_running() || load_open || !root.text || to > length) {
        g_signal_stop_emission_by_name(buffer, "delete-range");
        if (root.text_view) gtk_widget_error_bell(root.text_view);
        return;
    }
    remember_deletion(from, to - from);
    store_delete(from, to - from);
}

void view_begin_action(GtkTextBuffer*, gpointer) {
    in_action = true;
    refused = false;
    unsaved_before = root.unsaved;
    action_first_deletion = deletions.size();
}

// A user action whose insertion was refused after it deleted a selection
// (typing or pasting over it) gets the deleted text back, with its sizes and
// selected again: nothing is replaced halfway.
void view_end_action(GtkTextBuffer* buffer, gpointer) {
    in_action = false;
    const bool restore = refused;
    refused = false;
    if (!restore || action_first_deletion >= deletions.size()) return;
    std::vector<Deletion> back(
        deletions.begin() + static_cast<std::ptrdiff_t>(action_first_deletion), deletions.end());
    undoing = restoring = true;
    for (size_t i = back.size(); i-- > 0;) {
        g_autofree char* utf8 =
            g_convert(back[i].text.data(), static_cast<gssize>(back[i].text.size()), "UTF-8",
                      "ISO-8859-1", nullptr, nullptr, nullptr);
        if (!utf8) continue;
        GtkTextIter at;
        gtk_text_buffer_get_iter_at_offset(buffer, &at, back[i].offset);
        gtk_text_buffer_insert(buffer, &at, utf8, -1);
        if (i == 0) {
            GtkTextIter first;
            gtk_text_buffer_get_iter_at_offset(buffer, &first, back[i].offset);
            gtk_text_buffer_select_range(buffer, &first, &at);
        }
    }
    undoing = restoring = false;
    root.unsaved = unsaved_before;
}

void view_undo_begins(GtkSourceBuffer*, gpointer) {
    undoing = true;
}

void view_undo_ends(GtkSourceBuffer*, gpointer) {
    undoing = false;
}

void forget_edits() {
    deletions.clear();
    deleted_bytes = 0;
    action_first_deletion = 0;
    inserted_attributes.clear();
    show_message(nullptr);
}

void connect_edits(GtkTextBuffer* buffer) {
    g_signal_connect(buffer, "insert-text", G_CALLBACK(view_insert_text), nullptr);
    g_signal_connect_after(buffer, "insert-text", G_CALLBACK(view_text_inserted), nullptr);
    g_signal_connect(buffer, "delete-range", G_CALLBACK(view_delete_range), nullptr);
    g_signal_connect(buffer, "apply-tag", G_CALLBACK(view_apply_tag), nullptr);
    g_signal_connect(buffer, "begin-user-action", G_CALLBACK(view_begin_action), nullptr);
    g_signal_connect(buffer, "end-user-action", G_CALLBACK(view_end_action), nullptr);
    for (const char* signal : {"undo", "redo"}) {
        g_signal_connect(buffer, signal, G_CALLBACK(view_undo_begins), nullptr);
        g_signal_connect_after(buffer, signal, G_CALLBACK(view_undo_ends), nullptr);
    }
}

// Loading the view. The store is copied first (a download started meanwhile
// appends to it and may move it) and then inserted in steps of at most
// LOAD_CHARS characters or LOAD_RUNS runs of one size class, each step with
// its size tags, one tag application per run: a megabyte set in one go would
// hold the main loop for about a tenth of a second. The first step runs at
// once, so a text of up to LOAD_CHARS characters is in the view when
// reload_text_view returns. The rest follows from an idle source below GTK's
// own layout and drawing, so each step is laid out before the next comes: a
// view that draws while most of its lines are not laid out yet lays out all
// of them within that one draw (it cannot tell where the visible part ends),
// which for a megabyte stalled the main loop for half a second.
constexpr size_t LOAD_CHARS = 32768;
constexpr size_t LOAD_RUNS = 2048;

struct ViewLoad {
    std::string text;                  // ISO-8859-1 copy of the store
    std::vector<unsigned char> sizes;  // size class of each character
    size_t done = 0;                   // characters in the view so far
    guint source = 0;
};
std::unique_ptr<ViewLoad> view_load;

void begin_load(GtkTextView* view) {
    forget_edits();
    if (!load_open)
        gtk_source_buffer_begin_not_undoable_action(
            GTK_SOURCE_BUFFER(gtk_text_view_get_buffer(view)));
    load_open = true;
}

void end_load() {
    if (!load_open) return;
    load_open = false;
    if (!root.text_view) return;
    GtkTextView* view = GTK_TEXT_VIEW(root.text_view);
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(view);
    gtk_source_buffer_end_not_undoable_action(GTK_SOURCE_BUFFER(buffer));
    // The loader's insertions carried the cursor along: it starts at the top.
    GtkTextIter start;
    gtk_text_buffer_get_start_iter(buffer, &start);
    gtk_text_buffer_place_cursor(buffer, &start);
}

void cancel_view_load() {
    if (view_load && view_load->source != 0) g_source_remove(view_load->source);
    view_load.reset();
    end_load();
}

// The characters of the next step: up to LOAD_CHARS, ending early with the
// run that makes LOAD_RUNS.
size_t next_step(const ViewLoad& load) {
    const size_t end = std::min(load.text.size(), load.done + LOAD_CHARS);
    size_t at = load.done, runs = 0;
    while (at < end && runs < LOAD_RUNS) {
        const unsigned char k = load.sizes[at];
        while (at < end && load.sizes[at] == k) at++;
        runs++;
    }
    return at - load.done;
}

// Tags the characters [from, from + count) of the view, already inserted,
// run by run.
void tag_runs(GtkTextBuffer* buffer, const ViewLoad& load, size_t from, size_t count) {
    GtkTextTagTable* table = gtk_text_buffer_get_tag_table(buffer);
    GtkTextTag* tags[SIZE_CLASSES];
    for (int k = 0; k < SIZE_CLASSES; k++)
        tags[k] = gtk_text_tag_table_lookup(table, size_tag_names[k]);
    GtkTextIter start, end;
    gtk_text_buffer_get_iter_at_offset(buffer, &start, static_cast<gint>(from));
    for (size_t at = from; at < from + count;) {
        const unsigned char k = load.sizes[at];
        size_t next = at + 1;
        while (next < from + count && load.sizes[next] == k) next++;
        end = start;
        gtk_text_iter_forward_chars(&end, static_cast<gint>(next - at));
        if (tags[k]) apply_size_tag(buffer, tags[k], &start, &end);
        start = end;
        at = next;
    }
}

// Inserts and tags the next step; true while characters remain.
bool load_step(ViewLoad& load) {
    if (!root.text_view) return false;
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(root.text_view));
    const size_t count = next_step(load);
    gsize written = 0;
    g_autofree gchar* utf8 = g_convert(load.text.data() + load.done, static_cast<gssize>(count),
                                       "UTF-8", "ISO-8859-1", nullptr, &written, nullptr);
    if (!utf8) return false;
    GtkTextIter end;
    gtk_text_buffer_get_end_iter(buffer, &end);
    loading = true;
    gtk_text_buffer_insert(buffer, &end, utf8, static_cast<gint>(written));
    loading = false;
    tag_runs(buffer, load, load.done, count);
    load.done += count;
    return load.done < load.text.size();
}

gboolean load_idle(gpointer) {
    if (view_load && load_step(*view_load)) return G_SOURCE_CONTINUE;
    // Removed by returning: reset() must not remove it again.
    if (view_load) view_load->source = 0;
    view_load.reset();
    end_load();
    return G_SOURCE_REMOVE;
}

}  // namespace

GtkWidget* text_view_new() {
    GtkSourceBuffer* buffer = gtk_source_buffer_new(nullptr);
    // Plain text: no bracket matching or highlighting of any language.
    gtk_source_buffer_set_highlight_matching_brackets(buffer, FALSE);
    GtkWidget* view = gtk_source_view_new_with_buffer(buffer);
    g_object_unref(buffer);
    // Words wrap; a word longer than the line breaks between characters rather
    // than widening the window.
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
    gtk_text_view_set_left_margin(GTK_TEXT_VIEW(view), TEXT_MARGIN);
    gtk_text_view_set_right_margin(GTK_TEXT_VIEW(view), TEXT_MARGIN);
    zoom_level = ZOOM_NORMAL;
    create_size_tags(GTK_TEXT_BUFFER(buffer));
    connect_edits(GTK_TEXT_BUFFER(buffer));
    return view;
}

GtkWidget* text_view_message_line() {
    if (message_line) return message_line;
    message_line = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(message_line), 0.0f);
    gtk_label_set_line_wrap(GTK_LABEL(message_line), TRUE);
    gtk_widget_set_no_show_all(message_line, TRUE);
    g_object_add_weak_pointer(G_OBJECT(message_line), reinterpret_cast<gpointer*>(&message_line));
    return message_line;
}

bool text_view_accepts(const char* utf8) {
    g_autofree char* latin1 = g_convert(utf8, -1, "ISO-8859-1", "UTF-8", nullptr, nullptr, nullptr);
    if (latin1) return true;
    tell_refused(utf8, static_cast<int>(std::strlen(utf8)));
    return false;
}

const char* text_view_message() {
    return message_line && gtk_widget_get_visible(message_line)
               ? gtk_label_get_text(GTK_LABEL(message_line))
               : "";
}

int zoom_text_view(int step) {
    zoom_level = step == 0 ? ZOOM_NORMAL : std::clamp(zoom_level + step, 0, ZOOM_LEVELS - 1);
    if (root.text_view) {
        GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(root.text_view));
        GtkTextTagTable* table = gtk_text_buffer_get_tag_table(buffer);
        for (int k = 0; k < SIZE_CLASSES; k++) {
            GtkTextTag* tag = gtk_text_tag_table_lookup(table, size_tag_names[k]);
            if (tag) g_object_set(tag, "scale", size_scale(k), nullptr);
        }
    }
    return ZOOM_PERCENT[zoom_level];
}

void stop_text_view_load() {
    cancel_view_load();
}

void reload_text_view() {
    cancel_view_load();
    if (!root.text_view) return;
    // The text read aloud is going.
    stop_reading();
    begin_load(GTK_TEXT_VIEW(root.text_view));
    // Deleting a megabyte takes some 10 ms; a fresh buffer on the same tag
    // table would be slower still, and more so with every reload.
    loading = true;
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(root.text_view)), "", 0);
    loading = false;

    // The text up to its terminator, as a zero-terminated string shows it.
    const int stored = root.text && root.attributes ? root.text_length.load() : 0;
    const size_t length = stored > 0 ? strnlen(root.text, static_cast<size_t>(stored)) : 0;
    if (length == 0) return end_load();
    view_load = std::make_unique<ViewLoad>();
    view_load->text.assign(root.text, length);
    view_load->sizes.resize(length);
    for (size_t i = 0; i < length; i++) view_load->sizes[i] = root.attributes[i] & 3;
    if (!load_step(*view_load)) {
        view_load.reset();
        return end_load();
    }
    view_load->source = g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, load_idle, nullptr, nullptr);
}
