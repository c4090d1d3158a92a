// The tray icon as a StatusNotifierItem: an object on the session bus under
// a name of its own, registered with the desktop's StatusNotifierWatcher.
// Activate (a left click) restores the window, ContextMenu (a right click)
// shows the player's own menu; the tooltip is the item label. Releasing the
// name takes the item off the panel.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "platform/tray_internal.h"

struct SniItem {
    char name[64];
    GDBusNodeInfo* node;
    unsigned registration; // the exported object; 0 while not shown
    unsigned owner_id;     // the name request; 0 while not shown
    int name_owned;
};

namespace {

constexpr const char* ITEM_PATH = "/StatusNotifierItem";
constexpr const char* WATCHER_NAME = "org.kde.StatusNotifierWatcher";

const char ITEM_XML[] =
    "<node><interface name='org.kde.StatusNotifierItem'>"
    "<property name='Category' type='s' access='read'/>"
    "<property name='Id' type='s' access='read'/>"
    "<property name='Title' type='s' access='read'/>"
    "<property name='Status' type='s' access='read'/>"
    "<property name='WindowId' type='i' access='read'/>"
    "<property name='IconName' type='s' access='read'/>"
    "<property name='IconPixmap' type='a(iiay)' access='read'/>"
    "<property name='OverlayIconName' type='s' access='read'/>"
    "<property name='OverlayIconPixmap' type='a(iiay)' access='read'/>"
    "<property name='AttentionIconName' type='s' access='read'/>"
    "<property name='AttentionIconPixmap' type='a(iiay)' access='read'/>"
    "<property name='AttentionMovieName' type='s' access='read'/>"
    "<property name='ToolTip' type='(sa(iiay)ss)' access='read'/>"
    "<property name='ItemIsMenu' type='b' access='read'/>"
    "<method name='ContextMenu'><arg name='x' type='i' direction='in'/><arg name='y' type='i' direction='in'/></method>"
    "<method name='Activate'><arg name='x' type='i' direction='in'/><arg name='y' type='i' direction='in'/></method>"
    "<method name='SecondaryActivate'><arg name='x' type='i' direction='in'/>"
    "<arg name='y' type='i' direction='in'/></method>"
    "<method name='Scroll'><arg name='delta' type='i' direction='in'/>"
    "<arg name='orientation' type='s' direction='in'/></method>"
    "<signal name='NewTitle'/><signal name='NewIcon'/><signal name='NewAttentionIcon'/>"
    "<signal name='NewOverlayIcon'/><signal name='NewToolTip'/>"
    "<signal name='NewStatus'><arg name='status' type='s'/></signal>"
    "</interface></node>";

void method_call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant*,
                 GDBusMethodInvocation* invocation, gpointer data)
{
    auto* t = static_cast<TrayState*>(data);
    if (strcmp(method, "Activate") == 0)
        tray_post_event(t, TRAY_EVENT_LEFT_UP);
    else if (strcmp(method, "ContextMenu") == 0)
        tray_post_event(t, TRAY_EVENT_RIGHT_UP);
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

GVariant* no_pixmaps()
{
    return g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0);
}

// The icon at the sizes panels use, as ARGB32 in network byte order.
GVariant* icon_pixmaps()
{
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a(iiay)"));
    for (int size : {16, 22, 32, 48}) {
        GdkPixbuf* icon = platform_icon_pixbuf(size);
        if (!icon)
            continue;
        int width = gdk_pixbuf_get_width(icon), height = gdk_pixbuf_get_height(icon);
        int stride = gdk_pixbuf_get_rowstride(icon), channels = gdk_pixbuf_get_n_channels(icon);
        const guint8* pixels = gdk_pixbuf_read_pixels(icon);
        std::vector<guint8> argb(size_t(width) * size_t(height) * 4);
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) {
                const guint8* p = pixels + y * stride + x * channels;
                guint8* q = &argb[(size_t(y) * size_t(width) + size_t(x)) * 4];
                q[0] = channels == 4 ? p[3] : 255;
                q[1] = p[0];
                q[2] = p[1];
                q[3] = p[2];
            }
        g_variant_builder_add(&builder, "(ii@ay)", width, height,
                              g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, argb.data(), argb.size(), 1));
        g_object_unref(icon);
    }
    return g_variant_builder_end(&builder);
}

