// The desktop menu's marks under the toolkit's own handling, in this process
// on a private X server: GTK turns a check item over whenever its submenu
// opens, and a long list's groups must not change their marks with it.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <string>

#include "platform/platform.h"
#include "platform/window_internal.h"
#include "support/desktop.h"

namespace {

using namespace desktop_test;

MenuItem check_item(const std::string& text, bool checked, bool submenu)
{
    MenuItem item{};
    item.text = text;
    item.checked = checked;
    item.checkable = true;
    item.submenu = submenu;
    return item;
}

// The item of a desktop menu whose label holds text.
GtkWidget* child_named(GtkWidget* menu, const char* text)
{
    GList* children = gtk_container_get_children(GTK_CONTAINER(menu));
    GtkWidget* found = nullptr;
    for (GList* c = children; c && !found; c = c->next) {
        const char* label = gtk_menu_item_get_label(GTK_MENU_ITEM(c->data));
        found = label && strstr(label, text) ? GTK_WIDGET(c->data) : nullptr;
    }
    g_list_free(children);
    return found;
}

TEST_F(DesktopTest, a_group_of_the_list_keeps_its_mark_however_often_its_submenu_opens)
{
    setenv("DISPLAY", display.c_str(), 1);
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    PlatformWindow w{};
    w.toplevel = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_show(w.toplevel);
    // 800 entries, the current one in the first group.
    MenuItem list = check_item("列表", false, true);
    for (int first = 1; first <= 800; first += 25) {
        char text[32];
        snprintf(text, sizeof text, "%5d - %5d", first, first + 24);
        list.items.push_back(check_item(text, first == 1, true));
        list.items.back().items.push_back(check_item("entry", first == 1, false));
    }
    MenuTree tree{};
    tree.items.push_back(list);
    platform_menu_popup(&w, &tree, nullptr, nullptr);
    ASSERT_NE(tree.native, nullptr);
    GList* menus = gtk_menu_get_for_attach_widget(w.toplevel);
    ASSERT_NE(menus, nullptr);
    GtkWidget* list_item = child_named(GTK_WIDGET(menus->data), "列表");
    ASSERT_NE(list_item, nullptr);
    gtk_menu_item_select(GTK_MENU_ITEM(list_item)); // fills the list submenu
    GtkWidget* groups = gtk_menu_item_get_submenu(GTK_MENU_ITEM(list_item));
    const struct {
        const char* group;
        bool marked;
    } cases[] = {{"    1 -    25", true}, {"  776 -   800", false}, {"  501 -   525", false}};
    for (const auto& c : cases) {
        GtkWidget* group = child_named(groups, c.group);
        ASSERT_NE(group, nullptr) << c.group;
        ASSERT_TRUE(GTK_IS_CHECK_MENU_ITEM(group));
        for (int opened = 0; opened < 3; opened++) {
            // What GTK does when the pointer opens the group's submenu.
            gtk_menu_item_select(GTK_MENU_ITEM(group));
            gtk_menu_item_activate(GTK_MENU_ITEM(group));
            gtk_menu_item_deselect(GTK_MENU_ITEM(group));
            EXPECT_EQ(bool(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(group))), c.marked)
                << c.group << " after opening it " << opened + 1 << " times";
        }
    }
    platform_menu_destroy(tree.native);
    gtk_widget_destroy(w.toplevel);
}

} // namespace
