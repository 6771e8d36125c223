// Save dialog: a GTK save file chooser with the program's own texts, its own
// handling of directories and existing files, and a row for the export format.
//
// The chooser's OK button answers with a response of the program's own
// (SAVE_RESPONSE_OK) rather than GTK_RESPONSE_ACCEPT: on an accept response
// GtkFileChooserDialog runs checks of its own first (entering folders, error
// dialogs for names it cannot resolve, in the toolkit's language) and may
// swallow the response, so the user would never see the program's messages
// nor would a failed path be remembered. With its own response the dialog
// enters directories, asks before overwriting and reports a failed export
// itself, in the interface language.
//
// The name field follows the format: a name ending in the extension of one
// format gets the extension of the format chosen instead; any other name
// stays as typed. With no file saved yet the field proposes
// "scans-YYYY-MM-DD" (today) with the format's extension; the overwrite
// question guards it like any other name.
#include "ui/save_dialog.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "app/catalogue.h"
#include "state/state.h"
#include "text/export.h"
#include "ui/convert.h"
#include "ui/dialogs.h"

namespace {

constexpr int SAVE_RESPONSE_OK = 1;

// The file-name extension of each format.
// UTF-8 text is text as much as the ISO-8859-1 kind.
const char* const format_extensions[FORMAT_COUNT] = {".txt", ".rtf", ".tex", ".txt"};

int valid_format(int format) {
    return format >= 0 && format < FORMAT_COUNT ? format : FORMAT_ASCII;
}

// `name` (UTF-8) with its extension replaced by that of `format` (g_free), or
// null when it ends in no format's extension or in this one already. The
// extension must follow a name: ".txt" alone, or "dir/.txt", is a name.
char* name_for_format(const char* name, int format) {
    const size_t len = std::strlen(name);
    for (int i = 0; i < FORMAT_COUNT; i++) {
        const size_t ext_len = std::strlen(format_extensions[i]);
        if (len <= ext_len || name[len - ext_len - 1] == '/') continue;
        if (g_ascii_strcasecmp(name + len - ext_len, format_extensions[i]) != 0) continue;
        if (i == format) return nullptr;
        const std::string stem(name, len - ext_len);
        return g_strconcat(stem.c_str(), format_extensions[format], nullptr);
    }
    return nullptr;
}

// "scans-YYYY-MM-DD" with today's local date and the format's extension
// (g_free).
char* proposed_name(int format) {
    g_autoptr(GDateTime) now = g_date_time_new_now_local();
    g_autofree gchar* date = now ? g_date_time_format(now, "%Y-%m-%d") : nullptr;
    return g_strconcat("scans-", date ? date : "", format_extensions[format], nullptr);
}

// The chooser's name field in the file-system encoding (g_free).
char* typed_name(GtkFileChooser* chooser) {
    g_autofree gchar* utf8 = gtk_file_chooser_get_current_name(chooser);
    if (!utf8) return g_strdup("");
    gchar* name = g_filename_from_utf8(utf8, -1, nullptr, nullptr, nullptr);
    return name ? name : from_utf8(utf8);
}

// The path that the name field stands for (g_free): an absolute name as it is,
// "~" and "~/..." in the home directory, any other name in the chooser's
// current folder. Empty when nothing is typed. The chooser's own file name
// cannot serve here: in save mode it gives none for a typed "dir/".
char* chooser_path(GtkFileChooser* chooser) {
    g_autofree char* name = typed_name(chooser);
    if (name[0] == '\0' || name[0] == '/') return g_steal_pointer(&name);
    if (name[0] == '~' && (name[1] == '\0' || name[1] == '/'))
        return g_strconcat(g_get_home_dir(), name + 1, nullptr);
    g_autofree gchar* folder = gtk_file_chooser_get_current_folder(chooser);
    // Until the chooser has loaded its first folder it reports none; it
    // starts in the working directory then.
    if (!folder) folder = g_get_current_dir();
    const size_t len = std::strlen(folder);
    const bool has_slash = len > 0 && folder[len - 1] == '/';
    return g_strconcat(folder, has_slash ? "" : "/", name, nullptr);
}

// Cuts trailing '/' characters, but never the root "/" itself.
void strip_trailing_slashes(char* path) {
    size_t len = std::strlen(path);
    while (len > 1 && path[len - 1] == '/') path[--len] = '\0';
}

// Opens `folder` in the chooser with an empty name field.
void enter_folder(GtkFileChooser* chooser, const char* folder) {
    gtk_file_chooser_set_current_folder(chooser, folder);
    gtk_file_chooser_set_current_name(chooser, "");
}

// The chooser opens in the directory of the last file with its name in the
// name field. When that directory is gone (the last attempt may have failed
// for just that reason), or the name ends in '/', the whole path stands in
// the name field instead.
void preset_name(GtkFileChooser* chooser, const char* save_name) {
    g_autofree gchar* folder = g_path_get_dirname(save_name);
    g_autofree gchar* base = g_path_get_basename(save_name);
    const size_t len = std::strlen(save_name);
    const bool in_folder = g_file_test(folder, G_FILE_TEST_IS_DIR) && save_name[len - 1] != '/';
    const char* shown = in_folder ? base : save_name;
    g_autofree gchar* utf8 = g_filename_to_utf8(shown, -1, nullptr, nullptr, nullptr);
    if (!utf8) utf8 = g_filename_display_name(shown);
    if (in_folder) gtk_file_chooser_set_current_folder(chooser, folder);
    gtk_file_chooser_set_current_name(chooser, utf8);
}

GtkWidget* format_chooser_row(SaveWidgets* w) {
    const int l = interface_language();
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 5);
    GtkWidget* label = label_new_latin1(tfs_format[l]);