GVariant* get_property(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* property, GError**,
                       gpointer data)
{
    auto* t = static_cast<TrayState*>(data);
    if (strcmp(property, "Category") == 0)
        return g_variant_new_string("ApplicationStatus");
    if (strcmp(property, "Id") == 0)
        return g_variant_new_string("moravista");
    if (strcmp(property, "Title") == 0)
        return g_variant_new_string("Moravista");
    if (strcmp(property, "Status") == 0)
        return g_variant_new_string("Active");
    if (strcmp(property, "WindowId") == 0)
        return g_variant_new_int32(int32_t(t->window->toplevel_xid.load(std::memory_order_acquire)));
    if (strcmp(property, "IconPixmap") == 0)
        return icon_pixmaps();
    if (strcmp(property, "OverlayIconPixmap") == 0 || strcmp(property, "AttentionIconPixmap") == 0)
        return no_pixmaps();
    if (strcmp(property, "ToolTip") == 0)
        return g_variant_new("(s@a(iiay)ss)", "", no_pixmaps(), t->tip, "");
    if (strcmp(property, "ItemIsMenu") == 0)
        return g_variant_new_boolean(FALSE);
    return g_variant_new_string(""); // the icon and movie names: the pixmaps stand for them
}

void register_with_watcher(TrayState* t)
{
    g_dbus_connection_call(t->bus, WATCHER_NAME, "/StatusNotifierWatcher", WATCHER_NAME,
                           "RegisterStatusNotifierItem", g_variant_new("(s)", t->sni->name), nullptr,
                           G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, nullptr, nullptr, nullptr);
}

void name_acquired(GDBusConnection*, const gchar*, gpointer data)
{
    auto* t = static_cast<TrayState*>(data);
    t->sni->name_owned = 1;
    register_with_watcher(t);
}

void name_lost(GDBusConnection*, const gchar*, gpointer data)
{
    static_cast<TrayState*>(data)->sni->name_owned = 0;
}

SniItem* item_of(TrayState* t)
{
    if (!t->sni) {
        t->sni = new SniItem{};
        snprintf(t->sni->name, sizeof t->sni->name, "org.kde.StatusNotifierItem-%d-1", int(getpid()));
        t->sni->node = g_dbus_node_info_new_for_xml(ITEM_XML, nullptr);
    }
    return t->sni;
}

} // namespace

void sni_show(TrayState* t)
{
    static const GDBusInterfaceVTable vtable = {method_call, get_property, nullptr, {}};
    SniItem* item = item_of(t);
    if (!item->node || item->registration)
        return;
    item->registration =
        g_dbus_connection_register_object(t->bus, ITEM_PATH, item->node->interfaces[0], &vtable, t, nullptr, nullptr);
    item->owner_id = g_bus_own_name_on_connection(t->bus, item->name, G_BUS_NAME_OWNER_FLAGS_NONE, name_acquired,
                                                  name_lost, t, nullptr);
}

void sni_hide(TrayState* t)
{
    SniItem* item = t->sni;
    if (!item)
        return;
    if (item->owner_id)
        g_bus_unown_name(item->owner_id);
    if (item->registration)
        g_dbus_connection_unregister_object(t->bus, item->registration);
    item->owner_id = 0;
    item->registration = 0;
    item->name_owned = 0;
}

void sni_tip_changed(TrayState* t)
{
    if (t->sni && t->sni->registration)
        g_dbus_connection_emit_signal(t->bus, nullptr, ITEM_PATH, "org.kde.StatusNotifierItem", "NewToolTip", nullptr,
                                      nullptr);
}

void sni_register_again(TrayState* t)
{
    if (t->sni && t->sni->name_owned)
        register_with_watcher(t);
}
