// The text view of the store: each size class in its own font size, loaded
// step by step so that a large text never stalls the main loop.
#include "ui/text_view.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "state/state.h"
#include "text/export.h"

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

void cancel_view_load() {
    if (view_load && view_load->source != 0) g_source_remove(view_load->source);
    view_load.reset();
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
        if (tags[k]) gtk_text_buffer_apply_tag(buffer, tags[k], &start, &end);
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
    gtk_text_buffer_insert(buffer, &end, utf8, static_cast<gint>(written));
    tag_runs(buffer, load, load.done, count);
    load.done += count;
    return load.done < load.text.size();
}

gboolean load_idle(gpointer) {
    if (view_load && load_step(*view_load)) return G_SOURCE_CONTINUE;
    // Removed by returning: reset() must not remove it again.
    if (view_load) view_load->source = 0;
    view_load.reset();
    return G_SOURCE_REMOVE;
}

}  // namespace

GtkWidget* text_view_new() {
    GtkWidget* view = gtk_text_view_new();
    gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
    gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), FALSE);
    // Words wrap; a word longer than the line breaks between characters rather
    // than widening the window.
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
    gtk_text_view_set_left_margin(GTK_TEXT_VIEW(view), TEXT_MARGIN);
    gtk_text_view_set_right_margin(GTK_TEXT_VIEW(view), TEXT_MARGIN);
    zoom_level = ZOOM_NORMAL;
    create_size_tags(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)));
    return view;
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
    // Deleting a megabyte takes some 10 ms; a fresh buffer on the same tag
    // table would be slower still, and more so with every reload.
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(root.text_view)), "", 0);

    // The text up to its terminator, as a zero-terminated string shows it.
    const int stored = root.text && root.attributes ? root.text_length.load() : 0;
    const size_t length = stored > 0 ? strnlen(root.text, static_cast<size_t>(stored)) : 0;
    if (length == 0) return;
    view_load = std::make_unique<ViewLoad>();
    view_load->text.assign(root.text, length);
    view_load->sizes.resize(length);
    for (size_t i = 0; i < length; i++) view_load->sizes[i] = root.attributes[i] & 3;
    if (!load_step(*view_load)) {
        view_load.reset();
        return;
    }
    view_load->source = g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, load_idle, nullptr, nullptr);
}