    // A plain combo: only the formats' names can be chosen.
    w->format_combo = gtk_combo_box_text_new();
    for (int i = 0; i < FORMAT_COUNT; i++) {
        combo_append_latin1(w->format_combo, get_format_string(i));
    }
    gtk_combo_box_set_active(GTK_COMBO_BOX(w->format_combo), valid_format(root.save_format));
    label_field(label, w->format_combo);

    gtk_box_pack_end(GTK_BOX(row), w->format_combo, TRUE, TRUE, 0);
    gtk_box_pack_end(GTK_BOX(row), label, FALSE, FALSE, 0);
    gtk_widget_show(label);
    gtk_widget_show(w->format_combo);
    gtk_widget_show(row);
    return row;
}

// The format whose dialog name the combo shows, compared over the length of
// the shown text; ASCII when none matches.
int chosen_format(GtkWidget* combo) {
    g_autofree char* text = combo_active_latin1(combo);
    if (!text) return FORMAT_ASCII;
    const size_t len = std::strlen(text);
    int format = FORMAT_ASCII;
    for (int i = 0; i < FORMAT_COUNT; i++) {
        const char* name = get_format_string(i);
        if (name && std::strncmp(text, name, len) == 0) {
            format = i;
            break;
        }
    }
    return format;
}

// "changed" of the format combo: the name's extension follows the format.
void format_changed(GtkComboBox* combo, gpointer record) {
    SaveWidgets* w = static_cast<SaveWidgets*>(record);
    const int format = gtk_combo_box_get_active(combo);
    if (format < 0 || format >= FORMAT_COUNT) return;
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(w->file_selection);
    g_autofree gchar* name = gtk_file_chooser_get_current_name(chooser);
    g_autofree char* renamed = name ? name_for_format(name, format) : nullptr;
    if (renamed) gtk_file_chooser_set_current_name(chooser, renamed);
}

void save_dialog_response(GtkDialog* dialog, gint response, gpointer record) {
    if (response == SAVE_RESPONSE_OK) {
        save_dialog_ok(GTK_WIDGET(dialog), record);
        return;
    }
    // Cancel, and the window manager's close.
    gtk_widget_destroy(GTK_WIDGET(dialog));
}

}  // namespace

// The formats' names for people, in the order of FORMAT_*.
const MessageText* const format_names[] = {&tfs_ASCII, &tfs_RTF, &tfs_LaTeX, &tfs_UTF8};
static_assert(sizeof format_names / sizeof format_names[0] == FORMAT_COUNT,
              "one name per export format");

