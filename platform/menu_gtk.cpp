// The context menu on the desktop: a GtkMenu made from the menu tree, with
// check and radio items, separators, submenus, columns, mnemonics and the
// accelerator text after a tab. Submenus are filled when they are first
// opened, so a list of many thousand entries shows at once. A chosen item is
// posted to the window as MSG_COMMAND. Window thread only.
#include <gtk/gtk.h>

#include <string>

#include "core/core.h"
#include "platform/platform.h"
#include "platform/window_internal.h"

namespace {

struct NativeMenu {
    GtkWidget* menu;
    PlatformWindow* window;
    int shown;
    int applying_marks; // set while marks are applied: GTK reports those as activations
    void (*closed)(void* user);
    void* user;
};

const char ITEM_KEY[] = "moravista-menu-item";     // the MenuItem an item was made from
const char FILLED_KEY[] = "moravista-menu-filled"; // a submenu's items exist
const char SHOWN_KEY[] = "moravista-shown-menu";   // on the window: the menu it shows

// "&X" marks the mnemonic, "&&" is a plain "&"; GTK writes "_X" and "__".
std::string mnemonic_text(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + 4);
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        if (c == '&' && i + 1 < text.size()) {
            char next = text[++i];
            out += next == '&' ? "&" : next == '_' ? "__" : std::string("_") + next;
        } else if (c == '_') {
            out += "__";
        } else if (c != '&') {
            out += c;
        }
    }
    return out;
}

GtkWidget* item_label(GtkWidget* item, const std::string& text)
{
    size_t tab = text.find('\t');
    GtkWidget* label = gtk_label_new_with_mnemonic(mnemonic_text(text.substr(0, tab)).c_str());
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_mnemonic_widget(GTK_LABEL(label), item);
    if (tab == std::string::npos)
        return label;
    // The text after the tab stands right-aligned, as an accelerator does.
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 24);
    gtk_widget_set_hexpand(label, TRUE);
    gtk_box_pack_start(GTK_BOX(box), label, TRUE, TRUE, 0);
    GtkWidget* accelerator = gtk_label_new(text.c_str() + tab + 1);
    gtk_label_set_xalign(GTK_LABEL(accelerator), 1.0f);
    gtk_style_context_add_class(gtk_widget_get_style_context(accelerator), "accelerator");
    gtk_box_pack_end(GTK_BOX(box), accelerator, FALSE, FALSE, 0);
    return box;
}

void on_activate(GtkMenuItem* widget, gpointer data)
{
    auto* n = static_cast<NativeMenu*>(data);
    auto* item = static_cast<const MenuItem*>(g_object_get_data(G_OBJECT(widget), ITEM_KEY));
    if (n->applying_marks || !item || item->submenu)
        return;
    // Posted: the command runs after the menu has closed, as a chosen item's should.
    platform_post_message(n->window, MSG_COMMAND, uintptr_t(item->id), 0);
}

void fill_menu(NativeMenu* n, GtkWidget* menu, std::vector<MenuItem>* items);
void apply_marks(NativeMenu* n, GtkWidget* menu);

// A submenu's items are made when it is about to open.
void on_select(GtkMenuItem* widget, gpointer data)
{
    auto* n = static_cast<NativeMenu*>(data);
    GtkWidget* submenu = gtk_menu_item_get_submenu(widget);
    auto* item = static_cast<MenuItem*>(g_object_get_data(G_OBJECT(widget), ITEM_KEY));
    if (!submenu || !item || g_object_get_data(G_OBJECT(submenu), FILLED_KEY))
        return;
    fill_menu(n, submenu, &item->items);
    apply_marks(n, submenu);
}

// GTK turns a check item's mark over whenever its submenu opens (it
// activates the item): a group's mark is put back at once, so only the
// group holding the current entry is marked however the user browses.
void on_group_toggled(GtkCheckMenuItem* widget, gpointer)
{
    auto* item = static_cast<const MenuItem*>(g_object_get_data(G_OBJECT(widget), ITEM_KEY));
    if (item && bool(gtk_check_menu_item_get_active(widget)) != item->checked)
        gtk_check_menu_item_set_active(widget, item->checked);
}

