#include "ui/application.h"

#include <cstdio>
#include <cstring>

#include "app/catalogue.h"
#include "app/terminal.h"
#include "state/state.h"

namespace {

GtkApplication* application = nullptr;

const char* const PORTAL_NAME = "org.freedesktop.portal.Desktop";
const char* const PORTAL_PATH = "/org/freedesktop/portal/desktop";
const char* const PORTAL_SETTINGS = "org.freedesktop.portal.Settings";
const char* const APPEARANCE = "org.freedesktop.appearance";
const char* const COLOR_SCHEME = "color-scheme";
const char* const GNOME_INTERFACE = "org.gnome.desktop.interface";

void set_dark(bool dark) {
    GtkSettings* settings = gtk_settings_get_default();
    if (settings) g_object_set(settings, "gtk-application-prefer-dark-theme", dark, nullptr);
}

// The portal wraps the value in one variant more in some versions.
bool portal_dark(GVariant* value) {
    g_autoptr(GVariant) inner = g_variant_ref(value);
    while (g_variant_is_of_type(inner, G_VARIANT_TYPE_VARIANT)) {
        GVariant* next = g_variant_get_variant(inner);
        g_variant_unref(inner);
        inner = next;
    }
    return g_variant_is_of_type(inner, G_VARIANT_TYPE_UINT32) &&
           prefers_dark(g_variant_get_uint32(inner));
}

void gsettings_changed(GSettings* settings, const char* key, gpointer) {
    g_autofree char* scheme = g_settings_get_string(settings, key);
    set_dark(prefers_dark(scheme));
}

// Where there is no portal: GNOME's own setting, if its schema is installed.
void follow_gsettings() {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source) return;
    g_autoptr(GSettingsSchema) schema =
        g_settings_schema_source_lookup(source, GNOME_INTERFACE, TRUE);
    if (!schema || !g_settings_schema_has_key(schema, COLOR_SCHEME)) return;
    // Kept for the whole run, so that its "changed" signal keeps coming.
    GSettings* settings = g_settings_new(GNOME_INTERFACE);
    g_signal_connect(settings, "changed::color-scheme", G_CALLBACK(gsettings_changed), nullptr);
    gsettings_changed(settings, COLOR_SCHEME, nullptr);
}

void portal_setting_changed(GDBusConnection*, const char*, const char*, const char*, const char*,
                            GVariant* parameters, gpointer) {
    const char* space = nullptr;
    const char* key = nullptr;
    g_autoptr(GVariant) value = nullptr;
    g_variant_get(parameters, "(&s&sv)", &space, &key, &value);
    if (std::strcmp(space, APPEARANCE) == 0 && std::strcmp(key, COLOR_SCHEME) == 0)
        set_dark(portal_dark(value));
}

void portal_read(GObject* bus, GAsyncResult* result, gpointer) {
    g_autoptr(GVariant) reply =
        g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, nullptr);
    if (!reply) {
        follow_gsettings();
        return;
    }
    g_autoptr(GVariant) value = nullptr;
    g_variant_get(reply, "(v)", &value);
    set_dark(portal_dark(value));
    g_dbus_connection_signal_subscribe(
        G_DBUS_CONNECTION(bus), PORTAL_NAME, PORTAL_SETTINGS, "SettingChanged", PORTAL_PATH,
        APPEARANCE, G_DBUS_SIGNAL_FLAGS_NONE, portal_setting_changed, nullptr, nullptr);
}

// Asked without waiting: a missing portal answers with an error, and the
// window is light until then.
void follow_desktop_style() {
    GDBusConnection* bus = g_application_get_dbus_connection(G_APPLICATION(application));
    if (!bus) {
        follow_gsettings();
        return;
    }
    g_dbus_connection_call(bus, PORTAL_NAME, PORTAL_PATH, PORTAL_SETTINGS, "Read",
                           g_variant_new("(ss)", APPEARANCE, COLOR_SCHEME), G_VARIANT_TYPE("(v)"),
                           G_DBUS_CALL_FLAGS_NO_AUTO_START, 2000, nullptr, portal_read, nullptr);
}

void application_activated(GApplication*, gpointer) {
    if (root.main_window) gtk_window_present(GTK_WINDOW(root.main_window));
}

}  // namespace

bool prefers_dark(guint32 portal_value) {
    return portal_value == 1;
}

bool prefers_dark(const char* gsettings_value) {
    return gsettings_value && std::strcmp(gsettings_value, "prefer-dark") == 0;
}

bool start_application(bool had_options) {
    application = gtk_application_new(APPLICATION_ID, G_APPLICATION_DEFAULT_FLAGS);
    g_signal_connect(application, "activate", G_CALLBACK(application_activated), nullptr);
    g_autoptr(GError) error = nullptr;
    // Fails only where a bus is there and refuses the name; the run then
    // goes on as an application of its own.
    if (!g_application_register(G_APPLICATION(application), nullptr, &error)) return true;
    if (g_application_get_is_remote(G_APPLICATION(application))) {
        if (had_options) std::fprintf(stderr, "%s\n", terminal_message(tnot_used).c_str());
        g_application_activate(G_APPLICATION(application));
        // The request goes out before the run ends.
        GDBusConnection* bus = g_application_get_dbus_connection(G_APPLICATION(application));
        if (bus) g_dbus_connection_flush_sync(bus, nullptr, nullptr);
        return false;
    }
    follow_desktop_style();
    return true;
}

void add_application_window(GtkWidget* window) {
    if (application && window) gtk_application_add_window(application, GTK_WINDOW(window));
}