const char* get_format_string(int format) {
    if (format < 0 || format >= FORMAT_COUNT) return nullptr;
    return (*format_names[format])[interface_language()];
}

GtkWidget* get_translated_file_selection() {
    const int l = interface_language();
    g_autofree char* title = to_utf8(tfs_title[l]);
    g_autofree char* cancel = to_utf8(tCancel[l]);
    g_autofree char* ok = to_utf8(tOK[l]);
    // The old file selection's buttons to create folders and to delete or
    // rename files, and the titles of its two lists, have no counterpart in
    // the GTK 3 chooser: it offers no such buttons (folder creation is
    // switched off below) and its lists carry the toolkit's own headings.
    GtkWidget* chooser = gtk_file_chooser_dialog_new(
        title, root.main_window ? GTK_WINDOW(root.main_window) : nullptr,
        GTK_FILE_CHOOSER_ACTION_SAVE, cancel, GTK_RESPONSE_CANCEL, ok, SAVE_RESPONSE_OK, nullptr);
    gtk_file_chooser_set_create_folders(GTK_FILE_CHOOSER(chooser), FALSE);
    // The program asks its own question, in the interface language.
    gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(chooser), FALSE);
    // Enter in the name field presses OK.
    gtk_dialog_set_default_response(GTK_DIALOG(chooser), SAVE_RESPONSE_OK);
    return chooser;
}

void Save() {
    SaveWidgets* w = g_new0(SaveWidgets, 1);
    w->file_selection = get_translated_file_selection();
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(w->file_selection);
    kx_dialog_grab(w->file_selection);

    if (root.save_name[0] != '\0') {
        preset_name(chooser, root.save_name);
    } else {
        g_autofree gchar* cwd = g_get_current_dir();
        gtk_file_chooser_set_current_folder(chooser, cwd);
        g_autofree char* proposal = proposed_name(valid_format(root.save_format));
        gtk_file_chooser_set_current_name(chooser, proposal);
    }

    gtk_file_chooser_set_extra_widget(chooser, format_chooser_row(w));
    // Connected once the preset choice stands: the name as preset stays.
    g_signal_connect(w->format_combo, "changed", G_CALLBACK(format_changed), w);

    g_signal_connect(w->file_selection, "response", G_CALLBACK(save_dialog_response), w);
    g_signal_connect(w->file_selection, "destroy", G_CALLBACK(save_dialog_destroy), w);
    gtk_widget_show(w->file_selection);
}

void save_dialog_ok(GtkWidget*, gpointer record) {
    SaveWidgets* w = static_cast<SaveWidgets*>(record);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(w->file_selection);
    const int l = interface_language();

    g_autofree char* path = chooser_path(chooser);
    // Nothing typed names the folder already shown: nothing to enter, nothing
    // to export, and nothing worth a message.
    if (path[0] == '\0') return;

    g_autofree char* copy = g_strdup(path);
    strip_trailing_slashes(copy);
    struct stat st;
    if (stat(copy, &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            enter_folder(chooser, copy);
            return;
        }
        g_autofree char* shown = display_path(copy);
        if (Sicher(tfs_exists_title[l], shown, tfs_exists_s1[l], tYes[l], tNo[l]) != 1) return;
    }

    root.save_format = chosen_format(w->format_combo);
    // The path as typed, trailing slashes included: a name that ends in "/"
    // but is no directory fails, rather than writing a file of another name.
    errno = 0;
    if (ExportText(path, nullptr)) {
        gtk_widget_destroy(w->file_selection);  // frees w through the destroy handler
        return;
    }
    // The system's reason in the toolkit's language, below the usual lines.
    const int error = errno != 0 ? errno : EIO;
    g_autofree char* reason = from_utf8(g_strerror(error));
    g_autofree char* last = g_strdup_printf("%s\n%s: %s", tfs_error2[l], texport_failed[l], reason);
    g_autofree char* shown = display_path(path);
    show_error_and_wait(tfs_error1[l], shown, last);
}

void save_dialog_destroy(GtkWidget* widget, gpointer record) {
    gtk_grab_remove(widget);
    g_free(record);
}