GtkWidget* make_item(NativeMenu* n, MenuItem* item)
{
    if (item->separator)
        return gtk_separator_menu_item_new();
    GtkWidget* widget = item->checkable ? gtk_check_menu_item_new() : gtk_menu_item_new();
    if (item->radio)
        gtk_check_menu_item_set_draw_as_radio(GTK_CHECK_MENU_ITEM(widget), TRUE);
    gtk_container_add(GTK_CONTAINER(widget), item_label(widget, item->text));
    g_object_set_data(G_OBJECT(widget), ITEM_KEY, item);
    if (item->submenu) {
        gtk_menu_item_set_submenu(GTK_MENU_ITEM(widget), gtk_menu_new());
        g_signal_connect(widget, "select", G_CALLBACK(on_select), n);
        if (item->checkable)
            g_signal_connect(widget, "toggled", G_CALLBACK(on_group_toggled), nullptr);
    } else {
        g_signal_connect(widget, "activate", G_CALLBACK(on_activate), n);
    }
    return widget;
}

void fill_menu(NativeMenu* n, GtkWidget* menu, std::vector<MenuItem>* items)
{
    g_object_set_data(G_OBJECT(menu), FILLED_KEY, GINT_TO_POINTER(1));
    bool columns = false;
    for (const MenuItem& item : *items)
        columns = columns || item.column_break;
    // A menu with columns is laid out as a table: each break starts a
    // column, the items after it go below it.
    guint column = 0, row = 0;
    for (MenuItem& item : *items) {
        GtkWidget* widget = make_item(n, &item);
        gtk_widget_show_all(widget);
        if (!columns) {
            gtk_menu_shell_append(GTK_MENU_SHELL(menu), widget);
            continue;
        }
        if (item.column_break && row > 0) {
            column++;
            row = 0;
        }
        gtk_menu_attach(GTK_MENU(menu), widget, column, column + 1, row, row + 1);
        row++;
    }
}

// Check marks of the items made so far, from the tree.
void apply_marks(NativeMenu* n, GtkWidget* menu)
{
    GList* children = gtk_container_get_children(GTK_CONTAINER(menu));
    n->applying_marks++;
    for (GList* c = children; c; c = c->next) {
        auto* widget = static_cast<GtkWidget*>(c->data);
        auto* item = static_cast<const MenuItem*>(g_object_get_data(G_OBJECT(widget), ITEM_KEY));
        if (!item)
            continue;
        if (GTK_IS_CHECK_MENU_ITEM(widget))
            gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(widget), item->checked);
        GtkWidget* submenu = item->submenu ? gtk_menu_item_get_submenu(GTK_MENU_ITEM(widget)) : nullptr;
        if (submenu && g_object_get_data(G_OBJECT(submenu), FILLED_KEY))
            apply_marks(n, submenu);
    }
    n->applying_marks--;
    g_list_free(children);
}

void on_hide(GtkWidget*, gpointer data)
{
    auto* n = static_cast<NativeMenu*>(data);
    if (!n->shown)
        return;
    n->shown = 0;
    g_object_set_data(G_OBJECT(n->window->toplevel), SHOWN_KEY, nullptr);
    platform_window_take_focus(n->window);
    if (n->closed)
        n->closed(n->user);
}

NativeMenu* make_native(PlatformWindow* w, MenuTree* tree)
{
    auto* n = new NativeMenu{};
    n->window = w;
    n->menu = gtk_menu_new();
    g_object_ref_sink(n->menu);
    // Owned by the main window: same screen, stacked for it.
    gtk_menu_attach_to_widget(GTK_MENU(n->menu), w->toplevel, nullptr);
    g_signal_connect(n->menu, "hide", G_CALLBACK(on_hide), n);
    fill_menu(n, n->menu, &tree->items);
    return n;
}

// At the pointer: GTK takes it from the event being handled (the button
// release); without one (the tray's request over the bus, a script) from
// the pointer device itself.
void popup_at_pointer(PlatformWindow* w, GtkWidget* menu)
{
    GdkEvent* current = gtk_get_current_event();
    if (current) {
        gtk_menu_popup_at_pointer(GTK_MENU(menu), current);
        gdk_event_free(current);
        return;
    }
    GdkWindow* window = gtk_widget_get_window(w->toplevel);
    GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(w->toplevel));
    GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
    if (!window || !pointer)
        return;
    GdkRectangle at{0, 0, 1, 1};
    gdk_window_get_device_position(window, pointer, &at.x, &at.y, nullptr);
    // GTK wants an event to take the device and the time of its grab from.
    GdkEvent* trigger = gdk_event_new(GDK_BUTTON_RELEASE);
    trigger->button.window = GDK_WINDOW(g_object_ref(window));
    trigger->button.send_event = TRUE;
    trigger->button.time = GDK_CURRENT_TIME;
    trigger->button.x = at.x;
    trigger->button.y = at.y;
    trigger->button.button = 3;
    gdk_event_set_device(trigger, pointer);
    gtk_menu_popup_at_rect(GTK_MENU(menu), window, &at, GDK_GRAVITY_NORTH_WEST, GDK_GRAVITY_NORTH_WEST, trigger);
    gdk_event_free(trigger);
}

// A small menu like the context menu is made and measured once, and the
// icons menus draw are loaded, so that the first right click does not pay
// for the theme, the fonts and the icons (a tenth of a second).
gboolean prepare_menus(gpointer)
{
    GtkWidget* menu = gtk_menu_new();
    g_object_ref_sink(menu);
    GtkWidget* check = gtk_check_menu_item_new();
    gtk_container_add(GTK_CONTAINER(check), item_label(check, "列表 - 字幕(&C)\tCtrl+C"));
    GtkWidget* parent = gtk_menu_item_new();
    gtk_container_add(GTK_CONTAINER(parent), item_label(parent, "设置"));
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(parent), gtk_menu_new());
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), check);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), parent);
    gtk_widget_show_all(menu);
    GtkRequisition size;
    gtk_widget_get_preferred_size(menu, &size, nullptr);
    GtkIconTheme* icons = gtk_icon_theme_get_default();
    for (const char* name : {"pan-end-symbolic", "object-select-symbolic"})
        if (GdkPixbuf* icon = gtk_icon_theme_load_icon(icons, name, 16, GtkIconLookupFlags(0), nullptr))
            g_object_unref(icon);
    gtk_widget_destroy(menu);
    g_object_unref(menu);
    return G_SOURCE_REMOVE;
}

} // namespace

void platform_menu_prepare(void* window)
{
    // Well after the first picture, when the loop is idle.
    if (window)
        g_timeout_add_full(G_PRIORITY_LOW, 1000, prepare_menus, nullptr, nullptr);
}

int platform_menu_popup(void* window, MenuTree* tree, void (*closed)(void* user), void* user)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w || !tree)
        return 0;
    if (!tree->native)
        tree->native = make_native(w, tree);
    auto* n = static_cast<NativeMenu*>(tree->native);
    if (n->shown)
        return 0; // already on screen; its closing is reported once
    apply_marks(n, n->menu);
    n->closed = closed;
    n->user = user;
    popup_at_pointer(w, n->menu);
    if (!gtk_widget_get_visible(n->menu))
        return 0;
    n->shown = 1;
    g_object_set_data(G_OBJECT(w->toplevel), SHOWN_KEY, n);
    return 1;
}

void platform_menu_update_marks(void* menu)
{
    auto* n = static_cast<NativeMenu*>(menu);
    if (n)
        apply_marks(n, n->menu);
}

void platform_menu_cancel_tracking(void* window)
{
    auto* w = static_cast<PlatformWindow*>(window);
    if (!w)
        return;
    auto* n = static_cast<NativeMenu*>(g_object_get_data(G_OBJECT(w->toplevel), SHOWN_KEY));
    if (n)
        gtk_menu_shell_cancel(GTK_MENU_SHELL(n->menu));
}

void platform_menu_destroy(void* menu)
{
    auto* n = static_cast<NativeMenu*>(menu);
    if (!n)
        return;
    if (n->shown)
        gtk_menu_popdown(GTK_MENU(n->menu));
    on_hide(n->menu, n); // reports the closing if the popdown did not
    g_signal_handlers_disconnect_by_data(n->menu, n);
    gtk_widget_destroy(n->menu);
    g_object_unref(n->menu);
    delete n;
}
